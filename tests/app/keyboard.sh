#!/bin/sh
# The real quorvel under quorvel-sim and a virtual X server, driven with the
# keyboard as an operator would: type a PS name into the focused control, Tab
# to OK, press it with Space, close with Alt+F4. Asserts on the request log.
# Usage: keyboard.sh QUORVEL-SIM QUORVEL
set -eu
sim=$1
quorvel=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/requests

cat >"$work/session" <<SESSION
#!/bin/sh
set -eu
"$sim" --log "$log" -- "$quorvel" >"$work/stdout" 2>"$work/stderr" &
tool=\$!
lines() { if [ -f "$log" ]; then wc -l <"$log"; else echo 0; fi; }
wait_for() { # LINES: until the log has that many lines
  n=0
  while [ "\$(lines)" -lt "\$1" ]; do
    n=\$((n + 1)); [ \$n -lt 200 ] || { echo "log stopped at \$(lines) lines" >&2; kill \$tool; exit 1; }
    sleep 0.05
  done
}
wait_for 75
window=\$(xdotool search --sync --onlyvisible --name '^Quorvel\$' | head -n 1)
xdotool windowfocus --sync "\$window"
n=0
until [ "\$(xdotool getwindowfocus)" = "\$window" ]; do
  n=\$((n + 1)); [ \$n -lt 100 ] || { echo "the dialog never got the focus" >&2; kill \$tool; exit 1; }
  sleep 0.05
done
xdotool type --delay 20 TEST
xdotool key --delay 50 Tab Tab Tab Tab Tab space
wait_for 77
xdotool key alt+F4
wait \$tool
SESSION
chmod +x "$work/session"

status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$work/session" || status=$?
if [ $status -ne 0 ]; then
  echo "quorvel ended with status $status" >&2
  cat "$work/stderr" >&2
  exit 1
fi
lines=$(wc -l <"$log")
written=$(tail -n 2 "$log")
expected="0x21 value=0x5445 index=0x5354 result=8
0x22 value=0x0000 index=0x0000 result=8"
if [ "$lines" -ne 77 ] || [ "$written" != "$expected" ]; then
  echo "unexpected requests ($lines lines):" >&2
  tail -n 5 "$log" >&2
  exit 1
fi
echo "load of 75 requests, then exactly the PS name typed: passed"
