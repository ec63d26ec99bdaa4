"""Validates flow configuration files against the JSON Schema with a real validator.

Usage: validate_flow_configs.py SCHEMA FILE...
Every FILE must validate. The schema must also refuse a set of known slips, so a
schema that accepts everything cannot pass.
"""
import sys

import jsonschema
import yaml

# Slips the schema must refuse, each beside a line that makes the rest valid.
REFUSED = {
    "misspelt point key": "workflows: [{flow_id: a, flow_points: [{point_id: p, repeat_count: 2}]}]",
    "misspelt flow key": "workflows: [{flowid: a, flow_points: [{point_id: p}]}]",
    "point without point_id": "workflows: [{flow_id: a, flow_points: [{event_id: 3}]}]",
    "text for a number": "workflows: [{flow_id: a, flow_points: [{point_id: p, repeat_cnt: abc}]}]",
    "negative number": "workflows: [{flow_id: a, flow_points: [{point_id: p, timeout_ms: -1}]}]",
    "event id above 2147483647": "workflows: [{flow_id: a, event_id: 2147483648}]",
    "word for a boolean": "workflows: [{flow_id: a, flow_points: [{point_id: p, optional: maybe}]}]",
    "bare boolean": "workflows: [{flow_id: a, flow_points: [{point_id: p, optional: }]}]",
    "invalid topic": "workflows: [{flow_id: a, diag_topic: 'bad topic!'}]",
    "bare topic": "workflows: [{flow_id: a, diag_topic: }]",
    "duration outside heartbeat": "workflows: [{flow_id: a, duration_ms: 10}]",
    "empty point list": "workflows: [{flow_id: a, flow_points: []}]",
    "workflows not a list": "workflows: {flow_id: a}",
    "no workflows": "flows: []",
}

ACCEPTED = {
    "heartbeat period": "workflows: [{flow_id: heartbeat, duration_ms: 100}]",
    "yaml-cpp boolean spelling": "workflows: [{flow_id: a, check_order: 'Y'}]",
    "relative and private topics": "workflows: [{flow_id: a, diag_topic: x/y}, {flow_id: b, diag_topic: '~/z'}]",
    "number as an id": "workflows: [{flow_id: 7, flow_points: [{point_id: 8}]}]",
}


def errors_of(validator, document):
    return sorted(validator.iter_errors(document), key=lambda error: list(error.path))


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as stream:
        schema = yaml.safe_load(stream)
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)

    failures = 0
    for path in argv[2:]:
        with open(path, encoding="utf-8") as stream:
            document = yaml.safe_load(stream)
        for error in errors_of(validator, document):
            failures += 1
            where = "/".join(str(part) for part in error.path)
            print(f"{path}: {where}: {error.message}")
    for name, text in REFUSED.items():
        if not errors_of(validator, yaml.safe_load(text)):
            failures += 1
            print(f"schema accepts a {name}: {text}")
    for name, text in ACCEPTED.items():
        for error in errors_of(validator, yaml.safe_load(text)):
            failures += 1
            print(f"schema refuses a {name}: {text}: {error.message}")
    print(f"{len(argv) - 2} files, {len(REFUSED)} refused and {len(ACCEPTED)} accepted samples;"
          f" {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
