#!/usr/bin/env bash
# Exports the bundled sample document with the host simulator and the plug-in of a build tree,
# writes a registry file for the stand-in renderer beside it, and shows the commands that lead on.
#   examples/run-demo.sh <build dir>      (build.sh demo calls it with its build dir)
set -euo pipefail
build_dir=${1:-build}
build_dir=$(cd "$build_dir" && pwd)
cd "$(dirname "$0")/.."
top=$(pwd)
host="$build_dir/tools/host/raydeck-host"
if [ ! -x "$host" ]; then
  echo "run-demo: $host is missing; build first (./build.sh build)" >&2
  exit 2
fi
# Paths inside the repository are shown relative to it, as the commands below are run from there.
shown() { case "$1" in "$top"/*) echo "${1#"$top"/}" ;; *) echo "$1" ;; esac; }
bin=$(shown "$build_dir")

mkdir -p out
status=0
"$host" --plugin "$build_dir/plugins/c4d/raydeck_c4d_plugin.cdl64" \
  export examples/workshop.json -o out/workshop.rdk || status=$?
if [ "$status" -ne 0 ]; then
  echo "run-demo: the export failed (raydeck-host exit code $status)" >&2
  exit "$status"
fi

# The registry file that makes the stand-in renderer this build's installation.
cat > out/raydeck.reg <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik\\Raydeck 7]
"BinName"="$build_dir/tools/live/raydeck-renderer"
"BinFolder"="$build_dir/tools/live"
"ResourceFolder"="$top/out"
REG

cat <<NEXT
run-demo: the scene of examples/workshop.json is in out/workshop.rdk

Next, from $top:
  $bin/tools/rdk/rdk-inspect summary out/workshop.rdk                       # what it holds
  $bin/tools/rdk/rdk-inspect preview out/workshop.rdk -o out/workshop.png  # a picture of it
  export RAYDECK_REGISTRY=\$PWD/out/raydeck.reg RAYDECK_RUNTIME_DIR=\$PWD/out/run
  $bin/tools/host/raydeck-host render examples/workshop.json   # starts a stand-in renderer
  $bin/tools/host/raydeck-host update examples/workshop.json   # streams the selection again
The renderer stores the scenes in out/run/scenes and logs to out/run/<process id>.log; it ends
after 10 idle minutes (README.md, "The first hour", has the whole walk).
NEXT
