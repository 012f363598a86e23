#!/usr/bin/env bash
# Batch mode against the lab's real peers: a list of the lab's domains and
# addresses, tested at once, gives one valid record stream with one domain
# or error record per target, the same verdicts as one classic run per
# target, and a probe of mx1 reused by every domain that has it.
set -euo pipefail
. "$(dirname "$0")/../lab/lib.sh"
[ "${LAB_TLS:-off}" != off ] || export LAB_TLS=on
/usr/bin/python3 -c 'import jsonschema' 2>/dev/null || lab_skip "missing python3-jsonschema (run scripts/install-deps)"
lab_enter "$@"

bin=$(lab_binary)
work=$(mktemp -d "${LAB_DIR:-/tmp}/batch.XXXXXX")
export TEMP="$work"
cat >"$work/list.txt" <<'LIST'
# every kind of target the lab has
lab.example
backup.lab.example
mixed.lab.example
cname.lab.example
nullmx.lab.example
nosuch.lab.example
dangling.lab.example
known@lab.example
unknown@lab.example
known@busy.lab.example
not a domain
LIST

code=0
"$bin" --batch="$work/list.txt" --jobs=8 -fsender@lab.example --json="$work/batch.jsonl" 2>"$work/err" || code=$?
problems=$("$lab_source_dir/tests/support/validate_report.py" "$work/batch.jsonl" 2>&1) || true
[ "$code" = 0 ] || problems+=" exit code $code"
lab_check "the record stream is valid" test -z "$problems" || echo "    $problems"

# One classic run per target: its exit code must be the domain record's.
verdicts=$(/usr/bin/python3 - "$work/batch.jsonl" <<'PY'
import json, sys
records = [json.loads(line) for line in open(sys.argv[1])]
done = {}
for r in records:
    if r["type"] in ("domain", "error"):
        done.setdefault(r["line"], []).append((r["input"], r["exit_code"]))
for line in sorted(done):
    for target, exit_code in done[line]:
        print(line, target.replace(" ", "_"), exit_code)
meta = records[-1]
print("meta", meta["type"], meta["counts"]["targets"], meta["counts"]["reused_probes"] > 0)
PY
)
expected_lines=$(grep -vc '^#' "$work/list.txt")
lab_check "one domain or error record per target" test "$(grep -vc '^meta' <<<"$verdicts")" = "$expected_lines"
lab_check "the meta record counts the targets and the reused probes" \
  test "$(tail -n 1 <<<"$verdicts")" = "meta meta $expected_lines True"
while read -r line target exit_code; do
  [ "$line" != meta ] || continue
  [ "$target" != not_a_domain ] || { lab_check "line $line names no target: exit code 1" test "$exit_code" = 1; continue; }
  if [[ $target == *@* ]]; then args=(-t"$target" -fsender@lab.example); else args=(-d"$target"); fi
  classic=0
  "$bin" "${args[@]}" >/dev/null 2>&1 || classic=$?
  lab_check "line $line ($target): exit code $exit_code as a classic run's" test "$classic" = "$exit_code"
done <<<"$verdicts"

lab_summary
