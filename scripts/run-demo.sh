#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine for Quorvex (apt packages), builds the
# program, makes a demo program folder from data/demo (domain example.test,
# account "demo" with password "demo"; an existing folder is kept) and runs
# the mail server in the foreground. Ctrl-C stops it.
#   QUORVEX_DEMO_DIR  the demo folder (default /tmp/quorvex-demo)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

if [[ $(id -u) -eq 0 ]]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

build=$here/build/release
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S "$here" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target QuorvexServer -j "$(nproc)"

demo=${QUORVEX_DEMO_DIR:-/tmp/quorvex-demo}
if [[ -e "$demo/config.ini" ]]; then
  echo "Using the existing demo folder $demo"
else
  mkdir -p "$demo"
  chmod 700 "$demo"
  cp -r "$here/data/demo/." "$demo/"
  echo "Created the demo folder $demo"
fi

cat <<TEXT

QuorvexServer runs on this demo program folder: $demo
  SMTP 127.0.0.1:2525, POP3 127.0.0.1:1100, account server 127.0.0.1:8011
  domain example.test, account "demo", password "demo"
  logs in $demo/log, mailboxes in $demo/mail

In another terminal, send a first message and read it:
  swaks --server 127.0.0.1:2525 --from friend@example.org --to demo@example.test \\
        --header "Subject: Hello" --body "My first message through Quorvex."
  curl --user demo:demo pop3://127.0.0.1:1100/1

Ctrl-C stops the server.

TEXT
exec env QUORVEX_HOME="$demo" "$build/app/QuorvexServer" -service
