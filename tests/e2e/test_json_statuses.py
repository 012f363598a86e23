#!/usr/bin/python3
"""The JSON report's statuses for the faults only a scripted peer makes.

Each case runs the program with --json=FILE against a scripted SMTP server
on 127.0.0.1 port 25 in a network namespace of its own (the machinery of
test_hostile_peers.py), validates every record against the schema, and
checks the fields the case names: greetings, EHLO, STARTTLS, envelopes and
QUITs that time out, are reset or refused.  The lab's peers give the rest
(test_json_report.sh).  Exits 77 when the namespace cannot be made.
"""

import json
import os
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_hostile_peers as hp  # noqa: E402

# Every wait of these cases that is meant to run out runs out after this.
TIMEOUT = ["--timeout=1"]
ENVELOPE = ["-t" + hp.RECIPIENT, "-f" + hp.SENDER]
STARTTLS_EHLO = b"250-hostile.test\r\n250 STARTTLS\r\n"


def silent(peer):
    peer.drain()


def greeted(peer, ehlo_reply=hp.EHLO_REPLY):
    peer.send(hp.GREETING)
    peer.expect(hp.EHLO)
    peer.send(ehlo_reply)


def then(*steps):
    """A script of steps, each a function of the peer."""
    def script(peer):
        for step in steps:
            step(peer)
    return script


def expect(command):
    return lambda peer: peer.expect(command)


def send(data):
    return lambda peer: peer.send(data)


def reset(peer):
    peer.reset()


def pause(peer):
    time.sleep(0.2)


def refuse_hello(peer):
    peer.send(hp.GREETING)
    peer.expect(hp.EHLO)
    peer.send(b"502 5.5.1 No EHLO\r\n")
    peer.expect(b"HELO localhost")
    peer.send(b"502 5.5.1 No HELO either\r\n")
    # A session that could not be opened ends without QUIT.
    peer.drain()


def endless_reply(peer):
    """More reply lines than a reply may have (smtp_reply.h: 1000)."""
    peer.send(b"250-more\r\n" * 1001)
    peer.drain()


def starttls_offered(peer):
    greeted(peer, STARTTLS_EHLO)
    peer.expect(b"STARTTLS")


CASES = [
    ("greeting times out", silent, TIMEOUT,
     {"greeting.status": "timeout", "ehlo.status": "not_reached", "result.phase": "greeting"}),
    # A pause first, so that the reset meets the wait for the greeting and
    # not the connect.
    ("greeting reset", then(pause, reset), [], {"greeting.status": "reset", "result.phase": "greeting"}),
    ("EHLO and HELO refused", refuse_hello, [],
     {"ehlo.status": "rejected", "ehlo.verb": "HELO", "ehlo.code": 502, "result.phase": "ehlo"}),
    ("EHLO times out", then(send(hp.GREETING), expect(hp.EHLO), silent), TIMEOUT,
     {"ehlo.status": "timeout", "result.phase": "ehlo"}),
    ("STARTTLS refused", then(starttls_offered, send(b"454 4.7.0 TLS not available\r\n"), hp.quit_politely), [],
     {"starttls.status": "rejected", "starttls.code": 454, "tls.status": "not_applicable",
      "certificate.status": "not_applicable", "result.phase": "done"}),
    ("STARTTLS times out", then(starttls_offered, silent), TIMEOUT,
     {"starttls.status": "timeout", "tls.status": "not_reached", "result.phase": "starttls"}),
    ("STARTTLS reset", then(starttls_offered, reset), [],
     {"starttls.status": "reset", "result.phase": "starttls"}),
    ("STARTTLS answered without end", then(starttls_offered, endless_reply), [],
     {"starttls.status": "failed", "result.phase": "starttls"}),
    ("MAIL FROM times out", then(greeted, expect(hp.MAIL_FROM), silent), ENVELOPE + TIMEOUT,
     {"envelope.status": "timeout", "quit.status": "not_reached", "result.phase": "envelope"}),
    ("MAIL FROM reset", then(greeted, expect(hp.MAIL_FROM), reset), ENVELOPE,
     {"envelope.status": "reset", "result.phase": "envelope"}),
    ("QUIT refused", then(greeted, expect(b"QUIT"), send(b"500 5.5.2 What\r\n"), silent), [],
     {"quit.status": "rejected", "quit.code": 500, "result.phase": "quit"}),
    ("QUIT times out", then(greeted, expect(b"QUIT"), silent), TIMEOUT,
     {"quit.status": "timeout", "result.phase": "quit"}),
    ("QUIT reset", then(greeted, expect(b"QUIT"), reset), [], {"quit.status": "reset", "result.phase": "quit"}),
    ("QUIT answered without end", then(greeted, expect(b"QUIT"), endless_reply), [],
     {"quit.status": "failed", "result.phase": "quit"}),
]


def field(record, path):
    for part in path.split("."):
        record = record.get(part) if isinstance(record, dict) else None
    return record


def run_case(name, script, args, wanted):
    problems = []
    with tempfile.TemporaryDirectory(prefix="json-statuses.") as work:
        report = os.path.join(work, "report.jsonl")
        peer = hp.Peer(script, True)
        try:
            code, _, err, elapsed, _ = hp.run_binary(hp.ARGS + args + ["--json=" + report], work)
        finally:
            peer.finish()
        if code is None:
            problems.append("did not end in time")
        invalid = hp.invalid_report(report)
        if invalid:
            problems.append(invalid)
        else:
            with open(report, encoding="utf-8") as f:
                probes = [r for r in map(json.loads, f) if r["type"] == "probe"]
            for path, value in wanted.items():
                got = field(probes[0], path) if probes else None
                if got != value:
                    problems.append("%s: got %r, expected %r" % (path, got, value))
        if err:
            problems.append("standard error: %r" % err[:300])
        problems.extend("peer: " + e for e in peer.errors)
    print(("FAIL " if problems else "ok   ") + "%s (%.2f s)" % (name, elapsed))
    for problem in problems:
        print("     " + problem)
    return not problems


def main():
    if not os.access(hp.BINARY, os.X_OK):
        print("FAIL no program at %s (build it first)" % hp.BINARY)
        return 1
    hp.enter_namespace()
    results = [run_case(*case) for case in CASES]
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
