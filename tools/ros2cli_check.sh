#!/usr/bin/env bash
# The standalone build as ROS 2's own tools see it. While the standalone scenario
# program runs, ros2cli over ROS 2 Humble (rmw_cyclonedds_cpp) must list its node,
# name that node as the publisher of its heartbeat topic and echo its events; a
# DiagnosticEvent sent with `ros2 topic pub` must reach the standalone diag_echo;
# and the node must leave the graph within seconds of the program's exit.
# Needs ros2cli in /opt/ros/humble and both install spaces of build_and_test.sh
# (the ROS 2 build provides the message type to the tools).
# Prints what the tools printed; exits 0 when every check passed, 1 otherwise.
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

use_cross_build_check

node=/diag_trace_test
heartbeat_topic=/kestrune/diag/heartbeat
inbound_topic=/kestrune/diag/ros2cli_check
event_type=kestrune_protocol/msg/DiagnosticEvent
# How long the graph may take to show a change, and the most any one command may run.
graph_deadline=30
leave_deadline=5
command_timeout=20

work="$(mktemp -d)"
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  if [[ -n "${scenario_pid:-}" ]]; then kill -INT "${scenario_pid}" 2>/dev/null || true; fi
  if [[ -n "${echo_pid:-}" ]]; then kill "${echo_pid}" 2>/dev/null || true; fi
  # ros2 commands without --no-daemon start the daemon of this domain.
  ros2 daemon stop >/dev/null 2>&1 || true
  rm -rf "${work}"
}
trap cleanup EXIT

# ros2 over ROS 2 Humble and the ROS 2 build of our messages, bounded by command_timeout.
ros2() {
  (
    set +u
    # shellcheck disable=SC1091
    source /opt/ros/humble/setup.bash
    # shellcheck disable=SC1091
    source "${ros_install}/setup.bash"
    exec timeout "${command_timeout}" ros2 "$@"
  )
}

# Starts a program of the standalone build in the background; its pid goes to started_pid.
start_standalone() {
  local program="$1" log="$2"
  shift 2
  (
    set +u
    # shellcheck disable=SC1091
    source "${standalone_install}/setup.bash"
    exec "${standalone_install}/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/${program}" "$@"
  ) >"${log}" 2>&1 &
  started_pid=$!
}

# Waits at most command_timeout for a background program; its exit status, 124 if it still runs.
wait_bounded() {
  local pid="$1"
  timeout "${command_timeout}" tail --pid="${pid}" -f /dev/null || return 124
  wait "${pid}"
}

failures=0
verdict() {
  if [[ "$1" -eq 0 ]]; then
    echo "ros2cli: ok: $2"
  else
    echo "ros2cli: FAILED: $2"
    failures=$((failures + 1))
  fi
}

# poll present|absent SECONDS PATTERN ros2-ARGS...: runs ros2 until its output holds
# the Perl regular expression PATTERN (over the whole output), or no longer holds it,
# or SECONDS pass. Each round spins for discovery, so the loop never races. Prints
# the last output.
poll() {
  local want="$1" seconds="$2" pattern="$3"
  shift 3
  local deadline=$((SECONDS + seconds)) output found
  while :; do
    output="$(ros2 "$@" 2>&1 || true)"
    found=absent
    grep -Pzq -- "${pattern}" <<<"${output}" && found=present
    if [[ "${found}" == "${want}" ]] || ((SECONDS >= deadline)); then
      printf '%s\n' "${output}" | sed 's/^/  | /'
      [[ "${found}" == "${want}" ]]
      return
    fi
  done
}

echo "=== ros2cli: standalone trace_scenario_node in domain ${ROS_DOMAIN_ID} ==="
start_standalone trace_scenario_node "${work}/scenario.log"
scenario_pid=${started_pid}

status=0
poll present "${graph_deadline}" "(^|\n)${node}\n" node list --no-daemon --spin-time 1 || status=$?
verdict "${status}" "ros2 node list shows ${node}"

status=0
poll present "${graph_deadline}" \
  "Node name: ${node#/}\nNode namespace: /\nTopic type: ${event_type}\nEndpoint type: PUBLISHER" \
  topic info -v "${heartbeat_topic}" --no-daemon --spin-time 1 || status=$?
verdict "${status}" "ros2 topic info -v ${heartbeat_topic} names ${node} as its publisher"

status=0
poll present "${graph_deadline}" "source_id: heartbeat\n(.*\n)*msg: '?Status OK: heartbeat" \
  topic echo --once "${heartbeat_topic}" "${event_type}" || status=$?
verdict "${status}" "ros2 topic echo ${heartbeat_topic} prints the heartbeat events"

echo "=== ros2cli: ros2 topic pub -> standalone diag_echo ==="
start_standalone diag_echo "${work}/echo.log" "${inbound_topic}" --count 1
echo_pid=${started_pid}
# Several sends: a writer may see the match before diag_echo knows the writer.
ros2 topic pub --times 5 --rate 2 --wait-matching-subscriptions 1 "${inbound_topic}" \
  "${event_type}" "{source_id: ros2cli_check, id: 17, status: 1, msg: 'sent by ros2 topic pub'}" \
  2>&1 | sed 's/^/  | /' || true
status=0
wait_bounded "${echo_pid}" || status=$?
[[ "${status}" -eq 124 ]] || echo_pid=
sed 's/^/  | /' "${work}/echo.log"
if [[ "${status}" -eq 0 ]] && grep -q "source_id: 'ros2cli_check'" "${work}/echo.log" &&
  grep -q "msg: 'sent by ros2 topic pub'" "${work}/echo.log"; then
  verdict 0 "diag_echo received the event of ros2 topic pub"
else
  verdict 1 "diag_echo received the event of ros2 topic pub (status ${status})"
fi

echo "=== ros2cli: ${node} leaves the graph when the program ends ==="
# Only a graph cache that outlives the program can show the node leave: the daemon's.
status=0
ros2 daemon start 2>&1 | sed 's/^/  | /' || status=$?
poll present "${graph_deadline}" "(^|\n)${node}\n" node list || status=$?
verdict "${status}" "the ros2 daemon lists ${node}"
kill -INT "${scenario_pid}"
status=0
wait_bounded "${scenario_pid}" || status=$?
[[ "${status}" -eq 124 ]] || scenario_pid=
verdict "${status}" "trace_scenario_node ended on SIGINT (status ${status})"
ended=${SECONDS}
status=0
poll absent "${leave_deadline}" "(^|\n)${node}\n" node list || status=$?
verdict "${status}" "${node} left the daemon's node list $((SECONDS - ended)) s after the exit"

if [[ "${failures}" -eq 0 ]]; then
  echo "ros2cli: every check passed"
  exit 0
fi
echo "ros2cli: ${failures} check(s) FAILED; trace_scenario_node's output:"
sed 's/^/  | /' "${work}/scenario.log"
exit 1
