# What the check scripts in tools/ share: sourced after tools/common.sh, never run.
#   source tools/check_helpers.sh NAME    NAME prefixes the verdict lines ("NAME: ok: ...")
# Sets up
#   work                                a temporary folder, removed at exit
#   start LOG SETUP... -- PROGRAM ARG...  PROGRAM in the background; its pid in started_pid
#   stop PID                            SIGINT, then its exit status (124: killed after exit_deadline)
#   verdict STATUS TEXT                 one ok/FAILED line; failures counts the FAILED ones
#   show_log_on_failure STATUS TITLE LOG
#   finish                              the summary line and the script's exit status
# Every program started is killed at exit if it still runs.

check_name="$1"
exit_deadline="${exit_deadline:-10}"
work="$(mktemp -d)"
pids=()
failures=0

# shellcheck disable=SC2317  # run by the trap
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill -KILL "${pid}" 2>/dev/null || true
  done
  rm -rf "${work}"
}
trap cleanup EXIT

# start LOG SETUP... -- PROGRAM ARG...: runs PROGRAM in the background with the setup
# files sourced, exec'd so that its pid is the program's own; the pid goes to started_pid.
start() {
  local log="$1"
  shift
  local setups=()
  while [[ "$1" != -- ]]; do
    setups+=("$1")
    shift
  done
  shift
  (
    set +u
    for setup in "${setups[@]}"; do
      # shellcheck disable=SC1090
      source "${setup}"
    done
    exec "$@"
  ) >"${log}" 2>&1 &
  started_pid=$!
  pids+=("${started_pid}")
}

# Ends a program started by start with SIGINT, waiting at most exit_deadline; its exit
# status, or 124 when it had to be killed.
stop() {
  local pid="$1" status=0
  kill -INT "${pid}" 2>/dev/null || true
  if timeout "${exit_deadline}" tail --pid="${pid}" -f /dev/null; then
    wait "${pid}" 2>/dev/null || status=$?
  else
    kill -KILL "${pid}" 2>/dev/null || true
    wait "${pid}" 2>/dev/null || true
    status=124
  fi
  local left=() other
  for other in "${pids[@]}"; do
    [[ "${other}" == "${pid}" ]] || left+=("${other}")
  done
  pids=("${left[@]}")
  return "${status}"
}

verdict() {
  if [[ "$1" -eq 0 ]]; then
    echo "${check_name}: ok: $2"
  else
    echo "${check_name}: FAILED: $2"
    failures=$((failures + 1))
  fi
}

# Shows a program's output when its check failed.
show_log_on_failure() {
  local status="$1" title="$2" log="$3"
  if [[ "${status}" -ne 0 ]]; then
    echo "  ${title}'s output:"
    sed 's/^/  | /' "${log}"
  fi
}

finish() {
  if [[ "${failures}" -eq 0 ]]; then
    echo "${check_name}: every check passed"
    exit 0
  fi
  echo "${check_name}: ${failures} check(s) FAILED"
  exit 1
}
