#!/usr/bin/env bash
# Wire check between the two build modes: the scenario program built over ROS 2
# Humble (rmw_cyclonedds_cpp) publishes heartbeat events, and the standalone
# diag_echo must receive them intact. Needs both install spaces of build_and_test.sh.
# Exits 0 when two heartbeat events arrived within the deadline.
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

use_cross_build_check
out="$(mktemp)"
trap 'rm -f "${out}"; [[ -n "${node_pid:-}" ]] && kill -INT "${node_pid}" 2>/dev/null || true' EXIT

(
  set +u
  # shellcheck disable=SC1091
  source "${standalone_install}/setup.bash"
  exec timeout 30 "${standalone_install}/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/diag_echo" \
    /kestrune/diag/heartbeat --count 2
) >"${out}" 2>&1 &
echo_pid=$!

(
  set +u
  # shellcheck disable=SC1091
  source /opt/ros/humble/setup.bash
  # shellcheck disable=SC1091
  source "${ros_install}/setup.bash"
  exec "${ros_install}/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/trace_scenario_node"
) >/dev/null 2>&1 &
node_pid=$!

status=0
wait "${echo_pid}" || status=$?
kill -INT "${node_pid}" 2>/dev/null || true
wait "${node_pid}" || true
node_pid=

cat "${out}"
# The typed fields after the text must arrive too: the two builds agree on the whole layout.
if [[ "${status}" -eq 0 ]] && [[ "$(grep -c "msg: 'Status OK: heartbeat'" "${out}")" -eq 2 ]] &&
  grep -q "source_id: 'heartbeat'" "${out}" && grep -q "point_id: 'heartbeat'" "${out}"; then
  echo "interop: standalone diag_echo received the ROS 2 node's events"
  exit 0
fi
echo "interop: FAILED (diag_echo status ${status})"
exit 1
