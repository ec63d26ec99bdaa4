#!/usr/bin/python3
"""What diagnostics_listener.py counts as an intact status; runs without ROS 2."""

import unittest
from types import SimpleNamespace

# Python puts this file's folder first on sys.path.
import diagnostics_listener as listener

ARGS = listener.parse_args(['--name', 'node: flow', '--hardware-id', 'node',
                            '--key', 'flow id', '--key', 'state', '--flow-id-key', 'flow id',
                            '--max-age', '5'])


def status(level=b'\x00', message='waiting for first run', hardware_id='node',
           keys=('flow id', 'state', 'last verdict'), flow_id='flow'):
    values = [SimpleNamespace(key=key, value=flow_id if key == 'flow id' else 'x')
              for key in keys]
    return SimpleNamespace(name='node: flow', level=level, message=message,
                           hardware_id=hardware_id, values=values)


class Problems(unittest.TestCase):
    def test_each_fault_is_named_and_an_intact_status_has_none(self):
        # (case, status, age of the array in seconds, text the problem must hold or None)
        cases = [
            ('intact, level as rclpy gives it', status(), 0.5, None),
            ('intact, ERROR level', status(level=b'\x02'), 0.5, None),
            ('intact, level as an int', status(level=1), 0.5, None),
            ('STALE is for viewers', status(level=b'\x03'), 0.5, 'level 3'),
            ('another hardware_id', status(hardware_id='other'), 0.5,
             "hardware_id 'other', want 'node'"),
            ('empty message', status(message=''), 0.5, 'empty message'),
            ('a key missing', status(keys=('flow id', 'last verdict')), 0.5, "lack ['state']"),
            ('keys out of order', status(keys=('state', 'flow id')), 0.5,
             "first value key 'state'"),
            ("another flow's values", status(flow_id='other'), 0.5,
             "flow id 'other', want 'flow'"),
            ('old stamp', status(), 6.0, 'stamp +6.0 s'),
            ('stamp in the future', status(), -6.0, 'stamp -6.0 s'),
        ]
        for case, given, age, want in cases:
            with self.subTest(case):
                found = listener.problems(given, age, ARGS)
                if want is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertIn(want, found[0])

    def test_without_hardware_id_or_keys_only_level_message_and_stamp_count(self):
        args = listener.parse_args(['--name', 'node: flow'])
        self.assertEqual(listener.problems(status(hardware_id='', keys=()), 0.0, args), [])
        self.assertEqual(len(listener.problems(status(message='', level=b'\x03'), 9.0, args)), 3)


if __name__ == '__main__':
    unittest.main()
