"""Validates flow configuration files against the JSON Schema with a real validator.

Usage: validate_flow_configs.py SCHEMA FILE...
         every FILE must validate
       validate_flow_configs.py SCHEMA --verdicts LIST
         LIST holds lines "valid PATH" or "invalid PATH": each file must get that verdict
In both forms the schema must also refuse a set of known slips and accept a set of
files the engine loads, so a schema that accepts everything, or refuses what the
engine takes, cannot pass.
"""
import sys

import jsonschema
import yaml


class FlowFileLoader(yaml.SafeLoader):
    """PyYAML as yaml-cpp reads a flow file: a date is text, not a datetime."""


FlowFileLoader.yaml_implicit_resolvers = {
    first: [(tag, regexp) for tag, regexp in resolvers if tag != "tag:yaml.org,2002:timestamp"]
    for first, resolvers in yaml.SafeLoader.yaml_implicit_resolvers.items()
}

# Slips the schema must refuse, each beside a line that makes the rest valid.
REFUSED = {
    "misspelt point key": "workflows: [{flow_id: a, flow_points: [{point_id: p, repeat_count: 2}]}]",
    "misspelt flow key": "workflows: [{flowid: a, flow_points: [{point_id: p}]}]",
    "point without point_id": "workflows: [{flow_id: a, flow_points: [{event_id: 3}]}]",
    "text for a number": "workflows: [{flow_id: a, flow_points: [{point_id: p, repeat_cnt: abc}]}]",
    "negative number": "workflows: [{flow_id: a, flow_points: [{point_id: p, timeout_ms: -1}]}]",
    "event id above 2147483647": "workflows: [{flow_id: a, event_id: 2147483648}]",
    "quoted event id above 2147483647": "workflows: [{flow_id: a, event_id: '2147483648'}]",
    "period below 100": "workflows: []\ndiagnostics: {period_ms: '99'}",
    "word for a boolean": "workflows: [{flow_id: a, flow_points: [{point_id: p, optional: maybe}]}]",
    "bare boolean": "workflows: [{flow_id: a, flow_points: [{point_id: p, optional: }]}]",
    "empty flow id": "workflows: [{flow_id: '', flow_points: [{point_id: p}]}]",
    "flow_points not a list": "workflows: [{flow_id: a, flow_points: {point_id: p}}]",
    "workflows not a list": "workflows: {flow_id: a}",
    "no workflows": "flows: []",
}

# What the engine loads, with at most a warning from the lint.
ACCEPTED = {
    "heartbeat period": "workflows: [{flow_id: heartbeat, duration_ms: 100}]",
    "period outside the heartbeat flow": "workflows: [{flow_id: a, duration_ms: 10}]",
    "yaml-cpp boolean spelling": "workflows: [{flow_id: a, check_order: 'Y'}]",
    "quoted numbers": "workflows: [{flow_id: a, event_id: '2101', flow_points: "
                      "[{point_id: p, timeout_ms: '4294967295', freq_min: '.inf'}]}]",
    "relative and private topics": "workflows: [{flow_id: a, diag_topic: x/y}, {flow_id: b, diag_topic: '~/z'}]",
    "bare topic": "workflows: [{flow_id: a, diag_topic: }]",
    "empty point list": "workflows: [{flow_id: a, flow_points: []}]",
    "number and date as ids": "workflows: [{flow_id: 7, flow_points: [{point_id: 2024-01-02}]}]",
    "bare diagnostics": "workflows: []\ndiagnostics:",
}


def load(path):
    with open(path, encoding="utf-8") as stream:
        return yaml.load(stream, Loader=FlowFileLoader)


def errors_of(validator, document):
    return sorted(validator.iter_errors(document), key=lambda error: list(error.path))


def describe(error):
    return "/".join(str(part) for part in error.path) + ": " + error.message


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    schema = load(argv[1])
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)

    expected = []
    if argv[2:3] == ["--verdicts"]:
        with open(argv[3], encoding="utf-8") as stream:
            for line in stream:
                verdict, _, path = line.rstrip("\n").partition(" ")
                expected.append((path, verdict == "valid"))
    else:
        expected = [(path, True) for path in argv[2:]]

    failures = 0
    for path, valid in expected:
        errors = errors_of(validator, load(path))
        if valid and errors:
            failures += 1
            print(f"{path}: the lint finds it valid, the schema does not:")
            for error in errors:
                print(f"  {describe(error)}")
        elif not valid and not errors:
            failures += 1
            print(f"{path}: the lint finds what the schema can say, the schema accepts it")
    for name, text in REFUSED.items():
        if not errors_of(validator, yaml.load(text, Loader=FlowFileLoader)):
            failures += 1
            print(f"schema accepts a {name}: {text}")
    for name, text in ACCEPTED.items():
        for error in errors_of(validator, yaml.load(text, Loader=FlowFileLoader)):
            failures += 1
            print(f"schema refuses a {name}: {text}: {describe(error)}")
    print(f"{len(expected)} files, {len(REFUSED)} refused and {len(ACCEPTED)} accepted samples;"
          f" {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
