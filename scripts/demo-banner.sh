#!/usr/bin/env bash
# Prints what a demo program folder offers and how to try it, from the
# folder's own config.ini (an existing folder may have other ports, another
# domain or other relay settings than the template data/demo): the ports,
# the domain, whether mail for other domains is refused, and commands that
# send a first message and read it with curl.
#   demo-banner.sh FOLDER
set -euo pipefail
demo=${1:?usage: demo-banner.sh FOLDER}
config=$demo/config.ini
[[ -r "$config" ]] || { echo "demo-banner.sh: cannot read $config" >&2; exit 1; }

# The value of a key as the program reads it: section and key names without
# regard to case, the first section and key of a name win, blanks (and a
# CR) around the value go, and so do matching quotes.
ini_value() {
  awk -v want_section="$1" -v want_key="$2" '
    { sub(/\r$/, "") }
    /^[ \t]*\[/ {
      name = $0
      sub(/^[ \t]*\[/, "", name)
      sub(/\].*$/, "", name)
      if (inside) passed = 1
      inside = !passed && tolower(name) == tolower(want_section)
      next
    }
    inside && index($0, "=") {
      key = substr($0, 1, index($0, "=") - 1)
      gsub(/^[ \t]+|[ \t]+$/, "", key)
      if (tolower(key) != tolower(want_key)) next
      value = substr($0, index($0, "=") + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (value ~ /^".*"$/ || value ~ /^'\''.*'\''$/) value = substr(value, 2, length(value) - 2)
      print value
      exit
    }' "$config"
}

# A number as the program reads it: its leading digits, else the default.
ini_number() {
  local value
  value=$(ini_value "$1" "$2")
  if [[ "$value" =~ ^[0-9]+ ]]; then echo "$((10#${BASH_REMATCH[0]}))"; else echo "$3"; fi
}

smtp=$(ini_number Port SMTP 25)
pop3=$(ini_number Port POP3 110)
admin=$(ini_number Port Admin 8011)
model=$(ini_number System MailServerModel 1)
open_relay=$(ini_number System OpenRelay 0)
domain=$(ini_value System Dominame)
[[ -n "$domain" ]] || domain=$(hostname | tr '[:upper:]' '[:lower:]').com
logs=$(ini_value Log FilePath)
[[ -n "$logs" ]] || logs=log
[[ "$logs" == /* ]] || logs=$demo/$logs

if [[ "$model" == 0 && "$open_relay" == 0 ]]; then
  relay="  local delivery only: mail for other domains is refused ([System] MailServerModel=0)"
else
  relay="  WARNING: its accounts can send mail to other domains ([System] MailServerModel=$model,
  OpenRelay=$open_relay); for local delivery only set MailServerModel=0 and
  OpenRelay=0 in $config"
fi

cat <<TEXT

QuorvexServer runs on this demo program folder: $demo
  SMTP port $smtp, POP3 port $pop3, account server port $admin, on ALL network
  interfaces of this machine (the program has no bind-address setting):
  other machines can reach it unless a firewall stops them
  domain $domain, account "demo" with password "demo",
  postmaster@$domain is delivered to demo
$relay
  logs in $logs, mailboxes in $demo/mail

In another terminal, send a first message and read it:
  printf 'Subject: Hello\\r\\n\\r\\nMy first message through Quorvex.\\r\\n' |
    curl -sS smtp://127.0.0.1:$smtp --mail-from friend@example.org --mail-rcpt demo@$domain -T -
  curl -s --user demo:demo pop3://127.0.0.1:$pop3/1

Ctrl-C stops the server.

TEXT
