"""PointSender: the points of flows judged by flow_checker, sent from an rclpy node."""

import threading
import time

from diagnostic_msgs.msg import KeyValue
from kestrune_protocol.msg import FlowPoint
from rclpy.qos import QoSProfile, ReliabilityPolicy


class PointSender:
    """Sends points of flows judged by flow_checker, and check and reset requests.

    The Python counterpart of the C++ kestrune::trace::PointSender: a publisher of
    its own (the checker tells senders apart by it), messages numbered from 1, points
    stamped with the system clock when sent. Thread-safe.
    """

    DEFAULT_TOPIC = 'kestrune/points'
    # Messages the publisher keeps for a checker that has not acknowledged them yet.
    QUEUE_DEPTH = 1000

    def __init__(self, node, topic=DEFAULT_TOPIC):
        """Create the publisher on `topic`, relative to the node's namespace by default."""
        qos = QoSProfile(depth=self.QUEUE_DEPTH, reliability=ReliabilityPolicy.RELIABLE)
        self._publisher = node.create_publisher(FlowPoint, topic, qos)
        self._source = node.get_fully_qualified_name()
        self._lock = threading.Lock()
        self._sequence = 0
        self._last_stamp_ns = 0

    @property
    def topic(self):
        """The fully qualified topic the sender publishes on."""
        return self._publisher.topic_name

    @property
    def checker_count(self):
        """Subscriptions matched on the topic, such as checkers listening."""
        return self._publisher.get_subscription_count()

    def trace(self, flow, point, success=True, **metadata):
        """Send a point of `flow` reached now; `metadata` goes into its event texts."""
        self._send(FlowPoint.POINT, flow, point, success, metadata)

    def check(self, flow):
        """Ask the checker to check the flow's run and start a new one."""
        self._send(FlowPoint.CHECK, flow, '', True, {})

    def reset(self, flow):
        """Ask the checker to drop the flow's run and start a new one."""
        self._send(FlowPoint.RESET, flow, '', True, {})

    def _send(self, kind, flow, point, success, metadata):
        message = FlowPoint()
        message.flow_id = flow
        message.point_id = point
        message.success = bool(success)
        message.metadata = [KeyValue(key=str(k), value=str(v)) for k, v in metadata.items()]
        message.source = self._source
        message.kind = kind
        with self._lock:
            stamp_ns = time.time_ns()
            # The checker orders by stamp: a request stamped before an earlier
            # message (a clock stepped back) would overtake it.
            if kind != FlowPoint.POINT:
                stamp_ns = max(stamp_ns, self._last_stamp_ns)
            self._last_stamp_ns = stamp_ns
            message.stamp.sec, message.stamp.nanosec = divmod(stamp_ns, 1_000_000_000)
            self._sequence += 1
            message.sequence = self._sequence
            self._publisher.publish(message)
