#!/usr/bin/python3
"""Lists the status values of the JSON report that no record reached.

  status_coverage.py REPORT...

Reads every record of the JSON Lines files and, for each phase, compares
the status values found with the closed set the schema lists for it, less
the values that UNREACHED names with the reason no test produces them.
Prints one line per phase with the values never seen; exit code 0 when
every value was seen, 1 otherwise.  The records of the end-to-end tests:

  ZARVIK_REPORT_COLLECT=/tmp/all.jsonl ctest -R 'json|hostile|forged|driver'
  tests/support/status_coverage.py /tmp/all.jsonl
"""

import json
import pathlib
import sys

SCHEMA = pathlib.Path(__file__).resolve().parents[2] / "doc" / "zarvik-report.schema.json"

# (record type, path to the value, the schema's $defs entry of its set)
FIELDS = [
    ("probe", "dns.mx.status", "lookup_status"),
    ("probe", "dns.tlsa.status", "lookup_status"),
    ("probe", "connect.status", "connect_status"),
    ("probe", "greeting.status", "reply_status"),
    ("probe", "ehlo.status", "reply_status"),
    ("probe", "starttls.status", "starttls_status"),
    ("probe", "tls.status", "handshake_status"),
    ("probe", "certificate.status", "certificate_status"),
    ("probe", "verdict.status", "judgement_status"),
    ("probe", "dane.status", "judgement_status"),
    ("probe", "dane.result", "dane_result"),
    ("probe", "envelope.status", "envelope_status"),
    ("probe", "quit.status", "reply_status"),
    ("probe", "result.phase", "probe_phase"),
    ("probe", "result.exit_code", "exit_code"),
    ("error", "phase", "error_phase"),
]


# Values of a shared set that a field cannot take, or that no peer a test
# can run makes, with the reason.
UNREACHED = {
    "dns.mx.status": {
        "failed": "a failed MX lookup ends the run with an error record",
        "timeout": "likewise",
        "not_reached": "every probe comes after the MX lookup",
    },
    "dns.tlsa.status": {
        "not_reached": "the TLSA lookup comes before every probe",
        "not_applicable": "a probe always asks for TLSA records",
        "timeout": "needs a name server that answers MX and A but not TLSA",
    },
    "connect.status": {"failed": "a local socket failure or a stop request during the connect"},
    "tls.status": {
        "timeout": "a server that keeps the handshake going past the bound, byte by byte",
        "failed": "a client set-up that breaks after STARTTLS was offered",
    },
    "certificate.status": {"missing": "OpenSSL's client offers no anonymous cipher suite"},
    "result.phase": {"tls": "a failed handshake is retried and the probe goes on in plain text"},
}


def value_at(record, path):
    for part in path.split("."):
        if not isinstance(record, dict):
            return None
        record = record.get(part)
    return record


def main():
    defs = json.loads(SCHEMA.read_text())["$defs"]
    records = []
    for name in sys.argv[1:]:
        with open(name, encoding="utf-8") as f:
            records.extend(json.loads(line) for line in f if line.strip())
    missing_any = False
    for kind, path, definition in FIELDS:
        unreached = UNREACHED.get(path, {})
        wanted = [v for v in defs[definition]["enum"] if v is not None and v not in unreached]
        seen = {value_at(r, path) for r in records if r.get("type") == kind}
        missing = [v for v in wanted if v not in seen]
        if missing:
            missing_any = True
            print("%s.%s: never %s" % (kind, path, ", ".join(map(str, missing))))
    return 1 if missing_any else 0


if __name__ == "__main__":
    sys.exit(main())
