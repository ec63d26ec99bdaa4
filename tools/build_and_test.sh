#!/usr/bin/env bash
# Installs what the build needs (Debian 12), builds the workspace and runs every
# test suite:
#   standalone   the standalone rclcpp layer over Cyclone DDS, -Werror
#   scenario     the README's run command, tools/run_scenario.sh, as a user runs it
#                (tools/scenario_check.sh)
#   asan         the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan         the concurrency suites under ThreadSanitizer
#   fuzz         the flow-configuration fuzzer for KESTRUNE_FUZZ_SECONDS (60), tools/run_fuzzer.sh
#   ros          over ROS 2 Humble, when /opt/ros/humble/setup.bash exists
# With both standalone and ros, the ROS 2 build's events must also reach the
# standalone build's diag_echo (tools/interop_check.sh), and ROS 2's tools must see
# the standalone build's node and topics (tools/ros2cli_check.sh); diagnostic_aggregator
# must gather the ROS 2 build's flow health and a ROS 2 node must receive the standalone
# build's intact (tools/diagnostics_check.sh). With ros, flow_checker must work with
# ros2 launch, the Python sender and ros2 topic pub (tools/flow_checker_check.sh).
# Usage: tools/build_and_test.sh [standalone|scenario|asan|tsan|fuzz|ros ...]
#   (default: all that apply)
# Ends with the line "N passed, M failed" over all suites; exits non-zero on any failure.
# Builds go to KESTRUNE_BUILD_ROOT (default .build), one directory per mode.
set -euo pipefail

known_modes=(standalone scenario asan tsan fuzz ros)
modes=("$@")
if [[ ${#modes[@]} -eq 0 ]]; then
  modes=(standalone scenario asan tsan fuzz)
  [[ -f /opt/ros/humble/setup.bash ]] && modes+=(ros)
fi
# Refused before anything is installed or built, so a typo costs nothing.
for mode in "${modes[@]}"; do
  if [[ " ${known_modes[*]} " != *" ${mode} "* ]]; then
    echo "unknown mode: ${mode} (known: ${known_modes[*]})" >&2
    exit 2
  fi
  if [[ "${mode}" == ros && ! -f /opt/ros/humble/setup.bash ]]; then
    echo "mode ros needs ROS 2 Humble in /opt/ros/humble" >&2
    exit 2
  fi
done

# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# Suites run one at a time: several hold timing assertions and DDS participants.
jobs=1

passed=0
failed=0
status=0

# What ThreadSanitizer runs: the suites that start threads or child processes that do.
concurrency_tests='^(test_engine_lock|test_heartbeat|test_stress|test_faults|test_trace_scenario_node|test_flow_health|test_health_reporter|test_flow_model|test_monitor_server|test_flow_report|test_trace_point_handle|test_flow_statistics|test_point_sender|test_flow_checker|test_run_end)$'

# A stage that is one script counts as one suite.
run_script() {
  local title="$1"
  shift
  echo "=== ${title} ==="
  if KESTRUNE_BUILD_ROOT="${build_root}" "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); status=1
  fi
}

run_mode() {
  local mode="$1"
  local base="${build_root}/${mode}"
  local cmake_args=(-DPython3_EXECUTABLE=/usr/bin/python3 -DKESTRUNE_WERROR=ON)
  local ctest_args=()
  case "${mode}" in
    standalone) cmake_args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_BUILD_BENCHMARKS=ON) ;;
    asan) cmake_args+=(-DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=address) ;;
    tsan) cmake_args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=thread)
          ctest_args+=(-R "${concurrency_tests}") ;;
    ros) cmake_args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    fuzz) run_script "fuzz: build and run" "${repo}/tools/run_fuzzer.sh" "${KESTRUNE_FUZZ_SECONDS:-60}"
          return ;;
    scenario) run_script "scenario: the README's run command" "${repo}/tools/scenario_check.sh"
              return ;;
  esac

  echo "=== ${mode}: build ==="
  (
    if [[ "${mode}" == ros ]]; then
      # setup.bash reads unset variables.
      set +u
      # shellcheck disable=SC1091
      source /opt/ros/humble/setup.bash
      set -u
    fi
    kestrune_colcon_build "${base}" --event-handlers console_cohesion+ \
      --cmake-args "${cmake_args[@]}"
  ) || { echo "=== ${mode}: build FAILED ==="; failed=$((failed + 1)); status=1; return; }

  echo "=== ${mode}: test ==="
  local package
  for package in rclcpp_standalone kestrune_protocol kestrune_diagnostic_trace; do
    local dir="${base}/build/${package}"
    [[ -f "${dir}/CTestTestfile.cmake" ]] || continue
    local out
    out="$(mktemp)"
    (
      set +u
      if [[ "${mode}" == ros ]]; then
        # shellcheck disable=SC1091
        source /opt/ros/humble/setup.bash
      fi
      # shellcheck disable=SC1091
      source "${base}/install/setup.bash"
      set -u
      export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}"
      export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
      # Only third-party code is suppressed; tools/tsan_suppressions.txt says why.
      export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=${repo}/tools/tsan_suppressions.txt}"
      cd "${dir}" && ctest --output-on-failure --timeout 300 -j "${jobs}" "${ctest_args[@]}"
    ) 2>&1 | tee "${out}" || true
    local total bad
    total="$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "${out}" | tail -1)"
    bad="$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "${out}" | tail -1)"
    if [[ -z "${total}" ]]; then
      if grep -q "No tests were found" "${out}"; then
        rm -f "${out}"
        continue
      fi
      echo "=== ${mode}/${package}: ctest gave no summary ==="
      failed=$((failed + 1)); status=1
    else
      passed=$((passed + total - bad)); failed=$((failed + bad))
      [[ "${bad}" -eq 0 ]] || status=1
    fi
    rm -f "${out}"
  done
}

for mode in "${modes[@]}"; do
  run_mode "${mode}"
done

# With both builds at hand, check the wire between them: the ROS 2 build's events
# must reach the standalone build's diag_echo, ROS 2's tools must see the
# standalone build's node, topics and events, and flow health must pass through
# ROS 2's diagnostics pipeline.
if [[ " ${modes[*]} " == *" standalone "* && " ${modes[*]} " == *" ros "* ]]; then
  run_script "interop: ROS 2 node -> standalone diag_echo" "${repo}/tools/interop_check.sh"
  run_script "ros2cli: ROS 2's tools <-> standalone scenario program and diag_echo" \
    "${repo}/tools/ros2cli_check.sh"
  run_script "diagnostics: diagnostic_aggregator and a ROS 2 node <-> flow health" \
    "${repo}/tools/diagnostics_check.sh"
fi

# flow_checker from ROS 2's side: the launch file, the Python sender from an rclpy
# node and `ros2 topic pub`; with the standalone build too, the message between builds.
if [[ " ${modes[*]} " == *" ros "* ]]; then
  run_script "flow_checker: ros2 launch, the Python sender, ros2 topic pub" \
    "${repo}/tools/flow_checker_check.sh"
fi

echo "${passed} passed, ${failed} failed"
exit "${status}"
