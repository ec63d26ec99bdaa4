#!/usr/bin/env python3
"""Writes the benchmark results page from the runs of tools/run_benchmarks.sh.

Every time is the median of the repetitions of one run of the benchmark
program, and every ratio divides figures of the same run (and of the same
thread count), so that a machine busy with other work shifts both sides alike.
With several runs, the page shows the median over the runs of each time and of
each ratio.
"""

import argparse
import json
import sys

NS_PER_UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def median_entries(path):
    """The median entry of each benchmark run name (the entry itself without
    repetitions), and the run's context."""
    with open(path, encoding="utf-8") as stream:
        report = json.load(stream)
    entries = {}
    for entry in report["benchmarks"]:
        if entry.get("run_type") == "aggregate" and entry.get("aggregate_name") != "median":
            continue
        entries[entry.get("run_name", entry["name"])] = entry
    return entries, report["context"]


def medians(path):
    """Median time in ns per call for each benchmark run name, and the run's context.

    Runs from several threads report wall-clock time (waiting for the lock is part
    of their cost); the others report the CPU time of the calling thread, which a
    busy machine does not inflate by preempting the process.
    """
    entries, context = median_entries(path)
    result = {}
    for name, entry in entries.items():
        field = "real_time" if "/real_time" in name else "cpu_time"
        result[name] = entry[field] * NS_PER_UNIT[entry["time_unit"]]
    return result, context


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


class Runs:
    """The medians of several runs of one benchmark program, read together."""

    def __init__(self, paths):
        loaded = [medians(path) for path in paths]
        self.runs = [figures for figures, _ in loaded]
        self.context = loaded[0][1]

    def __contains__(self, name):
        return all(name in run for run in self.runs)

    def time(self, name):
        return median(run[name] for run in self.runs)

    def ratio(self, name, base):
        """Median over the runs of name / base, base a name or a function of a run."""
        def denominator(run):
            return base(run) if callable(base) else run[base]
        return median(run[name] / denominator(run) for run in self.runs)


def fmt_ns(value):
    if value >= 1e6:
        return f"{value / 1e6:.2f} ms"
    if value >= 1e3:
        return f"{value / 1e3:.1f} µs"
    if value >= 10:
        return f"{value:.0f} ns"
    return f"{value:.2f} ns"


def verdict(ratio, limit):
    if limit is None:
        return ""
    return "met" if ratio <= limit else "**not met**"


class Page:
    def __init__(self):
        self.lines = []
        # (figure, value, target, verdict) of every row that has a target.
        self.targets = []

    def add(self, *lines):
        self.lines.extend(lines)

    def table(self, header, rows):
        self.add("| " + " | ".join(header) + " |", "|" + "---|" * len(header))
        for row in rows:
            self.add("| " + " | ".join(row) + " |")
            if row[-1] in ("met", "**not met**"):
                self.targets.append((row[0], row[2] or row[1], row[3], row[-1]))
        self.add("")

    def insert_targets(self, before):
        """The targets of all tables, met or not, as one table ahead of the line `before`."""
        at = self.lines.index(before)
        missed = [name for name, _, _, result in self.targets if result != "met"]
        lines = ["## Targets", "",
                 f"{len(self.targets) - len(missed)} of {len(self.targets)} met; not met: "
                 + (", ".join(f"`{name}`" for name in missed) or "none") + ".",
                 "Times move with the machine's load; where a time and an instruction count",
                 "measure the same call (`Trace/no_event` and `Trace`, `Trace/node_event` and",
                 "`TraceNodeEvent`), the count is the steadier figure.", "",
                 "| figure | value | target |  |", "|---|---|---|---|"]
        lines += [f"| {name} | {value} | {target} | {result} |"
                  for name, value, target, result in self.targets]
        self.lines[at:at] = lines + [""]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--suppressed", required=True, nargs="+",
                        help="JSON of each run with SPDLOG_LEVEL=error")
    parser.add_argument("--devnull", nargs="*", default=[],
                        help="JSON of each run with info lines to /dev/null")
    parser.add_argument("--instructions", required=True,
                        help="JSON object: subject -> instructions per call")
    parser.add_argument("--command", required=True)
    parser.add_argument("--date", required=True)
    parser.add_argument("--machine", required=True)
    parser.add_argument("--load", required=True, help="load averages before and after the runs")
    parser.add_argument("--commit", required=True)
    parser.add_argument("--holds", help="JSON of kestrune_hold_benchmarks (optional)")
    parser.add_argument("--init", help="JSON of the Init benchmark of kestrune_lint_benchmarks (optional)")
    parser.add_argument("--init-reference",
                        help="the same from the build to compare with, run just before (optional)")
    parser.add_argument("--monitor", help="JSON of kestrune_monitor_benchmarks (optional)")
    parser.add_argument("--checker", help="JSON of kestrune_checker_benchmarks (optional)")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    quiet = Runs(args.suppressed)
    with open(args.instructions, encoding="utf-8") as stream:
        instructions = json.load(stream)

    page = Page()
    page.add(
        "# Benchmarks",
        "",
        "The cost of `Trace` and `CheckFlow` against the least work any recorder must do",
        "to record a point (`Baseline`), measured in the same program and run. The machine",
        "is shared, so absolute times move from run to run; the ratios, taken within one run,",
        "and the instruction counts are what to compare.",
        "",
        f"- Command: `{args.command}`",
        f"- Date: {args.date}; commit {args.commit}",
        f"- Machine: {args.machine}",
        f"- Load average (1, 5, 15 min) before and after: {args.load}",
        f"- Google Benchmark library build type: {quiet.context.get('library_build_type', '?')} (as Debian",
        "  builds it; the harness is the same on both sides of every ratio)",
        "- Figures: the median over the repetitions of the time per call: CPU time of the",
        "  calling thread for single-thread benchmarks, wall-clock time for those run from",
        "  several threads (marked `real_time`).",
        f"- Runs: {len(quiet.runs)}; each time and each ratio shown is the median over the runs of",
        "  that run's figure.",
        "",
        "## What is measured",
        "",
        "- `Baseline`: `std::make_shared` of a point (whose constructor reads `system_clock`),",
        "  lock and unlock of a `std::mutex`, one lookup of the flow id in an `unordered_map`,",
        "  one `deque` push and one string compare against the expected point; after each run",
        "  of the flow's 8 points the queue is emptied. Its table holds the same flow ids, added",
        "  in the same order, as the engine's.",
        "- `Trace/...`: `FlowTrace::Trace(flow, point, true)` of the matching point of an",
        "  ordered flow of 8 points, `ResetFlow` after each run: sending no event; sending one",
        "  event per point to a publish callback that does nothing; sending one event per point",
        "  through the publisher of the node given to `Init`.",
        "- `Trace/handle`: `Trace/no_event` through handles made once with `FlowTrace::Point`.",
        "- `Trace/no_event/diagnostics_on`: `Trace/no_event` while the engine publishes flow",
        "  health on /diagnostics every 100 ms (the shortest period), against `Trace/no_event`",
        "  with diagnostics off.",
        "- `DirectPublish`: `publish` of the same message on that same publisher. Next to it,",
        "  an event adds a clock reading, the event's two texts and the judging of the point;",
        "  how much that weighs depends on the transport behind the publisher (named above).",
        "- `CheckFlow/N`: `CheckFlow` of a recorded passing run of an ordered flow of N points.",
        "- `.../separate_flows`, `.../one_flow`: the same calls from 1, 2 and 4 threads, each",
        "  thread on a flow of its own, or all on one unordered flow; the time is the run's",
        "  wall-clock time divided by the calls of all threads.",
        "- Peers: one spdlog info line to a null sink; one LTTng-UST tracepoint with no",
        "  tracing session.",
        "",
    )

    def row_ratio(name, runs, base, base_name, limit=None, note=""):
        ratio = runs.ratio(name, base)
        limit_text = f"≤ {limit}{note}" if limit is not None else ""
        return [name, fmt_ns(runs.time(name)), f"{ratio:.2f} × {base_name}", limit_text,
                verdict(ratio, limit)]

    header = ["benchmark", "median", "ratio", "target", ""]
    direct = lambda run: run["DirectPublish"] + run["Baseline"]  # noqa: E731
    sections = [("Logging suppressed (SPDLOG_LEVEL=error)", quiet, None)]
    if args.devnull:
        sections.append(("Info lines written to /dev/null (SPDLOG_LEVEL=info)", Runs(args.devnull),
                         "Every event writes one info line; the stdout sink flushes each line."))
    for title, runs, note in sections:
        targets = runs is quiet
        rows = [["Baseline", fmt_ns(runs.time("Baseline")), "1.00", "", ""]]
        rows.append(row_ratio("Trace/no_event", runs, "Baseline", "Baseline",
                              1.5 if targets else None))
        if "Trace/handle" in runs:
            rows.append(row_ratio("Trace/handle", runs, "Baseline", "Baseline",
                                  0.5 if targets else None, " (wished for)" if targets else ""))
        if targets:
            rows.append(row_ratio("Trace/no_event/diagnostics_on", runs, "Trace/no_event",
                                  "Trace/no_event", 1.05))
        rows.append(row_ratio("Trace/callback_event", runs, "Baseline", "Baseline"))
        rows.append(row_ratio("DirectPublish", runs, "Baseline", "Baseline"))
        rows.append(row_ratio("Trace/node_event", runs, direct, "(DirectPublish + Baseline)",
                              1.2 if targets else None))
        page.add(f"## {title}", "")
        if note:
            page.add(note, "")
        page.table(header, rows)

    rows = []
    for points in (100, 1000, 10000):
        rows.append(row_ratio(f"CheckFlow/{points}", quiet, "Baseline", "Baseline"))
    growth = quiet.ratio("CheckFlow/10000", "CheckFlow/1000")
    rows.append(["CheckFlow/10000 ÷ CheckFlow/1000", "", f"{growth:.2f}", "≤ 12", verdict(growth, 12)])
    page.add("## CheckFlow (logging suppressed)", "")
    page.table(header, rows)

    rows = []
    for layout, limit in (("separate_flows", 1.1), ("one_flow", 1.5)):
        for threads in (1, 2, 4):
            suffix = f"{layout}/real_time/threads:{threads}"
            rows.append([f"Baseline/{suffix}", fmt_ns(quiet.time(f"Baseline/{suffix}")), "1.00", "", ""])
            rows.append(row_ratio(f"Trace/{suffix}", quiet, f"Baseline/{suffix}",
                                  f"Baseline at {threads} thread{'s' if threads > 1 else ''}",
                                  limit if threads > 1 else None))
    page.add("## Threads (logging suppressed)", "")
    page.table(header, rows)

    rows = [row_ratio(name, quiet, "Baseline", "Baseline")
            for name in ("Peer/spdlog_null_sink", "Peer/lttng_tracepoint_no_session")]
    page.add("## Peers (logging suppressed)", "")
    page.table(header, rows)

    base_instructions = instructions["Baseline"]
    rows = [["Baseline", f"{base_instructions:.0f}", "1.00", "", ""]]
    for subject, limit in (("Trace", 1.0), ("TraceHandle", None), ("TraceCallbackEvent", None),
                           ("DirectPublish", None)):
        if subject not in instructions:
            continue
        ratio = instructions[subject] / base_instructions
        rows.append([subject, f"{instructions[subject]:.0f}", f"{ratio:.2f} × Baseline",
                     f"≤ {limit}" if limit else "", verdict(ratio, limit)])
    if "TraceNodeEvent" in instructions and "DirectPublish" in instructions:
        ratio = instructions["TraceNodeEvent"] / (instructions["DirectPublish"] + base_instructions)
        rows.append(["TraceNodeEvent", f"{instructions['TraceNodeEvent']:.0f}",
                     f"{ratio:.2f} × (DirectPublish + Baseline)", "≤ 1.2", verdict(ratio, 1.2)])
    page.add(
        "## Instructions per call (callgrind, logging suppressed)",
        "",
        "`Trace` is `Trace/no_event`, `TraceHandle` is `Trace/handle`, `TraceCallbackEvent` is",
        "`Trace/callback_event`, `TraceNodeEvent` is `Trace/node_event` and `DirectPublish` the",
        "same, each with its `ResetFlow` after every 8 calls. Counted by the program",
        "`kestrune_instruction_count` inside its measured loop only (the calling thread: DDS's",
        "own threads are not counted), for two call counts; the difference divided by the",
        "extra calls cancels everything paid once.",
        "",
    )
    page.table(["subject", "instructions", "ratio", "target", ""], rows)

    if args.holds:
        holds_section(page, args.holds)
    if args.init:
        init_section(page, args.init, args.init_reference)

    if args.monitor:
        monitor_section(page, args.monitor)
    if args.checker:
        checker_section(page, args.checker)
    page.insert_targets("## What is measured")

    with open(args.out, "w", encoding="utf-8") as stream:
        stream.write("\n".join(page.lines).rstrip() + "\n")
    return 0


def init_ms(path):
    runs, _ = median_entries(path)
    entry = runs.get("Init/10000_flows/real_time") or runs.get("Init/10000_flows")
    return entry and entry["cpu_time"] * NS_PER_UNIT[entry["time_unit"]] / 1e6


def init_section(page, path, reference_path):
    """Init of 10,000 flows, and against an earlier build when one was run."""
    ms = init_ms(path)
    if not ms:
        return
    page.add("## Init (logging suppressed)", "",
             "`Init` of a file of 10,000 flows of five points each, without a node",
             "(`kestrune_lint_benchmarks`, CPU time, the median of its repetitions).", "")
    rows = [["Init/10000_flows", f"{ms:.0f} ms", "", "", ""]]
    reference = reference_path and init_ms(reference_path)
    if reference:
        ratio = ms / reference
        rows.append(["Init/10000_flows ÷ the earlier build's", f"{reference:.0f} ms before",
                     f"{ratio:.2f}", "≤ 1.1", verdict(ratio, 1.1)])
    page.table(["benchmark", "median", "ratio", "target", ""], rows)


def holds_section(page, path):
    """The longest holds of the engine mutex by its own threads, with 10,000 flows."""
    runs, _ = median_entries(path)
    entry = runs.get("LockHolds/10000_flows/min_time:3.000/real_time")
    if not entry:
        return
    page.add(
        "## Engine mutex held by the heartbeat and the health report (logging suppressed)",
        "",
        "10,000 flows, the heartbeat every millisecond (its queue trimmed every 500 beats) and",
        "flow health on /diagnostics every 100 ms, while one thread traces into one flow as fast",
        "as it can for 3 s (`kestrune_hold_benchmarks`). A hold is timed from the moment the",
        "thread has the mutex to the moment it lets go, on the thread's CPU clock (the work it",
        "does holding the mutex, which the target is about) and on the wall clock (which adds",
        "any time the scheduler gave the core to another process meanwhile); the figures are the",
        "longest holds of the run. The `Trace` latencies of the tracing thread, wall-clock time",
        "per call, mostly show how two busy cores are shared, and have no target.",
        "",
    )
    rows = []
    for thread, key in (("heartbeat", "heartbeat"), ("health report", "diagnostics")):
        cpu = entry[f"{key}_longest_cpu_us"]
        rows.append([f"longest hold, {thread} (CPU)", f"{entry[f'{key}_holds']:,.0f} holds",
                     f"{cpu:.1f} µs", "≤ 100 µs", "met" if cpu <= 100 else "**not met**"])
        rows.append([f"longest hold, {thread} (wall clock)", "",
                     fmt_ns(entry[f"{key}_longest_us"] * 1e3), "", ""])
    latencies = ", ".join(f"{label} {fmt_ns(entry[key])}" for label, key in (
        ("p50", "trace_p50_ns"), ("p99", "trace_p99_ns"), ("p99.9", "trace_p999_ns"),
        ("longest", "trace_longest_ns")))
    rows.append(["`Trace` latency", "", latencies, "", ""])
    page.table(["figure", "count", "value", "target", ""], rows)


def monitor_section(page, path):
    """flow_monitor: ingest rate against the 5,000 events a second it must take, the
    time from a level change to a polling page under that load with recording on, and
    the time a new request takes while slow clients hold connections (targets: 1 s)."""
    runs, _ = median_entries(path)
    page.add(
        "## flow_monitor",
        "",
        "`MonitorIngest/pages:N/record:R`: `FlowModel::AddEvent` over 50 configured flows of 8",
        "points, while N pages take the changes twice a second under the same lock, with every",
        "event written to a record file (R = 1) or not (wall-clock time).",
        "`MonitorLevelToPage`: a feeder delivers 5,000 events a second over the 50 flows, each",
        "one recorded; each iteration changes one flow's level and times its arrival at a page",
        "that polls `GET /api/flows?since=N` every 0.5 s on a real server over loopback (20",
        "changes). `MonitorSlowClients`: 100 clients each send one header byte every 0.5 s",
        "(reconnecting when the 5 s request deadline cuts them) and 8 pages poll, while each",
        "iteration times a new `GET /api/flows` on a fresh connection (80 requests over about",
        "8 s). 'worst' is the median over the repetitions of each repetition's slowest.",
        "Program: `kestrune_monitor_benchmarks`.",
        "",
    )
    rows = []
    for pages in (0, 2):
        for record in (0, 1):
            entry = runs.get(f"MonitorIngest/pages:{pages}/record:{record}/real_time")
            if entry:
                rate = entry["items_per_second"]
                rows.append([f"MonitorIngest/pages:{pages}/record:{record}",
                             f"{rate / 1e3:,.0f} k events/s", f"{rate / 5000:,.0f} × 5,000/s",
                             "≥ 1", "met" if rate >= 5000 else "**not met**"])
    entry = runs.get("MonitorLevelToPage/iterations:20/manual_time")
    if entry:
        mean_ms = entry["real_time"] * NS_PER_UNIT[entry["time_unit"]] / 1e6
        rows.append(["MonitorLevelToPage", f"{mean_ms:.0f} ms mean, {entry['worst_ms']:.0f} ms worst",
                     f"fed {entry['fed_per_s']:,.0f} events/s, {entry['backlog_events']:.0f} behind, "
                     f"{entry['record_dropped']:.0f} record lines lost",
                     "< 1000 ms", "met" if entry["worst_ms"] < 1000 else "**not met**"])
    entry = runs.get("MonitorSlowClients/iterations:80/manual_time")
    if entry:
        mean_ms = entry["real_time"] * NS_PER_UNIT[entry["time_unit"]] / 1e6
        rows.append(["MonitorSlowClients", f"{mean_ms:.1f} ms mean, {entry['worst_ms']:.0f} ms worst",
                     "100 slow clients, 8 polling pages", "< 1000 ms",
                     "met" if entry["worst_ms"] < 1000 else "**not met**"])
    page.table(["benchmark", "figure", "load", "target", ""], rows)


def checker_section(page, path):
    """flow_checker: ingest rate (target 50,000 points a second), the way from a sender's
    Trace to the verdict event, and a sender's Trace against a plain publish (≤ 1.1 x)."""
    runs, _ = median_entries(path)
    page.add(
        "## flow_checker",
        "",
        "All in one process over DDS, the checker on a node of its own (program",
        "`kestrune_checker_benchmarks`). `CheckerIngest`: a `PointSender` sends batches of 1,000",
        "points of a five-point flow with `check_at_end` and waits until the checker has judged",
        "them all, verdicts included (reorder window 0; the sender's own cost is in the figure).",
        "`TraceToVerdict/W`: from the sender's `Trace` of a run's last point to its verdict event",
        "at a subscriber, with a reorder window of W ms (100 runs; p50 and p99 of the runs).",
        "`SenderTrace`: `PointSender::Trace`; `PlainPublish`: a `FlowPoint` filled by hand (stamp",
        "from the system clock, ids, sequence) and published; both with one reader matched.",
        "",
    )
    rows = []
    entry = runs.get("CheckerIngest/real_time")
    if entry:
        rate = entry["items_per_second"]
        rows.append(["CheckerIngest", f"{rate / 1e3:,.0f} k points/s", "≥ 50 k points/s",
                     "met" if rate >= 50000 else "**not met**"])
    for window in (0, 50):
        entry = runs.get(f"TraceToVerdict/{window}/iterations:100/manual_time")
        if entry:
            rows.append([f"TraceToVerdict/{window}",
                         f"p50 {entry['p50_ms']:.1f} ms, p99 {entry['p99_ms']:.1f} ms", "", ""])
    sender = runs.get("SenderTrace")
    plain = runs.get("PlainPublish")
    if sender and plain:
        ratio = sender["cpu_time"] / plain["cpu_time"]
        rows.append(["SenderTrace", f"{fmt_ns(sender['cpu_time'] * NS_PER_UNIT[sender['time_unit']])}"
                     f" = {ratio:.2f} × PlainPublish "
                     f"({fmt_ns(plain['cpu_time'] * NS_PER_UNIT[plain['time_unit']])})",
                     "≤ 1.1 ×", verdict(ratio, 1.1)])
    page.table(["benchmark", "figure", "target", ""], rows)


if __name__ == "__main__":
    sys.exit(main())
