#!/usr/bin/env python3
"""Writes the benchmark results page from the runs of tools/run_benchmarks.sh.

Every figure is the median of the repetitions of one run of the benchmark
program, and every ratio divides figures of the same run (and of the same
thread count), so that a machine busy with other work shifts both sides alike.
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

    def add(self, *lines):
        self.lines.extend(lines)

    def table(self, header, rows):
        self.add("| " + " | ".join(header) + " |", "|" + "---|" * len(header))
        for row in rows:
            self.add("| " + " | ".join(row) + " |")
        self.add("")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--suppressed", required=True, help="JSON of the run with SPDLOG_LEVEL=error")
    parser.add_argument("--devnull", required=True, help="JSON of the run with info lines to /dev/null")
    parser.add_argument("--instructions", required=True,
                        help="JSON object: subject -> instructions per call")
    parser.add_argument("--command", required=True)
    parser.add_argument("--date", required=True)
    parser.add_argument("--machine", required=True)
    parser.add_argument("--load", required=True, help="load averages before and after the runs")
    parser.add_argument("--commit", required=True)
    parser.add_argument("--monitor", help="JSON of kestrune_monitor_benchmarks (optional)")
    parser.add_argument("--checker", help="JSON of kestrune_checker_benchmarks (optional)")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    quiet, context = medians(args.suppressed)
    loud, _ = medians(args.devnull)
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
        f"- Google Benchmark library build type: {context.get('library_build_type', '?')} (as Debian",
        "  builds it; the harness is the same on both sides of every ratio)",
        "- Figures: the median over the repetitions of the time per call: CPU time of the",
        "  calling thread for single-thread benchmarks, wall-clock time for those run from",
        "  several threads (marked `real_time`).",
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

    def row_ratio(name, value, base, base_name, limit=None):
        ratio = value / base
        limit_text = f"≤ {limit}" if limit is not None else ""
        return [name, fmt_ns(value), f"{ratio:.2f} × {base_name}", limit_text, verdict(ratio, limit)]

    header = ["benchmark", "median", "ratio", "target", ""]
    for title, run, note in (
        ("Logging suppressed (SPDLOG_LEVEL=error)", quiet, None),
        ("Info lines written to /dev/null (SPDLOG_LEVEL=info)", loud,
         "Every event writes one info line; the stdout sink flushes each line."),
    ):
        base = run["Baseline"]
        rows = [["Baseline", fmt_ns(base), "1.00", "", ""]]
        rows.append(row_ratio("Trace/no_event", run["Trace/no_event"], base, "Baseline",
                              1.5 if run is quiet else None))
        if run is quiet:
            rows.append(row_ratio("Trace/no_event/diagnostics_on",
                                  run["Trace/no_event/diagnostics_on"], run["Trace/no_event"],
                                  "Trace/no_event", 1.05))
        rows.append(row_ratio("Trace/callback_event", run["Trace/callback_event"], base, "Baseline"))
        rows.append(row_ratio("DirectPublish", run["DirectPublish"], base, "Baseline"))
        direct = run["DirectPublish"] + base
        rows.append(row_ratio("Trace/node_event", run["Trace/node_event"], direct,
                              "(DirectPublish + Baseline)", 1.2 if run is quiet else None))
        page.add(f"## {title}", "")
        if note:
            page.add(note, "")
        page.table(header, rows)

    base = quiet["Baseline"]
    rows = []
    for points in (100, 1000, 10000):
        name = f"CheckFlow/{points}"
        rows.append(row_ratio(name, quiet[name], base, "Baseline"))
    growth = quiet["CheckFlow/10000"] / quiet["CheckFlow/1000"]
    rows.append(["CheckFlow/10000 ÷ CheckFlow/1000", "", f"{growth:.2f}", "≤ 12", verdict(growth, 12)])
    page.add("## CheckFlow (logging suppressed)", "")
    page.table(header, rows)

    rows = []
    for layout in ("separate_flows", "one_flow"):
        for threads in (1, 2, 4):
            suffix = f"{layout}/real_time/threads:{threads}"
            thread_base = quiet[f"Baseline/{suffix}"]
            limit = 1.5 if threads > 1 else None
            rows.append([f"Baseline/{suffix}", fmt_ns(thread_base), "1.00", "", ""])
            rows.append(row_ratio(f"Trace/{suffix}", quiet[f"Trace/{suffix}"], thread_base,
                                  f"Baseline at {threads} thread{'s' if threads > 1 else ''}",
                                  limit))
    page.add("## Threads (logging suppressed)", "")
    page.table(header, rows)

    rows = [row_ratio(name, quiet[name], base, "Baseline")
            for name in ("Peer/spdlog_null_sink", "Peer/lttng_tracepoint_no_session")]
    page.add("## Peers (logging suppressed)", "")
    page.table(header, rows)

    base_instructions = instructions["Baseline"]
    rows = [["Baseline", f"{base_instructions:.0f}", "1.00", "", ""]]
    for subject, limit in (("Trace", 1.3), ("TraceCallbackEvent", None)):
        ratio = instructions[subject] / base_instructions
        rows.append([subject, f"{instructions[subject]:.0f}", f"{ratio:.2f} × Baseline",
                     f"≤ {limit}" if limit else "", verdict(ratio, limit)])
    page.add(
        "## Instructions per call (callgrind, logging suppressed)",
        "",
        "`Trace` is `Trace/no_event`, `TraceCallbackEvent` is `Trace/callback_event`, each",
        "with its `ResetFlow` after every 8 calls. Counted by the program",
        "`kestrune_instruction_count` inside its measured loop only, for two call counts; the",
        "difference divided by the extra calls cancels everything paid once.",
        "",
    )
    page.table(["subject", "instructions", "ratio", "target", ""], rows)

    if args.monitor:
        monitor_section(page, args.monitor)
    if args.checker:
        checker_section(page, args.checker)

    with open(args.out, "w", encoding="utf-8") as stream:
        stream.write("\n".join(page.lines).rstrip() + "\n")
    return 0


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
