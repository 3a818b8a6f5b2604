#!/bin/sh
# Times check passes over large drop folders and stores against find and ffmpeg, one BENCH line
# per row: project, reference and ratio are the best of the row's runs, the -median fields their
# median. The syscalls- rows count with strace the system calls per file of one pass (steady,
# archive flag, re-check, a new process's first pass over imported files, steady over 1,000
# folders of 10 files) against find's per file over the same files. rss-100000 is the program's
# resident memory in MB after a steady pass over 100,000 files and carts, the least of three
# processes (peak= the highest), in a home of its own whose import takes half of the run. A row
# whose passes did not do their work prints a FAILED line and the script ends with 1 after the
# other rows. Builds a release build of its own and works in a temporary folder that it removes.
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
"$bench" gen-wav "$files/smallfolders" 80000 10000 10
"$bench" gen-wav "$work/big/files/wav100000" 100000 100000

out=$work/out.txt
: >"$out"
failed=
run_row() {
  echo "running $1" >&2
  "$bench" "$1" "$2" >>"$out" || failed="$failed $1"
}
# The archive row comes last but for the counts: its first pass imports wav10000 again and marks
# the files.
for row in first-pass-1000 first-pass-10000 pass-unchanged-10000 pass-first-10000 \
  pass-out-of-range-10000 recheck-10000 pass-mp3-1000 import-mp3 first-pass-delete-1000 \
  first-pass-delete-10000 pass-archive-10000 syscalls-unchanged-10000 syscalls-archive-10000 \
  syscalls-recheck-10000 syscalls-restart-10000; do
  run_row "$row" "$work"
done
# Imported here, so that the rows above find the store as it always was.
echo "importing the small folders" >&2
"$bench" pass-smallfolders-10000 "$work" import >>"$out" || failed="$failed import-smallfolders"
run_row syscalls-smallfolders-10000 "$work"
start=$(date +%s)
"$bench" rss-100000 "$work/big" import >>"$out" || failed="$failed import-100000"
echo "100,000 files imported in $(($(date +%s) - start)) s" >&2
run_row rss-100000 "$work/big"
cat "$out"
[ -z "$failed" ] || { echo "rows that failed:$failed" >&2; exit 1; }
