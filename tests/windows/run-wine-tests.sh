#!/usr/bin/env bash
# The Windows build under Wine: the portable unit suites, then end to end with raydeck-host.exe
# and the real plug-in DLL: commands; Export of the sample and the test documents compared byte
# for byte with the Linux build (paths aside), also through standard output; a device and a
# missing folder as the target; the version resources; Render and Update through the Windows
# stand-ins with the installation imported into Wine's registry by regedit; a failed launch.
# Usage: run-wine-tests.sh <repository> <Windows build folder> <Linux build folder>
set -euo pipefail
top=$1
win=$2
lin=$3
export WINEPREFIX="$win/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
work="$win/wine-test"
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
# Whatever happens, nothing of Wine's is left running.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

t0=$SECONDS
wineboot -i >/dev/null 2>&1
echo "== Wine prefix ready ($((SECONDS - t0)) s)"

# ---- unit suites -------------------------------------------------------------------------------
# Cases whose expectations are POSIX's: the C runtime's error numbers for a folder opened as a
# file, narrow std::filesystem paths holding UTF-8, the simulator's folder in POSIX form, and a
# 15 ms sleep measured with GetTickCount, which advances in steps of the system tick.
skip="File.FailuresCarryTheSystemError:File.FolderOpenedForReadingCountedAsAFile"
skip+=":File.BackslashIsASeparatorAndSizeIsReported:Clock.SleepLastsAtLeastTheRequestedTicks"
skip+=":SimSample.TheBundledSampleLoadsWithEveryPartLaterConvertersRead"
# The export list is checked with objdump below (that case runs nm, which Windows lacks).
skip+=":PluginFile.ExportsC4dMainAndNothingElse"
t1=$SECONDS
for exe in "$win"/tests/windows/test_*.exe; do
  name=$(basename "$exe" .exe)
  if wine "$exe" --gtest_filter="-$skip" >"$work/$name.log" 2>&1; then
    echo "ok   $name: $(grep -E '^\[  PASSED' "$work/$name.log")"
  else
    fail "$name (log: $work/$name.log)"
    grep -E '^\[  FAILED|Failure' "$work/$name.log" | head -20 || true
  fi
done
echo "== unit suites under Wine: $((SECONDS - t1)) s"

host="$win/tools/host/raydeck-host.exe"
plugin="$win/plugins/c4d/raydeck_c4d_plugin.cdl64"

# ---- the DLL: one export, Windows system DLLs only ---------------------------------------------
dump=$(x86_64-w64-mingw32-objdump -p "$plugin")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([^ ]*\)$/\1/p' | sort -u | tr '\n' ' ')
imports=$(grep -oE 'DLL Name: .*' <<<"$dump" | cut -c11- | sort -u | tr '\n' ' ')
before=$failures
[ "$exports" = "c4d_main " ] || fail "the plug-in exports: $exports"
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | advapi32.dll | msvcrt.dll | user32.dll | shell32.dll | ws2_32.dll) ;;
    *) fail "the plug-in needs $dll" ;;
  esac
done
[ "$failures" -eq "$before" ] &&
  echo "ok   the plug-in ($(wc -c <"$plugin") bytes) exports ${exports}and imports ${imports}"
whost() { wine "$host" --plugin "$(winepath -w "$plugin")" "$@"; }

# ---- commands ----------------------------------------------------------------------------------
t2=$SECONDS
whost commands >"$work/commands.txt" 2>"$work/commands.err" || fail "commands"
tr -d '\r' <"$work/commands.txt" >"$work/commands.lf"
"$lin/tools/host/raydeck-host" commands >"$work/commands.linux"
cmp -s "$work/commands.lf" "$work/commands.linux" || fail "commands differ from the Linux build's"
[ "$(wc -l <"$work/commands.lf")" -eq 3 ] || fail "commands: expected 3 registered commands"

# ---- Export: the Linux bytes, paths aside ------------------------------------------------------
# Paths are the only difference: Z:\...\ against /.../ (the texture line names the document's
# folder); they are put in one form before comparing.
normalise() { sed -e 's#[A-Z]:\\#/#g' -e '/"texture"/ s#\\#/#g' "$1"; }
# The sample and every host document kept as test data (the fuzz inputs are bad on purpose).
mapfile -t docs < <(grep -rlF --include='*.json' --exclude-dir=fuzz '"raydeck-host-document"' \
                      "$top/examples" "$top/tests" | sort)
for doc in "${docs[@]}"; do
  name=$(basename "$doc" .json)
  if ! whost export "$doc" -o "$work/$name.win.rdk" 2>"$work/$name.err"; then
    fail "export $name"; cat "$work/$name.err"; continue
  fi
  "$lin/tools/host/raydeck-host" export "$doc" -o "$work/$name.linux.rdk" 2>"$work/$name.linux.err"
  if cmp -s <(normalise "$work/$name.win.rdk") <(normalise "$work/$name.linux.rdk"); then
    echo "ok   export $name: the Linux bytes ($(wc -c <"$work/$name.win.rdk") bytes)"
  else
    fail "export $name differs from the Linux build's"
    diff -a <(normalise "$work/$name.win.rdk") <(normalise "$work/$name.linux.rdk") | head -10
  fi
done
# A non-ASCII output name arrives intact through the wide command line.
whost export "$top/examples/workshop.json" -o "$work/Gr$(printf '\xc3\xbc')n.rdk" 2>/dev/null &&
  [ -s "$work/Gr$(printf '\xc3\xbc')n.rdk" ] || fail "export to a non-ASCII file name"
# Standard output is binary: the scene's bytes arrive as the file export writes them (a text-mode
# descriptor used to turn every LF, inside packed arrays too, into CR LF).
if whost export "$top/examples/workshop.json" -o - >"$work/stdout.rdk" 2>"$work/stdout.err" &&
    cmp -s <(normalise "$work/stdout.rdk") <(normalise "$work/workshop.linux.rdk") &&
    wine "$win/tools/rdk/rdk-inspect.exe" check "$(winepath -w "$work/stdout.rdk")" >/dev/null 2>&1; then
  echo "ok   export -o -: the Linux bytes on standard output, and rdk-inspect.exe passes them"
else
  fail "export -o - differs from the file export (or rdk-inspect.exe rejects it)"
fi
# A device is written directly.
whost export "$top/examples/workshop.json" -o NUL >/dev/null 2>"$work/nul.err" ||
  { fail "export -o NUL"; cat "$work/nul.err"; }
# A failure names the file and the system's reason in the console line.
code=0
whost export "$top/examples/workshop.json" -o "$(winepath -w "$work")\\missing\\x.rdk" \
  >/dev/null 2>"$work/missing.err" || code=$?
if [ "$code" -eq 1 ] && grep -q 'Raydeck Export: could not open file: ".*missing.x\.rdk": No such file or directory' \
    "$work/missing.err"; then
  echo "ok   a failed export names the file and the reason"
else
  fail "a failed export: exit $code, $(cat "$work/missing.err")"
fi
# A target that another program holds open cannot be replaced: the older file stays, and the
# console line names the file and the reason (it used to say only "could not close file").
printf 'the older scene\n' >"$work/held.rdk"
wine "$win/tests/windows/raydeck_test_child.exe" hold "$(winepath -w "$work/held.rdk")" 15 \
  >"$work/hold.out" 2>&1 &
holder=$!
for _ in $(seq 200); do grep -q holding "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
code=0
whost export "$top/examples/workshop.json" -o "$(winepath -w "$work/held.rdk")" >/dev/null \
  2>"$work/held.err" || code=$?
if [ "$code" -eq 1 ] && [ "$(cat "$work/held.rdk")" = "the older scene" ] &&
    grep -q 'Raydeck Export: could not close file: ".*held\.rdk": Permission denied' "$work/held.err"; then
  echo "ok   an export onto a file held open keeps it and names it and the reason"
else
  fail "an export onto a file held open: exit $code, $(cat "$work/held.err")"
fi
wait "$holder" || true
# One version: the tools' --version and the binaries' version resources.
version=$("$lin/tools/host/raydeck-host" --version | cut -d' ' -f2)
for exe in tools/host/raydeck-host.exe tools/rdk/rdk-inspect.exe; do
  name=$(basename "$exe" .exe)
  [ "$(wine "$win/$exe" --version | tr -d '\r')" = "$name $version" ] || fail "$name.exe --version"
done
for bin in plugins/c4d/raydeck_c4d_plugin.cdl64 tools/host/raydeck-host.exe \
           tools/rdk/rdk-inspect.exe tools/live/raydeck-renderer.exe; do
  strings -el "$win/$bin" | grep -qx "$version" && strings -el "$win/$bin" | grep -qx FileVersion ||
    fail "$bin has no version resource of $version"
done
strings -a "$win/tools/host/raydeck-host.exe" | grep -q '<activeCodePage.*>UTF-8<' ||
  fail "raydeck-host.exe has no manifest with UTF-8 as its code page"
echo "ok   version $version in --version and the version resources"
# Model files need Assimp, which the Windows build has not: refused with a message (exit 2).
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n' >"$work/triangle.obj"
code=0
whost export "$work/triangle.obj" -o "$work/triangle.rdk" 2>"$work/triangle.err" || code=$?
if [ "$code" -eq 2 ] && grep -q "built without Assimp" "$work/triangle.err"; then
  echo "ok   a model file is refused with a message"
else
  fail "a model file: exit $code, $(cat "$work/triangle.err")"
fi
echo "== commands and exports under Wine: $((SECONDS - t2)) s"

# ---- Render and Update through the Windows stand-ins -------------------------------------------
t3=$SECONDS
mkdir -p "$work/run" "$work/scenes" "$work/res"
regpath() { winepath -w "$1" | sed 's#\\#\\\\#g'; }
write_registry() {  # BinName
  cat >"$work/raydeck.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik\\Raydeck 7]
"BinName"="$1"
"BinFolder"="$(regpath "$win/tools/live")"
"ResourceFolder"="$(regpath "$work/res")"
REG
  wine regedit /S "$(winepath -w "$work/raydeck.reg")"
}
export RAYDECK_RUNTIME_DIR=$(winepath -w "$work/run") RAYDECK_SCENE_DIR=$(winepath -w "$work/scenes")
export RAYDECK_RENDERER_IDLE_S=60
unset RAYDECK_REGISTRY
write_registry "$(regpath "$win/tools/live/raydeck-renderer.exe")"
if whost render "$top/examples/workshop.json" >"$work/render.out" 2>&1; then
  echo "ok   render"
else
  fail "render"; cat "$work/render.out"
fi
if whost update "$top/examples/workshop.json" >"$work/update.out" 2>&1; then
  echo "ok   update"
else
  fail "update"; cat "$work/update.out"
fi
scenes=("$work"/scenes/scene-*.rdk)
if [ "${#scenes[@]}" -eq 2 ] && [ -s "${scenes[0]}" ] && [ -s "${scenes[1]}" ]; then
  echo "ok   the renderer stored ${#scenes[@]} scenes"
  for s in "${scenes[@]}"; do
    wine "$win/tools/rdk/rdk-inspect.exe" check "$(winepath -w "$s")" >/dev/null 2>&1 ||
      fail "rdk-inspect.exe check $(basename "$s")"
  done
else
  fail "expected two stored scenes, found: $(ls "$work/scenes")"
fi
if [ -s "$work/res/sceneapi.log" ] &&
    grep -qF "$(winepath -w "$win/tools/live")" "$work/res/sceneapi.log"; then
  echo "ok   sceneapi.log in the resource folder names the live library's folder"
else
  fail "no sceneapi.log naming the live library's folder in the resource folder"
fi
# The renderer ends on a termination request and removes its announcement.
for a in "$work"/run/*.xml; do
  [ -e "$a" ] || { fail "no announcement of the running renderer"; break; }
  pid=$(basename "$a" .xml)
  wine "$win/tests/windows/raydeck_test_child.exe" stop "$pid" >/dev/null 2>&1 || true
done
for _ in $(seq 50); do
  compgen -G "$work/run/*.xml" >/dev/null || break
  sleep 0.2
done
if compgen -G "$work/run/*.xml" >/dev/null; then
  fail "the renderer did not end on the stop request"
else
  echo "ok   the renderer ended on the stop request and removed its announcement"
fi

# A failed launch: the installation names a renderer file that is no program.
mkdir -p "$work/broken"
echo "not a program" >"$work/broken/raydeck-renderer.exe"
write_registry "$(regpath "$work/broken/raydeck-renderer.exe")"
rm -rf "$work/run"/*
if whost render "$top/examples/workshop.json" >"$work/nolaunch.out" 2>&1; then
  fail "render without a renderer succeeded"
elif grep -q "Unabled to launch Raydeck. Please check your Raydeck installation." \
    "$work/nolaunch.out"; then
  echo "ok   a failed launch gives the launch message"
else
  fail "a failed launch without the launch message"; cat "$work/nolaunch.out"
fi
echo "== Render and Update under Wine: $((SECONDS - t3)) s"

wineserver -k >/dev/null 2>&1 || true
echo "== Windows tests under Wine: $((SECONDS - t0)) s, $failures failure(s)"
[ "$failures" -eq 0 ]
