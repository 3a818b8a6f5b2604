#!/bin/sh
# Builds the audio benchmark (release build) and runs it.
# Usage: bench/run_audio_bench.sh [seconds] [runs]   (BUILD_DIR overrides the build folder)
set -eu
exec "$(sh "$(dirname "$0")/build.sh" audio_bench)" "$@"
