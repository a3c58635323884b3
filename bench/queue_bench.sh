#!/usr/bin/env bash
# Outgoing queue throughput: 5,000 queued 4 KiB messages delivered by the
# default 20 sender threads to smtp-sink (package postfix) on loopback.
#   bench/queue_bench.sh [MESSAGES]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
messages=${1:-5000}
build="$here/build/bench"
bash "$here/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_BENCH=ON >/dev/null
work=$(mktemp -d)
cleanup() {
    kill $(jobs -p) 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# A port of the tests' port allocator (below the ephemeral range).
port=$(cd "$here/tests/e2e/support" && /usr/bin/python3 -c 'import test_ports; print(test_ports.take_one())')
/usr/sbin/smtp-sink -u nobody "127.0.0.1:$port" 256 >/dev/null 2>&1 &
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
"$build/bench/bench_queue" "$work/quorvex" "$port" "$messages"
