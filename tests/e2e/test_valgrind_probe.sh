#!/usr/bin/env bash
# One whole probe under valgrind, against the lab's Postfix with STARTTLS,
# DANE and the CA file: every OpenSSL path of a run (contexts, handshake,
# report, verification, DANE and its cache, the close) must be free of
# invalid reads and writes, uses of undefined values and lost memory.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
command -v valgrind >/dev/null 2>&1 || lab_skip "missing valgrind (run scripts/install-deps)"
bin=$(lab_binary) || exit 1
# A sanitizer build brings its own checks and does not run under valgrind.
if grep -q __asan_init "$bin"; then lab_skip "the program is built with AddressSanitizer"; fi
lab_enter "$@"

ca="$lab_source_dir/tests/lab/certs/ca.pem"
under_valgrind() { # NAME EXIT ARG...
  local name=$1 code=$2 log rc=0
  shift 2
  log=$(mktemp "$LAB_DIR/valgrind.XXXXXX")
  TEMP="$LAB_DIR" valgrind --quiet --error-exitcode=42 --leak-check=full --errors-for-leak-kinds=definite \
    --log-file="$log" "$bin" "$@" >/dev/null || rc=$?
  if [ "$rc" = "$code" ]; then
    lab_pass "$name"
  else
    lab_fail "$name (exit $rc, expected $code)"
    sed 's/^/    /' "$log" | head -n 60
  fi
}

under_valgrind "DANE-verified probe with an envelope" 0 -tknown@lab.example -fsender@example.net -IPv4
under_valgrind "chain check against the CA file" 0 -hmx1.lab.example -qDNS192.0.2.54 -lCA"$ca" -IPv4
under_valgrind "three failed handshakes, then plain text" 0 -hweak.lab.example
lab_summary
