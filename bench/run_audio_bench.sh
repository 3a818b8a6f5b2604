#!/bin/sh
# Builds the audio benchmark (release build) and runs it.
# Usage: bench/run_audio_bench.sh [seconds] [runs]   (BUILD_DIR overrides the build folder)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
command -v ffmpeg >/dev/null || { echo "the ffmpeg command is needed" >&2; exit 1; }
extra=
if ! grep -q 'add_subdirectory(bench)' "$root/CMakeLists.txt"; then
  extra="-DCMAKE_PROJECT_Cartfeeder_INCLUDE=$root/bench/with-bench.cmake"
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $extra >/dev/null
cmake --build "$build" -j"$(nproc)" --target audio_bench >/dev/null
exec "$build/bin/audio_bench" "$@"
