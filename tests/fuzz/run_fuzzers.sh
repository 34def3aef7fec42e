#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in their own clang build folder
# and runs them one after the other, each starting from its seed corpus.
#
#   tests/fuzz/run_fuzzers.sh [SECONDS_PER_TARGET]
#       bounded run (the test command): every target for SECONDS (default 20)
#   tests/fuzz/run_fuzzers.sh --runs N [--max-seconds S] [--max-len B] [NAME...]
#       long run: each named target (default: all) until N executions or S
#       seconds (default: no limit), one at a time, each in one process
#       (libFuzzer without -jobs: one job, no supervisor process); with
#       --max-len no input grows past B bytes (default: libFuzzer's 4096)
#
# Environment: AG_FUZZ_BUILD  build folder (default <repo>/build-fuzz)
#              AG_FUZZ_JOBS   ninja jobs (default 2)
# Every library of the fuzz build is compiled with coverage and ASan+UBSan
# (-fsanitize=fuzzer-no-link), so the fuzzers also see inside the suite's
# parsers. After each target one summary line gives its executions, rate,
# coverage (cov: edges, ft: features), corpus size and peak RSS. Exit status: 0 when
# every target ran clean, 1 when one crashed, leaked or timed out (the
# reproducer lands in <build>/fuzz-artifacts/). See docs/fuzzing.md.
set -euo pipefail

seconds=20
runs=""
max_len=""
names=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) runs="$2"; seconds=0; shift 2 ;;
    --max-seconds) seconds="$2"; shift 2 ;;
    --max-len) max_len="$2"; shift 2 ;;
    -*) echo "run_fuzzers: unknown option $1" >&2; exit 2 ;;
    *) if [[ -z "${runs}" && ${#names[@]} -eq 0 && "$1" =~ ^[0-9]+$ ]]; then seconds="$1"; else names+=("${1%_fuzz}_fuzz"); fi; shift ;;
  esac
done
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${AG_FUZZ_BUILD:-${repo}/build-fuzz}"
jobs="${AG_FUZZ_JOBS:-2}"
sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"
# The suite's shared libraries are linked with --no-undefined: they take the
# sanitizer runtime (which also carries the coverage hooks) as a shared
# library, found through the rpath. clang names libstdc++ (for libFuzzer)
# ahead of that runtime, which must come first: it is preloaded on each run.
runtime="$(clang -print-file-name=libclang_rt.asan-x86_64.so)"
link_flags="-shared-libsan -Wl,-rpath,$(dirname "${runtime}")"

cmake -S "${repo}" -B "${build}" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="${sanitizers}" -DCMAKE_CXX_FLAGS="${sanitizers}" \
  -DCMAKE_SHARED_LINKER_FLAGS="${link_flags}" -DCMAKE_EXE_LINKER_FLAGS="${link_flags}" \
  -DAG_BUILD_FUZZ=ON -DAG_BUILD_TESTS=ON -DAG_BUILD_BENCH=OFF >/dev/null
status=0
# Keep going past a target that does not build: the others still run.
if ! ninja -C "${build}" -j "${jobs}" -k 0 ag_fuzz_all; then
  echo "run_fuzzers: not every fuzz target built" >&2
  status=1
fi

artifacts="${build}/fuzz-artifacts"
mkdir -p "${artifacts}"
if [[ ${#names[@]} -eq 0 ]]; then
  for source in "${repo}"/tests/fuzz/*_fuzz.cc; do names+=("$(basename "${source}" .cc)"); done
fi
limits=(-max_total_time="${seconds}")
[[ -n "${runs}" ]] && limits+=(-runs="${runs}")
[[ -n "${max_len}" ]] && limits+=(-max_len="${max_len}")
# In the long run ASan keeps no allocation stacks: its store of them lives as
# long as the process and gains an entry for every new stack, and a recursive
# reader (JsonCpp) makes one for every nesting depth, so over millions of
# inputs the JSON targets grew past a gigabyte and slowed to a fraction of
# their rate. A report then names the faulting access but not where the block
# was allocated; replay the reproducer for the whole story. The bounded run
# keeps the full stacks. ASAN_OPTIONS given by the caller still win.
[[ -n "${runs}" ]] && export ASAN_OPTIONS="malloc_context_size=0${ASAN_OPTIONS:+:${ASAN_OPTIONS}}"
for name in "${names[@]}"; do
  binary="${build}/bin/${name}"
  if [[ ! -x "${binary}" ]]; then
    echo "run_fuzzers: ${name} was not built" >&2
    status=1
    continue
  fi
  # New inputs go to the working corpus in the build folder; the seeds in the
  # source tree stay as they are.
  corpus="${build}/fuzz-corpus/${name}"
  mkdir -p "${corpus}"
  seeds=()
  [[ -d "${repo}/tests/fuzz/corpus/${name%_fuzz}" ]] && seeds+=("${repo}/tests/fuzz/corpus/${name%_fuzz}")
  echo "run_fuzzers: ${name} (${runs:+${runs} runs, }${seconds}s limit)"
  log="${build}/${name}.log"
  started=${SECONDS}
  if ! LD_PRELOAD="${runtime}" "${binary}" "${limits[@]}" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="${artifacts}/${name}-" "${corpus}" "${seeds[@]}" >"${log}" 2>&1; then
    echo "run_fuzzers: ${name} FAILED (log: ${log})" >&2
    tail -n 40 "${log}" >&2
    status=1
  else
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "${log}" | tail -n 1)
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "${log}" | tail -n 1)
    peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "${log}" | tail -n 1)
    elapsed=$((SECONDS - started))
    echo "run_fuzzers: ${name}: ${executed:-0} executions in ${elapsed}s" \
      "($(( ${executed:-0} / (elapsed > 0 ? elapsed : 1) ))/s), ${coverage:-no coverage line}, peak RSS ${peak:-?} MB"
  fi
done
exit "${status}"
