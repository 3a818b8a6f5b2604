#!/usr/bin/env bash
# Fails when a tracked C++ file is off the root .clang-format (clang-format 14, as Debian 12 has).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
