#!/usr/bin/env bash
# Exports the bundled sample document with the host simulator and the plug-in of a build tree.
#   examples/run-demo.sh <build dir>      (build.sh demo calls it with its build dir)
set -euo pipefail
build_dir=${1:-build}
build_dir=$(cd "$build_dir" && pwd)
cd "$(dirname "$0")/.."
host="$build_dir/tools/host/raydeck-host"
if [ ! -x "$host" ]; then
  echo "run-demo: $host is missing; build first (./build.sh build)" >&2
  exit 2
fi
mkdir -p out
status=0
"$host" --plugin "$build_dir/plugins/c4d/raydeck_c4d_plugin.cdl64" \
  export examples/workshop.json -o out/workshop.rdk || status=$?
if [ "$status" -ne 0 ]; then
  echo "run-demo: the export failed (raydeck-host exit code $status)" >&2
  exit "$status"
fi
echo "run-demo: the scene of examples/workshop.json went to $(pwd)/out/workshop.rdk"
