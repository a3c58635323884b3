#!/usr/bin/env bash
# Pictures of every window of the administration interface:
#   scripts/screenshots.sh OUTDIR
# Runs the screenshot tool of a built tree (QUORVEX_BUILD_DIR, default
# build/release) under Xvfb on a temporary program folder made from the
# demo folder, once in English and once in a pseudo-translation whose
# texts are 40% longer, then checks that no picture is empty. Look at the
# pictures for clipped labels and empty dialogs.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: scripts/screenshots.sh OUTDIR}
build=${QUORVEX_BUILD_DIR:-$here/build/release}
tool=$build/tests/gui/gui_screenshots
if [[ ! -x "$tool" ]]; then
  echo "screenshots: $tool is missing; build the tree first (scripts/build.sh $build)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$here/data/demo" "$work/home"
chmod go-w "$work/home"  # the program starts only in a folder no other user may write to
mkdir -p "$work/home/Language" "$work/runtime"
chmod 700 "$work/runtime"
cp "$here"/data/Language/*.ini "$work/home/Language/"
# A few accounts, so the list has rows to show.
add_account() {
  mkdir -p "$work/home/mail/$1"
  printf '[System]\r\nPassword=x\r\nUserName=%s\r\nComment=%s\r\nVolume=%s\r\nMax=%s\r\nTimeStamp=2026/03/07 10:11:12\r\n' \
    "$2" "$3" "$4" "$5" > "$work/home/mail/$1/maillist.ini"
}
add_account alice "Alice Archer" "Front desk" 50 0
add_account bob "Bob Baker" "Shipping" 20 0
add_account carol "Carol Cook" "Board, no limit" 20 1
# Account tools: alice's lists and a group, so their pages have entries.
printf '[EmailForward]\r\nLeaveCopyLocal=1\r\nCount=2\r\nEmailAddress1=alice@elsewhere.example\r\nEmailAddress2=desk@example.org\r\n[POP3Remote]\r\nCount=1\r\nPOP3Server1=pop.elsewhere.example\r\nPOP3Account1=alice\r\nEnable1=1\r\n' \
  >> "$work/home/mail/alice/maillist.ini"
printf '[EmailFilter]\r\nCount=2\r\nSubject1=invoice\r\nFrom1=\r\nEnable1=1\r\nSubject2=\r\nFrom2=spam@example.org\r\nEmailDeliver2=1\r\nEnable2=1\r\n' \
  > "$work/home/mail/alice/EmailFilter.ini"
printf '[EmailAutoReply]\r\nEnable=1\r\nSubject=Out of office\r\nBody=Back on Monday.\\r\\nAlice\r\n' \
  > "$work/home/mail/alice/EmailAutoReply.ini"
add_account team "Mail Group" "Everyone at the desk" 20 0
printf 'IsGroup=1\r\n[EmailGroup]\r\nCount=2\r\nMember1=alice\r\nMember2=bob\r\n' >> "$work/home/mail/team/maillist.ini"
# The mail tools: a queued item, a parked one and a deleted account.
mkdir -p "$work/home/smtp" "$work/home/undelivered" "$work/home/mail/_dave"
printf '[Info]\r\nDestAddr=partner@remote.example\r\nReplyAddr=alice@example.test\r\nMailFile=mail7.dat\r\nTimes=2\r\nBeginTime=2026-03-07 10:00:00\r\nLastResponse=451 Try again later\r\n' \
  > "$work/home/smtp/7.ini"
printf 'Subject: x\r\n\r\nx\r\n' > "$work/home/smtp/mail7.dat"
printf '[Info]\r\nDestAddr=gone@nowhere.example\r\nReplyAddr=bob@example.test\r\nMailFile=undelivered100.dat\r\nTimes=5\r\nBeginTime=2026-03-06 09:00:00\r\nLastResponse=550 No such user\r\n' \
  > "$work/home/undelivered/100.ini"
printf 'Subject: x\r\n\r\nx\r\n' > "$work/home/undelivered/undelivered100.dat"
printf '[System]\r\nUserName=Dave Diver\r\n' > "$work/home/mail/_dave/maillist.ini"
mkdir -p "$out"
export QUORVEX_HOME=$work/home QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/runtime
screen=(-a -s "-screen 0 1280x1024x24")
xvfb-run "${screen[@]}" "$tool" "$out"
xvfb-run "${screen[@]}" "$tool" "$out" --pseudo
/usr/bin/python3 "$here/scripts/check_screenshots.py" "$out"
