#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test -
# once normally, once under ASan+UBSan, once under TSan - then the fuzz
# targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

status=0
for kind in normal asan tsan; do
  echo "=== build: $kind"
  scripts/build.sh "$kind"
  echo "=== tests: $kind"
  ctest --test-dir "out/$kind" -j2 --output-on-failure --timeout 300 || status=1
  if [ "$kind" = normal ]; then
    # The run command is what a user tries first: it must show every step.
    for demo_args in "" --with-unified-agent; do
      echo "=== demo ${demo_args:-(default)}"
      log=out/normal/demo${demo_args:+-unified-agent}.log
      if ! scripts/demo.sh $demo_args >"$log" 2>&1; then
        tail -n 40 "$log"
        status=1
      fi
    done
  fi
done

if [ -x tests/fuzz/run_fuzzers.sh ]; then
  echo "=== fuzz targets (bounded)"
  CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_NODIRECT=1 AG_FUZZ_BUILD=$PWD/out/fuzz tests/fuzz/run_fuzzers.sh 20 || status=1
fi
exit $status
