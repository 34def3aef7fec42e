#!/usr/bin/env bash
# build.sh [normal|asan|tsan] - configures and builds one build folder under out/.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
# ccache hits across clones of the repository in different folders.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
# Hits are looked up by the preprocessed text, not by the list of headers seen
# last time: several clones building at once once got an object compiled
# against another clone's headers (a changed record layout) in direct mode.
export CCACHE_NODIRECT=1
case "$kind" in
  normal) extra=(-DAG_SANITIZE=) ;;
  asan) extra=(-DAG_SANITIZE=address -DAG_BUILD_BENCH=OFF) ;;
  tsan) extra=(-DAG_SANITIZE=thread -DAG_BUILD_BENCH=OFF) ;;
  *) echo "usage: build.sh [normal|asan|tsan]" >&2; exit 2 ;;
esac
cmake -S . -B "out/$kind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
ninja -C "out/$kind" -j "${AG_JOBS:-2}"
