#!/usr/bin/env bash
# Messages accepted per second: smtp-source (package postfix) with 20
# parallel sessions of 4 KiB messages to one local mailbox, against this
# server and, in the same run, a stock Postfix delivering to a local
# mailbox. Both listen on loopback only. Every message this server accepts
# is on disk (fsynced) before its 250.
#   bench/smtp_bench.sh [MESSAGES]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
messages=${1:-5000}
sessions=20
size=4096
build="$here/build/bench"
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S "$here" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_smtp_server >/dev/null
source_tool=$(command -v smtp-source || echo /usr/sbin/smtp-source)
work=$(mktemp -d)
chmod 755 "$work"  # the postfix user must reach its queue below it
cleanup() {
    kill $(jobs -p) 2>/dev/null || true
    [ -n "${pf:-}" ] && postfix -c "$pf/etc" stop >/dev/null 2>&1 || true
    [ -n "${made_main_cf:-}" ] && rm -f /etc/postfix/main.cf
    [ -n "${made_dev_log:-}" ] && rm -f /dev/log
    rm -rf "$work"
}
trap cleanup EXIT

rate() {  # port -> messages per second
    local start end
    start=$(date +%s.%N)
    "$source_tool" -c -s "$sessions" -l "$size" -m "$messages" -f sender@remote.example -t bench@bench.test \
        "127.0.0.1:$1" >/dev/null
    end=$(date +%s.%N)
    echo "$messages / ($end - $start)" | bc -l | xargs printf '%.0f'
}

# This server.
mkfifo "$work/stdin"
"$build/bench/bench_smtp_server" "$work/quorvex" 0 <"$work/stdin" >"$work/ready" &
exec 3>"$work/stdin"
for _ in $(seq 100); do grep -q ready "$work/ready" && break; sleep 0.1; done
port=$(awk '{print $2}' "$work/ready")
ours=$(rate "$port")
exec 3>&-
stored=$(find "$work/quorvex/mail/bench" -name '*.eml' | wc -l)

# Stock Postfix, its own instance and queue, loopback only.
pf="$work/postfix"
mkdir -p "$pf/etc" "$pf/spool" "$pf/mail"
cp /etc/postfix/master.cf "$pf/etc/" 2>/dev/null || cp /usr/share/postfix/master.cf.dist "$pf/etc/master.cf"
pfport=$((20000 + RANDOM % 20000))
sed -i "s/^smtp      inet.*/127.0.0.1:$pfport inet n - y - - smtpd/" "$pf/etc/master.cf"
cat >"$pf/etc/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $pf/spool
data_directory = $pf/data
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mydestination = bench.test
myhostname = bench.test
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
local_recipient_maps =
home_mailbox = Mailbox
mail_spool_directory = $pf/mail
relayhost = [127.0.0.1]:9
default_transport = error
CF
# The postfix command only runs instances listed in the default
# configuration; a machine with the package's "No configuration" has none.
if [ ! -e /etc/postfix/main.cf ]; then
    echo "alternate_config_directories = $pf/etc" >/etc/postfix/main.cf
    made_main_cf=1
fi
# Postfix logs only through syslog and will not start without it: give it a
# sink for the run when the machine has none.
if [ ! -e /dev/log ]; then
    /usr/bin/python3 -c '
import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
while True:
    s.recv(65536)
' "$work/devlog" &
    for _ in $(seq 50); do [ -S "$work/devlog" ] && break; sleep 0.1; done
    ln -s "$work/devlog" /dev/log
    made_dev_log=1
fi
postfix -c "$pf/etc" check >/dev/null 2>&1 || true
if ! postfix -c "$pf/etc" start >/dev/null 2>&1; then
    echo "quorvex: $ours messages/s ($stored stored), postfix: did not start"
    exit 0
fi
for _ in $(seq 100); do (exec 9<>/dev/tcp/127.0.0.1/$pfport) 2>/dev/null && break; sleep 0.1; done
theirs=$(rate "$pfport")

echo "quorvex: $ours messages/s ($stored stored), postfix: $theirs messages/s"
