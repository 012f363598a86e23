#!/usr/bin/env bash
# Checks a built zarvik .deb as a user would meet it: the files it installs,
# the program run from the unpacked tree, the manual page as man shows it,
# and the bash completion answering in a shell.
#
#   tests/package/test_installed_package.sh PATH/zarvik_VERSION_ARCH.deb
#
# Prints one line per check and "N passed, N failed"; exits 1 on a failure.
set -uo pipefail

deb=${1:?usage: $0 PACKAGE.deb}
root=$(mktemp -d "${TMPDIR:-/tmp}/zarvik-installed.XXXXXX")
trap 'rm -rf "$root"' EXIT
# man may read the page as another user than root.
chmod 755 "$root"

passed=0
failed=0
# check NAME COMMAND...: runs the command and reports its outcome.
check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then
    echo "ok     $name"
    passed=$((passed + 1))
  else
    echo "FAILED $name"
    [ -z "$output" ] || sed 's/^/         /' <<<"$output"
    failed=$((failed + 1))
  fi
}

# The files a user relies on, as dpkg would install them.
listed_paths() { dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|'; }
has_paths() {
  local listing missing=0 path
  listing=$(listed_paths) || return 1
  for path in "$@"; do
    grep -qxF "$path" <<<"$listing" || { echo "missing: $path"; missing=1; }
  done
  return "$missing"
}
check "the package holds the program, manual page, completion, schema and documents" has_paths \
  /usr/bin/zarvik \
  /usr/share/man/man1/zarvik.1.gz \
  /usr/share/bash-completion/completions/zarvik \
  /usr/share/zarvik/zarvik-report.schema.json \
  /usr/share/doc/zarvik/copyright \
  /usr/share/doc/zarvik/changelog.gz \
  /usr/share/doc/zarvik/examples/zarvik.def

depends_on_libssl() { dpkg-deb -f "$deb" Depends | grep -q 'libssl3'; }
check "the package depends on the OpenSSL library it was linked with" depends_on_libssl

dpkg-deb -x "$deb" "$root" || { echo "FAILED dpkg-deb -x $deb"; exit 1; }

# Without switches the program has nothing to test: the error, the help,
# exit status 1, every line ended by CR LF. TEMP keeps its work files in the
# scratch root.
runs_without_switches() {
  local help=$root/help.txt rc=0
  TEMP="$root" "$root/usr/bin/zarvik" </dev/null >"$help" || rc=$?
  [ "$rc" -eq 1 ] || { echo "exit status $rc, expected 1"; return 1; }
  local expected=$'\r\nError: No domain or host or From e-mail address given!\r\n\r\nZarvik v3.23 uses the following switches:\r\n'
  cmp -s <(head -c ${#expected} "$help") <(printf '%s' "$expected") || { head -c 200 "$help" | od -c | head -n 8; return 1; }
  grep -q $'^Examples:\r$' "$help" || { echo "no Examples line"; return 1; }
  ! grep -qv $'\r$' "$help" || { echo "a line without CR LF"; return 1; }
}
check "the unpacked program prints the help and exits with 1" runs_without_switches

# man renders the installed page without a warning and shows every switch,
# the extension options and the exit statuses.
man_page_renders() {
  local page=$root/usr/share/man/man1/zarvik.1.gz text word
  text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>"$root/man.err") || { cat "$root/man.err"; return 1; }
  [ ! -s "$root/man.err" ] || { cat "$root/man.err"; return 1; }
  for word in -d -t -f -h -n -a -u -qDNS -IPv4 -IPv6 -IP -lCA -lCF -lCL -QTLS -o -@ \
              --help --version --timeout= --json --summary --port= --tls-on-connect --protocols --tls-rpt --mta-sts --mta-sts-ca= --batch= --jobs= --per-address= --shard= --resume= 'JSON REPORT' 'BATCH MODE' 'EXIT STATUS' FILES ENVIRONMENT 'SEE ALSO'; do
    grep -qF -- "$word" <<<"$text" || { echo "not shown: $word"; return 1; }
  done
  for word in 0 1 2 99; do
    sed -n '/^EXIT STATUS/,/^FILES/p' <<<"$text" | grep -qE "^ +$word( |$)" || { echo "no exit status $word"; return 1; }
  done
}
check "man -l renders the installed page with every switch and exit status" man_page_renders

# The completion as bash calls it for LINE typed up to its end: COMP_WORDS
# holds the words as bash splits them (at blanks, and "=" and "@" as words
# of their own), COMP_CWORD the last one, which is being completed.
completes() {
  local expected=$1 line=$2 got
  got=$(cd "$root" && bash -c '
      source "$0/usr/share/bash-completion/completions/zarvik"
      COMP_LINE=$1; COMP_POINT=${#COMP_LINE}
      spaced=${COMP_LINE//=/ = }; spaced=${spaced//@/ @ }
      read -ra COMP_WORDS <<<"$spaced"
      [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _zarvik 2>/dev/null
      [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s|" "${COMPREPLY[@]}"' "$root" "$line")
  [ "$got" = "$expected" ] || { echo "completing [$line]: got [$got], expected [$expected]"; return 1; }
}
completion_answers() {
  mkdir -p "$root/certs" && touch "$root/ca.pem" "$root/certs/server.pem" || return 1
  local ok=0
  # expected replies, each ended by |   the line typed
  completes "-qDNS|"                    "zarvik -q" || ok=1
  completes "-QTLS|"                    "zarvik -Q" || ok=1
  completes "-lCA|-lCF|-lCL|"           "zarvik -dexample.org -l" || ok=1
  completes "-IPv4|-IPv6|-IP|"          "zarvik -ip" || ok=1
  completes "--timeout=|--tls-on-connect|--tls-rpt|" "zarvik --t" || ok=1
  completes "--timeout=|"               "zarvik --ti" || ok=1
  completes "--tls-on-connect|--tls-rpt|" "zarvik --tl" || ok=1
  completes "--port=|--protocols|--per-address=|" "zarvik --p" || ok=1
  completes "--protocols|"              "zarvik --pr" || ok=1
  completes "--port=|"                  "zarvik -dexample.org --port" || ok=1
  completes "--json|--json=|--jobs=|"   "zarvik --j" || ok=1
  completes "--mta-sts|--mta-sts-ca=|"  "zarvik --m" || ok=1
  completes "ca.pem|certs/|"            "zarvik --mta-sts-ca=c" || ok=1
  completes "--summary|--shard=|"       "zarvik --s" || ok=1
  completes "ca.pem|certs/|"            "zarvik --batch=c" || ok=1
  completes ""                          "zarvik --jobs=" || ok=1
  completes "ca.pem|certs/|"            "zarvik --json=c" || ok=1
  completes "certs/server.pem |"        "zarvik --json=certs/s" || ok=1
  completes "ca.pem |"                  "zarvik --json ca" || ok=1
  completes "-qDNS|"                    "zarvik --json -q" || ok=1
  completes "ca.pem|certs/|"            "zarvik -lCA c" || ok=1
  completes "-lcacerts/server.pem |"    "zarvik -lcacerts/s" || ok=1
  completes "certs/|"                   "zarvik -o ce" || ok=1
  completes "@ca.pem |"                 "zarvik -@ca" || ok=1
  completes "ca.pem |"                  "zarvik -@ ca" || ok=1
  completes ""                          "zarvik -d ex" || ok=1
  completes ""                          "zarvik -tuser@ex" || ok=1
  completes ""                          "zarvik --timeout=" || ok=1
  completes ""                          "zarvik --port=" || ok=1
  completes ""                          "zarvik --port=5" || ok=1
  completes ""                          "zarvik --port 5" || ok=1
  completes "-qDNS|"                    "zarvik --port=587 -q" || ok=1
  completes "-qDNS|"                    "zarvik --tls-on-connect -q" || ok=1
  return "$ok"
}
check "the completion file parses" bash -n "$root/usr/share/bash-completion/completions/zarvik"
check "the completion offers switches, long options and file names" completion_answers

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
