#!/bin/sh
# Makes the release build of one benchmark and prints the path of its program.
# Usage: bench/build.sh TARGET   (BUILD_DIR overrides the build folder, JOBS the parallel jobs)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
command -v ffmpeg >/dev/null || { echo "the ffmpeg command is needed" >&2; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-3}" --target "$1" >/dev/null
echo "$build/bin/$1"
