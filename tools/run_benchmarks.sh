#!/usr/bin/env bash
# Builds the benchmark suite (Release), runs it (logging suppressed, then info
# lines going to /dev/null), counts instructions per call with callgrind, times
# the engine mutex's holds with 10,000 flows, and writes
# kestrune_diagnostic_trace/docs/benchmarks.md.
#
# Usage: tools/run_benchmarks.sh [--runs N] [--repetitions N] [--min-time SECONDS] [--quick]
#                                [--init-reference FILE]
#   defaults: 3 runs of 9 repetitions of at least 0.5 s each; the page shows the median
#   over the runs. This takes a quarter of an hour or more.
#   --quick: one short run of the suppressed benchmarks and the instruction counts, in
#   under two minutes once built; the table goes to <build root>/bench/results/benchmarks.md
#   and to standard output, and the docs stay as they are. For a check before a commit.
#   --init-reference FILE: the JSON output of `kestrune_lint_benchmarks --benchmark_filter=^Init/`
#   of an earlier build, run just before; the page then compares Init with it.
# Build tree: <build root>/bench (KESTRUNE_BUILD_ROOT, default .build in the repository).
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The node benchmark talks DDS: loopback unless the caller chose otherwise.
use_loopback_dds
# A domain of its own, so no other participant on the machine matches the publisher.
export ROS_DOMAIN_ID="${ROS_DOMAIN_ID:-$((RANDOM % 100 + 120))}"

runs=3
repetitions=9
min_time=0.5
quick=false
init_reference=""
usage="usage: $0 [--runs N] [--repetitions N] [--min-time SECONDS] [--quick] [--init-reference FILE]"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --repetitions) repetitions="$2"; shift 2 ;;
    --min-time) min_time="$2"; shift 2 ;;
    --quick) quick=true; shift ;;
    --init-reference) init_reference="$2"; shift 2 ;;
    *) echo "${usage}" >&2; exit 2 ;;
  esac
done
if [[ "${quick}" == true ]]; then
  runs=1
  repetitions=1
  min_time=0.05
  command_line="tools/run_benchmarks.sh --quick"
else
  command_line="tools/run_benchmarks.sh --runs ${runs} --repetitions ${repetitions} --min-time ${min_time}"
fi

base="${build_root}/bench"
results="${base}/results"
bin="${base}/build/kestrune_diagnostic_trace"
mkdir -p "${results}"

echo "=== build (Release, benchmarks on) ==="
kestrune_colcon_build "${base}" --packages-up-to kestrune_diagnostic_trace \
  --event-handlers console_cohesion+ \
  --cmake-args -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=Release \
  -DKESTRUNE_BUILD_BENCHMARKS=ON -DBUILD_TESTING=OFF -DKESTRUNE_WERROR=ON

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
date_utc="$(date -u '+%Y-%m-%d %H:%M UTC')"
common=(--benchmark_repetitions="${repetitions}" --benchmark_min_time="${min_time}"
        --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true
        --benchmark_out_format=json)

suppressed=()
devnull=()
for run in $(seq 1 "${runs}"); do
  echo "=== run ${run}/${runs}: logging suppressed ==="
  SPDLOG_LEVEL=error SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false \
    "${bin}/kestrune_benchmarks" "${common[@]}" --benchmark_out="${results}/suppressed.${run}.json"
  suppressed+=("${results}/suppressed.${run}.json")
  [[ "${quick}" == true ]] && continue

  echo "=== run ${run}/${runs}: info lines to /dev/null ==="
  # The program's own report goes to /dev/null with the log lines; the JSON file keeps it.
  SPDLOG_LEVEL=info SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false \
    "${bin}/kestrune_benchmarks" "${common[@]}" --benchmark_out="${results}/devnull.${run}.json" \
    '--benchmark_filter=^(Baseline|Trace/(no_event|handle|callback_event|node_event)|DirectPublish)$' \
    >/dev/null
  devnull+=("${results}/devnull.${run}.json")
done

extra=()
if [[ "${quick}" != true ]]; then
  echo "=== engine mutex holds with 10,000 flows ==="
  SPDLOG_LEVEL=error "${bin}/kestrune_hold_benchmarks" --benchmark_repetitions="${runs}" \
    --benchmark_report_aggregates_only=true \
    --benchmark_out_format=json --benchmark_out="${results}/holds.json"
  echo "=== Init of 10,000 flows ==="
  SPDLOG_LEVEL=error "${bin}/kestrune_lint_benchmarks" --benchmark_filter='^Init/' \
    --benchmark_repetitions="${runs}" --benchmark_report_aggregates_only=true \
    --benchmark_out_format=json --benchmark_out="${results}/init.json"
  echo "=== flow_monitor ==="
  SPDLOG_LEVEL=error "${bin}/kestrune_monitor_benchmarks" --benchmark_repetitions="${repetitions}" \
    --benchmark_min_time="${min_time}" --benchmark_report_aggregates_only=true \
    --benchmark_out_format=json --benchmark_out="${results}/monitor.json"
  echo "=== flow_checker ==="
  SPDLOG_LEVEL=error "${bin}/kestrune_checker_benchmarks" --benchmark_repetitions="${repetitions}" \
    --benchmark_min_time="${min_time}" --benchmark_report_aggregates_only=true \
    --benchmark_out_format=json --benchmark_out="${results}/checker.json"
  extra=(--devnull "${devnull[@]}" --holds "${results}/holds.json" --init "${results}/init.json"
         --monitor "${results}/monitor.json" --checker "${results}/checker.json")
  [[ -n "${init_reference}" ]] && extra+=(--init-reference "${init_reference}")
fi

echo "=== instruction counts (callgrind) ==="
count_instructions() {
  local subject="$1" calls="$2" out="${results}/callgrind.${1}.${2}"
  SPDLOG_LEVEL=error SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false \
    valgrind --tool=callgrind --collect-atstart=no '--toggle-collect=*MeasuredCalls*' \
    --callgrind-out-file="${out}" "${bin}/kestrune_instruction_count" "${subject}" "${calls}" \
    >/dev/null 2>&1
  sed -n 's/^summary: *\([0-9]*\).*/\1/p' "${out}"
}
calls=8000
[[ "${quick}" == true ]] && calls=1000
{
  echo "{"
  separator=""
  for subject in Baseline Trace TraceHandle TraceCallbackEvent TraceNodeEvent DirectPublish; do
    once="$(count_instructions "${subject}" "${calls}")"
    twice="$(count_instructions "${subject}" "$((2 * calls))")"
    per_call="$(python3 -c "print((${twice} - ${once}) / ${calls})")"
    echo "  ${subject}: ${per_call}" >&2
    printf '%s  "%s": %s' "${separator}" "${subject}" "${per_call}"
    separator=$',\n'
  done
  printf '\n}\n'
} >"${results}/instructions.json"

load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
standalone_lib="${base}/build/rclcpp_standalone/librclcpp_standalone.so"
if [[ ! -f "${standalone_lib}" ]]; then
  client="rclcpp of ROS 2"
elif ldd "${standalone_lib}" | grep -q libddsc; then
  client="the standalone rclcpp layer over Cyclone DDS"
else
  client="the standalone rclcpp layer, in-process transport"
fi
commit="$(git -C "${repo}" rev-parse --short HEAD)"
git -C "${repo}" diff --quiet HEAD -- . ':!kestrune_diagnostic_trace/docs/benchmarks.md' ||
  commit="${commit} with uncommitted changes"

page="${repo}/kestrune_diagnostic_trace/docs/benchmarks.md"
[[ "${quick}" == true ]] && page="${results}/benchmarks.md"
python3 "${repo}/kestrune_diagnostic_trace/benchmark/make_table.py" \
  --suppressed "${suppressed[@]}" "${extra[@]}" \
  --instructions "${results}/instructions.json" \
  --command "${command_line}" --date "${date_utc}" --commit "${commit}" \
  --machine "${cpu}, $(nproc) CPUs, Linux $(uname -r); publisher: ${client}" \
  --load "${load_before} / ${load_after}" \
  --out "${page}"
if [[ "${quick}" == true ]]; then
  cat "${page}"
fi
echo "wrote ${page}"
