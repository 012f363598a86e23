#!/usr/bin/env bash
# MTA-STS (RFC 8461) against the lab's real peers: Knot serves the
# _mta-sts records, nginx the policies, Postfix the mail hosts. Each row
# runs the program once with --mta-sts and --json=FILE and checks its exit
# code, that every record is valid under the schema, the facts it names in
# the report, and the last "MTA-STS: " line of the transcript. The lab's
# README lists what each domain serves.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
command -v nginx >/dev/null 2>&1 || lab_skip "missing nginx (run scripts/install-deps)"
/usr/bin/python3 -c 'import jsonschema' 2>/dev/null || lab_skip "missing python3-jsonschema (run scripts/install-deps)"
lab_enter "$@"

bin=$(lab_binary)
work=$(mktemp -d "${LAB_DIR:-/tmp}/mta-sts.XXXXXX")
export TEMP="$work"
ca="--mta-sts-ca=$lab_source_dir/tests/lab/certs/ca.pem"

# row NAME EXIT "ARG..." "LAST MTA-STS LINE" FIELD=VALUE...: one run and
# what it must show. The run is bounded: a hang fails the row.
rows=0
row() {
  local name=$1 exit_code=$2 args=$3 line=$4 code=0 problems="" last file
  shift 4
  rows=$((rows + 1))
  file="$work/row$rows"
  # shellcheck disable=SC2086 # the arguments are words on purpose
  timeout 60 "$bin" $args "--json=$file.jsonl" >"$file.txt" 2>&1 || code=$?
  [ "$code" = "$exit_code" ] ||
    problems+="    exit code $code, expected $exit_code; the output ends:"$'\n'"$(tail -n 8 "$file.txt")"$'\n'
  last=$(grep '^MTA-STS: ' "$file.txt" | tail -n 1 | tr -d '\r' || true)
  # A LINE ending in "..." is a prefix: libcurl words its time-outs itself.
  [[ $line == *... && $last == "${line%...}"* || $last == "$line" ]] || problems+="    last line: got '$last'"$'\n'"               expected '$line'"$'\n'
  problems+=$(lab_report_problems "$file.jsonl" "$@")
  if [ -z "$problems" ]; then lab_pass "$name"; else lab_fail "$name"; printf '%s\n' "$problems"; fi
}

policy=https://mta-sts
row "enforce: the host passes" 0 "-dsts.lab.example $ca" \
  "MTA-STS: mta.lab.example [192.0.2.26]: success: STARTTLS, a trusted chain and a matching name" \
  domain.mta_sts.status=enforce domain.mta_sts.record.id=1 domain.mta_sts.fetch.http_status=200 \
  domain.mta_sts.fetch.content_type=text/plain domain.mta_sts.policy.max_age=31557600 \
  domain.mta_sts.mx_hosts.0.matches=true domain.tls_rpt.status=valid probe.mta_sts.result=success \
  probe.mta_sts.decided_by=mta_sts probe.mta_sts.webpki.trusted=true probe.mta_sts.webpki.host_match=true \
  probe.mta_sts.result_type=null
row "testing: a wildcard covers one label" 0 "-dsts-testing.lab.example $ca" \
  "MTA-STS: mta.lab.example [192.0.2.26]: success: STARTTLS, a trusted chain and a matching name" \
  domain.mta_sts.status=testing domain.mta_sts.policy.mx.0='*.lab.example' probe.mta_sts.mode=testing
row "mode none: nothing to judge" 0 "-dsts-none.lab.example $ca" "MTA-STS: policy in force, mode none" \
  domain.mta_sts.status=none domain.mta_sts.mx_hosts.0=\<missing\> probe.mta_sts.result=not_applicable
row "a pattern is anchored at both ends" 0 "-dsts-evil.lab.example $ca" \
  "MTA-STS: mta.lab.example.evil.lab.example [192.0.2.26]: failure, validation-failure: mta.lab.example.evil.lab.example matches no mx pattern of the policy (RFC 8461 section 4.1)" \
  domain.mta_sts.mx_hosts.0.matches=false probe.mta_sts.mx_match=false probe.mta_sts.result_type=validation-failure
row "the certificate does not name the host" 0 "-dsts-mismatch.lab.example $ca" \
  "MTA-STS: other.lab.example [192.0.2.26]: failure, certificate-host-mismatch: no subjectAltName DNS name of the certificate matches other.lab.example (the CN does not count, RFC 8461 section 4.2)" \
  probe.mta_sts.result=failure probe.mta_sts.result_type=certificate-host-mismatch probe.mta_sts.webpki.trusted=true
row "DANE decides, and a failing DANE stands" 0 "-dlab.example -a $ca" \
  "MTA-STS: mx2.lab.example [198.51.100.25]: failure, validation-failure: DANE did not verify the chain, and MTA-STS never overrides it (RFC 8461 section 2)" \
  domain.mta_sts.policy.warnings.0="max_age 604800 is under 30 days (2592000) in enforce mode" \
  probe.1.mta_sts.decided_by=dane probe.1.mta_sts.result=success probe.3.mta_sts.decided_by=dane \
  probe.3.mta_sts.webpki.host_match=true probe.3.mta_sts.result=failure
row "a redirect is not followed" 0 "-dsts-redirect.lab.example $ca" \
  "MTA-STS: no usable policy, sts-policy-fetch-error: HTTP status 301 to $policy.sts.lab.example/.well-known/mta-sts.txt: redirects are not followed (RFC 8461 section 3.3)" \
  domain.mta_sts.status=failed domain.mta_sts.fetch.http_status=301 probe.mta_sts.result=not_applicable
row "404" 0 "-dsts-missing.lab.example $ca" \
  "MTA-STS: no usable policy, sts-policy-fetch-error: HTTP status 404, only 200 counts (RFC 8461 section 3.3)" \
  domain.mta_sts.result_type=sts-policy-fetch-error domain.mta_sts.policy=null
row "text/html is not a policy" 0 "-dsts-type.lab.example $ca" \
  "MTA-STS: no usable policy, sts-policy-invalid: the Content-Type is text/html, not text/plain (RFC 8461 section 3.3)" \
  domain.mta_sts.result_type=sts-policy-invalid domain.mta_sts.fetch.content_type=text/html
row "100 KiB is over the cap" 0 "-dsts-big.lab.example $ca" \
  "MTA-STS: no usable policy, sts-policy-fetch-error: the policy is larger than 64 KiB (RFC 8461 section 3.3)" \
  domain.mta_sts.fetch.status=too_large domain.mta_sts.fetch.bytes=null
row "a bad max_age" 0 "-dsts-maxage.lab.example $ca" \
  "MTA-STS: no usable policy, sts-policy-invalid: max_age \"99999999999\" is not a whole number from 0 to 31557600" \
  domain.mta_sts.policy.valid=false domain.mta_sts.policy.max_age=null
row "two records: no policy, nothing fetched" 0 "-dsts-two.lab.example $ca" \
  "MTA-STS: _mta-sts.sts-two.lab.example: more than one v=STSv1 record, so none counts (RFC 8461 section 3.1), no policy" \
  domain.mta_sts.record.status=several domain.mta_sts.status=no_policy domain.mta_sts.fetch.status=not_attempted
row "the policy host's certificate is wrong" 0 "-dsts-webpki.lab.example $ca" \
  "MTA-STS: no usable policy, sts-webpki-invalid: SSL: no alternative certificate subject name matches target host name 'mta-sts.sts-webpki.lab.example'" \
  domain.mta_sts.fetch.status=certificate_invalid domain.mta_sts.result_type=sts-webpki-invalid
row "without --mta-sts-ca the system's store does not know the lab CA" 0 "-dsts.lab.example --mta-sts" \
  "MTA-STS: no usable policy, sts-webpki-invalid: SSL certificate problem: self-signed certificate in certificate chain" \
  domain.mta_sts.result_type=sts-webpki-invalid
row "a submission port is not covered" 0 "-dlab.example --port=587 $ca" \
  "MTA-STS: mx1.lab.example [192.0.2.25]: not_applicable: MTA-STS covers delivery to port 25 only" \
  probe.1.target.port=587 probe.1.mta_sts.result=not_applicable probe.1.mta_sts.decided_by=none
row "a host given has no policy" 0 "-hmta.lab.example $ca" "" domain.mta_sts=null probe.mta_sts=null

# Bad input and hostile policy hosts: a clear line, bounded time and memory.
row "a policy host that never answers" 0 "-dsts-silent.lab.example --timeout=2 $ca" \
  "MTA-STS: no usable policy, sts-policy-fetch-error: no answer in time: ..." \
  domain.mta_sts.fetch.status=timeout
peak=$(/usr/bin/time -f %M "$bin" -dsts-huge.lab.example "$ca" 2>&1 >"$work/huge.txt" | tail -n 1)
if grep -q "larger than 64 KiB" "$work/huge.txt" && [ "$peak" -lt 65536 ]; then
  lab_pass "10 MiB policy: refused at 64 KiB, peak ${peak} KiB"
else
  lab_fail "10 MiB policy: peak ${peak} KiB"; cat "$work/huge.txt"
fi
code=0
out=$("$bin" -dsts.lab.example --mta-sts-ca=/nonexistent/ca.pem 2>&1) || code=$?
if [ "$code" = 1 ] && [ "$(printf '%s' "$out" | tr -d '\r')" = \
  "Error: --mta-sts-ca: cannot read /nonexistent/ca.pem: No such file or directory" ]; then
  lab_pass "a missing --mta-sts-ca file"
else
  lab_fail "a missing --mta-sts-ca file: exit $code: $out"
fi

# For tests/support/status_coverage.py: every record of this run.
[ -z "${ZARVIK_REPORT_COLLECT:-}" ] || cat "$work"/*.jsonl >>"$ZARVIK_REPORT_COLLECT"

lab_summary
