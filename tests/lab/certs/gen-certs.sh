#!/usr/bin/env bash
# Makes the lab's test-only CA and the certificates of the lab's mail
# servers and of its HTTPS server for MTA-STS policies, then prints the
# TLSA records that belong in the lab zone (RFC 6698).  The keys protect
# nothing; they are committed so that the TLSA records in the lab zone stay
# the same from run to run.
#
#   gen-certs.sh            a new CA and new certificates for every host
#   gen-certs.sh HOST...    new certificates for these hosts only (mx1, mx2,
#                           tls10, weak, mta, mta-sts), issued by the CA
#                           already here
#
# After a new CA or a new mx1 or mx2 key, paste the printed records into
# ../zones/lab.example.zone and mind the fixed hashes in the e2e tests.
set -euo pipefail
cd "$(dirname "$0")"
days=36500

# Subject alternative names of each host's certificate.
declare -A sans=(
  [mx1]="DNS:mx1.lab.example,DNS:mail.lab.example"
  [mx2]="DNS:mx2.lab.example"
  [tls10]="DNS:tls10.lab.example"
  [weak]="DNS:weak.lab.example"
  # An MX host without TLSA records, for the MTA-STS domains: only the CA
  # can vouch for it.
  [mta]="DNS:mta.lab.example"
  # The policy host of every MTA-STS domain of the lab (RFC 8461 section
  # 3.3) but one: mta-sts.sts-webpki gets mx2's certificate, which does not
  # name it.
  [mta-sts]=$(printf 'DNS:mta-sts.%s.lab.example,' sts sts-testing sts-none \
    sts-evil sts-mismatch sts-redirect sts-missing sts-type sts-big sts-huge \
    sts-maxage sts-two sts-silent | sed 's/^/DNS:mta-sts.lab.example,/; s/,$//')
)

hosts=("$@")
if [ ${#hosts[@]} -eq 0 ]; then
  hosts=(mx1 mx2 tls10 weak mta mta-sts)
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
    -keyout ca.key -out ca.pem -subj "/O=Lab Example/CN=Lab Example Root CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
fi

issue() { # name, subjectAltName list
  local name=$1 san=$2
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$name.key" -out "$name.csr" \
    -subj "/O=Lab Example/CN=$name.lab.example" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial \
    -sha256 -days "$days" -out "$name.pem" \
    -extfile <(printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' "$san") 2>/dev/null
  rm -f "$name.csr"
}
for host in "${hosts[@]}"; do
  [ -n "${sans[$host]:-}" ] || { echo "gen-certs.sh: unknown host $host" >&2; exit 2; }
  issue "$host" "${sans[$host]}"
done
rm -f ca.srl
chmod 644 ./*.key

spki_sha256() { openssl x509 -in "$1" -noout -pubkey | openssl pkey -pubin -outform DER | openssl dgst -sha256 -r | cut -d' ' -f1; }
cert_sha256() { openssl x509 -in "$1" -outform DER | openssl dgst -sha256 -r | cut -d' ' -f1; }

echo "_25._tcp.mx1 TLSA 3 1 1 $(spki_sha256 mx1.pem)"
echo "_25._tcp.mx1 TLSA 2 0 1 $(cert_sha256 ca.pem)"
# mx2's record must not match mx2: it holds the CA key's digest, which is
# no leaf key of the lab.
echo "_25._tcp.mx2 TLSA 3 1 1 $(spki_sha256 ca.pem)"
