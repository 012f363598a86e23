#!/usr/bin/env bash
# Checks the lab's TLS side with peer tools, before the program is judged
# against it: mx1 negotiates TLS 1.3, tls10 TLS 1.0 alone, weak NULL-SHA256
# on TLS 1.2 alone; posttls-finger finds mx1 DANE-verified and mx2 not;
# Knot's own answers carry no AD, the resolver's do; and lab_tls_facts
# reports what the committed certificates say.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
# The mail servers offer STARTTLS only with LAB_TLS.
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
for tool in openssl posttls-finger; do
  command -v "$tool" >/dev/null 2>&1 || lab_skip "missing $tool (run scripts/install-deps)"
done
lab_enter "$@"

# negotiates ADDRESS PROTOCOL CIPHER S_CLIENT_OPTION...: STARTTLS with these
# client options ends in a session of PROTOCOL with CIPHER.
negotiates() {
  local address=$1 protocol=$2 cipher=$3 out got
  shift 3
  out=$(timeout 15 openssl s_client -brief -starttls smtp -connect "$address:25" "$@" </dev/null 2>&1) || true
  got="$(sed -n 's/^Protocol version: //p' <<<"$out") $(sed -n 's/^Ciphersuite: //p' <<<"$out")"
  [ "$got" = "$protocol $cipher" ] || { echo "    got '$got'"; grep -m 2 -E 'error|alert' <<<"$out" | sed 's/^/    /'; return 1; }
}
# refuses ADDRESS S_CLIENT_OPTION...: no TLS session comes about.
refuses() {
  local address=$1 out
  shift
  out=$(timeout 15 openssl s_client -brief -starttls smtp -connect "$address:25" "$@" </dev/null 2>&1) || true
  ! grep -q '^CONNECTION ESTABLISHED' <<<"$out" || { echo "    $(grep -m 1 '^Protocol version' <<<"$out")"; return 1; }
}

level0='DEFAULT@SECLEVEL=0'
lab_check "mx1 negotiates TLS 1.3" negotiates 192.0.2.25 TLSv1.3 TLS_AES_256_GCM_SHA384
lab_check "mx2 negotiates TLS 1.3" negotiates 198.51.100.25 TLSv1.3 TLS_AES_256_GCM_SHA384
lab_check "tls10 speaks TLS 1.0 at security level 0" \
  negotiates 203.0.113.10 TLSv1 ECDHE-RSA-AES256-SHA -tls1 -cipher "$level0"
lab_check "tls10 refuses a client at the default security level" refuses 203.0.113.10
for version in -tls1_1 -tls1_2 -tls1_3; do
  lab_check "tls10 refuses $version" refuses 203.0.113.10 "$version" -cipher "$level0"
done
lab_check "weak speaks NULL-SHA256 on TLS 1.2" \
  negotiates 203.0.113.12 TLSv1.2 NULL-SHA256 -cipher 'eNULL@SECLEVEL=0'
lab_check "weak refuses a client's default list" refuses 203.0.113.12
lab_check "weak refuses every suite that encrypts" refuses 203.0.113.12 -cipher 'ALL@SECLEVEL=0'
for version in -tls1 -tls1_1 -tls1_3; do
  lab_check "weak refuses $version" refuses 203.0.113.12 "$version" -cipher 'eNULL@SECLEVEL=0'
done

# tlsa_flags SERVER NAME: the header flags of SERVER's TLSA answer for NAME,
# when the answer holds TLSA records.
tlsa_flags() {
  local out
  out=$(kdig @"$1" +dnssec +timeout=2 +retry=0 TLSA "$2") || return 1
  grep -Eq "^$2\.?[[:space:]].*TLSA[[:space:]]" <<<"$out" || { echo "    no TLSA records from $1"; return 1; }
  sed -n 's/^;; Flags: \([^;]*\);.*/ \1 /p' <<<"$out"
}
with_ad() { local f; f=$(tlsa_flags "$@") && [[ "$f" == *" ad "* ]]; }
authoritative_without_ad() { local f; f=$(tlsa_flags "$@") && [[ "$f" == *" aa "* && "$f" != *" ad "* ]]; }
for host in mx1 mx2; do
  lab_check "resolver's TLSA answer for $host has AD" with_ad "$LAB_RESOLVER" "_25._tcp.$host.lab.example"
  lab_check "Knot's TLSA answer for $host has AA but no AD" \
    authoritative_without_ad 192.0.2.54 "_25._tcp.$host.lab.example"
done

# verdict WORD HOST [RESOLVER]: posttls-finger's verdict starts with WORD.
verdict() {
  local line
  line=$(lab_dane_verdict "$2" "${3:-}") || return 1
  [[ "$line" == "$1 "* ]] || { echo "    $line"; return 1; }
}
lab_check "posttls-finger: mx1 is DANE-verified" verdict Verified mx1.lab.example
lab_check "posttls-finger: mx2 is not" verdict Untrusted mx2.lab.example
lab_check "posttls-finger: mx1 without AD (Knot directly) is not" \
  verdict Untrusted mx1.lab.example 192.0.2.54
# Where Postfix was installed with "No configuration" there is no
# /etc/postfix/main.cf: posttls-finger must read the lab's own.
# without_etc_postfix FUNCTION [ARG...]: FUNCTION, of this script, in a
# mount namespace where /etc/postfix is empty.
without_etc_postfix() {
  unshare --mount bash -c "$(declare -f "$1" lab_dane_verdict)"'
    mount -t tmpfs -o size=1m lab-empty /etc/postfix && "$@"' without_etc_postfix "$@"
}
lab_check "posttls-finger: mx1 is DANE-verified with an empty /etc/postfix" \
  without_etc_postfix verdict Verified mx1.lab.example

# facts_match HOST CERT PROTOCOL CIPHER: lab_tls_facts agrees with the
# certificate file and the expected session.
facts_match() {
  local pem="$lab_lib_dir/certs/$2" want got
  want="$(openssl x509 -in "$pem" -noout -subject -nameopt compat | sed 's/^subject=//')
$(openssl x509 -in "$pem" -noout -issuer -nameopt compat | sed 's/^issuer=//')
$(date -u -d "$(openssl x509 -in "$pem" -noout -startdate | cut -d= -f2)" +%F) - $(date -u -d "$(openssl x509 -in "$pem" -noout -enddate | cut -d= -f2)" +%F)
$3
$4
$(openssl x509 -in "$pem" -noout -fingerprint -sha1 | cut -d= -f2 | tr -d :)"
  got=$(lab_tls_facts "$1") || return 1
  [ "$got" = "$want" ] || { diff <(echo "$want") <(echo "$got") | sed 's/^/    /'; return 1; }
}
lab_check "TLS facts of mx1" facts_match mx1.lab.example mx1.pem TLSv1.3 TLS_AES_256_GCM_SHA384
lab_check "TLS facts of mx2" facts_match mx2.lab.example mx2.pem TLSv1.3 TLS_AES_256_GCM_SHA384
lab_check "TLS facts of tls10" facts_match tls10.lab.example tls10.pem TLSv1 ECDHE-RSA-AES256-SHA
lab_check "TLS facts of weak" facts_match weak.lab.example weak.pem TLSv1.2 NULL-SHA256
lab_summary
