#!/usr/bin/env bash
# SMTP acceptance of this server against a stock Postfix, in the same run:
# smtp-source (package postfix) with 20 parallel sessions of 4 KiB messages
# to one local mailbox, both on loopback only. For each server it prints
#   - messages per second,
#   - the server's CPU seconds per message, its delivery into the mailbox
#     included (Postfix: every process of the instance, until the last
#     message is in its Maildir),
#   - from a traced run of its own, the flushes (fsync, fdatasync) and the
#     file-system operations that change a folder (exclusive creates,
#     renames, unlinks, links, mkdir) per message before the 250 reply
#     (Postfix: its smtpd, cleanup and trivial-rewrite processes);
# then the rates side by side: this build over the baseline's, and each
# over Postfix's.
# Every message this server accepts is on disk (fsynced) before its 250.
# The servers take turns within each round, in a different order each
# round, so a disk whose speed swings treats them alike.
#   bench/smtp_bench.sh [MESSAGES [ROUNDS]]        (default 2000 3)
# Environment:
#   BASELINE=PATH   a bench_smtp_server of another build, measured beside
#                   this one ("before" figures)
#   SERVER=PATH     this build's bench_smtp_server (default: built here)
#   BUSY=1          a writer that flushes the disk all the time meanwhile
#   TRACE_MESSAGES  messages of the traced runs (default 1000; 0: none)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
messages=${1:-2000}
rounds=${2:-3}
trace_messages=${TRACE_MESSAGES:-1000}
sessions=20
size=4096
ticks=$(getconf CLK_TCK)
if [ -z "${SERVER:-}" ]; then
    build="$here/build/bench"
    gen=()
    command -v ninja >/dev/null && gen=(-G Ninja)
    cmake -S "$here" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target bench_smtp_server --parallel "${BENCH_JOBS:-4}" >/dev/null
    SERVER="$build/bench/bench_smtp_server"
fi
source_tool=$(command -v smtp-source || echo /usr/sbin/smtp-source)
work=$(mktemp -d)
chmod 755 "$work"  # the postfix user must reach its queue below it
busy_pid=
cleanup() {
    [ -n "$busy_pid" ] && kill "$busy_pid" 2>/dev/null || true
    for pf in "$work"/pf-*; do
        [ -d "$pf/etc" ] && postfix -c "$pf/etc" stop >/dev/null 2>&1 || true
    done
    [ -n "${made_main_cf:-}" ] && rm -f /etc/postfix/main.cf
    [ -n "${made_dev_log:-}" ] && rm -f /dev/log
    [ -n "${devlog_pid:-}" ] && kill "$devlog_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# CPU ticks of a process with its reaped children.
cpu_ticks() { awk '{print $14 + $15 + $16 + $17}' "/proc/$1/stat" 2>/dev/null || echo 0; }
# The same over a process and all its living children.
tree_ticks() {
    local total children
    total=$(cpu_ticks "$1")
    children=$(cat /proc/"$1"/task/*/children 2>/dev/null || true)
    for c in $children; do total=$((total + $(tree_ticks "$c"))); done
    echo "$total"
}
wait_for() {  # seconds condition...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}
send() {  # port count
    "$source_tool" -s "$sessions" -l "$size" -m "$2" -f sender@remote.example -t bench@bench.test \
        "127.0.0.1:$1" >/dev/null
}
# Flushes and folder changes per message from strace files.
count_ops() {  # count files...
    local n=$1
    shift
    cat "$@" | awk -v n="$n" '
        { sub(/^[0-9]+ +/, "") }
        /^(fsync|fdatasync)\(/ { flushes++ }
        /^(open|openat)\(.*O_CREAT.*O_EXCL/ || /^creat\(/ { changes++ }
        /^(rename|renameat|renameat2|unlink|unlinkat|link|linkat|mkdir|mkdirat|rmdir)\(/ { changes++ }
        END { printf "%.2f %.2f", flushes / n, changes / n }'
}

# --- Quorvex: one bench_smtp_server per measurement, in a fresh folder.
quorvex_start() {  # binary folder
    mkfifo "$2.in"
    "$1" "$2" 0 <"$2.in" >"$2.ready" 2>/dev/null &
    server_pid=$!
    exec 3>"$2.in"
    wait_for 10 grep -q ready "$2.ready"
    server_port=$(awk '{print $2}' "$2.ready")
}
quorvex_stop() {
    exec 3>&-
    wait "$server_pid" 2>/dev/null || true
}
quorvex_measure() {  # binary name -> "rate cpu_per_message"
    local folder="$work/$2-$RANDOM" start end before after
    quorvex_start "$1" "$folder"
    before=$(cpu_ticks "$server_pid")
    start=$(date +%s.%N)
    send "$server_port" "$messages"
    end=$(date +%s.%N)
    after=$(cpu_ticks "$server_pid")
    quorvex_stop
    local stored
    stored=$(find "$folder/mail/bench" -name '*.eml' | wc -l)
    [ "$stored" -eq "$messages" ] || echo "warning: $2 stored $stored of $messages" >&2
    echo "$messages / ($end - $start)" | bc -l | xargs printf '%.0f '
    echo "($after - $before) / $ticks / $messages" | bc -l | xargs printf '%.5f\n'
}
quorvex_trace() {  # binary name -> "flushes changes"
    local folder="$work/$2-trace"
    quorvex_start "$1" "$folder"
    strace -f -qq -o "$folder.strace" -e trace=%file,%desc -p "$server_pid" 2>/dev/null &
    local tracer=$!
    sleep 1  # strace reports nothing when it is attached; give it the moment
    send "$server_port" "$trace_messages"
    kill -INT "$tracer"
    wait "$tracer" 2>/dev/null || true
    quorvex_stop
    count_ops "$trace_messages" "$folder.strace"
}

# --- Postfix: its own instance and queue, delivering to a Maildir.
pfport=$((20000 + RANDOM % 20000))
if [ ! -e /etc/postfix/main.cf ]; then
    made_main_cf=1
    : >/etc/postfix/main.cf
fi
# Postfix logs only through syslog and will not start without it.
if [ ! -e /dev/log ]; then
    /usr/bin/python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
while True:
    s.recv(65536)
' "$work/devlog" &
    devlog_pid=$!
    wait_for 5 test -S "$work/devlog"
    ln -s "$work/devlog" /dev/log
    made_dev_log=1
fi
postfix_start() {  # folder
    local pf=$1
    mkdir -p "$pf/etc" "$pf/spool" "$pf/mail"
    chown nobody:nogroup "$pf/mail"
    cp /etc/postfix/master.cf "$pf/etc/" 2>/dev/null || cp /usr/share/postfix/master.cf.dist "$pf/etc/master.cf"
    sed -i "s/^smtp      inet.*/127.0.0.1:$pfport inet n - y - - smtpd/" "$pf/etc/master.cf"
    cat >"$pf/etc/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $pf/spool
data_directory = $pf/data
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mx.bench.example
mydestination =
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
virtual_mailbox_domains = bench.test
virtual_mailbox_base = $pf/mail
virtual_mailbox_maps = static:bench/
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
relayhost = [127.0.0.1]:9
default_transport = error
CF
    postfix -c "$pf/etc" check >/dev/null 2>&1 || true
    postfix -c "$pf/etc" start >/dev/null 2>&1 || return 1
    wait_for 20 test -s "$pf/spool/pid/master.pid"
    master_pid=$(tr -d ' ' <"$pf/spool/pid/master.pid")
    wait_for 20 bash -c "(exec 9<>/dev/tcp/127.0.0.1/$pfport) 2>/dev/null"
}
delivered() { [ "$(find "$1/mail/bench/new" -type f 2>/dev/null | wc -l)" -ge "$2" ]; }
postfix_measure() {  # -> "rate cpu_per_message"
    local pf="$work/pf-$RANDOM" start end before after
    postfix_start "$pf" || { echo "0 0"; return; }
    before=$(tree_ticks "$master_pid")
    start=$(date +%s.%N)
    send "$pfport" "$messages"
    end=$(date +%s.%N)
    wait_for 300 delivered "$pf" "$messages" || echo "warning: postfix delivered too few" >&2
    after=$(tree_ticks "$master_pid")
    postfix -c "$pf/etc" stop >/dev/null 2>&1 || true
    echo "$messages / ($end - $start)" | bc -l | xargs printf '%.0f '
    echo "($after - $before) / $ticks / $messages" | bc -l | xargs printf '%.5f\n'
}
postfix_trace() {  # -> "flushes changes"
    local pf="$work/pf-trace"
    postfix_start "$pf" || { echo "0 0"; return; }
    mkdir -p "$work/pf-strace"
    strace -f -ff -qq -o "$work/pf-strace/t" -e trace=%file,%desc,execve -p "$master_pid" 2>/dev/null &
    local tracer=$!
    sleep 1
    send "$pfport" "$trace_messages"
    wait_for 300 delivered "$pf" "$trace_messages" || true
    kill -INT "$tracer"
    wait "$tracer" 2>/dev/null || true
    postfix -c "$pf/etc" stop >/dev/null 2>&1 || true
    local receiving=()
    for f in "$work"/pf-strace/t.*; do
        grep -qE '^execve\(".*/(smtpd|cleanup|trivial-rewrite)"' "$f" && receiving+=("$f")
    done
    count_ops "$trace_messages" "${receiving[@]}"
}

if [ "${BUSY:-0}" = 1 ]; then
    (while :; do dd if=/dev/zero of="$work/busy.dat" bs=1M count=8 conv=fsync status=none; done) &
    busy_pid=$!
fi

names=(quorvex)
[ -n "${BASELINE:-}" ] && names+=(baseline)
names+=(postfix)
declare -A results
for round in $(seq "$rounds"); do
    order=("${names[@]:$((round % ${#names[@]}))}" "${names[@]:0:$((round % ${#names[@]}))}")
    for name in "${order[@]}"; do
        case $name in
            quorvex) r=$(quorvex_measure "$SERVER" quorvex) ;;
            baseline) r=$(quorvex_measure "$BASELINE" baseline) ;;
            postfix) r=$(postfix_measure) ;;
        esac
        results[$name]+="$r"$'\n'
        echo "round $round $name: ${r% *} messages/s, ${r#* } CPU s/message"
    done
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "medians over $rounds rounds of $messages messages (busy disk: ${BUSY:-0}):"
declare -A rates
for name in "${names[@]}"; do
    rate=$(printf '%s' "${results[$name]}" | awk 'NF {print $1}' | median)
    rates[$name]=$rate
    cpu=$(printf '%s' "${results[$name]}" | awk 'NF {print $2}' | median)
    ops="-"
    if [ "$trace_messages" -gt 0 ]; then
        case $name in
            quorvex) ops=$(quorvex_trace "$SERVER" quorvex) ;;
            baseline) ops=$(quorvex_trace "$BASELINE" baseline) ;;
            postfix) ops=$(postfix_trace) ;;
        esac
        ops="${ops% *} flushes, ${ops#* } folder changes per message before 250"
    fi
    printf '%-8s %6s messages/s  %.5f CPU s/message  %s\n' "$name:" "$rate" "$cpu" "$ops"
done
# The rates side by side: this build against the baseline, and each
# against Postfix.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
if [ -n "${BASELINE:-}" ]; then
    echo "quorvex / baseline: $(ratio "${rates[quorvex]}" "${rates[baseline]}") x (${rates[quorvex]} vs ${rates[baseline]} messages/s)"
fi
for name in quorvex baseline; do
    if [ -n "${rates[$name]:-}" ]; then
        echo "$name / postfix: $(ratio "${rates[$name]}" "${rates[postfix]}") x"
    fi
done
