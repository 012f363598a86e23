#!/usr/bin/env bash
# The MX test driver end to end, as far as DNS decides the outcome: which
# name server is used, which hosts are listed in which order, and the exit
# codes of domains without a usable mail host. Runs the built program in the
# lab (tests/lab) against Unbound and Knot; the hosts that are listed are
# probed against the lab's Postfix without a sender.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
lab_enter "$@"

case "${1:-}" in
  --no-nameserver)
    # resolv.conf names no server and no -qDNS is given.
    expect_zarvik "no name server detected" 99 -- -dlab.example <<'EOF'
Unable to auto detect the name server

EOF
    lab_summary
    exit
    ;;
  --dual)
    # Both resolver addresses in resolv.conf, listed in file order.
    expect_zarvik "two detected name servers" 0 -- -dlab.example -IPv4 <<EOF
Using nameserver 192.0.2.53 2001:db8::53

Testing MX connection with domain lab.example
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_probe_without_sender mx1.lab.example 192.0.2.25 mx1.lab.example)
EOF
    lab_summary
    exit
    ;;
esac

v4_listing="Testing MX connection with domain lab.example
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_probe_without_sender mx1.lab.example 192.0.2.25 mx1.lab.example)"

expect_zarvik "name server from resolv.conf" 0 -- -dlab.example -IPv4 <<EOF
Using nameserver 192.0.2.53

$v4_listing
EOF

expect_zarvik "name server given" 0 -- -dlab.example -qDNS192.0.2.53 -IPv4 <<EOF
Using nameserver 192.0.2.53

$v4_listing
EOF

# Knot answers authoritatively and hands the hosts' addresses along in the
# additional section, AAAA included; they are used as they are (no further
# query), and the IPv4 preference only puts each host's IPv4 address first.
expect_zarvik "two name servers given, duplicate dropped" 0 -- \
    "-qDNS192.0.2.54, 192.0.2.53 192.0.2.54" -dlab.example -IPv4 <<EOF
Using nameserver 192.0.2.54 192.0.2.53

Testing MX connection with domain lab.example
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx1.lab.example [2001:db8:0:0:0:0:0:25]
MX for lab.example is mx2.lab.example [198.51.100.25]
MX for lab.example is mx2.lab.example [2001:db8:100:0:0:0:0:25]
$(lab_probe_without_sender mx1.lab.example 192.0.2.25 mx1.lab.example)
EOF

expect_zarvik "DNS over TCP" 0 -- -dlab.example -IPv4 -u <<EOF
Using nameserver 192.0.2.53

$v4_listing
EOF

# A text without any address: nothing is said about the name server, and
# the MX lookup has no server to ask.
expect_zarvik "name server text without an address" 99 -- -dlab.example -qDNSdns.lab.example <<'EOF'
Testing MX connection with domain lab.example
Error: Unknown Error [2]
EOF

# The client has a global IPv6 address (2001:db8::10), so IPv6 comes first
# both without a preference and with the IPv6 preference.
for pref in "" -IPv6; do
  expect_zarvik "MX listing, IPv6 first ${pref:-(no preference)}" 0 -- -dlab.example $pref <<EOF
Using nameserver 192.0.2.53

Testing MX connection with domain lab.example
MX for lab.example is mx1.lab.example [2001:db8:0:0:0:0:0:25]
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [2001:db8:100:0:0:0:0:25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_probe_without_sender mx1.lab.example 2001:db8:0:0:0:0:0:25 mx1.lab.example)
EOF
done

expect_zarvik "recipient domain replaces -d" 0 -- -dnullmx.lab.example -tknown@lab.example -IPv4 <<EOF
Using nameserver 192.0.2.53

$v4_listing
EOF

expect_zarvik "domain without MX falls back to its address" 0 -- -dfallback.lab.example -IPv4 <<EOF
Using nameserver 192.0.2.53

Testing MX connection with domain fallback.lab.example
MX for fallback.lab.example is fallback.lab.example [192.0.2.25]
$(lab_probe_without_sender fallback.lab.example 192.0.2.25 mx1.lab.example)
EOF

expect_zarvik "null MX" 1 -- -dnullmx.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain nullmx.lab.example
Error: The domain has a Null MX record [109]
EOF

expect_zarvik "domain does not exist" 1 -- -dnosuch.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain nosuch.lab.example
Error: DNS server reported that the domain does not exist [105]
EOF

expect_zarvik "MX points to localhost" 1 -- -dloopback.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain loopback.lab.example
Error: The MX record points to localhost [107]
EOF

expect_zarvik "neither MX nor address" 1 -- -dempty.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain empty.lab.example
Error: Unable to get the name of the mail host from the DNS server [96]
EOF

# The MX host's name does not exist: it is listed by name and cannot be
# connected to.
expect_zarvik "MX host without address" 99 -- -ddangling.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain dangling.lab.example
MX for dangling.lab.example is nowhere.lab.example
Connecting with nowhere.lab.example
Error: Unable to convert hostname to IP address ( no answer from DNS server ) [3]
EOF

expect_zarvik "host mode" 0 -- -hmx2.lab.example -dlab.example <<EOF
Using nameserver 192.0.2.53

Testing connection with host mx2.lab.example
Host resolved to mx2.lab.example [2001:db8:100:0:0:0:0:25]
Host resolved to mx2.lab.example [198.51.100.25]
$(lab_probe_without_sender mx2.lab.example 2001:db8:100:0:0:0:0:25 mx2.lab.example)
EOF

expect_zarvik "host mode, IPv4 preferred, over TCP" 0 -- -hmx2.lab.example -dlab.example -IPv4 -u <<EOF
Using nameserver 192.0.2.53

Testing connection with host mx2.lab.example
Host resolved to mx2.lab.example [198.51.100.25]
$(lab_probe_without_sender mx2.lab.example 198.51.100.25 mx2.lab.example)
EOF

for address in user a..b@lab.example .user@lab.example user@-lab.example "user@lab.example x" \
    '"open@lab.example'; do
  EXPECT_RAW=1 expect_zarvik "malformed recipient <$address>" 1 -- "-t$address" </dev/null
done

lab_check "no name server in resolv.conf (own lab)" \
  env -u LAB_INSIDE LAB_RESOLV=none "$lab_lib_dir/lab.sh" run -- bash "$0" --no-nameserver
lab_check "two name servers in resolv.conf (own lab)" \
  env -u LAB_INSIDE LAB_RESOLV=dual "$lab_lib_dir/lab.sh" run -- bash "$0" --dual
lab_summary
