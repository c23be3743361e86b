#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each for
# FUZZ_SECONDS (default 60). Inputs that crash, hang or run out of memory are
# copied to tests/fixtures/fuzz/<target>/, where the C++ suite replays them.
#   scripts/fuzz.sh [target...]      default: every fuzz/<target>.cpp
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if ! command -v clang++-14 >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev >/dev/null
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRIX_FUZZ=ON \
  -DQUARRIX_BUILD_TESTS=OFF -DQUARRIX_BUILD_PYTHON=OFF -DQUARRIX_BUILD_BENCH=OFF >/dev/null

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for source in fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
cmake --build build/fuzz -j2 --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for target in "${targets[@]}"; do
  work="build/fuzz/run/$target"
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
  seeds=(examples)
  [ -d "tests/fixtures/fuzz/$target" ] && seeds+=("tests/fixtures/fuzz/$target")
  echo "fuzz: $target for ${seconds}s" >&2
  if ! "build/fuzz/fuzz/fuzz_$target" "$work/corpus" "${seeds[@]}" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
      >"$work/log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$work/log" >&2
  fi
  for artifact in "$work"/artifacts/*; do
    [ -e "$artifact" ] || continue
    mkdir -p "tests/fixtures/fuzz/$target"
    cp "$artifact" "tests/fixtures/fuzz/$target/$(basename "$artifact")"
    echo "fuzz: $target: kept $(basename "$artifact") in tests/fixtures/fuzz/$target/" >&2
  done
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$work/log" | sed "s/^/fuzz: $target: /" >&2 || true
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: every target ran ${seconds}s without a crash" >&2
