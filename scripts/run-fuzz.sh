#!/usr/bin/env bash
# Builds one fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) and runs it.
#   scripts/run-fuzz.sh TARGET SECONDS [BUILD_DIR]     e.g. scripts/run-fuzz.sh fuzz_config 60
#   scripts/run-fuzz.sh --build-only BUILD_DIR TARGET...
# The seeds in fuzz/corpus/TARGET are read but not changed; new inputs go to
# BUILD_DIR/corpus/TARGET and crashes to BUILD_DIR/artifacts/ (default
# BUILD_DIR: build-fuzz). Minimise a crash with -minimize_crash=1 and store it
# as tests/regress/fuzz/TARGET-<hash> (see fuzz/README.md).
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: scripts/run-fuzz.sh TARGET SECONDS [BUILD_DIR]" >&2
  echo "       scripts/run-fuzz.sh --build-only BUILD_DIR TARGET..." >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "$1" = --build-only ]; then
  build=$2
  targets=("${@:3}")
else
  target=$1
  seconds=$2
  build=${3:-$root/build-fuzz}
  targets=("$target")
fi

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARVEST_FUZZ=ON -DHARVEST_BUILD_BENCH=OFF \
      -DCMAKE_C_FLAGS="$sanitizers" -DCMAKE_CXX_FLAGS="$sanitizers" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target "${targets[@]}" -j 2
[ "$1" = --build-only ] && exit 0

mkdir -p "$build/corpus/$target" "$build/artifacts"
ulimit -f 1048576  # KiB: no input makes a file over 1 GiB
# HDF5's own leaks on its error paths are no finding (see scripts/ci/lsan.supp).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/ci/lsan.supp:print_suppressions=0}
exec "$build/bin/$target" -max_total_time="$seconds" -artifact_prefix="$build/artifacts/$target-" \
     -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 "$build/corpus/$target" "$root/fuzz/corpus/$target"
