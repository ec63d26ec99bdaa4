#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_REPORT_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_REPORT_HPP_

#include <cstdint>
#include <optional>
#include <string>

#include "kestrune_diagnostic_trace/flow_check_result.hpp"

namespace kestrune {
namespace trace {

/// What the tracer reports about a flow, as its readers (flow_monitor, the
/// checks in CI, a team's own tools) read it: the keys of a flow's status on
/// /diagnostics, the forms of its message, and the kinds of event. The writer
/// and every reader take them from here, so no reader parses the writer's prose.
///
/// Everything here is constant or a pure function: thread-safe.
namespace report {

/// Keys of a flow's DiagnosticStatus values, in the order they are published.
inline constexpr char kFlowId[] = "flow id";
inline constexpr char kState[] = "state";
inline constexpr char kLastVerdict[] = "last verdict";
inline constexpr char kLastFailurePoint[] = "last failure point";
inline constexpr char kNextExpectedPoint[] = "next expected point";
inline constexpr char kPointsRecorded[] = "points recorded";
inline constexpr char kConfiguredPoints[] = "configured points";
inline constexpr char kLastRunDuration[] = "last run duration";
inline constexpr char kRunsChecked[] = "runs checked";
inline constexpr char kRunsFailed[] = "runs failed";
inline constexpr char kTimeouts[] = "timeouts";
inline constexpr char kLastEvent[] = "last event";
/// Only for a flow with a stall_ms.
inline constexpr char kStallAfter[] = "stall after";
/// Only for the heartbeat flow.
inline constexpr char kLastBeatAge[] = "last beat age";
inline constexpr char kBeatPeriod[] = "beat period";
/// Only for a run with points recorded out of their stamp order by flow_checker.
inline constexpr char kLatePoints[] = "late points";
/// Only for a flow with a budget_ms.
inline constexpr char kBudget[] = "budget";
/// Only once a passing run was measured: the flow's run statistics.
inline constexpr char kRunsMeasured[] = "runs measured";
inline constexpr char kMinDuration[] = "min duration";
inline constexpr char kMedianDuration[] = "median duration";
inline constexpr char kP95Duration[] = "p95 duration";
inline constexpr char kMaxDuration[] = "max duration";
/// With a budget: the share of the measured runs over it ("12 %").
inline constexpr char kOverBudgetShare[] = "over budget share";
/// Passing runs whose time stamps went backwards, left out of the statistics.
inline constexpr char kRunsLeftOut[] = "runs left out";
/// One key per step between consecutive points ("step grasp -> lift"), its
/// value "median 0.40 s, p95 0.52 s".
inline constexpr char kStepKey[] = "step {} -> {}";
inline constexpr char kStepValue[] = "median {}, p95 {}";
/// The step whose recent median grew most, as "grasp -> lift".
inline constexpr char kSlowestGrowingStep[] = "slowest-growing step";
inline constexpr char kStepName[] = "{} -> {}";

/// Values of kState.
inline constexpr char kStateIdle[] = "idle";
inline constexpr char kStateRunning[] = "running";
inline constexpr char kStateStalled[] = "stalled";

/// The value of a key that has nothing to show ("last verdict" before any check).
inline constexpr char kNone[] = "none";

/// The forms of a flow's status message (fmt syntax), with the suffixes a
/// warning appends to the progress forms.
inline constexpr char kMessageWaitingForRun[] = "waiting for first run";
inline constexpr char kMessageWaitingForBeat[] = "waiting for first beat";
inline constexpr char kMessageRunning[] = "running: {} points recorded";
inline constexpr char kMessageExpecting[] = ", expecting '{}'";
inline constexpr char kMessagePassed[] = "passed {}/{} points in {}";
inline constexpr char kMessageFailed[] = "failed ({})";
inline constexpr char kMessageFailedAt[] = "failed at '{}' ({})";
inline constexpr char kMessageStalled[] = "stalled after '{}' for {:.1f} s";
inline constexpr char kMessageLastBeat[] = "last beat {:.1f} s ago";
inline constexpr char kMessageBeatLate[] =
    "heartbeat late: last beat {:.1f} s ago, period {:.1f} s";
inline constexpr char kMessageRunComplete[] = "run complete, not checked yet";
inline constexpr char kMessageIdle[] = "idle";
inline constexpr char kMessageOverBudget[] = "over budget: took {:.1f} s, budget {:.1f} s";
inline constexpr char kMessageDrift[] =
    "runs getting slower: median {:.1f} s over the last {} runs against {:.1f} s over the last {}";
inline constexpr char kWarnTimeout[] = "; a timeout was reported";
inline constexpr char kWarnOptional[] = "; optional points failed or missing";
/// Appended to any message of a run with late points: the count, and "s" unless it is 1.
inline constexpr char kLateSuffix[] = "; {} late point{}";

/// Keys of flow_checker's own status ("<node>: flow checker"), which has no
/// kFlowId: the checker is no flow.
inline constexpr char kCheckerSubject[] = "flow checker";
inline constexpr char kCheckerPointsTopic[] = "points topic";
inline constexpr char kCheckerReceived[] = "points received";
inline constexpr char kCheckerLate[] = "late points";
inline constexpr char kCheckerLost[] = "lost points";
inline constexpr char kCheckerUnknown[] = "unknown flow points";
inline constexpr char kCheckerSenders[] = "senders seen";
inline constexpr char kCheckerLargestDelay[] = "largest delay";
inline constexpr char kCheckerReorderWindow[] = "reorder window";

/// The reasons of failures no verdict gives (see VerdictReason): a point the
/// running check finds nowhere in the flow, and a run that stalled.
inline constexpr char kReasonUndefinedPoint[] = "undefined point";
inline constexpr char kReasonStalled[] = "flow stalled";

/// The kinds of DiagnosticEvent (its `kind` field).
enum class EventKind : uint8_t {
  kPoint = 0,       ///< a point's outcome as it arrived: ok, failed, missing, duplicated, undefined
  kTimeout = 1,     ///< a repeated point came later than its timeout_ms
  kVerdict = 2,     ///< CheckFlow's verdict on a run: `verdict`, `duration_ms`
  kStall = 3,       ///< a run with no new point for its stall_ms; the run goes on
  kOverBudget = 4,  ///< a run longer than its budget: `duration_ms`
};

/// The word of a kind: "point", "timeout", "verdict", "stall", "over budget";
/// "unknown" for a value no kind has.
const char* EventKindWord(uint8_t kind);
/// The kind a word names; nothing for any other text.
std::optional<EventKind> EventKindFromWord(const std::string& word);

/// A verdict's name as values, events and records show it: "SUCCESS",
/// "MISSING_POINT", ...; "UNKNOWN" for a value no status has.
const char* VerdictName(FlowCheckStatus status);
const char* VerdictName(uint8_t status);
/// The verdict a name gives; nothing for any other text.
std::optional<FlowCheckStatus> VerdictFromName(const std::string& name);
/// Its reason as failure messages give it: "point missing", "passed", ...
const char* VerdictReason(FlowCheckStatus status);

/// A duration as values show it: "1.20 s".
std::string SecondsValue(double seconds);
/// A duration value read back; nothing when `text` is not of that form.
std::optional<double> ParseSecondsValue(const std::string& text);
/// A count value ("runs checked") read back; nothing when it is not a count.
std::optional<uint64_t> ParseCountValue(const std::string& text);

}  // namespace report
}  // namespace trace
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_REPORT_HPP_
