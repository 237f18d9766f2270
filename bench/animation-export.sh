#!/usr/bin/env bash
# Timed run of `raydeck-host export` of the long animation: one null with nine linear tracks
# (position, rotation and scale, each x, y, z) keyed from 0 to 6,000 s, about 80 MB of scene.
#   bench/animation-export.sh [-n RUNS] [-s SECONDS] HOST [HOST ...]
# Each HOST is a raydeck-host executable (for example this build's and an older commit's, built
# in another folder); the runs alternate between them so that they share the machine's load.
# Prints per host the CPU time (user + system), the peak resident memory and the scene's size as
# min / median / max over the runs, with the CPU time and the peak against the first HOST's.
set -euo pipefail
runs=3
seconds=6000
while getopts "n:s:" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    s) seconds=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-n RUNS] [-s SECONDS] HOST [HOST ...]" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "$0: needs GNU time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
doc=$work/animation.json
awk -v end="$seconds" 'BEGIN {
  printf "{\"format\": \"raydeck-host-document\", \"version\": 1, \"file\": \"long.c4d\", \"folder\": \"\",\n"
  printf " \"objects\": [{\"name\": \"Null\", \"type\": 5140, \"tracks\": ["
  n = 0
  for (p = 903; p <= 905; p++) for (c = 1000; c <= 1002; c++) {
    from = (p == 905) ? 1 : 0; to = (p == 904) ? 6.2831853 : (p == 905 ? 2 : 100)
    printf "%s\n  {\"id\": [%d, %d], \"params\": {\"904\": 1}, \"interpolation\": \"linear\",", n++ ? "," : "", p, c
    printf " \"keys\": [{\"time\": 0, \"value\": %g}, {\"time\": %d, \"value\": %g}]}", from, end, to
  }
  printf "]}]}\n"
}' > "$doc"

declare -A cpu mem size
for ((r = 0; r < runs; r++)); do
  for h in "$@"; do
    out=$work/out.rdk
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$h" export "$doc" -o "$out" >/dev/null 2>&1
    read -r user sys kb < <(tail -n 1 "$work/time")  # after any "exited with" line
    cpu[$h]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }') "
    mem[$h]+="$kb "
    size[$h]=$(stat -c %s "$out")
    rm -f "$out"
  done
done

stats() {  # min median max of the numbers given
  tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END {
    printf "%s %s %s", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR] }'
}
echo "one null, nine linear tracks over $seconds s; $runs runs; load: $(cut -d' ' -f1-3 /proc/loadavg)"
first_cpu=""
first_mem=""
for h in "$@"; do
  read -r cmin cmed cmax <<< "$(echo "${cpu[$h]}" | stats)"
  read -r mmin mmed mmax <<< "$(echo "${mem[$h]}" | stats)"
  [ -n "$first_cpu" ] || { first_cpu=$cmed; first_mem=$mmed; }
  printf "%s\n  scene_MB %d\n  cpu_s min %s median %s max %s  (vs first: %s)\n" "$h" \
    $((size[$h] / 1000000)) "$cmin" "$cmed" "$cmax" \
    "$(awk -v a="$cmed" -v b="$first_cpu" 'BEGIN { printf "%.3f", a / b }')"
  printf "  peak_MB min %d median %d max %d  (vs first: %s)\n" \
    $((mmin / 1024)) $((mmed / 1024)) $((mmax / 1024)) \
    "$(awk -v a="$mmed" -v b="$first_mem" 'BEGIN { printf "%.3f", a / b }')"
done
