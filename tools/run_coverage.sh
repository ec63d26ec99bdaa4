#!/usr/bin/env bash
# Measures the line coverage of the library (src/flow_trace, src/logging and the
# inline code of its public headers) by its test suites: builds the workspace
# with gcc --coverage in <build root>/coverage, runs every suite of
# kestrune_diagnostic_trace and summarises with lcov.
# Usage: tools/run_coverage.sh   (build root: KESTRUNE_BUILD_ROOT or .build)
# Ends with "coverage: P% of N lines"; the per-line report is <build root>/coverage/html/index.html.
set -euo pipefail

# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
base="${build_root}/coverage"
objects="${base}/build/kestrune_diagnostic_trace"

# Atomic counters: the suites run many threads, and racing increments lose counts.
flags="--coverage -fprofile-update=atomic"
mkdir -p "${base}"
kestrune_colcon_build "${base}" --event-handlers console_cohesion- \
  --cmake-args -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=Debug \
  -DKESTRUNE_WERROR=ON "-DCMAKE_C_FLAGS=${flags}" "-DCMAKE_CXX_FLAGS=${flags}" \
  >"${base}/build.log" 2>&1 || { cat "${base}/build.log"; echo "coverage: build FAILED"; exit 1; }

lcov --quiet --zerocounters --directory "${objects}"
(
  set +u
  # shellcheck disable=SC1091
  source "${base}/install/setup.bash"
  set -u
  # The stress test adds no lines at full length.
  export KESTRUNE_STRESS_SECONDS="${KESTRUNE_STRESS_SECONDS:-5}"
  cd "${objects}" && ctest --output-on-failure --timeout 300
) >"${base}/test.log" 2>&1 || { tail -n 60 "${base}/test.log"; echo "coverage: tests FAILED"; exit 1; }

lcov --quiet --capture --directory "${objects}" --output-file "${base}/all.info" >/dev/null 2>&1
library="${repo}/kestrune_diagnostic_trace"
lcov --quiet --extract "${base}/all.info" "${library}/src/flow_trace/*" "${library}/src/logging/*" \
  "${library}/include/kestrune_diagnostic_trace/*" --output-file "${base}/library.info" >/dev/null
genhtml --quiet --output-directory "${base}/html" "${base}/library.info" >/dev/null
summary="$(lcov --summary "${base}/library.info" 2>&1)"
percent="$(sed -n 's/.*lines\.*: *\([0-9.]*\)% (\([0-9]*\) of \([0-9]*\) lines).*/\1/p' <<<"${summary}")"
total="$(sed -n 's/.*lines\.*: *\([0-9.]*\)% (\([0-9]*\) of \([0-9]*\) lines).*/\3/p' <<<"${summary}")"
lcov --list "${base}/library.info" | sed -n '/src\/\|include\//p'
echo "coverage: ${percent}% of ${total} lines"
