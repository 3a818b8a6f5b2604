#!/bin/sh
# Times check passes over large drop folders and stores against find and ffmpeg, one BENCH line
# per row: project, reference and ratio are the best of the row's runs, the -median fields their
# median. The syscalls- rows count with strace the system calls per file of one pass (steady,
# archive flag, re-check) against find's per file over the same files. A row whose passes did not
# do their work prints a FAILED line and the script ends with 1 after the other rows. Builds a
# release build of its own and works in a temporary folder that it removes.
# Usage: bench/run_pass_bench.sh   (BUILD_DIR overrides the build folder, KEEP=1 keeps the files)
set -eu
command -v strace >/dev/null || { echo "the strace command is needed" >&2; exit 1; }
bench=$(sh "$(dirname "$0")/build.sh" pass_bench)

work=$(mktemp -d "${TMPDIR:-/tmp}/pass-bench.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
files=$work/files
echo "making the files in $work" >&2
"$bench" gen-wav "$files/wav1000" 10000 1000
"$bench" gen-wav "$files/wav1000-2" 11000 1000
"$bench" gen-wav "$files/wav1000-3" 12000 1000
"$bench" gen-wav "$files/wav10000" 20000 10000
"$bench" gen-wav "$files/outofrange" 50000 10000
"$bench" gen-wav "$files/delete1000" 13000 1000
"$bench" gen-wav "$files/delete1000-2" 14000 1000
"$bench" gen-wav "$files/delete1000-3" 15000 1000
"$bench" gen-wav "$files/delete10000" 70000 10000
ffmpeg -v quiet -f lavfi -i "sine=frequency=440:duration=1" -c:a libmp3lame -b:a 64k "$work/short.mp3"
"$bench" gen-copies "$files/mp3" 40000 1000 "$work/short.mp3"
mkdir -p "$files/long"
ffmpeg -v quiet -f lavfi -i "sine=frequency=440:duration=180" -ac 2 -ar 44100 -c:a libmp3lame \
  -b:a 192k "$files/long/60000 Bench.mp3"
"$bench" gen-copies "$files/long-2" 60001 1 "$files/long/60000 Bench.mp3"
"$bench" gen-copies "$files/long-3" 60002 1 "$files/long/60000 Bench.mp3"

out=$work/out.txt
: >"$out"
failed=
# The archive row comes last but for the counts: its first pass imports wav10000 again and marks
# the files.
for row in first-pass-1000 first-pass-10000 pass-unchanged-10000 pass-first-10000 \
  pass-out-of-range-10000 recheck-10000 pass-mp3-1000 import-mp3 first-pass-delete-1000 \
  first-pass-delete-10000 pass-archive-10000 syscalls-unchanged-10000 syscalls-archive-10000 \
  syscalls-recheck-10000; do
  echo "running $row" >&2
  "$bench" "$row" "$work" >>"$out" || failed="$failed $row"
done
cat "$out"
[ -z "$failed" ] || { echo "rows that failed:$failed" >&2; exit 1; }
