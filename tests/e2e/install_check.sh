#!/bin/sh
# `cmake --install` of a finished build into a fresh prefix: the tools in bin/, the plug-in, its
# icons and the stand-in live library in lib/raydeck/, and the installed tools work there: an
# export with the installed plug-in, checked by the installed rdk-inspect.
# Usage: install_check.sh <build folder> <sample document>
set -eu
build=$1
sample=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/raydeck-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/raydeck-host bin/rdk-inspect bin/raydeck-renderer lib/raydeck/raydeck_c4d_plugin.cdl64 \
         lib/raydeck/trvraydecklive6_64.so lib/raydeck/res/export.png lib/raydeck/res/render.png \
         lib/raydeck/res/update.png; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; status=1; }
done
left=$(find "$prefix" -name '.keep')
[ -z "$left" ] || { echo "build leftovers installed: $left"; status=1; }
version=$("$prefix/bin/raydeck-host" --version)
case "$version" in
  "raydeck-host "[0-9]*.[0-9]*.[0-9]*) ;;
  *) echo "installed raydeck-host --version: $version"; status=1 ;;
esac
"$prefix/bin/raydeck-host" --plugin "$prefix/lib/raydeck/raydeck_c4d_plugin.cdl64" export "$sample" \
  -o "$prefix/sample.rdk" 2>/dev/null || { echo "export with the installed plug-in failed"; status=1; }
"$prefix/bin/rdk-inspect" check "$prefix/sample.rdk" >/dev/null ||
  { echo "the installed rdk-inspect rejects the export"; status=1; }
exit $status
