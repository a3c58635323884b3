#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine for Quorvex (the apt packages building
# and running need, no test servers), builds the program, makes a demo
# program folder from data/demo (domain example.test, account "demo" with
# password "demo", postmaster delivered to demo, local delivery only; an
# existing folder is kept), prints its ports and how to try it
# (demo-banner.sh) and runs the mail server in the foreground. Ctrl-C stops
# it.
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

bash "$here/scripts/demo-banner.sh" "$demo"
exec env QUORVEX_HOME="$demo" "$build/app/QuorvexServer" -service
