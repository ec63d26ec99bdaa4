#!/usr/bin/env bash
# flow_checker as ROS 2 users reach it, with a real rclpy node (tools/flow_points_check.py,
# over rmw_cyclonedds_cpp):
#   launch   `ros2 launch kestrune_diagnostic_trace flow_checker.launch.py` of the ROS 2
#            build starts a checker and a monitor in the namespace robot1;
#   python   kestrune_trace_py's PointSender in a Python node in robot1 sends a flow's
#            points, and the node receives the checker's verdict;
#   pub      a point sent with `ros2 topic pub` (zero stamp: stamped on arrival) gets
#            its verdict too;
#   wire     with the standalone build present, its flow_checker in robot2 judges the
#            Python node's points: the message travels intact between the two builds.
# Needs rclpy, launch_ros and ros2cli in /opt/ros/humble and the install space of
# build_and_test.sh's ros mode (and of its standalone mode for the wire check).
# Exits 0 when every check passed, 1 otherwise.
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

use_cross_build_check
# shellcheck source=tools/check_helpers.sh
source "${repo}/tools/check_helpers.sh" flow_checker

# How long a checker may take to start, and a verdict to come back.
start_deadline=30
verdict_deadline=30
events=kestrune/diag/checks

cat >"${work}/flows.yaml" <<FLOWS
workflows:
  - flow_id: py_flow
    diag_topic: ${events}
    remote: true
    check_at_end: true
    flow_points: [{point_id: detect}, {point_id: plan}, {point_id: place}]
  - flow_id: pub_flow
    diag_topic: ${events}
    check_at_end: true
    flow_points: [{point_id: a}]
FLOWS

# wait_for_line LOG TEXT: until the log holds TEXT, at most start_deadline.
wait_for_line() {
  local deadline=$((SECONDS + start_deadline))
  until grep -qsF -- "$2" "$1"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# python_check ARG...: tools/flow_points_check.py over the ROS 2 build, output indented.
python_check() {
  (
    set +u
    # shellcheck disable=SC1091
    source /opt/ros/humble/setup.bash
    # shellcheck disable=SC1091
    source "${ros_install}/setup.bash"
    exec timeout "$((verdict_deadline + 10))" /usr/bin/python3 "${repo}/tools/flow_points_check.py" \
      --events "${events}" --deadline "${verdict_deadline}" "$@"
  ) 2>&1 | sed 's/^/  | /'
  return "${PIPESTATUS[0]}"
}

echo "=== flow_checker: ros2 launch in robot1, domain ${ROS_DOMAIN_ID} ==="
start "${work}/launch.log" /opt/ros/humble/setup.bash "${ros_install}/setup.bash" -- \
  ros2 launch kestrune_diagnostic_trace flow_checker.launch.py flows:="${work}/flows.yaml" \
  namespace:=robot1 monitor_port:=0
launch_pid=${started_pid}
status=0
wait_for_line "${work}/launch.log" "from points on /robot1/kestrune/points" || status=$?
verdict "${status}" "the launch file starts flow_checker in /robot1"
status=0
wait_for_line "${work}/launch.log" "flow_monitor: serving http://" || status=$?
verdict "${status}" "the launch file starts flow_monitor"

echo "=== flow_checker: kestrune_trace_py from an rclpy node in robot1 ==="
status=0
python_check --namespace robot1 --flow py_flow --points detect,plan,place || status=$?
verdict "${status}" "the Python sender's points pass the launched checker"

echo "=== flow_checker: ros2 topic pub ==="
start "${work}/pub_listener.log" /opt/ros/humble/setup.bash "${ros_install}/setup.bash" -- \
  timeout "$((verdict_deadline + 10))" /usr/bin/python3 "${repo}/tools/flow_points_check.py" \
  --namespace robot1 --flow pub_flow --events "${events}" --deadline "${verdict_deadline}"
listener_pid=${started_pid}
wait_for_line "${work}/pub_listener.log" listening || true
(
  set +u
  # shellcheck disable=SC1091
  source /opt/ros/humble/setup.bash
  # shellcheck disable=SC1091
  source "${ros_install}/setup.bash"
  timeout 20 ros2 topic pub --once -w 1 /robot1/kestrune/points kestrune_protocol/msg/FlowPoint \
    "{flow_id: pub_flow, point_id: a, success: true}"
) 2>&1 | sed 's/^/  | /' || true
status=0
wait "${listener_pid}" || status=$?
sed 's/^/  | /' "${work}/pub_listener.log"
verdict "${status}" "a point of ros2 topic pub, stamped on arrival, gets its verdict"

stopped=0
stop "${launch_pid}" || stopped=$?
verdict "${stopped}" "ros2 launch ends on SIGINT (status ${stopped})"
show_log_on_failure "$((failures != 0))" "ros2 launch" "${work}/launch.log"

if [[ -x "${standalone_install}/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/flow_checker" ]]; then
  echo "=== flow_checker: standalone checker in robot2 <- Python node ==="
  start "${work}/standalone.log" "${standalone_install}/setup.bash" -- \
    "${standalone_install}/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/flow_checker" \
    --config "${work}/flows.yaml" --ros-args -r __ns:=/robot2
  standalone_pid=${started_pid}
  status=0
  wait_for_line "${work}/standalone.log" "from points on /robot2/kestrune/points" || status=$?
  [[ "${status}" -ne 0 ]] || python_check --namespace robot2 --flow py_flow \
    --points detect,plan,place || status=$?
  verdict "${status}" "the standalone checker judges the Python node's points"
  stopped=0
  stop "${standalone_pid}" || stopped=$?
  verdict "${stopped}" "the standalone flow_checker ends on SIGINT (status ${stopped})"
  show_log_on_failure "$((status | stopped))" "standalone flow_checker" "${work}/standalone.log"
fi

finish
