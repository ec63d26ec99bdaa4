"""A flow checker and a flow_monitor for one robot namespace.

    ros2 launch kestrune_diagnostic_trace flow_checker.launch.py \
        flows:=/path/to/flows.yaml namespace:=robot1
"""

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument
from launch.conditions import IfCondition
from launch.substitutions import LaunchConfiguration
from launch_ros.actions import Node

PACKAGE = 'kestrune_diagnostic_trace'


def generate_launch_description():
    flows = LaunchConfiguration('flows')
    namespace = LaunchConfiguration('namespace')
    return LaunchDescription([
        DeclareLaunchArgument(
            'flows', description='the flow file: the flows the checker judges and the monitor shows'),
        DeclareLaunchArgument(
            'namespace', default_value='',
            description="the robot's namespace; its flows and topics are resolved in it"),
        DeclareLaunchArgument(
            'reorder_ms', default_value='50',
            description='how long the checker holds each point to order points by stamp'),
        DeclareLaunchArgument(
            'monitor', default_value='true', description='whether to start flow_monitor'),
        DeclareLaunchArgument(
            'monitor_bind', default_value='127.0.0.1',
            description="flow_monitor's address; 0.0.0.0 exposes the page to every network"),
        DeclareLaunchArgument('monitor_port', default_value='8080'),
        Node(
            package=PACKAGE, executable='flow_checker', namespace=namespace, output='screen',
            arguments=['--config', flows, '--reorder-ms', LaunchConfiguration('reorder_ms')]),
        Node(
            package=PACKAGE, executable='flow_monitor', namespace=namespace, output='screen',
            condition=IfCondition(LaunchConfiguration('monitor')),
            arguments=['--config', flows,
                       '--bind', LaunchConfiguration('monitor_bind'),
                       '--port', LaunchConfiguration('monitor_port')]),
    ])
