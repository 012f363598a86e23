# Helpers for end-to-end test scripts that run in the lab.  Source this file
# from a bash test script, then call lab_enter before anything else:
#
#   #!/usr/bin/env bash
#   set -euo pipefail
#   . "$(dirname "$0")/../lab/lib.sh"
#   lab_enter "$@"          # re-runs this script inside the lab, or skips
#
#   expect_zarvik "null MX is refused" 1 -- -dnullmx.lab.example <<'EOF'
#   Using nameserver 192.0.2.53
#   ...
#   EOF
#   lab_summary             # prints "N passed, N failed", fails on any failure
#
# lab_enter honours LAB_RESOLV and LAB_TLS (see lab.sh); the script's own
# arguments reach the second run unchanged.

lab_lib_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
lab_source_dir="${ZARVIK_SOURCE_DIR:-$(cd "$lab_lib_dir/../.." && pwd)}"
lab_passed=0
lab_failed=0
# The system's Python starts in a tenth of the time of a version manager's
# shim, which adds up over many cases.
lab_python=/usr/bin/python3
[ -x "$lab_python" ] || lab_python=python3

# Skips the test (exit 77) with the reason on standard output.
lab_skip() {
  echo "SKIP: $*"
  exit 77
}

# Runs the calling script again inside the lab and exits with its exit code.
# Inside the lab it returns at once.  Skips when this machine cannot host the
# lab; a lab that can be made but does not come up is a failure, not a skip.
lab_enter() {
  [ "${LAB_INSIDE:-0}" = 1 ] && return 0
  local reason
  reason=$("$lab_lib_dir/lab.sh" check) || lab_skip "${reason#lab unavailable: }"
  exec "$lab_lib_dir/lab.sh" run -- bash "$0" "$@"
}

# The program under test: ZARVIK_BINARY (set by ctest), else build/zarvik.
lab_binary() {
  local bin="${ZARVIK_BINARY:-$lab_source_dir/build/zarvik}"
  [ -x "$bin" ] || { echo "no program at $bin (build it first)" >&2; return 1; }
  echo "$bin"
}

lab_pass() { lab_passed=$((lab_passed + 1)); echo "ok   $*"; }
lab_fail() { lab_failed=$((lab_failed + 1)); echo "FAIL $*"; }

# lab_check NAME COMMAND [ARG...]: counts COMMAND's success as a pass.
lab_check() {
  local name=$1
  shift
  if "$@"; then lab_pass "$name"; else lab_fail "$name"; fi
}

# expect_zarvik NAME EXIT_CODE [-- ] ARG...  < expected output
# Runs the program with ARG... in a fresh work folder (TEMP) and compares
# its standard output byte for byte with standard input, written with plain
# line feeds (each becomes CR LF), and its exit code with EXIT_CODE.
# {{re:PATTERN}} in the expected text matches a regular expression within a
# line.  Set EXPECT_RAW=1 to compare the expected bytes as they are.
expect_zarvik() {
  local name=$1 code=$2 bin work expected
  shift 2
  [ "${1:-}" = "--" ] && shift
  bin=$(lab_binary) || { lab_fail "$name"; return 0; }
  work=$(mktemp -d "${LAB_DIR:-/tmp}/work.XXXXXX")
  expected="$work.expected"
  cat >"$expected"
  local raw=()
  [ "${EXPECT_RAW:-0}" = 1 ] && raw=(--raw)
  if TEMP="$work" TMPDIR="$work" "$lab_python" "$lab_lib_dir/expect_output.py" \
      --name "$name" --exit "$code" --expect-file "$expected" "${raw[@]}" \
      -- "$bin" "$@" >/dev/null; then
    lab_pass "$name"
  else
    lab_fail "$name"
  fi
  rm -rf "$work" "$expected"
}

# lab_greeting_and_ehlo HOST: the transcript lines of the greeting and the
# first EHLO exchange with the lab's Postfix listener named HOST, as the
# program prints them (STARTTLS is offered when LAB_TLS is on or legacy).
lab_greeting_and_ehlo() {
  echo "< 220 $1 ESMTP Lab"
  echo "> EHLO client.lab.example"
  echo "< 250-$1"
  echo "< 250-PIPELINING"
  echo "< 250-SIZE 10240000"
  echo "< 250-VRFY"
  echo "< 250-ETRN"
  [ "${LAB_TLS:-off}" = off ] || echo "< 250-STARTTLS"
  echo "< 250-ENHANCEDSTATUSCODES"
  echo "< 250-8BITMIME"
  echo "< 250-DSN"
  echo "< 250-SMTPUTF8"
  echo "< 250 CHUNKING"
}

# lab_connected NAME ADDRESS: the lines that open the program's probe of the
# mail host NAME at ADDRESS.
lab_connected() {
  echo "Connecting with $1 [$2]"
  echo "Connection established with $2"
}

# lab_probe_without_sender NAME ADDRESS SERVER: the whole probe of NAME at
# ADDRESS without a sender, answered by the lab's listener SERVER: greeting,
# EHLO, QUIT and the closing line.
lab_probe_without_sender() {
  lab_connected "$1" "$2"
  lab_greeting_and_ehlo "$3"
  echo "> QUIT"
  echo "< 221 2.0.0 Bye"
  echo "Connection closed with $1 [$2]"
}

# smtp_chat ADDRESS [COMMAND...]: reads the greeting of the SMTP server at
# ADDRESS port 25, sends each COMMAND, then QUIT, and prints the last line of
# every reply (greeting first), without the CR.  Fails when the connection
# cannot be made or a reply does not come within 5 seconds.
smtp_chat() {
  local address=$1 cmd fd
  shift
  exec {fd}<>"/dev/tcp/$address/25" || return 1
  if ! _lab_smtp_reply "$fd"; then exec {fd}>&-; return 1; fi
  for cmd in "$@" QUIT; do
    printf '%s\r\n' "$cmd" >&"$fd"
    if ! _lab_smtp_reply "$fd"; then exec {fd}>&-; return 1; fi
  done
  exec {fd}>&-
}

# Prints the last line of one SMTP reply read from descriptor $1 (RFC 5321
# 4.2.1: continuation lines have "-" after the code).
_lab_smtp_reply() {
  local line
  while IFS= read -r -t 5 line <&"$1"; do
    line=${line%$'\r'}
    [ "${line:3:1}" = "-" ] && continue
    echo "$line"
    return 0
  done
  return 1
}

# Prints the closing count and returns 1 when any check failed, or when none
# ran at all.
lab_summary() {
  echo "$lab_passed passed, $lab_failed failed"
  [ "$lab_failed" -eq 0 ] && [ "$lab_passed" -gt 0 ]
}
