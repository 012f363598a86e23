#!/usr/bin/env bash
# Starts the lab and checks that its servers answer as the end-to-end tests
# expect: validated (AD) answers from the resolver, refused validation for
# the bogus zone, no AD for the unsigned zone, Postfix greeting with 220 and
# judging recipients, refused connections where nothing listens, the lab's
# resolv.conf in both variants, and STARTTLS with certificates that match
# the published TLSA records.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
lab_enter "$@"

# tlsa_of_served_key ADDRESS NAME: the certificate served after STARTTLS
# chains to the lab CA, and the SHA-256 of its public key is the TLSA 3 1 1
# record that Knot serves for NAME.
tlsa_of_served_key() {
  local pem served published
  pem=$(openssl s_client -starttls smtp -connect "$1:25" -servername "$2" \
          -CAfile "$lab_lib_dir/certs/ca.pem" -verify_return_error </dev/null 2>/dev/null |
        sed -n '/BEGIN CERTIFICATE/,/END CERTIFICATE/p') || return 1
  [ -n "$pem" ] || return 1
  served=$(openssl x509 -noout -pubkey <<<"$pem" | openssl pkey -pubin -outform DER |
           openssl dgst -sha256 -r | cut -d' ' -f1)
  published=$(kdig +short @192.0.2.54 TLSA "_25._tcp.$2" | awk '$1 == 3 && $2 == 1 && $3 == 1 { print tolower($4) }')
  [ -n "$served" ] && [ "$served" = "$published" ] ||
    { echo "    served $served, published $published"; return 1; }
}

if [ "${1:-}" = "--variant" ]; then
  # Second run (LAB_RESOLV=none LAB_TLS=on).
  lab_check "resolv.conf without nameserver lines" \
    bash -c '[ -f /etc/resolv.conf ] && ! grep -q "^nameserver" /etc/resolv.conf'
  lab_check "STARTTLS with a certificate matching DANE" tlsa_of_served_key 192.0.2.25 mx1.lab.example
  lab_summary
  exit
fi

# dig_has ARGS... -- PATTERN: kdig's answer contains the extended regex.
dig_has() {
  local args=() out
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  out=$(kdig +timeout=2 +retry=0 "${args[@]}") || return 1
  grep -Eq "$2" <<<"$out" || { echo "$out" | sed 's/^/    /'; return 1; }
}

lab_check "resolv.conf names the lab resolver" \
  grep -qx "nameserver $LAB_RESOLVER" /etc/resolv.conf
lab_check "MX answer is validated (AD)" \
  dig_has @"$LAB_RESOLVER" +dnssec MX lab.example -- '^;; Flags:.* ad'
lab_check "MX answer lists both hosts" \
  dig_has @"$LAB_RESOLVER" MX lab.example -- 'MX[[:space:]]+20 mx2\.lab\.example\.'
lab_check "TLSA answer is validated (AD) over IPv6" \
  dig_has @"$LAB_RESOLVER6" +dnssec TLSA _25._tcp.mx1.lab.example -- '^;; Flags:.* ad'
lab_check "TLSA answer carries the records" \
  dig_has @"$LAB_RESOLVER" TLSA _25._tcp.mx1.lab.example -- 'TLSA[[:space:]]+3 1 1 D0E61DC9'
lab_check "validated NXDOMAIN inside the lab zone" \
  dig_has @"$LAB_RESOLVER" +dnssec A nosuchhost.lab.example -- 'status: NXDOMAIN'
lab_check "null MX" \
  dig_has @"$LAB_RESOLVER" MX nullmx.lab.example -- 'MX[[:space:]]+0 \.$'
lab_check "bogus zone fails validation" \
  dig_has @"$LAB_RESOLVER" MX bogus.example -- 'status: SERVFAIL'
lab_check "unsigned zone answers" \
  dig_has @"$LAB_RESOLVER" +dnssec MX example.net -- 'MX[[:space:]]+10 mx\.example\.net\.'
lab_check "unsigned zone answers without AD" \
  dig_has @"$LAB_RESOLVER" +dnssec MX example.net -- '^;; Flags: qr rd ra;'
lab_check "names outside the lab do not exist" \
  dig_has @"$LAB_RESOLVER" A www.example.com -- 'status: NXDOMAIN'

greets() { # address: the first reply is a 220 greeting
  local replies
  replies=$(smtp_chat "$1") || return 1
  [[ "$replies" == "220 "* ]]
}
rcpt_reply() { # address recipient expected-prefix: RCPT TO gets that reply
  local replies rcpt
  replies=$(smtp_chat "$1" "EHLO client.lab.example" \
    "MAIL FROM:<sender@example.net>" "RCPT TO:<$2>") || return 1
  rcpt=$(sed -n 4p <<<"$replies")
  [[ "$rcpt" == "$3"* ]] || { echo "    RCPT TO:<$2> got: $rcpt"; return 1; }
}
refuses() { # address: nothing listens on port 25
  ! (exec 3<>"/dev/tcp/$1/25") 2>/dev/null
}

for address in 192.0.2.25 2001:db8::25 198.51.100.25 2001:db8:100::25; do
  lab_check "SMTP greeting 220 at $address" greets "$address"
done
lab_check "known recipient accepted" rcpt_reply 192.0.2.25 known@lab.example "250 2.1.5 "
lab_check "unknown recipient refused" rcpt_reply 198.51.100.25 unknown@lab.example "550 5.1.1 "
lab_check "tempfail host defers" rcpt_reply 203.0.113.26 known@busy.lab.example "450 "
lab_check "catchall host accepts anyone" rcpt_reply 203.0.113.27 nobody@mixed.lab.example "250 "
ehlo_lines() { # address name: the EHLO reply matches lab_greeting_and_ehlo
  local fd line got=""
  exec {fd}<>"/dev/tcp/$1/25" || return 1
  IFS= read -r -t 5 line <&"$fd" && got="< ${line%$'\r'}"$'\n'"> EHLO client.lab.example"
  printf 'EHLO client.lab.example\r\n' >&"$fd"
  while IFS= read -r -t 5 line <&"$fd"; do
    got+=$'\n'"< ${line%$'\r'}"
    [ "${line:3:1}" = "-" ] || break
  done
  printf 'QUIT\r\n' >&"$fd"
  exec {fd}>&-
  [ "$got" = "$(lab_greeting_and_ehlo "$2")" ] || { echo "$got" | sed 's/^/    /'; return 1; }
}
lab_check "greeting and EHLO as lab_greeting_and_ehlo says" ehlo_lines 198.51.100.25 mx2.lab.example
lab_check "nothing listens on the dead MX" refuses 203.0.113.25
lab_check "nothing listens on the dead MX over IPv6" refuses 2001:db8:113::25

# The variants need a lab of their own.
lab_check "lab with LAB_RESOLV=none LAB_TLS=on" \
  env -u LAB_INSIDE LAB_RESOLV=none LAB_TLS=on "$lab_lib_dir/lab.sh" run -- bash "$0" --variant
lab_summary
