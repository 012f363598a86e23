#!/usr/bin/env bash
# STARTTLS end to end against the lab's Postfix: the whole transcript and
# TLS report of a probe, checked against what openssl s_client reports for
# the same server; the DANE verdicts of the signed zone through the
# validating resolver (and through Knot, which does not validate), checked
# against posttls-finger; the CA file; and the hosts with old TLS only.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
for tool in openssl posttls-finger; do
  command -v "$tool" >/dev/null 2>&1 || lab_skip "missing $tool (run scripts/install-deps)"
done
lab_enter "$@"

ca="$lab_source_dir/tests/lab/certs/ca.pem"

# report_lines HOST LABELS FACTS...: the report lines of HOST that the lab's
# own facts give (subject, issuer, validity, cipher, fingerprint), with the
# status and key lines given. The cipher's bits come from its name.
report_lines() { # HOST STATUS KEY CIPHER-WORDS [S_CLIENT_OPTION...]
  local host=$1 status=$2 key=$3 words=$4 facts
  shift 4
  mapfile -t facts < <(lab_tls_facts "$host" 25 "$@")
  [ ${#facts[@]} -eq 6 ] || { echo "no TLS facts for $host" >&2; return 1; }
  local bits=256
  case "${facts[4]}" in *AES128* | *AES_128*) bits=128 ;; NULL*) bits=0 ;; esac
  echo "TLS Cert: ${facts[0]}"
  echo "  Issuer: ${facts[1]}"
  echo "   Valid: ${facts[2]}"
  echo "  Status: $status"
  echo "     Key: $key"
  echo "  Cipher: ${facts[3]}, ${facts[4]} with $bits bit encryption ($words)"
  echo "  Finger: SHA1 ${facts[5]}"
}
strong="PFS,strong cipher,strong protocol"
rsa_x25519="RSA-SHA256 with 2048 bit (X25519 with 253 bit)"

# The EHLO reply over TLS: what Postfix offers, STARTTLS no more.
ehlo_over_tls() {
  LAB_TLS=off lab_greeting_and_ehlo "$1" | tail -n +2
}

expect_zarvik "STARTTLS, TLS 1.3 and DANE: the whole probe" 0 -- -hmx1.lab.example -IPv4 <<EOF
Using nameserver 192.0.2.53

Testing connection with host mx1.lab.example
Host resolved to mx1.lab.example [192.0.2.25]
$(lab_connected mx1.lab.example 192.0.2.25)
$(lab_greeting_and_ehlo mx1.lab.example)
> STARTTLS
< 220 2.0.0 Ready to start TLS
$(report_lines mx1.lab.example "Certificate valid and trusted (CN+DANE verified,strong key,strong algorithm)" "$rsa_x25519" "$strong")
  CN/SAN: mx1.lab.example
  CN/SAN: mx1.lab.example
  CN/SAN: mail.lab.example
$(ehlo_over_tls mx1.lab.example)
> QUIT
< 221 2.0.0 Bye
Connection closed with mx1.lab.example [192.0.2.25]
EOF

# report_of NAME EXIT EXPECTED-REPORT -- ARG...: the program's report lines
# (those led by a report label) are EXPECTED-REPORT.
report_of() {
  local name=$1 code=$2 expected=$3 bin out rc=0
  shift 4
  bin=$(lab_binary) || { lab_fail "$name"; return 0; }
  out=$(TEMP=$(mktemp -d "$LAB_DIR/work.XXXXXX") "$bin" "$@" | tr -d '\r') || rc=$?
  out=$(grep -E '^(TLS Cert|  Issuer|   Valid|  Status|     Key|  Cipher|  Finger): ' <<<"$out" || true)
  if [ "$rc" = "$code" ] && [ "$out" = "$expected" ]; then
    lab_pass "$name"
  else
    lab_fail "$name"
    echo "    exit $rc (expected $code); report:" && sed 's/^/    /' <<<"$out"
    echo "    expected:" && sed 's/^/    /' <<<"$expected"
  fi
}

# DANE through the validating resolver: the first host's 3 1 1 record
# matches, the second host's matches nothing it sends.
report_of "mx2: the TLSA record matches nothing" 0 \
  "$(report_lines mx2.lab.example "Certificate valid (CN,strong key,strong algorithm,invalid DANE)" "$rsa_x25519" "$strong")" \
  -- -hmx2.lab.example -IPv4
# Knot asked directly does not validate: the records are not used, and the
# CA file decides.
report_of "no validation: DANE DNSSEC failed, no CA file" 0 \
  "$(report_lines mx1.lab.example "Certificate valid (CN,strong key,strong algorithm,DANE DNSSEC failed)" "$rsa_x25519" "$strong")" \
  -- -hmx1.lab.example -IPv4 -qDNS192.0.2.54
report_of "no validation: DANE DNSSEC failed, the lab's CA" 0 \
  "$(report_lines mx1.lab.example "Certificate valid and trusted (CN+CA,strong key,strong algorithm,DANE DNSSEC failed)" "$rsa_x25519" "$strong")" \
  -- -hmx1.lab.example -IPv4 -qDNS192.0.2.54 -lCA"$ca"

# posttls-finger judges the same hosts the same way.
agrees() { # HOST RESOLVER WORD
  local verdict
  verdict=$(lab_dane_verdict "$1" "$2") || return 1
  [ "${verdict%% *}" = "$3" ] || { echo "    posttls-finger: $verdict"; return 1; }
}
lab_check "posttls-finger: mx1 verified" agrees mx1.lab.example "" Verified
lab_check "posttls-finger: mx2 untrusted" agrees mx2.lab.example "" Untrusted
lab_check "posttls-finger: mx1 through Knot untrusted" agrees mx1.lab.example 192.0.2.54 Untrusted

# Old TLS: the report names the protocol, and the weak words.
report_of "TLS 1.0 only" 0 \
  "$(report_lines tls10.lab.example "Certificate valid (CN,strong key,strong algorithm)" "$rsa_x25519" "$strong")" \
  -- -htls10.lab.example
report_of "TLS 1.2 with a cipher the default list refuses" 0 \
  "$(report_lines weak.lab.example "Certificate valid (CN,strong key,strong algorithm)" "RSA-SHA256 with 2048 bit" "strong protocol,weak cipher,PFS missing")" \
  -- -hweak.lab.example -lCLeNULL

# Without that cipher there is no TLS with weak: three handshakes, one per
# context, then the test goes on in plain text. Postfix hangs up after a
# failed handshake, so the first NOOP finds the connection closed.
weak_attempt() {
  lab_connected weak.lab.example 203.0.113.12 | tail -n 1
  lab_greeting_and_ehlo weak.lab.example
  echo "> STARTTLS"
  echo "< 220 2.0.0 Ready to start TLS"
  echo "TLS/SSL Problem: Unable to establish a TLS connection [161]"
  echo "> NOOP"
  echo "Connection closed with 203.0.113.12"
}
expect_zarvik "no common cipher: three attempts, then plain text" 0 -- -hweak.lab.example <<EOF
Using nameserver 192.0.2.53

Testing connection with host weak.lab.example
Host resolved to weak.lab.example [203.0.113.12]
Connecting with weak.lab.example [203.0.113.12]
$(weak_attempt)
$(weak_attempt)
$(weak_attempt)
Connection established with 203.0.113.12
$(lab_greeting_and_ehlo weak.lab.example)
> QUIT
< 221 2.0.0 Bye
Connection closed with weak.lab.example [203.0.113.12]
EOF

# A CA file that is not there: reported, and no STARTTLS for the run.
expect_zarvik "missing CA file: no STARTTLS" 0 -- -hmx1.lab.example -IPv4 -lCA/nonexistent/ca.pem <<EOF
TLS/SSL Problem: Unable to read the certificate file [156]
Using nameserver 192.0.2.53

Testing connection with host mx1.lab.example
Host resolved to mx1.lab.example [192.0.2.25]
$(lab_probe_without_sender mx1.lab.example 192.0.2.25 mx1.lab.example)
EOF

lab_summary
