#!/usr/bin/env bash
# replay_mutants.sh WORKTREE [FILE_REGEX] [RESULTS] [SAMPLE]
# Replays the mutants of the seed-7 sample (mutation-sample --count 60 --seed 7) on WORKTREE's
# current tree: applies each mutant to its source file, rebuilds out/normal incrementally, runs
# the unit-test programs (not e2e_tests) until one fails, then restores the file.
#   FILE_REGEX  only mutants whose file matches (grep -E), default: all
#   RESULTS     which recorded results to replay (regex on the result), default: killed|timeout
#   SAMPLE      the tool's --json output to replay, default: docs/mutants-seed7.jsonl
# Much quicker than the tool itself on a tree that is already built (no scratch copy, no first
# build); the code must be the sampled code, so use it while only tests change.
# Prints one line per mutant: KILLED (by which program) or SURVIVED, and a total.
# With KILL_MAP=1 every unit program runs on every mutant and a KILLED line names every test
# that failed (program: Suite.Test ...;): the map of which tests carry which kill, for knowing
# what a test change can lose. It takes a full unit run per mutant.
# Only touches source files (never tests); restores each file even when interrupted.
set -u
wt=$(cd "$1" && pwd)
filter=${2:-.}
results=${3:-'killed|timeout'}
sample=$(realpath "${4:-$(dirname "$0")/../docs/mutants-seed7.jsonl}")
log=$(mktemp /tmp/replay.XXXXXX)
export CCACHE_BASEDIR=$wt CCACHE_NOHASHDIR=1 CCACHE_NODIRECT=1
cd "$wt" || exit 2
saved=""
# A plain copy: the restored file must be newer than the mutant's objects, or ninja keeps them.
restore() { [ -n "$saved" ] && cp "$saved" "$current" && rm -f "$saved"; saved=""; }
trap 'restore; exit 130' INT TERM
killed=0; survived=0; skipped=0
while IFS= read -r row; do
  file=$(jq -r .file <<<"$row"); line=$(jq -r .line <<<"$row")
  result=$(jq -r .result <<<"$row")
  grep -qE "$results" <<<"$result" || continue
  grep -qE "$filter" <<<"$file" || continue
  current=$file
  saved=$(mktemp /tmp/replay-orig.XXXXXX); cp -p "$file" "$saved"
  if ! jq -c . <<<"$row" | python3 -c '
import json, sys
d = json.loads(sys.stdin.read()); path = d["file"]
lines = open(path).read().split("\n")
orig, mut, want = d["original"], d["mutated"], d["line"] - 1
cands = [i for i, l in enumerate(lines) if orig in l]
if not cands: sys.exit(1)
i = min(cands, key=lambda i: abs(i - want))
lines[i] = lines[i].replace(orig, mut, 1)
open(path, "w").write("\n".join(lines))
'; then
    echo "SKIPPED  $file:$line (its line is gone)"; skipped=$((skipped + 1)); restore; continue
  fi
  if ! nice -n 5 ninja -C out/normal -j2 >"$log" 2>&1; then
    echo "NOBUILD  $file:$line $(jq -r .change <<<"$row")"; skipped=$((skipped + 1)); restore; continue
  fi
  by=""
  for t in out/normal/bin/*_tests; do
    case "$t" in *e2e_tests) continue ;; esac
    timeout 150 "$t" --gtest_brief=1 >"$log" 2>&1 && continue
    if [ "${KILL_MAP:-0}" != 1 ]; then by=${t##*/}; break; fi
    failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z][^ ,]*\).*/\1/p' "$log" | sort -u | tr '\n' ' ')
    by="$by ${t##*/}: ${failed:-(crashed or timed out)};"
  done
  if [ -n "$by" ]; then
    echo "KILLED   $file:$line $(jq -r .change <<<"$row") by $by"; killed=$((killed + 1))
  else
    echo "SURVIVED $file:$line $(jq -r .change <<<"$row")"; survived=$((survived + 1))
  fi
  restore
done <"$sample"
nice -n 5 ninja -C out/normal -j2 >"$log" 2>&1 || echo "rebuild after the replay failed: see $log"
echo "replayed: killed $killed, survived $survived, skipped $skipped"
