#!/usr/bin/env bash
# Builds the standalone workspace (incrementally) and runs trace_scenario_node on its
# bundled configuration. Stop it with Ctrl-C (SIGINT) or SIGTERM.
# DDS stays on loopback unless CYCLONEDDS_URI is already set.
# Usage: tools/run_scenario.sh [--ros-args ...]   (build: <build root>/run)
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

base="${build_root}/run"
mkdir -p "${base}"
# Incremental: a no-op when nothing changed since the last run.
kestrune_colcon_build "${base}" --event-handlers console_cohesion- \
  --cmake-args -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF >"${base}/build.log" 2>&1 ||
  { cat "${base}/build.log"; exit 1; }

use_loopback_dds
set +u
# shellcheck disable=SC1091
source "${base}/install/setup.bash"
set -u
exec "${base}/install/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/trace_scenario_node" "$@"
