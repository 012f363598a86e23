#!/usr/bin/env bash
# Runs the program against the lab's mail domains and compares the whole
# output byte for byte: how a domain's lookup result becomes a message and
# an exit code, and how the hosts of a domain are walked (stop at the first
# definitive answer unless -a, smallest result over all hosts).
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
lab_enter "$@"

if [ "${1:-}" = "--no-nameserver" ]; then
  expect_zarvik "no name server configured" 99 -- -dlab.example <<'EOF'
Unable to auto detect the name server

EOF
  lab_summary
  exit
fi

# The EHLO exchange with one of the lab's Postfix listeners.
ehlo() {
  cat <<EOF
< 220 $1 ESMTP Lab
> EHLO client.lab.example
< 250-$1
< 250-PIPELINING
< 250-SIZE 10240000
< 250-VRFY
< 250-ETRN
< 250-ENHANCEDSTATUSCODES
< 250-8BITMIME
< 250-DSN
< 250-SMTPUTF8
< 250 CHUNKING
EOF
}

# --- Recipient addresses that are not well formed: nothing is printed.
expect_zarvik "recipient without @" 1 -- -tknown.lab.example </dev/null
expect_zarvik "recipient with two dots in a row" 1 -- -tx..y@lab.example </dev/null

# --- Lookup results that end the run before any host is probed.
expect_zarvik "recipient's domain replaces -d" 1 -- -dlab.example -tx@nullmx.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain nullmx.lab.example
Error: The domain has a Null MX record [109]
EOF
expect_zarvik "domain does not exist" 1 -- -dnosuchdomain.lab.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain nosuchdomain.lab.example
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
expect_zarvik "answer fails validation" 99 -- -dbogus.example <<'EOF'
Using nameserver 192.0.2.53

Testing MX connection with domain bogus.example
Error: DNS server reported a server failure [101]
EOF

# --- Walking the hosts.
expect_zarvik "permanent refusal stops at the first host" 1 -- \
  -tnobody@mixed.lab.example -fsender@example.net <<EOF
Using nameserver 192.0.2.53

Testing MX connection with domain mixed.lab.example
MX for mixed.lab.example is mx1.lab.example [2001:db8:0:0:0:0:0:25]
MX for mixed.lab.example is mx1.lab.example [192.0.2.25]
MX for mixed.lab.example is catchall.lab.example [203.0.113.27]
Connecting with mx1.lab.example [2001:db8:0:0:0:0:0:25]
Connection established with 2001:db8:0:0:0:0:0:25
$(ehlo mx1.lab.example)
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> RCPT TO:<nobody@mixed.lab.example>
< 550 5.1.1 <nobody@mixed.lab.example>: Recipient address rejected: User unknown in local recipient table
Error: Permanent message handling problem [60]
> QUIT
< 221 2.0.0 Bye
Connection closed with mx1.lab.example [2001:db8:0:0:0:0:0:25]
EOF

expect_zarvik "-a probes every host and one acceptance wins" 0 -- \
  -a -tnobody@mixed.lab.example -fsender@example.net <<EOF
Using nameserver 192.0.2.53

Testing MX connection with domain mixed.lab.example
MX for mixed.lab.example is mx1.lab.example [2001:db8:0:0:0:0:0:25]
MX for mixed.lab.example is mx1.lab.example [192.0.2.25]
MX for mixed.lab.example is catchall.lab.example [203.0.113.27]
Connecting with mx1.lab.example [2001:db8:0:0:0:0:0:25]
Connection established with 2001:db8:0:0:0:0:0:25
$(ehlo mx1.lab.example)
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> RCPT TO:<nobody@mixed.lab.example>
< 550 5.1.1 <nobody@mixed.lab.example>: Recipient address rejected: User unknown in local recipient table
Error: Permanent message handling problem [60]
> QUIT
< 221 2.0.0 Bye
Connection closed with mx1.lab.example [2001:db8:0:0:0:0:0:25]
Connecting with mx1.lab.example [192.0.2.25]
Connection established with 192.0.2.25
$(ehlo mx1.lab.example)
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> RCPT TO:<nobody@mixed.lab.example>
< 550 5.1.1 <nobody@mixed.lab.example>: Recipient address rejected: User unknown in local recipient table
Error: Permanent message handling problem [60]
> QUIT
< 221 2.0.0 Bye
Connection closed with mx1.lab.example [192.0.2.25]
Connecting with catchall.lab.example [203.0.113.27]
Connection established with 203.0.113.27
$(ehlo catchall.lab.example)
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> RCPT TO:<nobody@mixed.lab.example>
< 250 2.1.5 Ok
> QUIT
< 221 2.0.0 Bye
Connection closed with catchall.lab.example [203.0.113.27]
EOF

expect_zarvik "unreachable hosts are passed over" 0 -- \
  -tknown@backup.lab.example -fsender@example.net <<EOF
Using nameserver 192.0.2.53

Testing MX connection with domain backup.lab.example
MX for backup.lab.example is dead.lab.example [2001:db8:113:0:0:0:0:25]
MX for backup.lab.example is dead.lab.example [203.0.113.25]
MX for backup.lab.example is mx2.lab.example [2001:db8:100:0:0:0:0:25]
MX for backup.lab.example is mx2.lab.example [198.51.100.25]
Connecting with dead.lab.example [2001:db8:113:0:0:0:0:25]
Error: Connection refused [10061]
Connecting with dead.lab.example [203.0.113.25]
Error: Connection refused [10061]
Connecting with mx2.lab.example [2001:db8:100:0:0:0:0:25]
Connection established with 2001:db8:100:0:0:0:0:25
$(ehlo mx2.lab.example)
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> RCPT TO:<known@backup.lab.example>
< 250 2.1.5 Ok
> QUIT
< 221 2.0.0 Bye
Connection closed with mx2.lab.example [2001:db8:100:0:0:0:0:25]
EOF

tempfail() { # host address recipient
  cat <<EOF
Connecting with $1 [$2]
Connection established with $2
$(ehlo "$1")
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> RCPT TO:<$3>
< 450 4.3.2 <$3>: Recipient address rejected: Try again later
Error: Temporary message handling problem [61]
> QUIT
< 221 2.0.0 Bye
Connection closed with $1 [$2]
EOF
}
expect_zarvik "temporary refusals everywhere give 2" 2 -- \
  -tknown@busy.lab.example -fsender@example.net <<EOF
Using nameserver 192.0.2.53

Testing MX connection with domain busy.lab.example
MX for busy.lab.example is tempfail1.lab.example [203.0.113.26]
MX for busy.lab.example is tempfail2.lab.example [203.0.113.28]
$(tempfail tempfail1.lab.example 203.0.113.26 known@busy.lab.example)
$(tempfail tempfail2.lab.example 203.0.113.28 known@busy.lab.example)
EOF

# --- A machine without a configured name server needs a lab of its own.
lab_check "no name server configured (LAB_RESOLV=none)" \
  env -u LAB_INSIDE LAB_RESOLV=none "$lab_lib_dir/lab.sh" run -- bash "$0" --no-nameserver
lab_summary
