#!/usr/bin/env bash
# The JSON report against the lab's real peers: each row runs the program
# once with --json=FILE and checks its exit code, that every record is valid
# under the schema (doc/zarvik-report.schema.json, with python3-jsonschema),
# and the facts the row names. The TLS facts are then checked against peer
# tools: protocol and cipher against openssl s_client, both SHA-256 digests
# against openssl x509 of the certificate the server sent, and the DANE
# result against posttls-finger. Also: --json on standard output carries
# JSON lines alone, --json=FILE leaves the transcript as it is without it,
# and --summary adds its marked lines after the transcript.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
for tool in openssl posttls-finger; do
  command -v "$tool" >/dev/null 2>&1 || lab_skip "missing $tool (run scripts/install-deps)"
done
/usr/bin/python3 -c 'import jsonschema' 2>/dev/null || lab_skip "missing python3-jsonschema (run scripts/install-deps)"
lab_enter "$@"

bin=$(lab_binary)
validate="$lab_source_dir/tests/support/validate_report.py"
fields="$lab_source_dir/tests/support/report_fields.py"
work=$(mktemp -d "${LAB_DIR:-/tmp}/json.XXXXXX")
export TEMP="$work"

# report NAME ARG...: runs the program with --json into $work/NAME.jsonl;
# prints its exit code.
report() {
  local name=$1 code=0
  shift
  "$bin" "$@" "--json=$work/$name.jsonl" >"$work/$name.txt" 2>&1 || code=$?
  echo "$code"
}

# row NAME EXIT "ARG..." FIELD=VALUE...: one run and the facts it must show.
row() {
  local name=$1 exit_code=$2 args=$3 code problems=""
  shift 3
  # shellcheck disable=SC2086 # the arguments are words on purpose
  code=$(report "$name" $args)
  [ "$code" = "$exit_code" ] || problems+="    exit code $code, expected $exit_code"$'\n'
  problems+=$(lab_report_problems "$work/$name.jsonl" "$@")
  if [ -z "$problems" ]; then lab_pass "$name"; else lab_fail "$name"; printf '%s\n' "$problems"; fi
}

envelope="-fsender@lab.example -tknown@lab.example"
row "mx1 accepts over TLS with DANE" 0 "-hmx1.lab.example -qDNS$LAB_RESOLVER $envelope" \
  probe.connect.status=ok probe.greeting.status=ok probe.greeting.code=220 probe.ehlo.verb=EHLO \
  probe.ehlo.starttls_offered=true probe.starttls.status=ok probe.tls.status=ok probe.tls.attempt=1 \
  probe.tls.sni=mx1.lab.example probe.certificate.status=ok probe.certificate.name_match=true \
  probe.verdict.status=ok probe.dane.status=ok probe.dane.result=verified probe.envelope.status=ok \
  probe.envelope.rcpt_to.0.code=250 probe.quit.status=ok probe.quit.code=221 probe.result.phase=done \
  probe.dns.tlsa.authenticated=true domain.exit_code=0
row "unknown recipient is rejected" 1 "-dlab.example -fsender@lab.example -tnobody@lab.example" \
  probe.envelope.status=rejected probe.envelope.rcpt_to.0.code=550 probe.envelope.rcpt_to.0.enhanced_code=5.1.1 \
  probe.result.phase=envelope probe.result.code=60 probe.dns.mx.status=ok probe.dns.mx.rcode=NOERROR \
  probe.target.mx_preference=10 domain.domain=lab.example domain.mx_hosts.1.host=mx2.lab.example \
  domain.mx_hosts.1.preference=20
row "recipient deferred" 2 "-htempfail1.lab.example -fsender@lab.example -tknown@lab.example" \
  probe.envelope.status=deferred probe.envelope.rcpt_to.0.code=450 probe.result.phase=envelope
row "no sender: the envelope is not tested" 0 "-hmx2.lab.example" \
  probe.envelope.status=not_applicable probe.dane.result=failed probe.dane.matched=null
row "HELO: no STARTTLS" 0 "-h192.0.2.25 -N" \
  probe.ehlo.verb=HELO probe.starttls.status=not_offered probe.tls.status=not_applicable \
  probe.certificate.status=not_applicable probe.verdict.status=not_applicable probe.dane.status=not_applicable
row "TLS 1.0 is deprecated" 0 "-htls10.lab.example" \
  probe.tls.protocol=TLSv1 probe.verdict.deprecated_protocol=true probe.dns.tlsa.status=no_records \
  probe.dns.tlsa.rcode=NXDOMAIN
row "refused connection" 99 "-hdead.lab.example" \
  probe.connect.status=refused probe.connect.error="Error: Connection refused [10061]" \
  probe.greeting.status=not_reached probe.tls.status=not_reached probe.result.phase=connect \
  probe.result.code=10061 domain.addresses_tested=2
row "no route to the host" 99 "-h203.0.113.77" probe.connect.status=unreachable probe.result.phase=connect
row "connect time-out" 99 "-dslow.lab.example --timeout=2" probe.connect.status=timeout probe.result.phase=connect
row "MX host without an address" 99 "-ddangling.lab.example" \
  probe.connect.status=not_reached probe.result.phase=dns probe.target.address=null
row "no MX: the domain is its own host" 0 "-dfallback.lab.example" \
  probe.dns.mx.status=no_records probe.target.mx_preference=null
row "TLSA records without AD" 0 "-hmx1.lab.example -qDNS192.0.2.54" \
  probe.dns.tlsa.authenticated=false probe.dane.result=dnssec_failed
# no_name_server ARG...: the program in a mount namespace whose resolv.conf
# names no name server.
no_name_server() {
  : >"$work/resolv.none"
  unshare --mount bash -c 'mount --bind "$1" /etc/resolv.conf && shift && exec "$@"' no_name_server \
    "$work/resolv.none" "$bin" "$@"
}
code=0
no_name_server -dlab.example "--json=$work/no-name-server.jsonl" >/dev/null || code=$?
no_name_server_reported() {
  [ "$code" = 99 ] && "$validate" "$work/no-name-server.jsonl" >/dev/null &&
    [ "$("$fields" "$work/no-name-server.jsonl" error.phase)" = name_servers ]
}
lab_check "no name server to be found" no_name_server_reported
row "malformed recipient" 1 "-tno-at-sign" error.phase=input error.code=52 error.recipient=no-at-sign
row "null MX" 1 "-dnullmx.lab.example" domain.null_mx=true domain.addresses_tested=0
row "domain that does not exist" 1 "-dnosuchdomain.lab.example" error.phase=dns error.code=105
row "bogus DNSSEC" 99 "-dbogus.example" error.phase=dns

# Submission ports (RFC 8314): STARTTLS on 587, TLS from the first byte on
# 465, each with the TLSA records of its own port.
row "submission with STARTTLS on 587" 0 "-h192.0.2.25 --port=587 $envelope" \
  probe.target.port=587 probe.starttls.status=ok probe.tls.status=ok probe.dns.tlsa.status=no_records \
  probe.envelope.status=ok
row "587 refuses the envelope before STARTTLS" 1 "-h192.0.2.25 --port=587 -N $envelope" \
  probe.starttls.status=not_offered probe.envelope.status=rejected probe.envelope.mail_from.code=530 \
  "probe.envelope.mail_from.text=5.7.0 Must issue a STARTTLS command first"
row "implicit TLS on 465" 0 "-hmx1.lab.example -IP192.0.2.25 --port=465 $envelope" \
  probe.target.port=465 probe.starttls.status=not_applicable probe.tls.status=ok probe.greeting.code=220 \
  probe.dns.tlsa.status=ok probe.dane.result=verified probe.dns.a.status=not_applicable probe.result.phase=done
# The transcript of a port other than 25 names it and reports the session.
port_transcript() {
  "$bin" -hmx1.lab.example -IP192.0.2.25 --port=465 >"$work/465.txt" || return 1
  grep -q $'^Connecting with mx1.lab.example \[192.0.2.25\] port 465\r$' "$work/465.txt" &&
    grep -q '^  Status: Certificate valid and trusted (CN+DANE verified' "$work/465.txt" &&
    ! grep -q '^> STARTTLS' "$work/465.txt"
}
lab_check "a probe of port 465 says so and reports its TLS session" port_transcript

# protocols_agree ADDRESS: the versions --protocols lists as accepted are
# those openssl s_client completes a handshake with, tried one by one.
protocols_agree() {
  local address=$1 option version want="" got out
  "$bin" "-h$address" --protocols "--json=$work/protocols-$address.jsonl" >/dev/null || return 1
  for option in tls1 tls1_1 tls1_2 tls1_3; do
    out=$(timeout 15 openssl s_client -brief -starttls smtp -connect "$address:25" "-$option" \
            -cipher 'DEFAULT@SECLEVEL=0' </dev/null 2>&1) || true
    grep -q '^Protocol version: ' <<<"$out" && want+="true " || want+="false "
  done
  got=$("$fields" "$work/protocols-$address.jsonl" probe.protocols.0.accepted probe.protocols.1.accepted \
        probe.protocols.2.accepted probe.protocols.3.accepted | tr '\n' ' ')
  [ "$got" = "$want" ] || { echo "    report: $got, openssl: $want"; return 1; }
}
lab_check "--protocols agrees with openssl s_client on tls10" protocols_agree 203.0.113.10
lab_check "--protocols agrees with openssl s_client on mx1" protocols_agree 192.0.2.25
row "--protocols flags TLS 1.0 as deprecated" 0 "-htls10.lab.example --protocols" \
  probe.protocols.0.version=TLSv1 probe.protocols.0.accepted=true probe.protocols.0.deprecated=true \
  probe.protocols.3.version=TLSv1.3 probe.protocols.3.accepted=false

# TLS-RPT (RFC 8460): a good record, a faulty one, two, and none.
row "TLS-RPT record" 0 "-dlab.example --tls-rpt" domain.tls_rpt.status=valid \
  domain.tls_rpt.rua.0=mailto:tlsrpt@lab.example domain.tls_rpt.rua.1=https://report.lab.example/tlsrpt \
  domain.tls_rpt.lookup.authenticated=true
row "TLS-RPT record with a bad URI" 0 "-dbackup.lab.example --tls-rpt" domain.tls_rpt.status=invalid
row "two TLS-RPT records" 0 "-dbusy.lab.example --tls-rpt" \
  domain.tls_rpt.status=several
row "no TLS-RPT record" 0 "-dmixed.lab.example --tls-rpt" domain.tls_rpt.status=none domain.tls_rpt.lookup.rcode=NXDOMAIN
row "no TLS-RPT check unless asked" 0 "-dlab.example" domain.tls_rpt=null
tls_rpt_lines() {
  "$bin" -dbackup.lab.example --tls-rpt >"$work/tls-rpt.txt" || return 1
  grep -q $'^TLS-RPT: _smtp._tls.backup.lab.example: invalid, rua URI "ftp://report.lab.example/" is neither mailto: nor https:\r$' \
    "$work/tls-rpt.txt"
}
lab_check "--tls-rpt tells what is wrong in a marked line" tls_rpt_lines

# tls_facts_agree NAME HOST: protocol, cipher and both digests agree with
# openssl's view of the certificate that HOST serves.
tls_facts_agree() {
  local name=$1 host=$2 facts protocol cipher pem want got
  facts=$(lab_tls_facts "$host") || return 1
  protocol=$(sed -n 4p <<<"$facts")
  cipher=$(sed -n 5p <<<"$facts")
  pem=$(timeout 15 openssl s_client -starttls smtp -connect "$host:25" -cipher "$lab_tls_ciphers" </dev/null 2>/dev/null |
        sed -n '/-----BEGIN CERTIFICATE-----/,/-----END CERTIFICATE-----/{p;/-----END/q}')
  want="$protocol
$cipher
$(openssl x509 -outform DER <<<"$pem" | openssl dgst -sha256 -r | cut -d' ' -f1)
$(openssl x509 -noout -pubkey <<<"$pem" | openssl pkey -pubin -outform DER | openssl dgst -sha256 -r | cut -d' ' -f1)"
  got=$("$fields" "$work/$name.jsonl" probe.tls.protocol probe.tls.cipher probe.certificate.sha256 \
        probe.certificate.spki_sha256)
  [ "$got" = "$want" ] || { diff <(echo "$want") <(echo "$got") | sed 's/^/    /'; return 1; }
}
report tls-mx1 -h192.0.2.25 >/dev/null
report tls-mx2 -h198.51.100.25 >/dev/null
report tls-tls10 -h203.0.113.10 >/dev/null
lab_check "openssl agrees on mx1's session and digests" tls_facts_agree tls-mx1 mx1.lab.example
lab_check "openssl agrees on mx2's session and digests" tls_facts_agree tls-mx2 mx2.lab.example
lab_check "openssl agrees on tls10's session and digests" tls_facts_agree tls-tls10 tls10.lab.example

# dane_agrees NAME HOST RESULT: the report's DANE result for HOST is RESULT
# and posttls-finger's verdict says the same ("Verified" for verified).
dane_agrees() {
  local verdict result
  report "$1" "-h$2" >/dev/null
  result=$("$fields" "$work/$1.jsonl" probe.dane.result)
  verdict=$(lab_dane_verdict "$2") || return 1
  [ "$result" = "$3" ] || { echo "    report: $result"; return 1; }
  case "$result" in
    verified) [[ "$verdict" == "Verified "* ]] ;;
    *) [[ "$verdict" != "Verified "* ]] ;;
  esac || { echo "    posttls-finger: $verdict"; return 1; }
}
lab_check "posttls-finger agrees: mx1 verified" dane_agrees dane-mx1 mx1.lab.example verified
lab_check "posttls-finger agrees: mx2 failed" dane_agrees dane-mx2 mx2.lab.example failed

# The record that matched is one the name server publishes for the host.
matched_is_published() {
  local record published
  record=$("$fields" "$work/dane-mx1.jsonl" probe.dane.matched.record)
  published=$(kdig +short @192.0.2.54 TLSA _25._tcp.mx1.lab.example | tr -d ' ' | tr 'A-F' 'a-f')
  got=$("$fields" "$work/dane-mx1.jsonl" "probe.dane.records.$record.usage" "probe.dane.records.$record.selector" \
        "probe.dane.records.$record.matching_type" "probe.dane.records.$record.data" | tr -d '\n')
  grep -qx "$got" <<<"$published" || { echo "    $got not in: $published"; return 1; }
}
lab_check "the matched TLSA record is published" matched_is_published

# --json alone: standard output holds JSON lines and nothing else.
json_on_stdout() {
  "$bin" -hmx1.lab.example --json >"$work/stdout.jsonl" || return 1
  ! grep -q $'\r' "$work/stdout.jsonl" && "$validate" "$work/stdout.jsonl"
}
lab_check "--json writes JSON lines alone to standard output" json_on_stdout

# --json=FILE and --summary add to the transcript and change none of it.
transcript_unchanged() {
  "$bin" -hmx1.lab.example $envelope >"$work/plain.txt" || return 1
  "$bin" -hmx1.lab.example $envelope "--json=$work/beside.jsonl" --summary >"$work/with.txt" || return 1
  # Times and the work folder's DANE cache aside, the runs are the same.
  diff <(head -n "$(wc -l <"$work/plain.txt")" "$work/with.txt") "$work/plain.txt" >/dev/null || return 1
  tail -n +"$(($(wc -l <"$work/plain.txt") + 1))" "$work/with.txt" | grep -v -q '^Summary: ' && return 1
  grep -q '^Summary: mx1.lab.example \[2001:db8::25\]: TLSv1.3 TLS_AES_256_GCM_SHA384, trusted no, name match yes, DANE verified' "$work/with.txt" &&
    grep -q $'^Summary: run: exit code 0, a host accepted the test\r$' "$work/with.txt"
}
lab_check "--json=FILE and --summary leave the transcript unchanged" transcript_unchanged

# For tests/support/status_coverage.py: every record of this run.
[ -z "${ZARVIK_REPORT_COLLECT:-}" ] || cat "$work"/*.jsonl >>"$ZARVIK_REPORT_COLLECT"

lab_summary
