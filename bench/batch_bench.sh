#!/usr/bin/env bash
# Times zarvik's batch mode on thousands of domains beside the ways one
# would do without it, in one lab with STARTTLS, the scale zone and an
# added round-trip delay (LAB_TLS=on LAB_SCALE=1 LAB_DELAY=50ms):
#
#   a. zarvik --batch=<unique list> --jobs=J       every domain its own MX host
#   b. zarvik -d<domain> --json=FILE, one process per domain, xargs -P J
#   c. posttls-finger -c -a ipv4 -l dane <domain>, xargs -P J
#   d. zarvik --batch=<shared list> --jobs=J       20 MX hosts for all domains:
#      Postfix should see one session per (host, address) probed, not one
#      per domain
#   e. zarvik --batch on a large list (95% NXDOMAIN, 5% black-holed MX
#      hosts) with --timeout=2: its resident size, sampled once a second,
#      should stay flat however long the list
#
#   bench/batch_bench.sh [--quick] [--domains=N] [--jobs=J] [--big=N]
#                        [--timeout=S] [--per-address=N] [--delay=D]
#                        [--limit=S] [--runs=abcde]
#
#   --quick          1000 domains a list and a large list of 10000 lines
#   --domains=N      the first N domains of each list (10000, all of them)
#   --jobs=J         parallel jobs of every run (256)
#   --big=N          lines of the large list (100000; 1000000 for the full run)
#   --timeout=S      each tool's time-out in a to d (5 s: a black-holed host
#                    costs S, not the kernel's two minutes of SYN retries)
#   --per-address=N  zarvik's --per-address in a, d and e (its default)
#   --delay=D        LAB_DELAY (50ms; "" for none)
#   --limit=S        stop any one run after S seconds (900)
#   --runs=LETTERS   only these runs (abcde)
#
# Needs root (the lab).  Takes the program from ZARVIK_BINARY, else
# build/zarvik.  Before each of a to d the resolver's cache is warmed with
# the MX, A, AAAA and TLSA questions of the run's domains, so that every
# tool finds the same warm cache and the figures are about SMTP and TLS.
# Wall time and CPU time (user plus system of the run and all its
# processes) come from /usr/bin/time, as does the peak resident size (for
# b and c that of the largest single process).  Statuses: zarvik's exit
# codes per target (0 accepted, 1 refused or nothing to test, as for an
# NXDOMAIN, 2 refused for now, 99 not tested, as for a black hole) from the
# meta record of a batch run or from each process's records;
# posttls-finger's from the lines it prints, roughly.  "sessions" counts the
# "connect from" lines that Postfix logged during the run.  The machine is
# shared: run it under the build lock (flock /tmp/zarvik-build.lock
# bench/batch_bench.sh) for quiet numbers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

domains=10000 jobs=256 big=100000 tmo=5 per_address="" delay=50ms limit=900 runs=abcde
for arg in "$@"; do
  case "$arg" in
    --quick) domains=1000 big=10000 ;;
    --domains=*) domains=${arg#*=} ;;
    --jobs=*) jobs=${arg#*=} ;;
    --big=*) big=${arg#*=} ;;
    --timeout=*) tmo=${arg#*=} ;;
    --per-address=*) per_address=${arg#*=} ;;
    --delay=*) delay=${arg#*=} ;;
    --limit=*) limit=${arg#*=} ;;
    --runs=*) runs=${arg#*=} ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
number() { [[ "$2" =~ ^[1-9][0-9]*$ ]] || { echo "batch_bench: $1 takes a positive number, not '$2'" >&2; exit 2; }; }
number --domains "$domains"
number --jobs "$jobs"
number --big "$big"
number --timeout "$tmo"
number --limit "$limit"
[ -z "$per_address" ] || number --per-address "$per_address"
[[ "$runs" =~ ^[a-e]+$ ]] || { echo "batch_bench: --runs takes letters from abcde, not '$runs'" >&2; exit 2; }
[ "$domains" -le 10000 ] || { echo "batch_bench: the lists hold 10000 domains each" >&2; exit 2; }

if [ "${LAB_INSIDE:-0}" != 1 ]; then
  reason=$("$root/tests/lab/lab.sh" check) || { echo "batch_bench: ${reason#lab unavailable: }" >&2; exit 77; }
  echo "batch_bench: starting the scale lab ..." >&2
  LAB_TLS=on LAB_SCALE=1 LAB_DELAY="$delay" exec "$root/tests/lab/lab.sh" run -- bash "$0" "$@"
fi

[ -n "${LAB_SCALE_UNIQUE:-}" ] || { echo "batch_bench: the lab runs without LAB_SCALE=1" >&2; exit 1; }
bin="${ZARVIK_BINARY:-$root/build/zarvik}"
[ -x "$bin" ] || { echo "batch_bench: no program at $bin (build it first)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "batch_bench: /usr/bin/time is missing (run scripts/install-deps)" >&2; exit 1; }
work=$(mktemp -d "$LAB_DIR/batch-bench.XXXXXX")
# BENCH_KEEP=1 keeps the records, logs and lists for a look afterwards (in
# the lab's folder: with LAB_KEEP=1 as well, past the lab's end).
[ "${BENCH_KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
export TEMP="$work" TMPDIR="$work"
unique="$work/unique.txt" shared="$work/shared.txt"
head -n "$domains" "$LAB_SCALE_UNIQUE" >"$unique"
head -n "$domains" "$LAB_SCALE_SHARED" >"$shared"
batch_options=(--jobs="$jobs")
[ -z "$per_address" ] || batch_options+=(--per-address="$per_address")
py=/usr/bin/python3
[ -x "$py" ] || py=python3

# warm LIST HOSTS: asks the resolver, 200 questions in flight, everything a
# probe of LIST's domains asks: MX of each domain; A, AAAA and TLSA of each
# MX host, which is mx.<domain> for HOSTS "own", shared00 to shared19 for
# "shared".
warm() {
  local list=$1 hosts=$2
  {
    if [ "$hosts" = own ]; then
      awk '{ print $1, "MX"; print "mx." $1, "A"; print "mx." $1, "AAAA"; print "_25._tcp.mx." $1, "TLSA" }' "$list"
    else
      awk '{ print $1, "MX" }' "$list"
      for j in $(seq -w 0 19); do
        printf '%s %s\n' "shared$j.scale.example" A "shared$j.scale.example" AAAA \
          "_25._tcp.shared$j.scale.example" TLSA
      done
    fi
  } | timeout 120 "$py" -c '
import os, random, select, socket, struct, sys, time
types = {"A": 1, "MX": 15, "AAAA": 28, "TLSA": 52}
questions = [line.split() for line in sys.stdin if line.strip()]
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.connect((os.environ.get("LAB_RESOLVER", "192.0.2.53"), 53))
sock.setblocking(False)
# Answers from a warm cache come in bursts: room for all that are in flight
# (SO_RCVBUFFORCE, as root, goes past the cap of net.core.rmem_max).
try:
    sock.setsockopt(socket.SOL_SOCKET, 33, 4 << 20)
except OSError:
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
def packet(qid, name, qtype):
    wire = b"".join(bytes([len(p)]) + p.encode() for p in name.rstrip(".").split(".")) + b"\0"
    # RD, one question, and an OPT record with the DO bit: as a DANE client asks.
    return struct.pack(">HHHHHH", qid, 0x0100, 1, 0, 0, 1) + wire + \
        struct.pack(">HH", types[qtype], 1) + b"\0" + struct.pack(">HHIH", 41, 1232, 0x8000, 0)
pending, rcodes, tries, start = {}, {}, {}, time.time()
queue = list(range(len(questions)))
deadline = start + 100
while (queue or pending) and time.time() < deadline:
    while queue and len(pending) < 200:
        i = queue.pop()
        qid = random.getrandbits(16)
        while qid in pending:
            qid = random.getrandbits(16)
        try:
            sock.send(packet(qid, *questions[i]))
        except BlockingIOError:
            queue.append(i)
            break
        pending[qid] = (i, time.time())
    select.select([sock], [], [], 0.05)
    while True:
        try:
            reply = sock.recv(4096)
        except BlockingIOError:
            break
        qid, flags = struct.unpack(">HH", reply[:4])
        if qid in pending:
            del pending[qid]
            rcodes[flags & 15] = rcodes.get(flags & 15, 0) + 1
    now = time.time()
    for qid, (i, sent) in list(pending.items()):
        if now - sent > 2:
            del pending[qid]
            tries[i] = tries.get(i, 0) + 1
            if tries[i] < 3:
                queue.append(i)
names = {0: "NOERROR", 2: "SERVFAIL", 3: "NXDOMAIN"}
print("warm-up: %d questions in %.1f s: %s" % (len(questions), time.time() - start,
    ", ".join("%s %d" % (names.get(r, "rcode %d" % r), n) for r, n in sorted(rcodes.items()))), file=sys.stderr)
' || echo "batch_bench: the warm-up failed or ran out of time" >&2
}

# timed NAME INPUT COMMAND...: runs COMMAND under /usr/bin/time and timeout,
# with standard input from INPUT, output to $work/NAME.out and errors to
# $work/NAME.err; leaves "wall user system peak-KiB" in $work/NAME.time and
# the exit code in $work/NAME.rc.
timed() {
  local name=$1 input=$2 rc=0
  shift 2
  /usr/bin/time -o "$work/$name.time" -f '%e %U %S %M' \
    timeout -k 10 "$limit" "$@" >"$work/$name.out" 2>"$work/$name.err" <"$input" || rc=$?
  echo "$rc" >"$work/$name.rc"
  [ "$rc" -ne 124 ] || notes+=("$name: stopped after $limit s (--limit)")
  # Before its figures /usr/bin/time may say "Command exited with ...".
  tail -n 1 "$work/$name.time" >"$work/$name.figures"
  grep -Eq '^[0-9.]+ [0-9.]+ [0-9.]+ [0-9]+$' "$work/$name.figures" || echo "? ? ? ?" >"$work/$name.figures"
  mv "$work/$name.figures" "$work/$name.time"
}

# meta FILE: the counts of the JSON Lines report FILE's meta record, as
# "targets|statuses|probes|reused|lines" ("?" where it has none).
meta() {
  "$py" - "$1" <<'EOF'
import json, sys
meta = None
try:
    with open(sys.argv[1], "rb") as f:
        f.seek(0, 2)
        f.seek(max(0, f.tell() - 65536))
        for line in f.read().splitlines():
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if isinstance(record, dict) and record.get("type") == "meta":
                meta = record
except OSError:
    pass
if meta is None:
    print("?|no meta record|?|?|?")
    sys.exit()
c = meta.get("counts", {})
codes = " ".join("%s=%s" % kv for kv in sorted(c.get("by_exit_code", {}).items(), key=lambda kv: int(kv[0])))
if c.get("unfinished"):
    codes += " unfinished=%s" % c["unfinished"]
print("%s|%s|%s|%s|%s" % (c.get("targets", "?"), codes or "-", c.get("probe_records", "?"),
                          c.get("reused_probes", "?"), c.get("lines_read", "?")))
EOF
}

# row LABEL TARGETS NAME STATUSES: a table row from $work/NAME.time.
rows=()
row() {
  local label=$1 targets=$2 name=$3 statuses=$4 wall user sys rss
  read -r wall user sys rss <"$work/$name.time"
  rows+=("$(awk -v l="$label" -v n="$targets" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" -v st="$statuses" 'BEGIN {
    if (w == "?") { printf "%-40s %7s %8s %8s %9s %8s  %s", l, n, "?", "?", "?", "?", st; exit }
    printf "%-40s %7d %8.1f %8.1f %9.2f %8.1f  %s", l, n, w, u + s, (u + s) * 1000 / n, m / 1024, st }')")
}

notes=()
delay_text="none"
if [ -n "${LAB_DELAY:-}" ]; then
  delay_text="$LAB_DELAY (${LAB_DELAY_BY:-netem})"
  [ "${LAB_DELAY_APPLIED:-0}" = 1 ] || delay_text="none ($LAB_DELAY asked, but the lab could not apply it)"
fi
echo "batch_bench: $domains domains a list, $jobs jobs, --timeout=$tmo, added delay: $delay_text" >&2

# sessions: the SMTP sessions Postfix has logged so far, once its log has
# been still for half a second (it writes through a logging process).
sessions() {
  local count last=-1 i
  for i in $(seq 40); do
    count=$(grep -c 'postfix/smtpd\[[0-9]*\]: connect from' "$LAB_MAILLOG" || true)
    [ "$count" != "$last" ] || break
    last=$count
    sleep 0.5
  done
  echo "$count"
}

if [[ "$runs" == *a* ]]; then
  warm "$unique" own
  echo "a: zarvik --batch, $domains domains with MX hosts of their own ..." >&2
  before=$(sessions)
  timed a /dev/null "$bin" --batch="$unique" "${batch_options[@]}" --timeout="$tmo" --json="$work/a.jsonl"
  seen=$(($(sessions) - before))
  IFS='|' read -r targets statuses _ _ _ < <(meta "$work/a.jsonl")
  [ "$targets" = "$domains" ] || notes+=("a: the meta record counts $targets targets of $domains")
  row "a zarvik --batch (unique MX hosts)" "$domains" a "$statuses sessions=$seen"
fi

if [[ "$runs" == *b* ]]; then
  warm "$unique" own
  echo "b: zarvik -d, one process per domain, xargs -P $jobs ..." >&2
  mkdir "$work/b"
  before=$(sessions)
  timed b "$unique" xargs -P "$jobs" -I{} "$bin" -d{} --timeout="$tmo" --json="$work/b/{}.json"
  # The last record with an exit code of each process's report.
  statuses=$("$py" - "$work/b" "$domains" <<'EOF'
import collections, json, os, sys
folder, expected = sys.argv[1], int(sys.argv[2])
codes = collections.Counter()
for name in os.listdir(folder):
    code = "none"
    with open(os.path.join(folder, name)) as f:
        for line in f:
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if record.get("type") in ("domain", "error") and "exit_code" in record:
                code = str(record["exit_code"])
    codes[code] += 1
missing = expected - sum(codes.values())
if missing > 0:
    codes["no report"] += missing
print(" ".join("%s=%d" % kv for kv in sorted(codes.items(), key=lambda kv: (not kv[0].isdigit(), int(kv[0]) if kv[0].isdigit() else 0, kv[0]))))
EOF
)
  row "b zarvik -d, xargs -P $jobs" "$domains" b "$statuses sessions=$(($(sessions) - before))"
fi

if [[ "$runs" == *c* ]]; then
  if command -v posttls-finger >/dev/null 2>&1; then
    warm "$unique" own
    echo "c: posttls-finger, one process per domain, xargs -P $jobs ..." >&2
    # All processes write to the same two files: each line is one write, so
    # lines stay whole, but not every line says which domain it is about.
    before=$(sessions)
    timed c "$unique" xargs -P "$jobs" -I{} posttls-finger -c -a ipv4 -l dane -t "$tmo" -T "$tmo" {}
    cat "$work/c.out" "$work/c.err" >"$work/c.log"
    statuses=$(awk '
      /Verified TLS connection established/ { v++; next }
      /Untrusted TLS connection established|Anonymous TLS connection established|Trusted TLS connection established/ { u++; next }
      /[Cc]onnection timed out|[Tt]imed out/ { t++; next }
      /[Hh]ost or domain name not found|[Nn]ame service error|No MX host|[Hh]ost not found/ { n++; next }
      END { printf "verified=%d other-TLS=%d timed-out=%d not-found=%d", v, u, t, n }' "$work/c.log")
    row "c posttls-finger, xargs -P $jobs" "$domains" c "$statuses sessions=$(($(sessions) - before))"
  else
    rows+=("$(printf '%-40s %7s  %s' "c posttls-finger" - "not installed")")
  fi
fi

if [[ "$runs" == *d* ]]; then
  warm "$shared" shared
  echo "d: zarvik --batch, $domains domains on 20 shared MX hosts ..." >&2
  before=$(sessions)
  timed d /dev/null "$bin" --batch="$shared" "${batch_options[@]}" --timeout="$tmo" --json="$work/d.jsonl"
  seen=$(($(sessions) - before))
  IFS='|' read -r targets statuses probes reused _ < <(meta "$work/d.jsonl")
  # The (host, address) pairs that the probe records name, each probed once.
  pairs=$("$py" - "$work/d.jsonl" <<'EOF'
import json, sys
pairs = set()
with open(sys.argv[1]) as f:
    for line in f:
        try:
            record = json.loads(line)
        except ValueError:
            continue
        if record.get("type") == "probe":
            target = record.get("target", {})
            pairs.add((target.get("mx_host"), target.get("address"), target.get("port")))
print(len(pairs))
EOF
)
  row "d zarvik --batch (20 shared MX hosts)" "$domains" d "$statuses sessions=$seen"
  shared_line="d: Postfix saw $seen SMTP sessions for $pairs (host, address) pairs in the probe records; probe records $probes, of them reused $reused"
  [ "$seen" = "$pairs" ] || notes+=("d: $seen sessions for $pairs (host, address) pairs")
fi

if [[ "$runs" == *e* ]]; then
  # Lines of NXDOMAIN names, every twentieth one of the scale zone's 500
  # domains with a black-holed MX host, in turn.
  awk -v n="$big" 'BEGIN {
    for (i = 0; i < n; i++) {
      if (i % 20 == 19) printf "u%05d.scale.example\n", 13 + 20 * (int(i / 20) % 500)
      else printf "x%07d.scale.example\n", i
    } }' >"$work/big.txt"
  echo "e: zarvik --batch, $big lines (95% NXDOMAIN, 5% black-holed), resident size once a second ..." >&2
  : >"$work/e.rss"
  # /usr/bin/time gives wall and CPU time and the peak; its child, zarvik,
  # is sampled.
  /usr/bin/time -o "$work/e.time" -f '%e %U %S %M' \
    "$bin" --batch="$work/big.txt" "${batch_options[@]}" --timeout=2 --json="$work/e.jsonl" \
    >/dev/null 2>"$work/e.err" </dev/null &
  time_pid=$!
  pid=""
  for _ in $(seq 100); do
    read -r pid _ <"/proc/$time_pid/task/$time_pid/children" 2>/dev/null || true
    [ -z "$pid" ] || break
    sleep 0.01
  done
  for ((s = 1; s <= limit; s++)); do
    sleep 1
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
    [ -n "$rss" ] || break
    echo "$s $rss" >>"$work/e.rss"
  done
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    notes+=("e: stopped after $limit s (--limit)")
  fi
  rc=0
  wait "$time_pid" || rc=$?
  tail -n 1 "$work/e.time" >"$work/e.figures"
  grep -Eq '^[0-9.]+ [0-9.]+ [0-9.]+ [0-9]+$' "$work/e.figures" || echo "? ? ? ?" >"$work/e.figures"
  mv "$work/e.figures" "$work/e.time"
  IFS='|' read -r targets statuses _ _ lines < <(meta "$work/e.jsonl")
  [ "$lines" = "$big" ] || notes+=("e: the meta record counts $lines lines read of $big")
  [ "$rc" = 0 ] || notes+=("e: zarvik exited with $rc")
  row "e zarvik --batch, large list" "$big" e "$statuses"
  rss_line=$(awk '{ v[NR] = $2 / 1024; s[NR] = $1 } END {
    if (NR == 0) { print "e: no sample"; exit }
    n = asort_copy(v, w)
    printf "e: resident MiB over %d samples: min %.1f, median %.1f, max %.1f; at", NR, w[1], w[int((n + 1) / 2)], w[n]
    step = NR > 10 ? int(NR / 10) : 1
    for (i = 1; i <= NR; i += step) printf " %ds %.1f", s[i], v[i]
    if ((NR - 1) % step) printf " %ds %.1f", s[NR], v[NR]
    print ""
  }
  function asort_copy(a, b,    i, j, n, t) {
    n = 0
    for (i in a) b[++n] = a[i]
    for (i = 2; i <= n; i++) { t = b[i]; for (j = i - 1; j >= 1 && b[j] > t; j--) b[j + 1] = b[j]; b[j + 1] = t }
    return n
  }' "$work/e.rss")
fi

printf '\nzarvik %s; %d domains a list, %d jobs, --timeout=%s (e: 2), added delay: %s\n\n' \
  "$("$bin" --version 2>/dev/null | head -n 1)" "$domains" "$jobs" "$tmo" "$delay_text"
printf '%-40s %7s %8s %8s %9s %8s  %s\n' "" targets "wall s" "CPU s" "CPU ms/t" "peak MiB" statuses
printf '%s\n' "${rows[@]}"
[ -z "${shared_line:-}" ] || echo "$shared_line"
[ -z "${rss_line:-}" ] || echo "$rss_line"
[ ${#notes[@]} -eq 0 ] || printf 'Note: %s\n' "${notes[@]}"
