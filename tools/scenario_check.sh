#!/usr/bin/env bash
# The README's run command, checked as a user runs it: tools/run_scenario.sh builds and
# starts the scenario program; once the sixth pass has logged its duration, Ctrl-C
# (SIGINT) must end it with status 0. A script that rots fails this check.
# Deadlines: KESTRUNE_SCENARIO_DEADLINE seconds (default 1800, the build included) for the
# sixth pass, then 20 s for the exit.
set -euo pipefail
# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

sixth_pass="--------Flow 'toilet' 2nd duration: "
deadline=$((SECONDS + ${KESTRUNE_SCENARIO_DEADLINE:-1800}))
log="$(mktemp)"
trap 'rm -f "${log}"' EXIT

# Job control gives the program a process group of its own and leaves SIGINT as a
# terminal would deliver it: a background job of a plain script ignores SIGINT.
set -m
"${repo}/tools/run_scenario.sh" >"${log}" 2>&1 &
pid=$!
set +m

fail() {
  kill -KILL "${pid}" 2>/dev/null || true
  tail -n 40 "${log}"
  echo "scenario: FAILED: $*"
  exit 1
}

until grep -qF -- "${sixth_pass}" "${log}"; do
  kill -0 "${pid}" 2>/dev/null || fail "tools/run_scenario.sh ended before the sixth pass"
  ((SECONDS < deadline)) || fail "no sixth pass within the deadline"
  sleep 0.2
done

kill -INT "${pid}"
exit_deadline=$((SECONDS + 20))
while kill -0 "${pid}" 2>/dev/null; do
  ((SECONDS < exit_deadline)) || fail "still running 20 s after SIGINT"
  sleep 0.1
done
code=0
wait "${pid}" || code=$?
[[ "${code}" -eq 0 ]] || fail "exit status ${code} after SIGINT"
grep -F -- "${sixth_pass}" "${log}"
echo "scenario: the sixth pass ran and SIGINT ended the program with status 0"
