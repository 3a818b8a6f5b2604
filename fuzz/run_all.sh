#!/usr/bin/env bash
# Builds every fuzz target with clang (all code instrumented) in its own folder and runs each for
# the given number of seconds, at most JOBS at a time; prints runs and executions per second.
#   fuzz/run_all.sh [SECONDS] [TARGET...]      (JOBS=4 BUILD=build-fuzz by default)
# Seeds are written into BUILD/corpus/<target>/ on first use; findings land in BUILD/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
BUILD=${BUILD:-build-fuzz}
JOBS=${JOBS:-4}
ALL=(riff_fuzzer rtf_fuzzer transport_fuzzer ini_fuzzer mail_fuzzer textdecoder_fuzzer
     language_fuzzer cartnumber_fuzzer rtfconv_fuzzer audioimport_fuzzer)
if [ $# -gt 0 ]; then TARGETS=("$@"); else TARGETS=("${ALL[@]}"); fi

LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCF_FUZZ=ON -DBUILD_TESTING=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j"${BUILD_JOBS:-3}" --target "${TARGETS[@]}"

# Temporary files of the targets stay inside the build folder.
export TMPDIR="$PWD/$BUILD/tmp"
mkdir -p "$TMPDIR" "$BUILD/findings" "$BUILD/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

python3 fuzz/make_seeds.py "$BUILD/corpus"
stamp="$BUILD/logs/.started"
touch "$stamp"

run_one() {
  local target=$1 corpus="$BUILD/corpus/$1"
  mkdir -p "$corpus" "$BUILD/findings/$target"
  # A target stopped at a finding leaves its temporary folder behind: one folder per target.
  rm -rf "${TMPDIR:?}/$target"
  mkdir -p "$TMPDIR/$target"
  TMPDIR="$TMPDIR/$target" "$BUILD/bin/$target" "$corpus" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$BUILD/findings/$target/" \
    >"$BUILD/logs/$target.log" 2>&1 || true
  rm -rf "${TMPDIR:?}/$target"
}

running=0
for target in "${TARGETS[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
status=0
printf '%-22s %12s %10s  %s\n' target runs exec/s findings
for target in "${TARGETS[@]}"; do
  log="$BUILD/logs/$target.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(find "$BUILD/findings/$target" -type f -newer "$stamp" | wc -l)
  printf '%-22s %12s %10s  %s\n' "$target" "${runs:-?}" "${speed:-?}" "$found"
  [ "$found" -eq 0 ] && [ -n "$runs" ] || status=1
done
exit $status
