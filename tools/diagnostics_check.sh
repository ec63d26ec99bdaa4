#!/usr/bin/env bash
# Flow health as ROS 2's diagnostics pipeline sees it, read by a real ROS 2 node
# (tools/diagnostics_listener.py, rclpy over rmw_cyclonedds_cpp):
#   aggregator  diagnostic_aggregator's aggregator_node from /opt/ros/humble, with the
#               package's config/analyzers.yaml, must put every flow of the ROS 2 build's
#               scenario program under /Robot/Flows in /diagnostics_agg, intact as below;
#   interop     the standalone build's scenario program must deliver every flow's status
#               on /diagnostics intact: name, hardware_id, level, message, values keys
#               with the flow's own id, and a stamp close to now; asked for another hardware_id, the listener
#               must refuse them.
# First the listener's judgement itself (tools/test_diagnostics_listener.py); each program
# must end promptly on SIGINT.
# Needs diagnostic_aggregator in /opt/ros/humble and both install spaces of build_and_test.sh.
# Prints what the listener saw; exits 0 when every check passed, 1 otherwise.
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

use_cross_build_check

node=diag_trace_test
flows=(grab_place_task toilet heartbeat)
analyzer_path=/Robot/Flows
# How long the statuses may take to arrive (discovery, the first period, the
# aggregator's own period), and how long a program may take to end on SIGINT.
arrival_deadline=30
# How long the listener's control run waits for a status it must refuse.
control_deadline=10
exit_deadline=10

# shellcheck source=tools/check_helpers.sh
source "${repo}/tools/check_helpers.sh" diagnostics

# listen TOPIC ARG...: the listener over ROS 2 Humble, its output indented.
listen() {
  local topic="$1"
  shift
  (
    set +u
    # shellcheck disable=SC1091
    source /opt/ros/humble/setup.bash
    exec /usr/bin/python3 "${repo}/tools/diagnostics_listener.py" --topic "${topic}" \
      --deadline "${arrival_deadline}" "$@"
  ) 2>&1 | sed 's/^/  | /'
  return "${PIPESTATUS[0]}"
}

scenario=lib/kestrune_diagnostic_trace/trace_scenario_node
# What every flow's status must carry, as published and as aggregated (the aggregator
# keeps an item's hardware_id and values).
intact=(--hardware-id "${node}" --key 'flow id' --key state --key 'last verdict'
  --key 'points recorded' --key 'configured points' --flow-id-key 'flow id')

echo "=== diagnostics: the listener's own judgement ==="
status=0
/usr/bin/python3 "${repo}/tools/test_diagnostics_listener.py" 2>&1 | sed 's/^/  | /' ||
  status=$?
verdict "${status}" "tools/test_diagnostics_listener.py"

echo "=== diagnostics: aggregator_node + ROS 2 build's scenario program in domain ${ROS_DOMAIN_ID} ==="
aggregator=/opt/ros/humble/lib/diagnostic_aggregator/aggregator_node
analyzers="${ros_install}/kestrune_diagnostic_trace/share/kestrune_diagnostic_trace/config/analyzers.yaml"
status=0
if [[ ! -x "${aggregator}" ]]; then
  verdict 1 "diagnostic_aggregator is installed in /opt/ros/humble (${aggregator} is missing)"
elif [[ ! -f "${analyzers}" ]]; then
  verdict 1 "the ROS 2 build installs config/analyzers.yaml (${analyzers} is missing)"
else
  start "${work}/aggregator.log" /opt/ros/humble/setup.bash -- \
    "${aggregator}" --ros-args --params-file "${analyzers}"
  aggregator_pid=${started_pid}
  start "${work}/ros_scenario.log" /opt/ros/humble/setup.bash "${ros_install}/setup.bash" -- \
    "${ros_install}/kestrune_diagnostic_trace/${scenario}"
  scenario_pid=${started_pid}
  names=()
  for flow in "${flows[@]}"; do names+=(--name "${analyzer_path}/${node}: ${flow}"); done
  listen /diagnostics_agg "${names[@]}" "${intact[@]}" || status=$?
  verdict "${status}" "every flow is under ${analyzer_path} in /diagnostics_agg"
  stopped=0
  stop "${scenario_pid}" || stopped=$?
  verdict "${stopped}" "the ROS 2 build's trace_scenario_node ended on SIGINT (status ${stopped})"
  show_log_on_failure "$((status | stopped))" trace_scenario_node "${work}/ros_scenario.log"
  stop "${aggregator_pid}" || true
  show_log_on_failure "${status}" aggregator_node "${work}/aggregator.log"
fi

echo "=== diagnostics: standalone build's scenario program -> ROS 2 node ==="
start "${work}/standalone_scenario.log" "${standalone_install}/setup.bash" -- \
  "${standalone_install}/kestrune_diagnostic_trace/${scenario}"
scenario_pid=${started_pid}
names=()
for flow in "${flows[@]}"; do names+=(--name "${node}: ${flow}"); done
status=0
listen /diagnostics "${names[@]}" "${intact[@]}" || status=$?
verdict "${status}" "a ROS 2 node receives every flow's status intact on /diagnostics"
# The listener must see a wrong field, not merely the arrival: asked for another
# hardware_id, it has to fail and name the one it got.
control=0
output="$(listen /diagnostics --name "${node}: heartbeat" --hardware-id "not_${node}" \
  --deadline "${control_deadline}")" || control=$?
printf '%s\n' "${output}"
refused=1
if [[ "${control}" -eq 1 ]] && grep -qF "hardware_id '${node}', want 'not_${node}'" <<<"${output}"; then
  refused=0
fi
verdict "${refused}" "the listener refuses a status with another hardware_id than asked for"
stopped=0
stop "${scenario_pid}" || stopped=$?
verdict "${stopped}" "the standalone trace_scenario_node ended on SIGINT (status ${stopped})"
show_log_on_failure "$((status | refused | stopped))" trace_scenario_node \
  "${work}/standalone_scenario.log"

finish
