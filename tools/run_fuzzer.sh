#!/usr/bin/env bash
# Builds the flow-configuration fuzzer (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) incrementally and runs it for the given number of
# seconds. The corpus starts from the repository's flow configurations and grows
# in <build root>/fuzz/corpus; a crashing input is saved in <build root>/fuzz/artifacts.
# Usage: tools/run_fuzzer.sh [seconds]   (default 60; build root: KESTRUNE_BUILD_ROOT or .build)
# Ends with "fuzz: N executions, corpus of M inputs"; exits non-zero on any finding.
set -euo pipefail

seconds="${1:-60}"
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
base="${build_root}/fuzz"
package="${repo}/kestrune_diagnostic_trace"

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
mkdir -p "${base}"
CC=clang CXX=clang++ kestrune_colcon_build "${base}" \
  --packages-up-to kestrune_diagnostic_trace --event-handlers console_cohesion- \
  --cmake-args -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF -DKESTRUNE_FUZZ=ON -DKESTRUNE_WERROR=ON \
  "-DCMAKE_C_FLAGS=${flags}" "-DCMAKE_CXX_FLAGS=${flags}" >"${base}/build.log" 2>&1 ||
  { cat "${base}/build.log"; echo "fuzz: build FAILED"; exit 1; }

# Seeds are read only; what libFuzzer finds goes to the corpus, kept between runs.
seeds="${base}/seeds"
rm -rf "${seeds}"
mkdir -p "${seeds}" "${base}/corpus" "${base}/artifacts"
cp "${package}"/config/*.yaml "${package}"/examples/*.yaml "${package}"/test/fuzz/corpus/*.yaml \
  "${seeds}/"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
log="${base}/fuzz.log"
status=0
# An input that runs for 10 s counts as a hang. The resident size grows slowly with
# the corpus and the sanitizers' caches, so long runs get more room than the default.
"${base}/build/kestrune_diagnostic_trace/fuzz_flow_config" \
  -max_total_time="${seconds}" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
  -dict="${package}/test/fuzz/flow_config.dict" \
  -artifact_prefix="${base}/artifacts/" \
  "${base}/corpus" "${seeds}" >"${log}" 2>&1 || status=$?

executions="$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "${log}" | tail -1)"
corpus_size="$(find "${base}/corpus" -type f | wc -l)"
if [[ "${status}" -ne 0 ]]; then
  tail -n 80 "${log}"
  echo "fuzz: FAILED after ${executions:-?} executions; the input is in ${base}/artifacts/"
  exit 1
fi
echo "fuzz: ${executions:-0} executions, corpus of ${corpus_size} inputs"
