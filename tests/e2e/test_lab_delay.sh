#!/usr/bin/env bash
# The lab's added latency (LAB_DELAY), by netem or, on a kernel without it,
# by delay_link's TUN device: a round trip to the lab's servers takes the
# delay longer over IPv4 and IPv6, a black hole still answers nothing,
# Postfix still sees the client address it saw without the delay, and the
# program's verdicts stay the same.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
export LAB_DELAY=40ms
lab_enter "$@"

bin=$(lab_binary)

# connect_ms ADDRESS PORT: how long a TCP handshake takes, in whole ms.
connect_ms() {
  local t0=$EPOCHREALTIME
  timeout 5 bash -c 'exec 3<>"/dev/tcp/$1/$2"' connect "$1" "$2" 2>/dev/null || { echo 99999; return; }
  awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d", (b - a) * 1000 }'
}
within() { [ "$1" -ge "$2" ] && [ "$1" -lt "$3" ]; }

lab_check "the delay is applied" test "${LAB_DELAY_APPLIED:-0}" = 1
for a in 192.0.2.53 2001:db8::25; do
  ms=$(connect_ms "$a" $([ "$a" = 192.0.2.53 ] && echo 53 || echo 25))
  lab_check "a TCP handshake with $a takes 40 ms longer ($ms ms)" within "$ms" 40 1000
done
blackhole=$(timeout 1 bash -c 'exec 3<>/dev/tcp/203.0.113.99/25' 2>/dev/null; echo $?)
lab_check "the black hole answers nothing" test "$blackhole" = 124

code=0
out=$("$bin" -d lab.example 2>&1) || code=$?
lab_check "a domain test exits with 0" test "$code" = 0
lab_check "and finds the certificate trusted" grep -q 'Certificate valid and trusted (CN+DANE verified' <<<"$out"
lab_check "Postfix sees the client at the address it connected to" \
  grep -q 'connect from [^ ]*\[2001:db8::25\]' "$LAB_DIR/postfix/maillog"
lab_summary
