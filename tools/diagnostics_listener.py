#!/usr/bin/python3
"""A real ROS 2 node that waits for named statuses in a DiagnosticArray topic.

Subscribes reliable, as diagnostic_aggregator does, and exits 0 as soon as every
expected status has arrived intact (a recent stamp, a level a publisher may send,
a message, and the hardware_id and values keys asked for), 1 at the deadline; either way it prints the
statuses it saw and, for each one still missing, why it did not count.
Run with Debian's python3 after sourcing /opt/ros/humble/setup.bash.

  diagnostics_listener.py --topic /diagnostics --name 'diag_trace_test: heartbeat' \
      --hardware-id diag_trace_test --key 'flow id' --key state --deadline 30
"""

import argparse
import sys
import time

# Levels a publisher may send; STALE (3) is for viewers and aggregators to derive.
HIGHEST_SENT_LEVEL = 2


def level_of(status):
    """The level as an int: rclpy maps the message's byte field to bytes."""
    level = status.level
    return level[0] if isinstance(level, (bytes, bytearray)) else int(level)


def stamp_seconds(header):
    return header.stamp.sec + header.stamp.nanosec * 1e-9


def problems(status, array_age, args):
    """What is wrong with one status by the options given; empty when intact."""
    found = []
    if abs(array_age) > args.max_age:
        found.append(f'stamp {array_age:+.1f} s from now (at most {args.max_age} s allowed)')
    level = level_of(status)
    if level > HIGHEST_SENT_LEVEL:
        found.append(f'level {level}, want 0..{HIGHEST_SENT_LEVEL}')
    if args.hardware_id is not None and status.hardware_id != args.hardware_id:
        found.append(f'hardware_id {status.hardware_id!r}, want {args.hardware_id!r}')
    if not status.message:
        found.append('empty message')
    keys = [value.key for value in status.values]
    missing = [key for key in args.keys if key not in keys]
    if missing:
        found.append(f'values lack {missing}')
    if args.keys and keys and keys[0] != args.keys[0]:
        found.append(f'first value key {keys[0]!r}, want {args.keys[0]!r}')
    if args.flow_id_key:
        # Values that belong to another status: the flow id must be the name's tail.
        want = status.name.rsplit(': ', 1)[-1]
        got = [value.value for value in status.values if value.key == args.flow_id_key]
        if got and got[0] != want:
            found.append(f'{args.flow_id_key} {got[0]!r}, want {want!r}')
    return found


def describe(status):
    values = ', '.join(f'{value.key}={value.value!r}' for value in status.values)
    return (f'{status.name!r} level {level_of(status)} hardware_id {status.hardware_id!r} '
            f'message {status.message!r} values [{values}]')


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--topic', default='/diagnostics')
    parser.add_argument('--name', action='append', required=True, dest='names',
                        help='a status name that must arrive intact (repeat for several)')
    parser.add_argument('--hardware-id', help='the hardware_id every expected status must carry')
    parser.add_argument('--key', action='append', default=[], dest='keys',
                        help='a values key every expected status must carry, the first one '
                             'first')
    parser.add_argument('--flow-id-key',
                        help="the values key whose value must be the name's tail after ': '")
    parser.add_argument('--max-age', type=float, default=5.0,
                        help='most seconds between header.stamp and the time of arrival')
    parser.add_argument('--deadline', type=float, default=30.0,
                        help='seconds to wait for every expected status')
    return parser.parse_args(argv)


def main(argv):
    # Imported here so that the judgement above can be tested without ROS 2.
    import rclpy
    from diagnostic_msgs.msg import DiagnosticArray
    from rclpy.qos import DurabilityPolicy, QoSProfile, ReliabilityPolicy

    args = parse_args(argv)
    expected = set(args.names)
    intact = set()
    last_seen = {}
    last_problems = {}

    def on_array(array):
        age = time.time() - stamp_seconds(array.header)
        for status in array.status:
            last_seen[status.name] = describe(status)
            if status.name not in expected:
                continue
            found = problems(status, age, args)
            if found:
                last_problems[status.name] = found
            else:
                intact.add(status.name)

    rclpy.init()
    node = rclpy.create_node('kestrune_diagnostics_listener')
    qos = QoSProfile(depth=10, reliability=ReliabilityPolicy.RELIABLE,
                     durability=DurabilityPolicy.VOLATILE)
    node.create_subscription(DiagnosticArray, args.topic, on_array, qos)
    deadline = time.monotonic() + args.deadline
    try:
        while intact != expected and time.monotonic() < deadline:
            rclpy.spin_once(node, timeout_sec=min(0.2, max(0.0, deadline - time.monotonic())))
    finally:
        node.destroy_node()
        rclpy.shutdown()

    print(f'{args.topic}: {len(last_seen)} status name(s) seen')
    for name in sorted(last_seen):
        print(f'  {last_seen[name]}')
    for name in sorted(expected - intact):
        why = '; '.join(last_problems.get(name, ['never received']))
        print(f'  MISSING {name!r}: {why}')
    if intact == expected:
        print(f'{args.topic}: all {len(expected)} expected status(es) arrived intact')
        return 0
    print(f'{args.topic}: {len(expected - intact)} of {len(expected)} expected status(es) '
          f'missing after {args.deadline:.0f} s')
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
