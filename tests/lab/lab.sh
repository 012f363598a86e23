#!/usr/bin/env bash
# The lab: real DNS and mail servers, and an HTTPS server for MTA-STS
# policies, in a private network namespace, so that the program can be run
# end to end on a machine without internet.
#
#   lab.sh run [--] COMMAND [ARG...]   start the lab, run COMMAND inside it,
#                                      tear the lab down, exit with COMMAND's
#                                      exit code
#   lab.sh shell                       an interactive shell inside the lab
#   lab.sh check                       exit 0 when this machine can host the
#                                      lab, else print why and exit 77
#
# Environment:
#   LAB_RESOLV=v4 (default) | v6 | dual | none | FILE
#               what the lab's /etc/resolv.conf names: the resolver's IPv4
#               address, its IPv6 address, both, no "nameserver" line at
#               all, or the contents of FILE
#   LAB_TLS=off (default) | on | legacy
#               whether the mail servers offer STARTTLS (TLS 1.0 to 1.3,
#               tls10 and weak less: see README.md);
#               "legacy" also allows the weak ciphers of OpenSSL
#               security level 0
#   LAB_KEEP=1                   keep the lab's folder (configs, logs) and
#                                print its path at the end
#   LAB_VERBOSE=1                say what the lab is doing on stderr
#   LAB_SCALE=1                  also serve scale.example, 20,000 made-up
#                                mail domains on 50 more listeners, for
#                                batch runs and benchmarks (see README.md)
#   LAB_DELAY=DELAY              make every round trip in the lab DELAY
#                                longer (tc's syntax, e.g. 50ms): netem
#                                where the kernel has it, else a TUN device
#
# Inside the lab COMMAND sees LAB_INSIDE=1, LAB_DIR (the lab's folder),
# LAB_DOMAIN, LAB_RESOLVER, LAB_RESOLVER6 and MAIL_CONFIG (a Postfix
# configuration folder for the client tools).  See README.md beside this
# file for the addresses and zone contents.
# With LAB_SCALE=1 it also sees LAB_SCALE_UNIQUE and LAB_SCALE_SHARED (the
# scale zone's target lists) and LAB_MAILLOG (Postfix's log, one "connect
# from" line per session); with LAB_DELAY, LAB_DELAY_APPLIED=1 or 0 and
# LAB_DELAY_BY=netem or tun.
#
# Everything runs inside new network, mount, UTS and PID namespaces: the
# servers can reach nothing but each other, /etc/resolv.conf and /etc/hosts
# are private bind mounts, and when the lab's first process ends the kernel
# ends every process left in the PID namespace, even after a SIGKILL.
set -euo pipefail

lab_home="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
lab_self="$lab_home/$(basename "${BASH_SOURCE[0]}")"

say() { [ "${LAB_VERBOSE:-0}" = 1 ] && echo "lab: $*" >&2 || true; }
fail() { echo "lab: $*" >&2; exit 1; }

# Prints why the lab cannot run here, or nothing when it can.
lab_obstacle() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "the lab needs root (network namespaces, servers on port 25 and 53)"
    return
  fi
  local tool
  for tool in unshare ip knotd kdig unbound /usr/lib/postfix/sbin/master nginx python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "missing $tool (run scripts/install-deps)"; return; }
  done
  local err
  if ! err=$(unshare --net --mount --uts --pid --fork --mount-proc \
      sh -c 'ip link set lo up && ip link add lab0 type veth peer name lab1 &&
             ip -6 addr add 2001:db8::1/64 dev lab0 nodad &&
             mount --bind /etc/hosts /etc/hosts' 2>&1); then
    echo "cannot create the lab's namespaces: ${err:-unshare failed}"
  fi
}

case "${1:-}" in
  check)
    reason=$(lab_obstacle)
    if [ -n "$reason" ]; then echo "lab unavailable: $reason"; exit 77; fi
    exit 0
    ;;
  run)
    shift
    [ "${1:-}" = "--" ] && shift
    [ $# -gt 0 ] || fail "usage: lab.sh run [--] COMMAND [ARG...]"
    reason=$(lab_obstacle)
    [ -z "$reason" ] || fail "$reason"
    # --kill-child: if this process dies, even by SIGKILL, the lab's first
    # process gets SIGTERM and cleans up; when it ends, the kernel ends
    # whatever is left in the PID namespace.
    exec unshare --net --mount --uts --pid --fork --mount-proc --kill-child=TERM \
      bash "$lab_self" __inside "$@"
    ;;
  shell)
    exec "$lab_self" run -- bash -i
    ;;
  __inside)
    shift
    ;;
  *)
    sed -n '2,/^set -euo/p' "$lab_self" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
    ;;
esac

# ---------------------------------------------------------------------------
# From here on we are the first process of the lab's namespaces.

domain=lab.example
resolver=192.0.2.53
resolver6=2001:db8::53
auth=192.0.2.54
auth6=2001:db8::54
scale=0
case "${LAB_SCALE:-0}" in
  0) ;;
  1) scale=1 ;;
  *) fail "LAB_SCALE: 0 or 1, not ${LAB_SCALE}" ;;
esac

# The postfix user must be able to reach its queue, so the folder is not
# private to root; its contents hold nothing secret.
dir=$(mktemp -d /tmp/zarvik-lab.XXXXXX)
chmod 755 "$dir"
# On a tmpfs the lab's files vanish with its mount namespace, even when the
# clean-up below never runs.
[ "${LAB_KEEP:-0}" = 1 ] || mount -t tmpfs -o mode=755,size=64m zarvik-lab "$dir"
# The scale zone's session logs and a benchmark's inputs and records need
# more room; a tmpfs takes memory only for what it holds.
if [ "$scale" = 1 ] && [ "${LAB_KEEP:-0}" != 1 ]; then
  mount -o remount,size=4g "$dir"
fi
pids=()

cleanup() {
  local rc=$? pid i
  trap - EXIT INT TERM
  # Newest first: the command (when a signal cut it short), then the mail
  # server, which may still ask the resolver.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ "${LAB_KEEP:-0}" = 1 ]; then
    echo "lab: kept $dir" >&2
  else
    umount "$dir" 2>/dev/null || true
    rm -rf "$dir" 2>/dev/null || true
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# wait_for WHAT SECONDS LOG PID COMMAND...: waits until COMMAND succeeds, for
# at most SECONDS, and fails at once when process PID has ended; on failure
# prints WHAT and the tail of LOG.
wait_for() {
  local what=$1 seconds=$2 log=$3 pid=$4
  shift 4
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
      echo "lab: $what did not come up" >&2
      [ -f "$log" ] && tail -n 20 "$log" >&2
      return 1
    fi
    sleep 0.02
  done
}

# --- Network ---------------------------------------------------------------
# A veth pair stands in for a wire: lab0 is the test client's side, lab1
# carries the servers' addresses.  Both ends are in this namespace, so the
# kernel delivers locally; the pair gives the client a real (non-loopback)
# interface with a global IPv6 address.
say "network"
ip link set lo up
ip link add lab0 type veth peer name lab1
ip link set lab0 up
ip link set lab1 up
ip addr add 192.0.2.10/24 dev lab0
ip -6 addr add 2001:db8::10/64 dev lab0 nodad
for a in 192.0.2.25 192.0.2.26 192.0.2.53 192.0.2.54 192.0.2.80 \
         198.51.100.25 198.51.100.26 203.0.113.10 203.0.113.12 203.0.113.25 \
         203.0.113.26 203.0.113.27 203.0.113.28; do
  ip addr add "$a/24" dev lab1
done
for a in 2001:db8::25 2001:db8::53 2001:db8::54 2001:db8::80 2001:db8:100::25 \
         2001:db8:113::25; do
  ip -6 addr add "$a/64" dev lab1 nodad
done
# 203.0.113.99 answers nothing at all: its frames go to a MAC address that
# no interface has, so a TCP connect there runs into its time-out.
ip neigh add 203.0.113.99 lladdr 02:00:00:00:00:63 dev lab1 nud permanent
# Scale mode: the 50 listeners of the scale zone, and 50 more black holes
# made like 203.0.113.99.  One "ip -batch" instead of 100 processes.
if [ "$scale" = 1 ]; then
  for i in $(seq 100 149); do echo "address add 198.51.100.$i/24 dev lab1"; done |
    ip -batch -
  for i in $(seq 150 199); do
    echo "neighbour add 203.0.113.$i lladdr 02:00:00:00:00:63 dev lab1 nud permanent"
  done | ip -batch -
  # Every Postfix process logs through one datagram socket; the default
  # queue of 10 datagrams makes hundreds of sessions wait for the logger.
  echo 1024 >/proc/sys/net/unix/max_dgram_qlen
fi

# The UTS namespace is ours: this names the client for gethostname().
echo client.lab.example >/proc/sys/kernel/hostname
cat >"$dir/hosts" <<'EOF'
127.0.0.1	localhost
::1	localhost ip6-localhost ip6-loopback
192.0.2.10	client.lab.example client
2001:db8::10	client.lab.example client
EOF
mount --bind "$dir/hosts" /etc/hosts

{
  echo "# The lab's resolv.conf"
  echo "search lab.example"
  case "${LAB_RESOLV:-v4}" in
    v4) echo "nameserver $resolver" ;;
    v6) echo "nameserver $resolver6" ;;
    dual) echo "nameserver $resolver"; echo "nameserver $resolver6" ;;
    none) echo "options timeout:1" ;;
    *) [ -f "$LAB_RESOLV" ] || fail "LAB_RESOLV: no such file: $LAB_RESOLV"
       cat "$LAB_RESOLV" ;;
  esac
} >"$dir/resolv.conf"
mount --bind "$dir/resolv.conf" /etc/resolv.conf

# --- Mail servers: Postfix ---------------------------------------------------
# One Postfix instance with a listener per lab mail host; the listeners
# differ in host name and in how they treat recipients.
say "postfix"
pf="$dir/postfix"
mkdir -p "$pf/conf" "$pf/data" "$pf/queue"
chown postfix "$pf/data"
tls_level=none tls_legacy="#"
case "${LAB_TLS:-off}" in
  off) ;;
  on) tls_level=may ;;
  legacy) tls_level=may tls_legacy="" ;;
  *) fail "LAB_TLS: off, on or legacy, not ${LAB_TLS}" ;;
esac
# Each server sends its certificate and the lab CA's: a DANE-TA record
# (usage 2) can only match a certificate that the server sends (RFC 7671
# section 5.2.2).
for host in mx1 mx2 tls10 weak mta; do
  cat "$lab_home/certs/$host.pem" "$lab_home/certs/ca.pem" >"$pf/$host-chain.pem"
done
# The MTA-STS domains of the lab zone (all under lab.example): their MX
# hosts are mta's listener, which accepts known@ of each.
sts_domains=(sts sts-testing sts-none sts-evil sts-mismatch sts-redirect
  sts-missing sts-type sts-big sts-huge sts-maxage sts-two sts-webpki
  sts-silent)

cat >"$pf/conf/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $pf/queue
data_directory = $pf/data
mail_owner = postfix
setgid_group = postdrop
maillog_file = $pf/maillog
maillog_file_prefixes = $pf
myhostname = mx1.lab.example
mydomain = lab.example
myorigin = \$mydomain
mydestination = lab.example, backup.lab.example, mixed.lab.example,
  busy.lab.example, fallback.lab.example, cname.lab.example,
  v6only.lab.example, example.net, localhost,
  $(printf '%s.lab.example ' "${sts_domains[@]}")
mynetworks = 127.0.0.0/8 [::1]/128
inet_interfaces = all
inet_protocols = all
smtpd_banner = \$myhostname ESMTP Lab
# Only known@ (and postmaster@) exist; anything else is "550 5.1.1".
local_recipient_maps = inline:{ known=known, postmaster=postmaster }
alias_maps =
alias_database =
# Nothing accepted here ever leaves the lab or lands in a mailbox.
local_transport = discard:lab
default_transport = discard:lab
relay_transport = discard:lab
virtual_transport = discard:lab
biff = no
smtpd_peername_lookup = no
smtpd_tls_security_level = $tls_level
smtpd_tls_cert_file = $pf/mx1-chain.pem
smtpd_tls_key_file = $lab_home/certs/mx1.key
smtpd_tls_loglevel = 1
${tls_legacy}smtpd_tls_protocols = >=TLSv1
${tls_legacy}smtpd_tls_mandatory_protocols = >=TLSv1
${tls_legacy}tls_medium_cipherlist = DEFAULT:@SECLEVEL=0
EOF
# Services run unchrooted (column 5 "n"): a chroot would need copies of
# the system files.
cat >"$pf/conf/master.cf" <<EOF
192.0.2.25:smtp inet n - n - - smtpd
# mx1's submission ports (RFC 8314): 587 insists on STARTTLS before the
# envelope ("530 5.7.0"), 465 speaks TLS from the first byte.
192.0.2.25:submission inet n - n - - smtpd
  -o smtpd_tls_security_level=encrypt
192.0.2.25:submissions inet n - n - - smtpd
  -o smtpd_tls_security_level=encrypt
  -o smtpd_tls_wrappermode=yes
[2001:db8::25]:smtp inet n - n - - smtpd
198.51.100.25:smtp inet n - n - - smtpd
  -o myhostname=mx2.lab.example
  -o smtpd_tls_cert_file=$pf/mx2-chain.pem
  -o smtpd_tls_key_file=$lab_home/certs/mx2.key
[2001:db8:100::25]:smtp inet n - n - - smtpd
  -o myhostname=mx2.lab.example
  -o smtpd_tls_cert_file=$pf/mx2-chain.pem
  -o smtpd_tls_key_file=$lab_home/certs/mx2.key
198.51.100.26:smtp inet n - n - - smtpd
  -o myhostname=mx.example.net
# Old TLS only.  OpenSSL 3 allows TLS 1.0 and SHA-1 signatures only at
# security level 0, whatever the protocol range says.
203.0.113.10:smtp inet n - n - - smtpd
  -o myhostname=tls10.lab.example
  -o smtpd_tls_cert_file=$pf/tls10-chain.pem
  -o smtpd_tls_key_file=$lab_home/certs/tls10.key
  -o smtpd_tls_protocols=>=TLSv1,<=TLSv1
  -o smtpd_tls_mandatory_protocols=>=TLSv1,<=TLSv1
  -o tls_medium_cipherlist=DEFAULT:@SECLEVEL=0
# TLS 1.2 with NULL-SHA256 alone: no forward secrecy and no encryption.
# Debian's OpenSSL is built without 3DES and RC4 suites, so a NULL cipher
# is the one suite outside the HIGH class that both ends can still agree on.
203.0.113.12:smtp inet n - n - - smtpd
  -o myhostname=weak.lab.example
  -o smtpd_tls_cert_file=$pf/weak-chain.pem
  -o smtpd_tls_key_file=$lab_home/certs/weak.key
  -o smtpd_tls_protocols=>=TLSv1.2,<=TLSv1.2
  -o smtpd_tls_mandatory_protocols=>=TLSv1.2,<=TLSv1.2
  -o tls_medium_cipherlist=NULL-SHA256:@SECLEVEL=0
# The MX host of the MTA-STS domains, without TLSA records: a sender can
# trust its certificate only through the lab CA (RFC 8461 section 4.2).
192.0.2.26:smtp inet n - n - - smtpd
  -o myhostname=mta.lab.example
  -o smtpd_tls_cert_file=$pf/mta-chain.pem
  -o smtpd_tls_key_file=$lab_home/certs/mta.key
203.0.113.26:smtp inet n - n - - smtpd
  -o myhostname=tempfail1.lab.example
  -o smtpd_recipient_restrictions=defer
203.0.113.28:smtp inet n - n - - smtpd
  -o myhostname=tempfail2.lab.example
  -o smtpd_recipient_restrictions=defer
203.0.113.27:smtp inet n - n - - smtpd
  -o myhostname=catchall.lab.example
  -o smtpd_reject_unlisted_recipient=no
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
proxywrite unix -       -       n       -       1       proxymap
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
EOF
# Scale mode: one client opens hundreds of sessions at once, to 50
# listeners that take any recipient of the scale domains.  The anvil limits
# are off, since the lab has one client and it means to be heavy.
if [ "$scale" = 1 ]; then
  cat >>"$pf/conf/main.cf" <<EOF
default_process_limit = 600
smtpd_client_connection_count_limit = 0
smtpd_client_connection_rate_limit = 0
smtpd_client_message_rate_limit = 0
smtpd_client_recipient_rate_limit = 0
smtpd_client_new_tls_session_rate_limit = 0
smtpd_client_auth_rate_limit = 0
EOF
  for i in $(seq 100 149); do
    printf '198.51.100.%d:smtp inet n - n - - smtpd\n' "$i"
    printf '  -o myhostname=listener%02d.scale.example\n' $((i - 100))
    printf '  -o relay_domains=scale.example\n'
  done >>"$pf/conf/master.cf"
fi
# The queue layout that "postfix check" would make (see postfix-files), made
# directly: the check takes seconds.
for q in active bounce corrupt defer deferred flush hold incoming private saved trace; do
  install -d -o postfix -m 700 "$pf/queue/$q"
done
install -d -o postfix -g postdrop -m 730 "$pf/queue/maildrop"
install -d -o postfix -g postdrop -m 710 "$pf/queue/public"
install -d -o root -m 755 "$pf/queue/pid"
# The Postfix client tools that the command runs (posttls-finger) get a
# main.cf of their own through MAIL_CONFIG: /etc/postfix/main.cf is missing
# where Postfix was installed with "No configuration", and elsewhere holds
# the host's settings. The tools need Postfix's defaults only, not the
# listeners' settings in $pf/conf.
mkdir -p "$pf/tools"
echo "compatibility_level = 3.6" >"$pf/tools/main.cf"
/usr/lib/postfix/sbin/master -c "$pf/conf" >>"$pf/maillog" 2>&1 &
postfix_pid=$!
pids+=("$postfix_pid")

# --- Policy server: nginx ----------------------------------------------------
# The HTTPS host of every MTA-STS domain (RFC 8461 section 3.3): the policy
# at https://mta-sts.<domain>/.well-known/mta-sts.txt, or a fault a sender
# must notice.  Its configuration, logs, pid file and temporary folders are
# under $ng: nothing in /etc/nginx or /var/lib/nginx is used.
say "nginx"
ng="$dir/nginx"
sts_addr=192.0.2.80 sts_addr6=2001:db8::80
mkdir -p "$ng/temp" "$ng/www"
cat "$lab_home/certs/mta-sts.pem" "$lab_home/certs/ca.pem" >"$ng/mta-sts-chain.pem"
# policy DOMAIN BODY: the policy that mta-sts.DOMAIN serves; BODY with
# printf's backslash escapes.
policy() {
  mkdir -p "$ng/www/$1/.well-known"
  printf '%b' "$2" >"$ng/www/$1/.well-known/mta-sts.txt"
}
# padded_policy DOMAIN BYTES: a valid policy followed by lines of an unknown
# key, which a sender ignores (RFC 8461 section 3.2), BYTES long in all.
# The policy is 64 bytes and so is each padding line.
padded_policy() {
  local file="$ng/www/$1/.well-known/mta-sts.txt"
  policy "$1" "$enforce_mta"
  awk -v n=$(($2 / 64 - 1)) 'BEGIN {
    line = sprintf("x: %60s", ""); gsub(/ /, "x", line)
    for (i = 0; i < n; i++) print line }' >>"$file"
  [ "$(stat -c %s "$file")" -eq "$2" ] || fail "$file is not $2 bytes long"
}
enforce_mta='version: STSv1\nmode: enforce\nmx: mta.lab.example\nmax_age: 86400\n'
policy lab.example 'version: STSv1\nmode: enforce\nmx: mx1.lab.example\nmx: mx2.lab.example\nmax_age: 604800\n'
policy sts.lab.example 'version: STSv1\r\nmode: enforce\r\nmx: mta.lab.example\r\nmax_age: 31557600\r\n'
policy sts-testing.lab.example 'version: STSv1\nmode: testing\nmx: *.lab.example\nmax_age: 86400\n'
policy sts-none.lab.example 'version: STSv1\nmode: none\nmax_age: 86400\n'
policy sts-evil.lab.example 'version: STSv1\nmode: enforce\nmx: mta.lab.example\nmx: *.example\nmax_age: 31557600\n'
policy sts-mismatch.lab.example 'version: STSv1\nmode: enforce\nmx: *.lab.example\nmax_age: 31557600\n'
policy sts-maxage.lab.example 'version: STSv1\nmode: enforce\nmx: mta.lab.example\nmax_age: 99999999999\n'
for d in sts-type sts-two sts-webpki; do policy "$d.lab.example" "$enforce_mta"; done
padded_policy sts-big.lab.example 102400
padded_policy sts-huge.lab.example 10485760
# sts_server DOMAIN [DIRECTIVE...]: the server block of mta-sts.DOMAIN.
sts_server() {
  printf '    server {\n'
  printf '        listen %s:443 ssl;\n        listen [%s]:443 ssl;\n' "$sts_addr" "$sts_addr6"
  printf '        server_name mta-sts.%s;\n        root %s;\n' "$1" "$ng/www/$1"
  shift
  [ $# -eq 0 ] || printf '        %s\n' "$@"
  printf '    }\n'
}
{
  cat <<EOF
daemon off;
master_process on;
worker_processes 1;
pid $ng/nginx.pid;
lock_file $ng/nginx.lock;
error_log $ng/error.log notice;
events {
    worker_connections 64;
}
http {
    # No suffix mapping: every file is text/plain, so that a policy's
    # Content-Type is exactly that (RFC 8461 section 3.3), without charset.
    types {}
    default_type text/plain;
    server_tokens off;
    access_log $ng/access.log;
    client_body_temp_path $ng/temp/body;
    proxy_temp_path $ng/temp/proxy;
    fastcgi_temp_path $ng/temp/fastcgi;
    uwsgi_temp_path $ng/temp/uwsgi;
    scgi_temp_path $ng/temp/scgi;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_certificate $ng/mta-sts-chain.pem;
    ssl_certificate_key $lab_home/certs/mta-sts.key;
    # Names that no block below serves (or no SNI at all) get a 404.
    server {
        listen $sts_addr:443 ssl default_server;
        listen [$sts_addr6]:443 ssl default_server;
        return 404;
    }
EOF
  sts_server lab.example
  for d in sts sts-testing sts-none sts-evil sts-mismatch sts-big sts-huge \
           sts-maxage sts-two; do
    sts_server "$d.lab.example"
  done
  # Redirects must not be followed (RFC 8461 section 3.3).
  sts_server sts-redirect.lab.example \
    'location = /.well-known/mta-sts.txt { return 301 https://mta-sts.sts.lab.example/.well-known/mta-sts.txt; }'
  # No policy file: 404.
  sts_server sts-missing.lab.example
  sts_server sts-type.lab.example 'default_type text/html;'
  # A certificate that does not name the host.
  sts_server sts-webpki.lab.example "ssl_certificate $pf/mx2-chain.pem;" \
    "ssl_certificate_key $lab_home/certs/mx2.key;"
  echo "}"
} >"$ng/nginx.conf"
# -e: the error log before the configuration is read, so that the compiled-in
# path is never opened.
nginx -p "$ng" -c "$ng/nginx.conf" -e "$ng/error.log" >>"$ng/error.log" 2>&1 &
nginx_pid=$!
pids+=("$nginx_pid")

# --- Authoritative server: Knot --------------------------------------------
say "knot"
mkdir -p "$dir/knot/zones"
cp "$lab_home"/zones/*.zone "$dir/knot/zones/"
if [ "$scale" = 1 ]; then
  python3 "$lab_home/scale-zone.py" "$dir/knot/zones/scale.example.zone" \
    "$dir/scale-unique.txt" "$dir/scale-shared.txt"
fi
cat >"$dir/knot/knot.conf" <<EOF
server:
    rundir: "$dir/knot"
    listen: [ $auth@53, $auth6@53 ]
log:
  - target: "$dir/knot/knot.log"
    any: info
database:
    storage: "$dir/knot"
policy:
  - id: lab
    algorithm: ecdsap256sha256
    single-type-signing: on
    nsec3: off
template:
  - id: default
    storage: "$dir/knot/zones"
    file: "%s.zone"
    zonefile-sync: -1
    journal-content: none
zone:
  - domain: lab.example
    dnssec-signing: on
    dnssec-policy: lab
  - domain: bogus.example
    dnssec-signing: on
    dnssec-policy: lab
  - domain: example.net
EOF
if [ "$scale" = 1 ]; then
  printf '  - domain: scale.example\n    dnssec-signing: on\n    dnssec-policy: lab\n' \
    >>"$dir/knot/knot.conf"
fi
knotd -c "$dir/knot/knot.conf" >>"$dir/knot/knot.log" 2>&1 &
knot_pid=$!
pids+=("$knot_pid")
signed() { kdig @"$auth" +dnssec +norec +tcp +timeout=1 +retry=0 SOA "$1" | grep -q 'RRSIG.*SOA'; }
wait_for "knot (signing lab.example)" 15 "$dir/knot/knot.log" "$knot_pid" signed lab.example
wait_for "knot (signing bogus.example)" 15 "$dir/knot/knot.log" "$knot_pid" signed bogus.example
wait_for "knot (example.net)" 15 "$dir/knot/knot.log" "$knot_pid" \
  sh -c "kdig @$auth +norec +tcp +timeout=1 +retry=0 SOA example.net | grep -q 'status: NOERROR'"
if [ "$scale" = 1 ]; then
  wait_for "knot (signing scale.example)" 300 "$dir/knot/knot.log" "$knot_pid" signed scale.example
fi

# The trust anchor is the zone's own key, read back from Knot: the keys are
# made anew on every start.  bogus.example gets lab.example's key, which
# cannot verify its signatures.
dnskey=$(kdig @"$auth" +norec +short DNSKEY lab.example | grep '^257 ') ||
  fail "knot serves no DNSKEY for lab.example"
{
  echo "lab.example. DNSKEY $dnskey"
  echo "bogus.example. DNSKEY $dnskey"
} >"$dir/trust-anchors"
if [ "$scale" = 1 ]; then
  scale_key=$(kdig @"$auth" +norec +short DNSKEY scale.example | grep '^257 ') ||
    fail "knot serves no DNSKEY for scale.example"
  echo "scale.example. DNSKEY $scale_key" >>"$dir/trust-anchors"
fi

# --- Validating resolver: Unbound -------------------------------------------
say "unbound"
mkdir -p "$dir/unbound"
cat >"$dir/unbound/unbound.conf" <<EOF
server:
    interface: $resolver
    interface: $resolver6
    port: 53
    do-ip4: yes
    do-ip6: yes
    do-udp: yes
    do-tcp: yes
    access-control: 0.0.0.0/0 allow
    access-control: ::/0 allow
    num-threads: 1
    username: ""
    chroot: ""
    directory: "$dir/unbound"
    pidfile: ""
    use-syslog: no
    logfile: "$dir/unbound/unbound.log"
    verbosity: 1
    val-log-level: 2
    do-daemonize: no
    module-config: "validator iterator"
    trust-anchor-file: "$dir/trust-anchors"
    qname-minimisation: no
    # Same answer bytes on every run: records in zone order, and no
    # additional section that would depend on what is cached.
    rrset-roundrobin: no
    minimal-responses: yes
    # The lab has no root: names outside its zones do not exist, and the
    # resolver never tries to reach a root server.
    local-zone: "." static
    local-zone: "lab.example." transparent
    local-zone: "bogus.example." transparent
    local-zone: "example.net." transparent
remote-control:
    control-enable: no
stub-zone:
    name: "lab.example."
    stub-addr: $auth
stub-zone:
    name: "bogus.example."
    stub-addr: $auth
stub-zone:
    name: "example.net."
    stub-addr: $auth
EOF
# Scale mode: a cache that holds the whole scale zone, so that a warmed
# resolver stays warm, and a socket buffer for hundreds of queries at once.
if [ "$scale" = 1 ]; then
  cat >>"$dir/unbound/unbound.conf" <<EOF
server:
    local-zone: "scale.example." transparent
    rrset-cache-size: 256m
    msg-cache-size: 128m
    so-rcvbuf: 4m
stub-zone:
    name: "scale.example."
    stub-addr: $auth
EOF
fi
unbound -d -p -c "$dir/unbound/unbound.conf" >>"$dir/unbound/unbound.log" 2>&1 &
unbound_pid=$!
pids+=("$unbound_pid")

# --- Wait until every server answers -----------------------------------------
validated() {
  kdig @"$1" +dnssec +tcp +timeout=1 +retry=0 MX lab.example | grep -q '^;; Flags:.* ad'
}
wait_for "unbound (AD on $resolver)" 15 "$dir/unbound/unbound.log" "$unbound_pid" validated "$resolver"
wait_for "unbound (AD on $resolver6)" 15 "$dir/unbound/unbound.log" "$unbound_pid" validated "$resolver6"
if [ "$scale" = 1 ]; then
  scale_validated() {
    kdig @"$resolver" +dnssec +tcp +timeout=1 +retry=0 MX u00000.scale.example | grep -q '^;; Flags:.* ad'
  }
  wait_for "unbound (AD for scale.example)" 15 "$dir/unbound/unbound.log" "$unbound_pid" scale_validated
fi

greets() { # address: the listener sends a "220 " greeting
  timeout 2 bash -c '
    exec 3<>"/dev/tcp/$1/25" || exit 1
    IFS= read -r -t 2 line <&3 || exit 1
    printf "QUIT\r\n" >&3
    case $line in "220 "*) exit 0 ;; *) exit 1 ;; esac' greets "$1"
}
for a in 192.0.2.25 2001:db8::25 192.0.2.26 198.51.100.25 2001:db8:100::25 \
         198.51.100.26 203.0.113.10 203.0.113.12 203.0.113.26 203.0.113.27 \
         203.0.113.28; do
  wait_for "postfix on $a" 15 "$pf/maillog" "$postfix_pid" greets "$a" || {
    # Postfix reports start-up faults to syslog, or to a terminal when there
    # is one: give it one.
    script -qec "postfix -c $pf/conf check" /dev/null >&2 || true
    exit 1
  }
done
serves() { # address: something accepts TCP connections on port 443
  timeout 2 bash -c 'exec 3<>"/dev/tcp/$1/443"' serves "$1"
}
for a in "$sts_addr" "$sts_addr6"; do
  wait_for "nginx on $a" 15 "$ng/error.log" "$nginx_pid" serves "$a"
done
if [ "$scale" = 1 ]; then
  for a in 198.51.100.100 198.51.100.149; do
    wait_for "postfix on $a" 15 "$pf/maillog" "$postfix_pid" greets "$a"
  done
fi

say "ready in ${SECONDS}s"

# --- Latency -------------------------------------------------------------------
# Every packet between the lab's addresses crosses lo, not the veth pair
# (all of them are local to this namespace), and it does so once each way:
# half the delay on lo's queue makes each round trip DELAY longer, as DELAY
# on one end of a real link would.  Set after start-up, which it would only
# slow down.
#
# A kernel without netem gets the same delay from a TUN device instead:
# policy routing sends every packet that this host makes for one of the
# lab's addresses out through the device, delay_link holds it for half the
# delay and writes it back, and the kernel then delivers it locally (the
# rule for packets from the device comes before the one that sends them
# to it).  Each route keeps the address as its source, as local delivery
# would, so the servers see the clients they saw before.  The black holes
# are not local addresses and keep their own route.
delay_by_tun() {  # $1: the one-way delay in microseconds
  local dev=labdelay a i
  c++ -std=c++20 -O2 -I "$lab_home/../../src" -o "$dir/delay_link" "$lab_home/delay_link.cpp" \
    "$lab_home/../../src/platform/file_descriptor.cpp" || return 1
  "$dir/delay_link" "$dev" "$1" </dev/null >/dev/null 2>>"$dir/delay_link.log" &
  pids+=("$!")
  for ((i = 0; i < 100; i++)); do
    ip link show "$dev" >/dev/null 2>&1 && break
    sleep 0.02
  done
  ip link set "$dev" mtu 1500 txqueuelen 10000 up || return 1
  for a in all "$dev"; do echo 0 >"/proc/sys/net/ipv4/conf/$a/rp_filter"; done
  echo 1 >"/proc/sys/net/ipv4/conf/$dev/accept_local"
  ip -o addr show | awk -v dev="$dev" '$2 ~ /^lab[01]$/ && $3 ~ /^inet6?$/ && $4 !~ /^fe80/ {
      split($4, a, "/"); bits = ($3 == "inet") ? 32 : 128
      printf "route add %s/%d dev %s src %s table 100\n", a[1], bits, dev, a[1] }' |
    ip -batch - || return 1
  for family in -4 -6; do
    ip "$family" rule add pref 10 iif "$dev" lookup local &&
      ip "$family" rule add pref 20 iif lo lookup 100 &&
      ip "$family" rule add pref 30 lookup local &&
      ip "$family" rule del pref 0 lookup local || return 1
  done
}
if [ -n "${LAB_DELAY:-}" ]; then
  # connect_ms: the time a TCP handshake with the resolver takes, in ms.
  connect_ms() {
    local t0=$EPOCHREALTIME
    timeout 5 bash -c 'exec 3<>/dev/tcp/192.0.2.53/53' 2>/dev/null || { echo "?"; return; }
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", (b - a) * 1000 }'
  }
  half_us=$(awk -v d="$LAB_DELAY" 'BEGIN {
    if (!match(d, /^[0-9]+(\.[0-9]+)?/)) exit 1
    n = substr(d, 1, RLENGTH); u = substr(d, RLENGTH + 1)
    if (u == "s" || u == "sec" || u == "secs") f = 1000000
    else if (u == "ms" || u == "msec" || u == "msecs") f = 1000
    else if (u == "us" || u == "usec" || u == "usecs" || u == "") f = 1
    else exit 1
    printf "%d", n * f / 2 }') || fail "LAB_DELAY: a time such as 50ms, not ${LAB_DELAY}"
  before=$(connect_ms)
  LAB_DELAY_APPLIED=1 LAB_DELAY_BY=
  if err=$(tc qdisc add dev lo root netem delay "${half_us}us" 2>&1); then
    LAB_DELAY_BY=netem how="netem on lo"
  elif delay_by_tun "$half_us" >"$dir/delay_tun.err" 2>&1; then
    LAB_DELAY_BY=tun how="a TUN device (no netem in this kernel: ${err:-tc failed})"
  else
    LAB_DELAY_APPLIED=0
    echo "lab: LAB_DELAY=$LAB_DELAY not applied, running without added delay:" \
      "tc qdisc add dev lo root netem failed (${err:-no message}), and so did a TUN device ($(tr '\n' ' ' <"$dir/delay_tun.err"))" >&2
  fi
  [ "$LAB_DELAY_APPLIED" = 0 ] ||
    echo "lab: LAB_DELAY=$LAB_DELAY by $how: a TCP handshake took ${before} ms, now $(connect_ms) ms" >&2
  export LAB_DELAY_APPLIED LAB_DELAY_BY
fi

# --- The command ---------------------------------------------------------------
if [ "$scale" = 1 ]; then
  export LAB_SCALE_UNIQUE="$dir/scale-unique.txt" LAB_SCALE_SHARED="$dir/scale-shared.txt" \
    LAB_MAILLOG="$pf/maillog"
fi
export LAB_INSIDE=1 LAB_DIR="$dir" LAB_DOMAIN="$domain" \
  LAB_RESOLVER="$resolver" LAB_RESOLVER6="$resolver6" MAIL_CONFIG="$pf/tools"
# The command runs in the background so that a signal to the lab is handled
# at once (bash runs traps only between foreground commands, but during
# "wait"); it keeps our standard input, which bash would otherwise replace
# with /dev/null for a background job.
"$@" <&0 &
command_pid=$!
pids+=("$command_pid")
set +e
wait "$command_pid"
rc=$?
set -e
exit "$rc"
