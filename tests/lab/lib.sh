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

# lab_report_problems FILE FIELD=VALUE...: prints, one indented line each,
# what is wrong with the --json report in FILE: a record the schema refuses,
# then every FIELD (as tests/support/report_fields.py names it) whose value
# is not VALUE. Prints nothing when all is well.
lab_report_problems() {
  local file=$1 check field want got out
  shift
  out=$("$lab_source_dir/tests/support/validate_report.py" "$file" 2>&1) || echo "    schema: $out"
  for check in "$@"; do
    field=${check%%=*}
    want=${check#*=}
    got=$("$lab_source_dir/tests/support/report_fields.py" "$file" "$field")
    [ "$got" = "$want" ] || echo "    $field: got '$got', expected '$want'"
  done
}

# expect_zarvik NAME EXIT_CODE [-- ] ARG...  < expected output
# Runs the program with ARG... in a fresh work folder (TEMP) and compares
# its standard output byte for byte with standard input, written with plain
# line feeds (each becomes CR LF), and its exit code with EXIT_CODE.
# {{re:PATTERN}} in the expected text matches a regular expression within a
# line.  Set EXPECT_RAW=1 to compare the expected bytes as they are.
# Each case runs a second time with --json=FILE, which must leave the
# output as it is and write only valid records.
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
  # Again with the JSON report beside the transcript: the transcript and the
  # exit code stay the same, and every record is valid under the schema.
  rm -rf "$work" && mkdir "$work"
  local report="$work.jsonl"
  if TEMP="$work" TMPDIR="$work" "$lab_python" "$lab_lib_dir/expect_output.py" \
      --name "$name (--json=FILE)" --exit "$code" --expect-file "$expected" "${raw[@]}" \
      -- "$bin" "$@" "--json=$report" >/dev/null &&
     { [ ! -e "$report" ] || /usr/bin/python3 "$lab_source_dir/tests/support/validate_report.py" "$report"; }; then
    lab_pass "$name (--json=FILE)"
  else
    lab_fail "$name (--json=FILE)"
  fi
  [ -z "${ZARVIK_REPORT_COLLECT:-}" ] || [ ! -e "$report" ] || cat "$report" >>"$ZARVIK_REPORT_COLLECT"
  rm -rf "$work" "$expected" "$report"
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

# The program's own cipher list (OpenSSL security level 0, RSA key exchange
# and SHA-1 allowed), with the NULL suites after it: openssl s_client then
# settles on the protocol and cipher that the program gets, and it still
# reaches weak.lab.example, which offers nothing but NULL-SHA256.
lab_tls_ciphers='ALL:-RC4:RC4-MD5:RC4-SHA:RC4:!aNULL:!LOW:!EXP:!ADH:!CAMELLIA:!SEED:@STRENGTH:eNULL:@SECLEVEL=0'

# lab_tls_facts HOST [PORT [S_CLIENT_OPTION...]]: asks the SMTP server at
# HOST (a name or an address; port 25 by default) for STARTTLS with openssl
# s_client and prints what the program's TLS report must show, one fact a
# line:
#   /O=Lab Example/CN=mx1.lab.example            subject, one-line form
#   /O=Lab Example/CN=Lab Example Root CA        issuer
#   2026-12-08 - 2126-11-14                      validity (UTC dates)
#   TLSv1.3                                      protocol
#   TLS_AES_256_GCM_SHA384                       cipher
#   0553C0887744DB5F6ED36507E89E41C07CB28BFB     SHA-1 of the certificate,
#                                                40 upper-case hex digits
# Further options go to s_client after the lab's own (a later -cipher wins).
# Fails, saying why on standard error, when no TLS session comes about.
lab_tls_facts() {
  local host=$1 port=${2:-25} target out pem
  shift
  [ $# -gt 0 ] && shift
  target="$host:$port"
  [[ "$host" == *:* ]] && target="[$host]:$port"
  out=$(timeout 15 openssl s_client -starttls smtp -connect "$target" \
          -cipher "$lab_tls_ciphers" "$@" </dev/null 2>&1) || true
  pem=$(sed -n '/-----BEGIN CERTIFICATE-----/,/-----END CERTIFICATE-----/{p;/-----END/q}' <<<"$out")
  if [ -z "$pem" ]; then
    echo "lab_tls_facts: no TLS session with $target:" >&2
    grep -m 3 -E 'error|alert' <<<"$out" | sed 's/^/    /' >&2
    return 1
  fi
  openssl x509 -noout -subject -nameopt compat <<<"$pem" | sed 's/^subject=//'
  openssl x509 -noout -issuer -nameopt compat <<<"$pem" | sed 's/^issuer=//'
  openssl x509 -noout -startdate -enddate -dateopt iso_8601 <<<"$pem" |
    sed 's/^[a-zA-Z]*=\(..........\).*/\1/' | paste -s -d ' ' | sed 's/ / - /'
  # "New, VERSION, Cipher is NAME" always names the negotiated cipher, but
  # VERSION is the oldest protocol that the cipher belongs to.  The session
  # block has the protocol itself; with TLS 1.3 it comes only with a session
  # ticket, which may be late, and there the cipher's version is the
  # protocol, since TLS 1.3 suites exist in TLS 1.3 alone.
  local protocol cipher
  protocol=$(awk '$1 == "Protocol" && $2 == ":" { print $3; exit }' <<<"$out")
  cipher=$(sed -n 's/^\(New\|Reused\), \(.*\), Cipher is \(.*\)$/\2 \3/p' <<<"$out" | head -n 1)
  [ -n "$protocol" ] || [ "${cipher%% *}" != TLSv1.3 ] || protocol=TLSv1.3
  if [ -z "$protocol" ] || [ -z "$cipher" ]; then
    echo "lab_tls_facts: no protocol or cipher in openssl's report for $target" >&2
    return 1
  fi
  echo "$protocol"
  echo "${cipher#* }"
  openssl x509 -noout -fingerprint -sha1 <<<"$pem" | sed 's/^.*=//; s/://g'
}

# lab_dane_verdict HOST [RESOLVER [POSTTLS_FINGER_OPTION...]]: what Postfix's
# DANE client makes of the mail host HOST over IPv4, as posttls-finger's
# verdict line without its prefix, for instance
#   Verified TLS connection established to mx1.lab.example[192.0.2.25]:25: ...
#   Untrusted TLS connection established to mx2.lab.example[198.51.100.25]:25: ...
# posttls-finger asks the resolver of /etc/resolv.conf (the lab's validating
# Unbound) with DNSSEC and trusts TLSA records only in answers with AD; with
# RESOLVER (say 192.0.2.54, Knot, which never sets AD) it runs with a
# resolv.conf naming that server instead.  No CA is trusted, so "Verified"
# comes from a matching TLSA record alone.  Security level 0 as the
# program's, so that tls10.lab.example is reached too.  Fails, with
# posttls-finger's output on standard error, when there is no verdict line.
lab_dane_verdict() {
  local host=$1 resolver=${2:-} out conf line
  shift
  [ $# -gt 0 ] && shift
  local cmd=(posttls-finger -c -a ipv4 -l dane -t 10 -T 10
             -o "tls_medium_cipherlist=DEFAULT:@SECLEVEL=0" "$@" "[$host]")
  if [ -n "$resolver" ]; then
    conf=$(mktemp "${LAB_DIR:-/tmp}/resolv.XXXXXX")
    printf 'nameserver %s\n' "$resolver" >"$conf"
    # posttls-finger gives up root for Postfix's mail owner before reading it.
    chmod 644 "$conf"
    # A mount namespace of its own: the lab's resolv.conf stays as it is.
    out=$(timeout 60 unshare --mount sh -c \
            'mount --bind "$0" /etc/resolv.conf && exec "$@"' "$conf" "${cmd[@]}" 2>&1) || true
    rm -f "$conf"
  else
    out=$(timeout 60 "${cmd[@]}" 2>&1) || true
  fi
  line=$(sed -n 's/^posttls-finger: \(.* TLS connection established to .*\)$/\1/p' <<<"$out" | head -n 1)
  if [ -z "$line" ]; then
    echo "lab_dane_verdict: no verdict from posttls-finger for $host:" >&2
    sed 's/^/    /' <<<"$out" >&2
    return 1
  fi
  echo "$line"
}

# Prints the closing count and returns 1 when any check failed, or when none
# ran at all.
lab_summary() {
  echo "$lab_passed passed, $lab_failed failed"
  [ "$lab_failed" -eq 0 ] && [ "$lab_passed" -gt 0 ]
}
