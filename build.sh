#!/usr/bin/env bash
# Build driver: installs what a fresh Debian machine lacks, configures, builds and runs.
#   ./build.sh demo    build, then export the bundled sample scene
#   ./build.sh test    build, then run every test
#   ./build.sh bench   build the benchmarks and run them
#   ./build.sh build   build only
#   ./build.sh fuzz [SECONDS]   build the libFuzzer targets (clang, ASan+UBSan) in build-fuzz and
#                               run each for SECONDS (default 60), one after another
# BUILD_DIR (default: build) and CMAKE_ARGS are honoured, so CI can make a sanitizer build beside.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-2}

packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev libtinyxml2-dev
          nlohmann-json3-dev locales g++-mingw-w64-x86-64-posix libassimp-dev libpng-dev
          assimp-testmodels)
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
    configure_and_build
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
  fuzz)
    seconds=${2:-60}
    install_missing "${packages[@]}" "${fuzz_packages[@]}"
    build_dir=${BUILD_DIR:-build-fuzz}
    CMAKE_ARGS="${CMAKE_ARGS:-} -DRAYDECK_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++" \
      BUILD_TYPE=RelWithDebInfo configure_and_build --target fuzz_all
    failed=()
    for t in host_document scene_file query_xml registry scene_writer model_import; do
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
    echo "usage: ./build.sh demo|test|bench|build|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
