#!/usr/bin/env bash
# The MX test end to end against the lab's Postfix listeners: the transcript
# of the probe, the envelope test with known and unknown recipients, the
# rules that decide which hosts are probed and the exit code, the forced
# address, HELO, and the output file.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
lab_enter "$@"

# envelope RECIPIENT RCPT-REPLY [ERROR-LINE]: MAIL FROM, RCPT TO and QUIT.
envelope() {
  echo "> MAIL FROM:<sender@example.net>"
  echo "< 250 2.1.0 Ok"
  echo "> RCPT TO:<$1>"
  echo "< $2"
  [ -z "${3:-}" ] || echo "$3"
  echo "> QUIT"
  echo "< 221 2.0.0 Bye"
}

head_lines() { # DOMAIN: name server and the MX test line
  printf 'Using nameserver 192.0.2.53\n\nTesting MX connection with domain %s\n' "$1"
}

unknown_reply() { # RECIPIENT
  echo "550 5.1.1 <$1>: Recipient address rejected: User unknown in local recipient table"
}
permanent="Error: Permanent message handling problem [60]"
temporary="Error: Temporary message handling problem [61]"

expect_zarvik "known recipient accepted" 0 -- -tknown@lab.example -fsender@example.net <<EOF
$(head_lines lab.example)
MX for lab.example is mx1.lab.example [2001:db8:0:0:0:0:0:25]
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [2001:db8:100:0:0:0:0:25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_connected mx1.lab.example 2001:db8:0:0:0:0:0:25)
$(lab_greeting_and_ehlo mx1.lab.example)
$(envelope known@lab.example "250 2.1.5 Ok")
Connection closed with mx1.lab.example [2001:db8:0:0:0:0:0:25]
EOF

# A permanent refusal is definitive: the second MX host is not asked.
expect_zarvik "unknown recipient refused" 1 -- -tunknown@lab.example -fsender@example.net -IPv4 <<EOF
$(head_lines lab.example)
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_connected mx1.lab.example 192.0.2.25)
$(lab_greeting_and_ehlo mx1.lab.example)
$(envelope unknown@lab.example "$(unknown_reply unknown@lab.example)" "$permanent")
Connection closed with mx1.lab.example [192.0.2.25]
EOF

mixed_first="$(head_lines mixed.lab.example)
MX for mixed.lab.example is mx1.lab.example [192.0.2.25]
MX for mixed.lab.example is catchall.lab.example [203.0.113.27]
$(lab_connected mx1.lab.example 192.0.2.25)
$(lab_greeting_and_ehlo mx1.lab.example)
$(envelope nobody@mixed.lab.example "$(unknown_reply nobody@mixed.lab.example)" "$permanent")
Connection closed with mx1.lab.example [192.0.2.25]"

expect_zarvik "first host refuses permanently, second not asked" 1 -- \
    -tnobody@mixed.lab.example -fsender@example.net -IPv4 <<EOF
$mixed_first
EOF

expect_zarvik "-a asks every host; one acceptance wins" 0 -- \
    -tnobody@mixed.lab.example -fsender@example.net -IPv4 -a <<EOF
$mixed_first
$(lab_connected catchall.lab.example 203.0.113.27)
$(lab_greeting_and_ehlo catchall.lab.example)
$(envelope nobody@mixed.lab.example "250 2.1.5 Ok")
Connection closed with catchall.lab.example [203.0.113.27]
EOF

# Nothing listens on the first MX host: the refused connection is reported
# once, without a closing line, and the second host is probed.
backup="$(head_lines backup.lab.example)
MX for backup.lab.example is dead.lab.example [203.0.113.25]
MX for backup.lab.example is mx2.lab.example [198.51.100.25]
Connecting with dead.lab.example [203.0.113.25]
Error: Connection refused [10061]
$(lab_connected mx2.lab.example 198.51.100.25)
$(lab_greeting_and_ehlo mx2.lab.example)
$(envelope known@backup.lab.example "250 2.1.5 Ok")
Connection closed with mx2.lab.example [198.51.100.25]"
for all in "" -a; do
  expect_zarvik "first host refuses the connection ${all:-(no -a)}" 0 -- \
      -tknown@backup.lab.example -fsender@example.net -IPv4 $all <<EOF
$backup
EOF
done

expect_zarvik "both hosts refuse temporarily" 2 -- -tknown@busy.lab.example -fsender@example.net <<EOF
$(head_lines busy.lab.example)
MX for busy.lab.example is tempfail1.lab.example [203.0.113.26]
MX for busy.lab.example is tempfail2.lab.example [203.0.113.28]
$(lab_connected tempfail1.lab.example 203.0.113.26)
$(lab_greeting_and_ehlo tempfail1.lab.example)
$(envelope known@busy.lab.example "450 4.3.2 <known@busy.lab.example>: Recipient address rejected: Try again later" "$temporary")
Connection closed with tempfail1.lab.example [203.0.113.26]
$(lab_connected tempfail2.lab.example 203.0.113.28)
$(lab_greeting_and_ehlo tempfail2.lab.example)
$(envelope known@busy.lab.example "450 4.3.2 <known@busy.lab.example>: Recipient address rejected: Try again later" "$temporary")
Connection closed with tempfail2.lab.example [203.0.113.28]
EOF

# Without a recipient only the sender is tried.
expect_zarvik "sender without recipient" 0 -- -dlab.example -fsender@example.net -IPv4 <<EOF
$(head_lines lab.example)
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_connected mx1.lab.example 192.0.2.25)
$(lab_greeting_and_ehlo mx1.lab.example)
> MAIL FROM:<sender@example.net>
< 250 2.1.0 Ok
> QUIT
< 221 2.0.0 Bye
Connection closed with mx1.lab.example [192.0.2.25]
EOF

expect_zarvik "HELO instead of EHLO" 0 -- -dlab.example -IPv4 -n <<EOF
$(head_lines lab.example)
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_connected mx1.lab.example 192.0.2.25)
< 220 mx1.lab.example ESMTP Lab
> HELO client.lab.example
< 250 mx1.lab.example
> QUIT
< 221 2.0.0 Bye
Connection closed with mx1.lab.example [192.0.2.25]
EOF

expect_zarvik "invalid forced address is only a warning" 0 -- -dlab.example -IPv4 -IP192.0.2.300 <<EOF
$(head_lines lab.example)
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
Warning: Invalid IP 192.0.2.300
$(lab_probe_without_sender mx1.lab.example 192.0.2.25 mx1.lab.example)
EOF

expect_zarvik "forced address replaces the host's" 0 -- -dlab.example -IPv4 -IP198.51.100.25 <<EOF
$(head_lines lab.example)
MX for lab.example is mx1.lab.example [192.0.2.25]
MX for lab.example is mx2.lab.example [198.51.100.25]
$(lab_probe_without_sender mx1.lab.example 198.51.100.25 mx2.lab.example)
EOF

# -o: the file receives exactly the bytes of standard output.
same_bytes_in_file() {
  local work out status=0
  work=$(mktemp -d "$LAB_DIR/out.XXXXXX")
  out="$work/out.txt"
  TEMP="$work" "$(lab_binary)" -tnobody@mixed.lab.example -fsender@example.net -IPv4 -a "-o$out" \
      >"$work/stdout" || status=$?
  [ "$status" -eq 0 ] || { echo "    exit code $status"; return 1; }
  [ -s "$work/stdout" ] || { echo "    nothing printed"; return 1; }
  cmp "$work/stdout" "$out" || return 1
  rm -rf "$work"
}
lab_check "-o file holds the same bytes as standard output" same_bytes_in_file

lab_summary
