#!/bin/bash
# scripts/check-layers.sh on the source tree, which must pass, and on small
# trees that break the layering in each way it refuses or bend it in the
# ways it allows, inside a git checkout and outside one.
#   check_layers_tests.sh SOURCE_DIR WORKDIR
set -u
src=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# tree NAME FILE=TEXT...: a tree with the checker and the files ("\n" in
# TEXT separates lines).
tree() {
  local dir=$work/$1
  shift
  mkdir -p "$dir/scripts"
  cp "$src/scripts/check-layers.sh" "$dir/scripts/"
  for spec in "$@"; do
    local file=${spec%%=*} text=${spec#*=}
    mkdir -p "$dir/$(dirname "$file")"
    printf '%b\n' "$text" >"$dir/$file"
  done
  echo "$dir"
}

# check EXPECTED_EXIT DIR [PATTERN...]: the exit code, and each PATTERN
# (grep -F) in what the checker printed.
check() {
  local want=$1 dir=$2
  shift 2
  "$dir/scripts/check-layers.sh" >"$work/out" 2>&1
  local rc=$?
  if [ "$rc" != "$want" ]; then
    fail "exit $rc, not $want, in $dir"
    sed 's/^/    /' "$work/out"
  fi
  for pattern in "$@"; do
    grep -qF -- "$pattern" "$work/out" || fail "no '$pattern' from $dir"
  done
}

in_git() {
  (cd "$1" && git init -q && git add -A) || fail "git init in $1"
}

"$src/scripts/check-layers.sh" >"$work/out" 2>&1 || { fail "the source tree breaks its layering"; cat "$work/out"; }

# Upward includes, named with file and line.
up=$(tree up \
  'host/gis/Table.cpp=#include "host/gis/Table.h"\n#include "host/framework/Framework.h"' \
  'host/framework/Extension.cpp=#include "PXCP/PXCPMain.h"' \
  'PXCP/PXCPMain.cpp=#include "app/Commands.h"' \
  'pages/WizardPage.cpp=#include "host/forms/qt/QtDriver.h"' \
  'host/Object.cpp=#include "host/gis/Geometry.h"')
in_git "$up"
check 1 "$up" 'host/gis/Table.cpp:2: includes "host/framework/Framework.h"' \
  'host/framework/Extension.cpp:1: includes "PXCP/PXCPMain.h"' 'PXCP/PXCPMain.cpp:1: includes "app/Commands.h"' \
  'pages/WizardPage.cpp:1: includes "host/forms/qt/QtDriver.h"' 'host/Object.cpp:1: includes "host/gis/Geometry.h"'
grep -q 'Table.cpp:1' "$work/out" && fail "an include of its own layer was refused"

# Qt outside its driver and the window.
qt=$(tree qt 'PXCP/PXCPMain.h=#include <QString>' 'host/forms/Forms.cpp=#include <QtWidgets/QWidget>')
in_git "$qt"
check 1 "$qt" 'PXCP/PXCPMain.h:1: includes <QString>' 'host/forms/Forms.cpp:1: includes <QtWidgets/QWidget>'

# What the layering allows: downward includes, Qt in the driver, the
# window and the GUI tests, headers beside the file, tests and benches
# including anything, and system headers.
ok=$(tree ok \
  'app/main.cpp=#include "PXCP/PXCPMain.h"\n#include "app/gui/MainWindow.h"' \
  'app/gui/MainWindow.cpp=#include <QMainWindow>\n#include "host/forms/qt/QtDriver.h"' \
  'host/forms/qt/QtDriver.cpp=#include <QWidget>\n#include "host/framework/Framework.h"' \
  'tests/gui_tests.cpp=#include <QtTest>\n#include "app/gui/MainWindow.h"' \
  'bench/gen.cpp=#include "GenSupport.h"\n#include "app/Commands.h"' \
  'host/gis/Table.cpp=#include "Cursor.h"\n#include <gdal_priv.h>\n#include <vector>' \
  'service/Client.cpp=#include "host/platform/TextFile.h"')
in_git "$ok"
check 0 "$ok" 'check-layers: ok'

# Outside a git checkout every file is read, and builds are left out.
plain=$(tree plain 'host/gis/A.cpp=#include "pages/WizardPage.h"' 'build/x/B.cpp=#include <QWidget>')
check 1 "$plain" 'host/gis/A.cpp:1: includes "pages/WizardPage.h"'
grep -q 'B.cpp' "$work/out" && fail "a build folder was read"

if [ "$failures" -eq 0 ]; then
  echo "all checks passed"
else
  echo "$failures checks failed"
  exit 1
fi
