#!/usr/bin/python3
"""Prints fields of a JSON Lines report, one per line, for shell tests.

  report_fields.py FILE FIELD...

A FIELD is TYPE[.N].PATH: the record of that type (the first, or the N-th
from 0) and a dotted path into it, with numbers indexing lists, e.g.
"probe.tls.protocol", "probe.1.connect.status", "domain.null_mx",
"probe.certificate.chain.0.sha256".  A missing record or field prints
"<missing>", null prints "null", booleans "true"/"false".
"""

import json
import sys


def lookup(records, field):
    parts = field.split(".")
    kind, parts = parts[0], parts[1:]
    index = 0
    if parts and parts[0].isdigit():
        index, parts = int(parts[0]), parts[1:]
    matching = [r for r in records if r.get("type") == kind]
    if index >= len(matching):
        return "<missing>"
    value = matching[index]
    for part in parts:
        if isinstance(value, list) and part.isdigit() and int(part) < len(value):
            value = value[int(part)]
        elif isinstance(value, dict) and part in value:
            value = value[part]
        else:
            return "<missing>"
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    return value if isinstance(value, str) else json.dumps(value)


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        records = [json.loads(line) for line in f if line.strip()]
    for field in sys.argv[2:]:
        print(lookup(records, field))
    return 0


if __name__ == "__main__":
    sys.exit(main())
