#!/usr/bin/env bash
# Times a whole probe of the lab's first mail host by zarvik beside two peer
# tools that do much the same work, in one lab with STARTTLS on:
#
#   zarvik -hmx1.lab.example -fsender@example.net -tknown@lab.example
#   (and the same with --json, the JSON report instead of the transcript)
#   posttls-finger -c -a ipv4 -l dane [mx1.lab.example]
#   swaks --tls -s mx1.lab.example -f sender@example.net -t known@lab.example
#         --quit-after RCPT
#
# and bench/starttls_floor, the least a STARTTLS probe can do with OpenSSL
# (greeting, EHLO, STARTTLS, one handshake, QUIT), linked to the shared and
# to the static libraries: the floor that OpenSSL's own start-up and
# handshake set for every tool here.  Then zarvik's start-up with a CA
# bundle of 200 certificates ("-lCA"),
# against 127.0.0.1, where the connection is refused at once, so that
# little else than start-up and the bundle's loading is measured; the same
# without "-lCA" is the baseline.
#
#   bench/probe_bench.sh [RUNS]    RUNS per command, 20 by default
#
# Needs root (the lab).  Takes the program from ZARVIK_BINARY, else
# build/zarvik; ZARVIK_STATIC_BINARY names a build with
# -DZARVIK_STATIC_OPENSSL=ON to measure beside it.  Each command runs once untimed first, so that every timed
# run finds the resolver's cache warm.  The table gives medians: wall time
# (from the shell's microsecond clock around each run), CPU time (user plus
# system, from the shell's account of its children, which includes the
# small share of /usr/bin/time itself), peak resident size (from
# /usr/bin/time -f %M) and, as the one figure that a shared machine does not
# blur, the instructions of one run under valgrind's callgrind.
# /usr/bin/time's own times are kept to 10 ms, too coarse for runs this
# short.  The machine is shared: run it under the
# build lock (flock /tmp/zarvik-build.lock bench/probe_bench.sh) for quiet
# numbers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs=${1:-20}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }

if [ "${LAB_INSIDE:-0}" != 1 ]; then
  reason=$("$root/tests/lab/lab.sh" check) || { echo "probe_bench: ${reason#lab unavailable: }" >&2; exit 77; }
  LAB_TLS=on exec "$root/tests/lab/lab.sh" run -- bash "$0" "$@"
fi

bin="${ZARVIK_BINARY:-$root/build/zarvik}"
[ -x "$bin" ] || { echo "probe_bench: no program at $bin (build it first)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "probe_bench: /usr/bin/time is missing (run scripts/install-deps)" >&2; exit 1; }
work=$(mktemp -d "${LAB_DIR:-/tmp}/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TEMP="$work" TMPDIR="$work"

# A bundle of 200 self-signed CA certificates, all with one key: making 200
# RSA keys would take longer than the whole benchmark.
bundle="$work/bundle.pem"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/bundle.key" 2>/dev/null
for i in $(seq 200); do
  openssl req -x509 -new -key "$work/bundle.key" -sha256 -days 30 -set_serial "$i" \
    -subj "/O=Bench Roots/CN=Bench Root $i" \
    -addext "basicConstraints=critical,CA:TRUE" 2>/dev/null
done >"$bundle"
[ "$(grep -c 'BEGIN CERTIFICATE' "$bundle")" -eq 200 ] || { echo "probe_bench: could not make the bundle" >&2; exit 1; }

# children_cpu_us: CPU time (user + system) of this shell's finished
# children so far, in microseconds, from the builtin "times".  It must run
# in this shell, not in a command substitution: a subshell has children of
# its own.
children_cpu_us() {
  local line part m s total=0
  times >"$work/times"
  line=$(sed -n 2p "$work/times")
  for part in $line; do
    m=${part%%m*}
    s=${part#*m}
    s=${s%s}
    total=$((total + m * 60000000 + 10#${s%.*} * 1000000 + 10#${s#*.} * 1000))
  done
  echo "$total"
}

# median: the median of the numbers on standard input (the lower middle one
# for an even count).
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The floor program, against the same host (mx1's address in the lab).
floor_source="$root/bench/starttls_floor.cpp"
c++ -O2 -o "$work/starttls_floor" "$floor_source" -lssl -lcrypto
c++ -O2 -o "$work/starttls_floor_static" "$floor_source" -Wl,-Bstatic -lssl -lcrypto -Wl,-Bdynamic
floor_target=(192.0.2.25 mx1.lab.example)

# callgrind's output file is writable for everyone: posttls-finger gives up
# root before valgrind writes it.
chmod 711 "$work"
mkdir -m 1777 "$work/callgrind"

# instructions COMMAND...: the instructions of one run in millions, or "-"
# without valgrind.
instructions() {
  local out="$work/callgrind/out"
  command -v valgrind >/dev/null 2>&1 || { echo -; return; }
  : >"$out" && chmod 666 "$out"
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>"$work/callgrind/log" </dev/null || true
  sed -n 's/.*refs: *\([0-9,]*\).*/\1/p' "$work/callgrind/log" | tr -d , | awk '{ printf "%.1f", $1 / 1e6 }'
}

rows=()
# measure LABEL COMMAND...: RUNS timed runs after one untimed one; appends a
# table row.
measure() {
  local label=$1 i t0 t1 c0 c1 rc first_rc=""
  shift
  if ! command -v "$1" >/dev/null 2>&1; then
    rows+=("$(printf '%-34s %5s  %s' "$label" - "not installed")")
    return
  fi
  "$@" >"$work/out" 2>&1 </dev/null || true
  : >"$work/wall" >"$work/cpu" >"$work/rss"
  for ((i = 0; i < runs; i++)); do
    children_cpu_us >"$work/c0"
    t0=${EPOCHREALTIME/./}
    rc=0
    /usr/bin/time -o "$work/time" -f '%M' "$@" >/dev/null 2>&1 </dev/null || rc=$?
    t1=${EPOCHREALTIME/./}
    children_cpu_us >"$work/c1"
    c0=$(<"$work/c0") c1=$(<"$work/c1")
    [ -n "$first_rc" ] || first_rc=$rc
    echo $((t1 - t0)) >>"$work/wall"
    echo $((c1 - c0)) >>"$work/cpu"
    tail -n 1 "$work/time" >>"$work/rss"
  done
  rows+=("$(printf '%-34s %5d %9.1f %9.1f %10.1f %8s %5s' "$label" "$runs" \
    "$(median <"$work/wall" | awk '{ print $1 / 1000 }')" \
    "$(median <"$work/cpu" | awk '{ print $1 / 1000 }')" \
    "$(median <"$work/rss" | awk '{ print $1 / 1024 }')" "$(instructions "$@")" "$first_rc")")
}

echo "Probing mx1.lab.example, $runs runs each, in the lab with LAB_TLS=on ..." >&2
measure "zarvik probe" "$bin" -hmx1.lab.example -fsender@example.net -tknown@lab.example
notes=()
grep -q '^> STARTTLS' "$work/out" ||
  notes+=("zarvik sent no STARTTLS: its probe was plain SMTP, the others' TLS.")
# The same probe with the JSON report on standard output in place of the
# transcript: what the report itself costs.
measure "zarvik probe --json" "$bin" -hmx1.lab.example -fsender@example.net -tknown@lab.example --json
if [ -n "${ZARVIK_STATIC_BINARY:-}" ]; then
  measure "zarvik probe, static OpenSSL" "$ZARVIK_STATIC_BINARY" -hmx1.lab.example -fsender@example.net \
    -tknown@lab.example
fi
measure "posttls-finger (DANE)" posttls-finger -c -a ipv4 -l dane '[mx1.lab.example]'
measure "STARTTLS floor, shared OpenSSL" "$work/starttls_floor" "${floor_target[@]}"
measure "STARTTLS floor, static OpenSSL" "$work/starttls_floor_static" "${floor_target[@]}"
measure "swaks --tls" swaks --tls -s mx1.lab.example -f sender@example.net \
  -t known@lab.example --quit-after RCPT
measure "zarvik start-up" "$bin" -h127.0.0.1
measure "zarvik start-up, -lCA 200 certs" "$bin" "-lCA$bundle" -h127.0.0.1
if [ -n "${ZARVIK_STATIC_BINARY:-}" ]; then
  measure "zarvik start-up, static OpenSSL" "$ZARVIK_STATIC_BINARY" -h127.0.0.1
fi

printf '%-34s %5s %9s %9s %10s %8s %5s\n' "" runs "wall ms" "CPU ms" "peak MiB" "M instr" exit
printf '%s\n' "${rows[@]}"
[ ${#notes[@]} -eq 0 ] || printf 'Note: %s\n' "${notes[@]}"
