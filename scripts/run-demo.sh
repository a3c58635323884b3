#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine for Quorvex (the apt packages building
# and running need, no test servers), builds the program, makes a demo
# program folder from data/demo (domain example.test, account "demo" with
# password "demo", postmaster delivered to demo; an existing folder is kept)
# and runs the mail server in the foreground. Ctrl-C stops it.
#   QUORVEX_DEMO_DIR  the demo folder (default /tmp/quorvex-demo)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

if [[ $(id -u) -eq 0 ]]; then
  bash scripts/install-deps.sh
else
  sudo bash scripts/install-deps.sh
fi

# A build tree of its own, without the tests (their framework is installed
# by the test command only).
build=$here/build/demo
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S "$here" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target QuorvexServer -j "$(nproc)"

demo=${QUORVEX_DEMO_DIR:-/tmp/quorvex-demo}
if [[ -e "$demo/config.ini" ]]; then
  echo "Using the existing demo folder $demo"
else
  # Private like everything the server writes: the folder holds passwords.
  (umask 077 && mkdir -p "$demo" && cp -r "$here/data/demo/." "$demo/" && chmod -R go-rwx "$demo")
  echo "Created the demo folder $demo"
fi

cat <<TEXT

QuorvexServer runs on this demo program folder: $demo
  SMTP port 2525, POP3 port 1100, account server port 8011, on ALL network
  interfaces of this machine (the program has no bind-address setting):
  other machines can reach it unless a firewall stops them
  domain example.test, account "demo" with password "demo",
  postmaster@example.test is delivered to demo
  logs in $demo/log, mailboxes in $demo/mail

In another terminal, send a first message and read it:
  printf 'Subject: Hello\\r\\n\\r\\nMy first message through Quorvex.\\r\\n' |
    curl -sS smtp://127.0.0.1:2525 --mail-from friend@example.org --mail-rcpt demo@example.test -T -
  curl --user demo:demo pop3://127.0.0.1:1100/1

Ctrl-C stops the server.

TEXT
exec env QUORVEX_HOME="$demo" "$build/app/QuorvexServer" -service
