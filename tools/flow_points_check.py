#!/usr/bin/python3
"""A real rclpy node that sends a flow's points with kestrune_trace_py's PointSender.

It waits until a checker listens on the points topic, sends the points (each with
metadata), and exits 0 once the checker's verdict "Succeed flow: FLOW" arrives on the
events topic, 1 at the deadline. With no --points it only waits for the verdict, for
points sent by someone else (`ros2 topic pub`); it prints "listening" once subscribed.
Run with Debian's python3 after sourcing /opt/ros/humble/setup.bash and the ROS 2
build's install space.

  flow_points_check.py --namespace robot1 --flow py_flow --points detect,plan,place \
      --events kestrune/diag/checks --deadline 30
"""

import argparse
import sys
import time

import rclpy
from kestrune_protocol.msg import DiagnosticEvent
from kestrune_trace_py import PointSender
from rclpy.node import Node


def spin_until(node, done, deadline):
    while not done() and time.monotonic() < deadline:
        rclpy.spin_once(node, timeout_sec=0.05)
    return done()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--namespace', default='')
    parser.add_argument('--flow', required=True)
    parser.add_argument('--points', default='')
    parser.add_argument('--events', required=True)
    parser.add_argument('--deadline', type=float, default=30.0)
    args = parser.parse_args()

    rclpy.init()
    node = Node('flow_points_check', namespace=args.namespace)
    deadline = time.monotonic() + args.deadline
    verdicts = []
    node.create_subscription(
        DiagnosticEvent, args.events,
        lambda event: verdicts.append(event.msg) if event.source_id == args.flow else None, 100)
    print('listening', flush=True)
    points = [point for point in args.points.split(',') if point]
    if points:
        sender = PointSender(node)
        if not spin_until(node, lambda: sender.checker_count > 0, deadline):
            print(f'no checker listens on {sender.topic}', flush=True)
            return 1
        # The checker learns of this writer a moment after this writer learns of it.
        spin_until(node, lambda: False, time.monotonic() + 0.3)
        for index, point in enumerate(points):
            sender.trace(args.flow, point, success=True, step=index, sender='python')
        print(f'sent {len(points)} points of {args.flow} on {sender.topic}', flush=True)
    want = f'Succeed flow: {args.flow}'
    passed = spin_until(node, lambda: want in verdicts, deadline)
    print(f'verdicts of {args.flow}: {verdicts}', flush=True)
    node.destroy_node()
    rclpy.shutdown()
    return 0 if passed else 1


if __name__ == '__main__':
    sys.exit(main())
