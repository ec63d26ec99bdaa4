"""Flow points from Python nodes for flow_checker."""

from kestrune_trace_py.point_sender import PointSender

__all__ = ['PointSender']
