#!/usr/bin/env bash
# Damaged input and failing disks, checked two ways:
#   1. the whole test suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer
#      (gcc). The tests run the sanitized binary, and LeakSanitizer (part of AddressSanitizer)
#      makes it fail on any leak, in the tests' own in-memory runs and in the binary's runs;
#   2. the whole test suite against a build with ThreadSanitizer (gcc), for the long outputs that
#      are written on a second thread while the decoder goes on;
#   3. a short run of every fuzz target (clang, libFuzzer) from its committed seed corpus.
# The long fuzz runs are done by hand (fuzz/README.md).
# Usage: .ci/sanitize.sh            (FUZZ_SECONDS=60 by default, per target, two at a time)
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
started=$SECONDS

# clang with its libFuzzer runtime, and what the test suite needs.
if command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
  if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 \
     || ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! [ -d /usr/src/googletest ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends cmake ninja-build g++ clang libclang-rt-14-dev \
      googletest python3 >/dev/null
  fi
fi

echo "== sanitizer build and the whole test suite"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_SANITIZE=ON \
  -DSORVIK_BUILD_TESTS=ON -DSORVIK_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-asan
# Any report (a leak included) ends the process with status 86, which no test expects: the
# binary's own failure status is 1, and a leak would otherwise exit with 1 as well.
export ASAN_OPTIONS="detect_leaks=1:exitcode=86:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"
ctest --test-dir build-asan --output-on-failure --timeout 600 -j 2
unset ASAN_OPTIONS UBSAN_OPTIONS
echo "   done after $((SECONDS - started)) s"

echo "== thread sanitizer build and the whole test suite"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_SANITIZE_THREADS=ON \
  -DSORVIK_BUILD_TESTS=ON -DSORVIK_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1:exitcode=86" ctest --test-dir build-tsan --output-on-failure \
  --timeout 600 -j 2
echo "   done after $((SECONDS - started)) s"

echo "== fuzz targets, ${FUZZ_SECONDS} s each"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_FUZZ=ON \
  -DSORVIK_BUILD_TESTS=OFF -DSORVIK_BUILD_BENCH=OFF >/dev/null
targets=(convert archive command_line decoder)
cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"

# The targets run in memory; only their corpus copies and reproducers go to a scratch folder.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

fuzz_one() {
  local name=$1
  local max_len=8192
  [ "$name" = archive ] && max_len=16384
  [ "$name" = command_line ] && max_len=512
  mkdir -p "$scratch/$name/corpus" "$scratch/$name/artifacts"
  cp fuzz/corpus/"$name"/* "$scratch/$name/corpus/"
  if ./build-fuzz/fuzz/fuzz_"$name" -max_total_time="$FUZZ_SECONDS" -max_len="$max_len" \
       -timeout=30 -print_final_stats=1 -artifact_prefix="$scratch/$name/artifacts/" \
       "$scratch/$name/corpus" >"$scratch/$name/log" 2>&1; then
    echo "   fuzz_$name: $(grep -o 'number_of_executed_units: [0-9]*' "$scratch/$name/log")," \
      "$(grep -o 'average_exec_per_sec: *[0-9]*' "$scratch/$name/log" | tr -s ' ')"
  else
    echo "   fuzz_$name FAILED; the end of its log:"
    tail -n 60 "$scratch/$name/log"
    for artifact in "$scratch/$name/artifacts"/*; do
      [ -e "$artifact" ] && echo "   reproducer (base64) $(basename "$artifact"): $(base64 -w0 "$artifact")"
    done
    return 1
  fi
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for name in "${targets[@]:i:2}"; do
    fuzz_one "$name" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
done
echo "   done after $((SECONDS - started)) s"
exit $failed
