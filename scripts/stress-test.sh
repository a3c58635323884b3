#!/usr/bin/env bash
# Runs the test suite of a built tree several times under a background load
# like a busy shared machine's: every CPU of eight kept busy and 5,000 open
# TCP connections on loopback (their client ports in the kernel's ephemeral
# range, as real clients' are). Prints the result of every run and exits
# non-zero when one failed.
#   scripts/stress-test.sh [BUILD_DIR [RUNS [PARALLEL]]]
#     BUILD_DIR  a configured and built tree (default build/release)
#     RUNS       how many runs of the whole suite (default 5)
#     PARALLEL   ctest -j (default 16)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/release}" && pwd)
runs=${2:-5}
parallel=${3:-16}
busy_cpus=8
connections=5000

# Both ends of every connection live in one process: twice as many
# descriptors, and the tests need their own. Raised up to the hard limit.
want=65536
hard=$(ulimit -Hn)
[[ $hard == unlimited ]] || ((hard >= want)) || want=$hard
ulimit -n "$want"
if (($(ulimit -n) < 2 * connections + 1000)); then
  echo "the open-file limit ($(ulimit -n)) is too low for $connections connections" >&2
  exit 1
fi

load_pids=()
stop_load() {
  local pid
  for pid in "${load_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${load_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap stop_load EXIT

for ((i = 0; i < busy_cpus; i++)); do
  (while :; do :; done) &
  load_pids+=($!)
done

# The connections' listener takes its port from the tests' port allocator,
# so no test is handed it; the clients' ports are ephemeral.
ready=$(mktemp)
QUORVEX_STRESS_READY=$ready /usr/bin/python3 - "$connections" "$here/tests/e2e/support" <<'PYTHON' &
import os, socket, sys, threading, time
count, support = int(sys.argv[1]), sys.argv[2]
sys.path.insert(0, support)
import test_ports
listener = socket.socket()
for _ in range(5):
    try:
        listener.bind(("127.0.0.1", test_ports.take_one()))
        break
    except OSError:
        continue
listener.listen(1024)
held = []
def accept():
    while True:
        held.append(listener.accept()[0])
threading.Thread(target=accept, daemon=True).start()
clients = [socket.create_connection(listener.getsockname()) for _ in range(count)]
while len(held) < count:
    time.sleep(0.05)
with open(os.environ["QUORVEX_STRESS_READY"], "w") as f:
    f.write("%d\n" % len(clients))
while True:
    time.sleep(3600)
PYTHON
load_pids+=($!)
for ((i = 0; i < 600; i++)); do
  [[ -s $ready ]] && break
  sleep 0.1
done
if [[ ! -s $ready ]]; then
  echo "the background connections did not open" >&2
  exit 1
fi
rm -f "$ready"
echo "Background load: $busy_cpus busy CPUs, $connections open TCP connections on loopback"

failed_runs=0
for ((run = 1; run <= runs; run++)); do
  log="$build/stress-run-$run.log"
  started=$(date +%s)
  if (cd "$build" && ctest -j "$parallel" --timeout 900 --output-on-failure) >"$log" 2>&1; then
    result="passed"
  else
    result="FAILED"
    failed_runs=$((failed_runs + 1))
  fi
  summary=$(grep -E 'tests passed|tests failed' "$log" | tail -1 || true)
  echo "run $run/$runs: $result in $(($(date +%s) - started)) s: $summary (log: $log)"
  if [[ $result == FAILED ]]; then
    sed -n '/The following tests FAILED/,$p' "$log"
  fi
done
echo "$((runs - failed_runs)) of $runs runs passed"
((failed_runs == 0))
