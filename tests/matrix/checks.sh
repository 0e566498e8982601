# shellcheck shell=bash disable=SC2154
# What a cell of the matrix compares, each check adding its reasons to
# $reasons (a cell is ok when none was added); sourced by matrix.sh after
# forms.sh.
#
#   layer_args OUTPUT            the ogr2ogr arguments of a layer plexa names
#                                ("FILE" or "PG:...|TABLE") in $layer
#   output_keys OUTPUT FIELD     the sorted values of FIELD
#   household_rows OUTPUT        "KEY,TOTREAD,TOTAL,PERCENT" rows, sorted
#   same_keys WHAT EXPECTED ACTUAL       the same key lists
#   same_rows WHAT EXPECTED ACTUAL       the same household rows (PERCENT to 0.01)
#   check_place WHAT OUTPUT FIELD        read through its own coordinate
#                                system, the output lies where the areas are
#                                and each area where its source lies
#   near WHAT EXPECTED ACTUAL TOLERANCE  two numbers

reason() { reasons+=("$*"); }

layer_args() {
  case $1 in
  *'|'*) layer=("${1%|*}" "${1##*|}") ;;
  *) layer=("$1") ;;
  esac
}

output_keys() {
  layer_args "$1"
  ogr2ogr -f CSV /vsistdout/ "${layer[@]}" -select "$2" 2>/dev/null | tail -n +2 | tr -d '"\r' | sort
}

household_rows() {
  layer_args "$1"
  ogr2ogr -f CSV /vsistdout/ "${layer[@]}" -select KEY,TOTREAD,TOTAL,PERCENT 2>/dev/null | tail -n +2 | tr -d '"\r' |
    awk -F, '{ printf "%s,%d,%d,%.2f\n", $1, $2, $3, $4 }' | sort
}

# "N keys, not M: missing A B C…; extra D E…" or nothing when alike.
key_difference() {  # EXPECTED ACTUAL (newline-separated, sorted)
  [ "$1" = "$2" ] && return
  local missing extra
  missing=$(comm -23 <(echo "$1") <(echo "$2") | grep . | head -5 | tr '\n' ' ')
  extra=$(comm -13 <(echo "$1") <(echo "$2") | grep . | head -5 | tr '\n' ' ')
  printf '%s keys, not %s' "$(echo "$2" | grep -c .)" "$(echo "$1" | grep -c .)"
  [ -n "$missing" ] && printf '; missing %s' "${missing% }"
  [ -n "$extra" ] && printf '; extra %s' "${extra% }"
}

same_keys() {
  local d
  d=$(key_difference "$2" "$3")
  [ -z "$d" ] || reason "$1: $d"
  [ -n "$2" ] || reason "$1: the reference selects no area"
}

same_rows() {
  local what=$1 expected=$2 actual=$3 d
  d=$(key_difference "$(echo "$expected" | cut -d, -f1)" "$(echo "$actual" | cut -d, -f1)")
  [ -z "$d" ] || { reason "$what: $d"; return; }
  [ -n "$expected" ] || { reason "$what: the reference has no row"; return; }
  d=$(paste -d, <(echo "$expected") <(echo "$actual") | awk -F, '
    $2 != $6 || $3 != $7 || ($4 - $8 > 0.0101 || $8 - $4 > 0.0101) {
      printf "%s has %s,%s,%s, not %s,%s,%s", $5, $6, $7, $8, $2, $3, $4; exit }')
  [ -z "$d" ] || reason "$what: $d"
}

near() {
  awk -v e="$2" -v a="$3" -v t="$4" 'BEGIN { d = a - e; exit !(a != "" && d <= t && -d <= t) }' ||
    reason "$1: ${3:-nothing}, not $2"
}

check_place() {
  local what=$1 out=$2 field=$3 copy="$cell/place-$RANDOM.gpkg" extent
  layer_args "$out"
  rm -f "$copy"
  if ! ogr2ogr -f GPKG "$copy" "${layer[@]}" -t_srs EPSG:4326 -nln out -nlt PROMOTE_TO_MULTI \
       -lco GEOMETRY_NAME=geom 2>"$cell/place.err"; then
    reason "$what: the output cannot be read in EPSG:4326: $(head -1 "$cell/place.err")"
    return
  fi
  extent=$(ogrinfo -ro -so "$copy" out | sed -n 's/^Extent: (\(.*\), \(.*\)) - (\(.*\), \(.*\))$/\1 \2 \3 \4/p')
  # Within the areas' own extent, with a little room for datum shifts.
  if ! awk -v got="$extent" '{ split(got, g, " ") } END {
      exit !(g[4] != "" && g[1] >= $1 - 0.05 && g[2] >= $2 - 0.05 && g[3] <= $3 + 0.05 && g[4] <= $4 + 0.05) }' \
      "$ref/extent"; then
    local hint=""
    awk -v got="$extent" 'BEGIN { split(got, g, " "); exit !(g[3] > 360 || g[4] > 360) }' &&
      hint=": projected coordinates under a geographic coordinate system"
    reason "$what: its extent in EPSG:4326 (${extent:-none}) is not within the areas' ($(cat "$ref/extent"))$hint"
    return
  fi
  # Every area where its source lies: centroids within 0.01 degree.
  local moved
  moved=$(join -t, <(centroids "$copy" out "$field") "$ref/centroids" | awk -F, '
    $2 == "" || $3 == "" { print $1 " has no shape"; exit }
    { dx = $2 - $4; dy = $3 - $5; if (dx * dx + dy * dy > 0.0001) { printf "%s lies at %.3f %.3f, not %.3f %.3f\n", $1, $2, $3, $4, $5; exit } }')
  [ -z "$moved" ] || reason "$what: $moved"
}
