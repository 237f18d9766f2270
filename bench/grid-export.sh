#!/usr/bin/env bash
# Timed run of `raydeck-host export` of the 1000 x 1000-quad grid host document (points, quads, a
# UVW tag, phong normals, a selection and two texture tags; about 136 MB of JSON), made here.
#   bench/grid-export.sh [-n RUNS] [-g SIDE] [-d DOC] [-l] HOST [HOST ...]
# -d keeps the document at DOC (made there when missing) instead of a temporary folder; -l times
# the load alone: the export's save dialog is cancelled (no -o), so the document is read, the
# plug-in started and stopped, and nothing converted.
# Each HOST is a raydeck-host executable (for example this build's and an older commit's, built
# in another folder); the runs alternate between them so that they share the machine's load.
# Prints per host the CPU time (user + system) and the peak resident memory as min / median /
# max over the runs, and the CPU time against the first HOST's median.
set -euo pipefail
runs=3
side=1000
doc=""
loadOnly=0
while getopts "n:g:d:l" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    g) side=$OPTARG ;;
    d) doc=$OPTARG ;;
    l) loadOnly=1 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-n RUNS] [-g SIDE] [-d DOC] [-l] HOST [HOST ...]" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "$0: needs GNU time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "$doc" ] || doc=$work/grid.json

# The same grid as bench/GridScene.h, as a document file.
[ -s "$doc" ] || awk -v n="$side" 'BEGIN {
  s = n + 1; d = 1.0 / n
  printf "{\"format\": \"raydeck-host-document\", \"version\": 1, \"file\": \"grid.c4d\", \"folder\": \"\",\n"
  printf " \"materials\": [\n"
  printf "  {\"id\": \"A\", \"type\": 5703, \"name\": \"Planks\", \"channels\": [0, 8],\n"
  printf "   \"params\": {\"2100\": [0.8, 0.6, 0.4], \"3100\": [0.2, 0.2, 0.2], \"8000\": {\"link\": \"S\"}},\n"
  printf "   \"shaders\": [{\"id\": \"S\", \"type\": 5833, \"params\": {\"1000\": \"planks.png\"}}]},\n"
  printf "  {\"id\": \"B\", \"type\": 5703, \"name\": \"Paint\", \"channels\": [0], \"params\": {\"2100\": [1, 0, 0]}}],\n"
  printf " \"objects\": [{\"name\": \"Grid\", \"type\": 5100,\n  \"points\": ["
  for (y = 0; y < s; y++) for (x = 0; x < s; x++)
    printf "%s[%d, %g, %d]", (x || y) ? ",\n" : "\n", x, 0.25 * ((x + y) % 7), y
  printf "],\n  \"polygons\": ["
  for (y = 0; y < n; y++) for (x = 0; x < n; x++) {
    a = y * s + x
    printf "%s[%d, %d, %d, %d]", (x || y) ? ",\n" : "\n", a, a + 1, a + s + 1, a + s
  }
  printf "],\n  \"tags\": [\n   {\"type\": 5671, \"uvw\": ["
  for (y = 0; y < n; y++) for (x = 0; x < n; x++) {
    u = x * d; v = y * d
    printf "%s[[%g, %g, 0], [%g, %g, 0], [%g, %g, 0], [%g, %g, 0]]", \
      (x || y) ? ",\n" : "\n", u, v, u + d, v, u + d, v + d, u, v + d
  }
  printf "]},\n   {\"type\": 5612, \"normals\": ["
  for (i = 0; i < n * n; i++)
    printf "%s[0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0]", i ? ",\n" : "\n"
  printf "]},\n   {\"type\": 5673, \"name\": \"half\", \"selection\": [[0, %d]]},\n", n * n / 2 - 1
  printf "   {\"type\": 5616, \"material\": \"A\", \"params\": {\"1006\": \"\"}},\n"
  printf "   {\"type\": 5616, \"material\": \"B\", \"params\": {\"1006\": \"half\"}}]}]}\n"
}' > "$doc"
echo "document: $side x $side quads, $(( $(stat -c %s "$doc") / 1000000 )) MB;" \
  "$([ "$loadOnly" = 1 ] && echo "load only" || echo "export"), $runs runs"

declare -A cpu mem cancelWord
# Builds that take --cancel answer the save dialog with it; older ones cancel without -o.
for h in "$@"; do
  cancelWord[$h]=""
  "$h" --help 2>/dev/null | grep -q -- --cancel && cancelWord[$h]=--cancel
done
for ((r = 0; r < runs; r++)); do
  for h in "$@"; do
    out=$work/out.rdk
    if [ "$loadOnly" = 1 ]; then
      # Exit 1: the cancelled dialog, as intended.
      cancel=()
      [ -n "${cancelWord[$h]}" ] && cancel=("${cancelWord[$h]}")
      /usr/bin/time -f "%U %S %M" -o "$work/time" "$h" export "$doc" "${cancel[@]}" >/dev/null 2>&1 ||
        [ $? = 1 ]
    else
      /usr/bin/time -f "%U %S %M" -o "$work/time" "$h" export "$doc" -o "$out" >/dev/null
    fi
    read -r user sys kb < <(tail -n 1 "$work/time")  # after any "exited with" line
    cpu[$h]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }') "
    mem[$h]+="$kb "
    rm -f "$out"
  done
done

stats() {  # min median max of the numbers given
  tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END {
    printf "%s %s %s", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR] }'
}
first=""
for h in "$@"; do
  read -r cmin cmed cmax <<< "$(echo "${cpu[$h]}" | stats)"
  read -r mmin mmed mmax <<< "$(echo "${mem[$h]}" | stats)"
  [ -n "$first" ] || first=$cmed
  printf "%s\n  cpu_s min %s median %s max %s  (vs first: %s)\n  peak_MB min %d median %d max %d\n" \
    "$h" "$cmin" "$cmed" "$cmax" "$(awk -v a="$cmed" -v b="$first" 'BEGIN { printf "%.3f", a / b }')" \
    $((mmin / 1024)) $((mmed / 1024)) $((mmax / 1024))
done
