#!/usr/bin/env bash
# Builds the standalone workspace (incrementally) and runs trace_scenario_node on its
# bundled configuration. Stop it with Ctrl-C (SIGINT) or SIGTERM.
# DDS stays on loopback unless CYCLONEDDS_URI is already set.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PATH="/usr/bin:/bin:${PATH}"
base="${repo}/.build/run"

mkdir -p "${repo}/.build"
# Incremental: a no-op when nothing changed since the last run.
"${repo}/tools/install_deps.sh"
(cd "${repo}" && colcon --log-base "${base}/log" build \
  --build-base "${base}/build" --install-base "${base}/install" \
  --event-handlers console_cohesion- status- \
  --cmake-args -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF) >"${base}.build.log" 2>&1 ||
  { cat "${base}.build.log"; exit 1; }

export CYCLONEDDS_URI="${CYCLONEDDS_URI:-file://${repo}/tools/cyclonedds_loopback.xml}"
set +u
# shellcheck disable=SC1091
source "${base}/install/setup.bash"
set -u
exec "${base}/install/kestrune_diagnostic_trace/lib/kestrune_diagnostic_trace/trace_scenario_node" "$@"
