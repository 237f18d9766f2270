#!/usr/bin/env bash
# Build driver: installs what a fresh Debian machine lacks, configures, builds and runs.
#   ./build.sh demo    build what the demo runs (quietly), export the bundled sample, say what next
#   ./build.sh test    build, then run every test
#   ./build.sh bench   build the benchmarks and run them
#   ./build.sh build   build only
#   ./build.sh windows       cross-build the Windows binaries into build-windows/
#   ./build.sh windows-test  run them under Wine (after ./build.sh windows)
#   ./build.sh package       the Windows build, then raydeck-c4d-plugin-<version>-win64.zip in
#                            build-windows/ (the plug-in, its icons, INSTALL.txt); lists it
#   ./build.sh fuzz [TARGET] [SECONDS]   build the libFuzzer targets (clang, ASan+UBSan) in
#                               build-fuzz and run TARGET (default: each, one after another) for
#                               SECONDS (default 60)
# BUILD_DIR (default: build) and CMAKE_ARGS are honoured, so CI can make a sanitizer build beside.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-2}

packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev libtinyxml2-dev
          locales g++-mingw-w64-x86-64-posix libassimp-dev libpng-dev assimp-testmodels
          libcli11-dev rapidjson-dev)
# The Windows build: the cross compiler, Wine to run what it makes, dpkg-dev to unpack Debian's
# source packages of the libraries that Debian builds for Linux only.
windows_packages=(cmake make g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev libcli11-dev
                  rapidjson-dev googletest unzip)
# ./build.sh fuzz only: clang and its libFuzzer and sanitizer runtimes.
fuzz_packages=(clang libclang-rt-14-dev)

install_missing() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "build.sh: installing missing Debian packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
      echo "build.sh: not root and no sudo; please install: ${missing[*]}" >&2; exit 1
    fi
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure_and_build() {
  cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" ${CMAKE_ARGS:-} >/dev/null
  cmake --build "$build_dir" -j"$jobs" "$@"
}

# The demo's targets only, the build's output kept in a log that is shown when the build fails.
demo_targets=(raydeck_c4d_plugin raydeck-host rdk-inspect trvraydecklive6_64 raydeck-renderer)
quiet_build() {
  mkdir -p "$build_dir"
  local log="$build_dir/demo-build.log"
  echo "build.sh: building ${demo_targets[*]} in $build_dir (log: $log)"
  if ! configure_and_build --target "${demo_targets[@]}" >"$log" 2>&1; then
    tail -n 100 "$log" >&2
    echo "build.sh: the build failed; the last 100 lines are above, all of it in $log" >&2
    exit 1
  fi
}

# ---- Windows: cross build with mingw-w64, run under Wine ------------------------------------------
win_dir=${WINDOWS_BUILD_DIR:-build-windows}
win_toolchain="$top/cmake/mingw-w64-x86_64.cmake"

# Fetches Debian source packages into the current folder through a private apt state whose deb-src
# entries are the machine's own package sources, so no host is named here and the system's apt
# configuration stays as it is.
apt_source() {
  local apt="$top/$win_dir/deps/apt"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
  if [ ! -s "$apt/sources.list.d/src.sources" ] && [ ! -s "$apt/sources.list.d/src.list" ]; then
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] && sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$apt/sources.list.d/src.sources"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -e "$f" ] && sed -n -e 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt/sources.list.d/src.list"
    done
  fi
  local opts=(-q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/sources.list.d"
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Debug::NoLocking=1
              -o APT::Sandbox::User="$(id -un)")
  if [ -z "$(ls "$apt/lists" | grep -i sources)" ]; then
    apt-get "${opts[@]}" update >/dev/null
  fi
  local pkg suite
  for pkg in "$@"; do
    # A security suite may list a version its mirror no longer holds: then each suite in turn.
    apt-get "${opts[@]}" source "$pkg" >/dev/null 2>&1 && continue
    local ok=0
    for suite in $(sed -n 's/^Suites://p' /etc/apt/sources.list.d/*.sources 2>/dev/null) \
                 $(sed -n 's/^[[:space:]]*deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?[^[:space:]]\+[[:space:]]\+\([^[:space:]]\+\).*/\2/p' \
                     /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null); do
      if apt-get "${opts[@]}" source "$pkg/$suite" >/dev/null 2>&1; then ok=1; break; fi
    done
    if [ $ok -eq 0 ]; then
      echo "build.sh: cannot fetch the Debian source package $pkg" >&2
      return 1
    fi
  done
}

# TinyXML-2, zlib and libpng from Debian's source packages, GoogleTest from the googletest
# package's sources, the header-only libraries as Debian installs them: all into one prefix.
windows_deps() {
  local deps="$top/$win_dir/deps" prefix="$top/$win_dir/deps/prefix"
  local cross=(-DCMAKE_TOOLCHAIN_FILE="$win_toolchain" -DCMAKE_BUILD_TYPE=Release
               -DCMAKE_INSTALL_PREFIX="$prefix" -DRAYDECK_WINDOWS_PREFIX="$prefix"
               -DBUILD_SHARED_LIBS=OFF -Wno-dev ${CMAKE_ARGS:-})
  mkdir -p "$deps/src" "$prefix/include" "$prefix/lib"
  if [ ! -e "$prefix/.tinyxml2" ]; then
    (cd "$deps/src" && rm -rf tinyxml2-* && apt_source tinyxml2)
    local src; src=$(ls -d "$deps"/src/tinyxml2-*/ | head -1)
    cmake -S "$src" -B "$deps/build-tinyxml2" "${cross[@]}" -Dtinyxml2_BUILD_TESTING=OFF >/dev/null
    cmake --build "$deps/build-tinyxml2" -j"$jobs" --target install >/dev/null
    touch "$prefix/.tinyxml2"
  fi
  if [ ! -e "$prefix/.zlib" ]; then
    (cd "$deps/src" && rm -rf zlib-* && apt_source zlib)
    local src; src=$(ls -d "$deps"/src/zlib-*/ | head -1)
    cmake -S "$src" -B "$deps/build-zlib" "${cross[@]}" >/dev/null
    cmake --build "$deps/build-zlib" -j"$jobs" --target zlibstatic >/dev/null
    # Under the name FindZLIB looks for first, so that nothing picks a DLL's import library.
    cp "$deps/build-zlib/libzlibstatic.a" "$prefix/lib/libz.a"
    cp "$src/zlib.h" "$deps/build-zlib/zconf.h" "$prefix/include/"
    touch "$prefix/.zlib"
  fi
  if [ ! -e "$prefix/.libpng" ]; then
    (cd "$deps/src" && rm -rf libpng1.6-* && apt_source libpng1.6)
    local src; src=$(ls -d "$deps"/src/libpng1.6-*/ | head -1)
    cmake -S "$src" -B "$deps/build-libpng" "${cross[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
      -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_ROOT="$prefix" >/dev/null
    cmake --build "$deps/build-libpng" -j"$jobs" --target install >/dev/null
    touch "$prefix/.libpng"
  fi
  if [ ! -e "$prefix/.googletest" ]; then
    cmake -S /usr/src/googletest -B "$deps/build-googletest" "${cross[@]}" -DBUILD_GMOCK=ON \
      -DINSTALL_GTEST=ON >/dev/null
    cmake --build "$deps/build-googletest" -j"$jobs" --target install >/dev/null
    touch "$prefix/.googletest"
  fi
  if [ ! -e "$prefix/.cli11" ]; then
    # Header-only: the installed headers and their CMake package, relocated into the prefix;
    # the command-line parser of the tools.
    mkdir -p "$prefix/share/cmake"
    cp -r /usr/include/CLI "$prefix/include/"
    cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"
    touch "$prefix/.cli11"
  fi
  if [ ! -e "$prefix/.rapidjson" ]; then
    # Header-only; Debian's package file names /usr/include outright, so the prefix gets its own.
    mkdir -p "$prefix/share/cmake/RapidJSON"
    cp -r /usr/include/rapidjson "$prefix/include/"
    printf '%s\n' 'get_filename_component(RAPIDJSON_INCLUDE_DIRS "${CMAKE_CURRENT_LIST_DIR}/../../../include" ABSOLUTE)' \
      >"$prefix/share/cmake/RapidJSON/RapidJSONConfig.cmake"
    touch "$prefix/.rapidjson"
  fi
}

windows_build() {
  local t0=$SECONDS
  windows_deps
  echo "build.sh: Windows dependencies ready in $win_dir/deps/prefix ($((SECONDS - t0)) s)"
  cmake -S "$top" -B "$win_dir" -DCMAKE_TOOLCHAIN_FILE="$win_toolchain" \
    -DRAYDECK_WINDOWS_PREFIX="$top/$win_dir/deps/prefix" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" ${CMAKE_ARGS:-} >/dev/null
  cmake --build "$win_dir" -j"$jobs"
  echo "build.sh: Windows build done in $((SECONDS - t0)) s:"
  (cd "$win_dir" && ls -l plugins/c4d/raydeck_c4d_plugin.cdl64 tools/host/raydeck-host.exe \
    tools/live/raydeck-renderer.exe tools/live/trvraydecklive6_64.so tools/rdk/rdk-inspect.exe \
    2>/dev/null | awk '{print "  " $5 "\t" $9}')
}

# The archive a user unpacks into the host's folder; its listing must hold exactly these files.
package_files=(INSTALL.txt plugins/raydeck/raydeck_c4d_plugin.cdl64 plugins/raydeck/res/export.png
               plugins/raydeck/res/render.png plugins/raydeck/res/update.png)
windows_package() {
  windows_build
  cmake --build "$win_dir" --target raydeck_package
  local zip
  zip=$(ls "$win_dir"/raydeck-c4d-plugin-*-win64.zip)
  local listing expected
  listing=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
  expected=$(printf '%s\n' "${package_files[@]}" | sort)
  if [ "$listing" != "$expected" ]; then
    echo "build.sh: $zip holds:" >&2
    echo "$listing" >&2
    echo "build.sh: expected:" >&2
    echo "$expected" >&2
    exit 1
  fi
  echo "build.sh: $zip ($(wc -c <"$zip") bytes):"
  unzip -l "$zip" | sed 's/^/  /'
}

windows_test() {
  if [ ! -e "$win_dir/plugins/c4d/raydeck_c4d_plugin.cdl64" ]; then
    echo "build.sh: no Windows build in $win_dir; run ./build.sh windows first" >&2
    exit 1
  fi
  if [ ! -e "$build_dir/tools/host/raydeck-host" ]; then
    install_missing "${packages[@]}"
    configure_and_build --target raydeck-host raydeck_c4d_plugin
  fi
  "$top/tests/windows/run-wine-tests.sh" "$top" "$top/$win_dir" "$top/$build_dir"
}

cmd=${1:-}
case "$cmd" in
  build)
    install_missing "${packages[@]}"
    configure_and_build
    ;;
  test)
    install_missing "${packages[@]}"
    configure_and_build
    (cd "$build_dir" && ctest --output-on-failure -j"$jobs" ${CTEST_ARGS:-})
    ;;
  demo)
    install_missing "${packages[@]}"
    quiet_build
    "$top/examples/run-demo.sh" "$build_dir"
    ;;
  bench)
    install_missing "${packages[@]}"
    build_dir=${BUILD_DIR:-build-bench}
    CMAKE_ARGS="${CMAKE_ARGS:-} -DRAYDECK_BENCH=ON" BUILD_TYPE=Release configure_and_build
    for b in "$build_dir"/bench/bench_*; do
      [ -x "$b" ] || continue
      echo "== $(basename "$b")"
      "$b" ${BENCH_ARGS:-}
    done
    ;;
  windows)
    install_missing "${windows_packages[@]}"
    windows_build
    ;;
  windows-test)
    install_missing "${windows_packages[@]}"
    windows_test
    ;;
  package)
    install_missing "${windows_packages[@]}"
    windows_package
    ;;
  fuzz)
    # A number alone is the seconds (as before); otherwise the target's name, then the seconds.
    only=
    if [ $# -ge 2 ] && ! [[ $2 =~ ^[0-9]+$ ]]; then
      only=$2
      shift
    fi
    seconds=${2:-60}
    if [ -n "$only" ] && [ ! -d "$top/tests/data/fuzz/$only" ]; then
      echo "build.sh fuzz: no fuzz target named $only (targets: $(ls "$top/tests/data/fuzz" | grep -v README | tr '\n' ' '))" >&2
      exit 2
    fi
    install_missing "${packages[@]}" "${fuzz_packages[@]}"
    build_dir=${BUILD_DIR:-build-fuzz}
    CMAKE_ARGS="${CMAKE_ARGS:-} -DRAYDECK_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++" \
      BUILD_TYPE=RelWithDebInfo configure_and_build --target "${only:+fuzz_}${only:-fuzz_all}"
    failed=()
    for exe in "$build_dir"/fuzz/fuzz_${only:-*}; do
      [ -f "$exe" ] && [ -x "$exe" ] || continue
      t=${exe##*/fuzz_}
      # New inputs go to the build folder's corpus; the stored ones are read, never written.
      corpus="$build_dir/fuzz-corpus/$t"
      crashes="$build_dir/fuzz-crashes/$t"
      mkdir -p "$corpus" "$crashes"
      before=$(ls "$crashes" | wc -l)
      echo "== fuzz_$t for ${seconds}s"
      # One job at a time in a child process, so that a crash is saved and the run goes on.
      ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
        LSAN_OPTIONS="suppressions=$top/fuzz/lsan.supp" \
        "$build_dir/fuzz/fuzz_$t" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -artifact_prefix="$crashes/" ${FUZZ_ARGS:-} "$corpus" "$top/tests/data/fuzz/$t" || true
      if [ "$(ls "$crashes" | wc -l)" -gt "$before" ]; then
        failed+=("$t")
      fi
    done
    if [ ${#failed[@]} -gt 0 ]; then
      echo "build.sh fuzz: new inputs that crash, time out or run out of memory under $build_dir/fuzz-crashes: ${failed[*]}" >&2
      exit 1
    fi
    ;;
  *)
    echo "usage: ./build.sh demo|test|bench|build|fuzz [TARGET] [SECONDS]|windows|windows-test|package" >&2
    exit 2
    ;;
esac
