#!/bin/sh
# Fails when a file includes a header of a layer above its own, or when Qt
# is included outside its driver (host/forms/qt) and the desktop window
# (app/gui). The layers, lowest first, are described in
# docs/architecture.md; files outside them (tests/, bench/, fuzz/) may
# include any layer, and only the GUI tests may include Qt.
# Prints one line per offending include: FILE:LINE: includes HEADER.
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 2

files=$(git ls-files '*.cpp' '*.h' 2>/dev/null)
[ -n "$files" ] || files=$(find . \( -name '*.cpp' -o -name '*.h' \) ! -path './build*' | sed 's|^\./||')

# shellcheck disable=SC2086
grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' $files | awk '
# The layer of a path (higher may include lower); -1 outside the layers.
function layer(p) {
    if (p ~ /^host\/Object\./ || p ~ /^host\/platform\//) return 0
    if (p ~ /^host\/gis\//) return 1
    if (p ~ /^host\/forms\/qt\//) return 6
    if (p ~ /^host\/forms\//) return 2
    if (p ~ /^host\/framework\//) return 3
    if (p ~ /^(i18n|crypto|service)\//) return 4
    if (p ~ /^(PXAnalysis|PXCP|pages|CustomerProfile)\//) return 5
    if (p ~ /^app\/(gui|run)\//) return 6
    if (p ~ /^app\//) return 7
    return -1
}
function qt_allowed(p) { return p ~ /^host\/forms\/qt\// || p ~ /^app\/gui\// || p ~ /^tests\/(gui_[a-z_]+\.cpp|GuiSupport\.(h|cpp))$/ }
{
    split($0, parts, ":")
    file = parts[1]; line = parts[2]
    text = substr($0, length(file) + length(line) + 3)
    inc = text
    sub(/^[^#]*#[[:space:]]*include[[:space:]]*/, "", inc)
    quoted = substr(inc, 1, 1) == "\""
    inc = substr(inc, 2)
    sub(/[">].*$/, "", inc)
    if (!quoted && inc ~ /^(Q|qt)/) {
        if (!qt_allowed(file)) { printf "%s:%s: includes <%s> (Qt outside host/forms/qt and app/gui)\n", file, line, inc; bad = 1 }
        next
    }
    if (!quoted) next
    own = layer(file)
    if (own < 0) next
    # Paths are from the source root; a bare name is beside the file.
    target = inc
    if (inc !~ /\//) { dir = file; sub(/\/[^\/]*$/, "", dir); target = dir "/" inc }
    theirs = layer(target)
    if (theirs > own) { printf "%s:%s: includes \"%s\" from a higher layer\n", file, line, inc; bad = 1 }
}
END { exit bad }
' >&2
status=$?
if [ "$status" -ne 0 ]; then
    echo "check-layers: includes against the layering (see docs/architecture.md)" >&2
    exit 1
fi
echo "check-layers: ok"
