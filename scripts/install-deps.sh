#!/usr/bin/env bash
# Installs the Debian packages of packaging/apt/ that are not installed yet.
#   scripts/install-deps.sh               what building and running need (*.txt)
#   scripts/install-deps.sh --with-tests  that and what only the tests need (test-*.txt)
# Lines starting with '#' are comments.
#
# The tests start their servers themselves (Postfix's tools, Dovecot,
# PostgreSQL, dnsmasq, the proxies, Apache), each on its own ports: none of
# them may run as a system service. So the test packages are installed with a
# policy-rc.d that forbids every service start (exit 101), removed afterwards
# (one that was there before is put back), and every service the install
# enabled is disabled again, so that nothing listens on ports 25 or 110
# afterwards; timers the packages enabled are left alone. Nothing is ever
# removed or purged.
#
# QUORVEX_INSTALL_ROOT puts /usr/sbin/policy-rc.d and the service links below
# another folder (the script's own tests).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${QUORVEX_INSTALL_ROOT:-}

with_tests=0
case "${1:-}" in
  "") ;;
  --with-tests) with_tests=1 ;;
  *) echo "usage: $0 [--with-tests]" >&2; exit 2 ;;
esac

# The packages of the given lists that are not installed.
missing_of() {
  local pkg status
  sed -e 's/#.*//' -e 's/[[:space:]]//g' "$@" | grep -v '^$' | sort -u | while read -r pkg; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$pkg"
  done
}

apt_updated=0
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  if ((!apt_updated)); then
    apt-get update -qq
    apt_updated=1
  fi
  apt-get install -y -qq --no-install-recommends "$@"
}

# Every link that enables a service: systemd's wants links and the SysV
# start links. Timers (logrotate.timer, phpsessionclean.timer) start no
# server: they stay as the packages left them.
service_links() {
  find "$root/etc/systemd/system" -mindepth 2 -maxdepth 2 -path '*.wants/*' ! -name '*.timer' 2>/dev/null || true
  find "$root"/etc/rc[0-6S].d -maxdepth 1 -name 'S*' 2>/dev/null || true
}

# Disables what a link enabled: systemctl disable while systemd runs, else
# update-rc.d ... disable for a SysV script and removing a systemd link.
disable_link() {
  local link=$1 name
  name=$(basename "$link")
  if [[ "$link" == *.wants/* ]]; then
    if [[ -z "$root" && -d /run/systemd/system ]]; then
      systemctl disable --quiet "$name" || rm -f "$link"
    fi
    rm -f "$link"  # what systemctl left (an alias link of another unit)
  else
    name=${name:3}  # S<two digits><script>
    if [[ -z "$root" ]] && update-rc.d "$name" disable >/dev/null 2>&1; then
      :
    else
      rm -f "$link"
    fi
  fi
  echo "Disabled the service $name that the test packages enabled"
}

install_without_starting() {
  local policy="$root/usr/sbin/policy-rc.d" saved="" before after link
  if [[ -e "$policy" || -L "$policy" ]]; then
    saved=$(mktemp)
    cp -a "$policy" "$saved"
  fi
  restore_policy() {
    rm -f "$policy"
    if [[ -n "$saved" ]]; then
      cp -a "$saved" "$policy"
      rm -f "$saved"
    fi
  }
  trap restore_policy EXIT
  mkdir -p "$(dirname "$policy")"
  printf '#!/bin/sh\n# No service starts while test packages are installed.\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  before=$(service_links | sort)
  apt_install "$@"
  after=$(service_links | sort)
  restore_policy
  trap - EXIT
  while read -r link; do
    [[ -n "$link" ]] && disable_link "$link"
  done < <(comm -13 <(echo "$before") <(echo "$after"))
}

shopt -s nullglob
run_lists=()
test_lists=()
for list in "$here"/packaging/apt/*.txt; do
  case "$(basename "$list")" in
    test-*) test_lists+=("$list") ;;
    *) run_lists+=("$list") ;;
  esac
done

mapfile -t run_missing < <(missing_of "${run_lists[@]}")
if ((${#run_missing[@]})); then
  echo "Installing: ${run_missing[*]}"
  apt_install "${run_missing[@]}"
fi
if ((with_tests)); then
  mapfile -t test_missing < <(missing_of "${test_lists[@]}")
  if ((${#test_missing[@]})); then
    echo "Installing for the tests (no service is started or enabled): ${test_missing[*]}"
    install_without_starting "${test_missing[@]}"
  fi
fi
