#!/usr/bin/python3
"""Batch mode (--batch) against scripted peers in a network namespace of
this script's own: a name server on 127.0.0.1 gives each listed domain its
own MX host, on one of four addresses: a polite server that counts the
sessions it has open at once, one that answers 421 and hangs up, one that
sends garbage, and one where nothing listens. Checks that the record stream
is valid JSON Lines under the schema with 512 targets in flight, that every
target has exactly one domain or error record, that --per-address is never
exceeded, that one provider's MX host is probed once for all its domains,
that four shards (through GNU parallel) give exactly the records of one
run, and that --resume after Ctrl+C completes the run with no target
missing or doubled. Run as root; exits 77 when the namespace cannot be
made. Prints "N passed, N failed" at the end.
"""

import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_hostile_peers as hp  # noqa: E402

VALIDATE = os.path.join(hp.SOURCE_DIR, "tests", "support", "validate_report.py")
TYPE_A, TYPE_MX = 1, 15
POLITE, THROTTLING, GARBAGE, NOBODY, SLOW = "192.0.2.25", "192.0.2.26", "192.0.2.27", "192.0.2.28", "192.0.2.29"
KINDS = {"polite": POLITE, "throttling": THROTTLING, "garbage": GARBAGE, "nobody": NOBODY, "slow": SLOW}
RUN_DEADLINE_S = 120


class CountingServer:
    """An SMTP server on address:25 that counts the sessions open at once.
    A session counts as closed before the server's last reply, so that the
    client's next session can never overlap it in the count."""

    def __init__(self, address, script):
        self.script = script
        self.lock = threading.Lock()
        self.open = self.peak = self.sessions = 0
        self.stop = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((address, 25))
        self.listener.listen(1024)
        self.listener.settimeout(0.2)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.stop.is_set():
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            with self.lock:
                self.open += 1
                self.sessions += 1
                self.peak = max(self.peak, self.open)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def closing(self):
        with self.lock:
            self.open -= 1

    def _serve(self, conn):
        conn.settimeout(10)
        try:
            with conn:
                self.script(self, conn, conn.makefile("rb"))
        except OSError:
            pass

    def finish(self):
        self.stop.set()
        self.listener.close()


def polite(hold_s):
    def script(server, conn, lines):
        conn.sendall(b"220 polite.test ESMTP\r\n")
        lines.readline()
        time.sleep(hold_s)
        conn.sendall(b"250-polite.test\r\n250 8BITMIME\r\n")
        lines.readline()
        server.closing()
        conn.sendall(b"221 bye\r\n")
    return script


def throttling(server, conn, lines):
    server.closing()
    conn.sendall(b"421 4.7.0 Too many connections, try later\r\n")


def garbage(server, conn, lines):
    server.closing()
    conn.sendall(b"\x00\xff\x1b[2J not SMTP at all\n\n\x00")


def answer(query):
    """dN.K.test: MX 10 mxN.K.test; mxN.K.test, shared.K.test: A of kind K;
    nx*.test: NXDOMAIN; everything else: no data."""
    labels = query.name.split(".")
    kind = labels[-2] if len(labels) >= 3 else ""
    if query.name.startswith("nx"):
        return hp.dns_answer(query, rcode=3)
    if query.type == TYPE_MX and labels[0].startswith(("d", "s")) and kind in KINDS:
        host = ("shared." if labels[0].startswith("s") else "mx" + labels[0][1:] + ".") + kind + ".test"
        rdata = struct.pack("!H", 10) + hp.dns_name(host)
        return hp.dns_answer(query, [hp.dns_record(hp.dns_name(query.name), TYPE_MX, rdata)])
    if query.type == TYPE_A and kind in KINDS and labels[0].startswith(("mx", "shared")):
        rdata = socket.inet_aton(KINDS[kind])
        return hp.dns_answer(query, [hp.dns_record(hp.dns_name(query.name), TYPE_A, rdata)])
    return hp.dns_answer(query)


class Results:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, problems):
        if problems:
            self.failed += 1
            print("FAIL " + name)
            for problem in problems:
                print("    " + problem)
        else:
            self.passed += 1
            print("ok   " + name)


def run_batch(work, name, lines, args, interrupt_after_s=None):
    """Runs a batch over lines; (exit code, records, stderr)."""
    listing = os.path.join(work, name + ".txt")
    report = os.path.join(work, name + ".jsonl")
    with open(listing, "w") as f:
        f.write("\n".join(lines) + "\n")
    argv = [hp.BINARY, "-qDNS127.0.0.1", "--batch=" + listing, "--json=" + report] + args
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               env=dict(os.environ, TEMP=work))
    if interrupt_after_s is not None:
        time.sleep(interrupt_after_s)
        process.send_signal(signal.SIGINT)
    try:
        _, err = process.communicate(timeout=RUN_DEADLINE_S)
    except subprocess.TimeoutExpired:
        process.kill()
        _, err = process.communicate()
        return None, [], err
    return process.returncode, read_records(report), err


def read_records(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [json.loads(line) for line in f]


def stream_problems(path_or_records, targets, expect_all=True):
    """What is wrong with a run's records: invalid lines, targets without
    a record or with two, records of lines that are not targets."""
    problems = []
    records = path_or_records
    finished = [(r["line"], r["input"]) for r in records if r["type"] in ("domain", "error")]
    if len(finished) != len(set(finished)):
        problems.append("a target has two records")
    lines = {line for line, _ in finished}
    if expect_all and lines != set(targets):
        problems.append("targets without a record: %s" % sorted(set(targets) - lines)[:10])
    if not lines <= set(targets):
        problems.append("records of lines that are no targets: %s" % sorted(lines - set(targets))[:10])
    metas = [r for r in records if r["type"] == "meta"]
    if len(metas) != 1 or records[-1]["type"] != "meta":
        problems.append("not exactly one meta record at the end")
    return problems


def schema_problems(work, name):
    result = subprocess.run([VALIDATE, os.path.join(work, name + ".jsonl")], capture_output=True, text=True)
    return [] if result.returncode == 0 else ["schema: " + result.stdout + result.stderr]


def option_problems(work):
    """Bad options and files: exit code 1 and one clear line, nothing else."""
    listing = os.path.join(work, "one.txt")
    with open(listing, "w") as f:
        f.write("example.org\n")
    cases = [
        (["--jobs=8"], "Error: --jobs needs --batch"),
        (["--batch=" + listing, "-dexample.org"],
         "Error: --batch takes the targets from its list; give no -d, -h or -t"),
        (["--batch=" + listing, "--summary"],
         "Error: --summary does not go with --batch, which writes the JSON report alone"),
        (["--batch=/nonexistent/list"], "Error: --batch: cannot read /nonexistent/list"),
        (["--batch=" + listing, "--resume=/nonexistent/report"],
         "Error: --resume: cannot read /nonexistent/report: No such file or directory"),
        (["--batch=" + listing, "--jobs=0"], "Error: --jobs needs a whole number from 1 to 4096, not \"0\""),
    ]
    problems = []
    for args, line in cases:
        result = subprocess.run([hp.BINARY] + args, capture_output=True, timeout=30)
        if result.returncode != 1 or result.stdout != (line + "\r\n").encode():
            problems.append("%s: exit %d, %r" % (" ".join(args), result.returncode, result.stdout[:200]))
    return problems


def main():
    hp.enter_namespace()
    for address in KINDS.values():
        subprocess.run(["ip", "address", "add", address + "/32", "dev", "lo"], check=True)
    servers = {POLITE: CountingServer(POLITE, polite(0.05)), THROTTLING: CountingServer(THROTTLING, throttling),
               GARBAGE: CountingServer(GARBAGE, garbage), SLOW: CountingServer(SLOW, polite(1.0))}
    dns = hp.DnsPeer(answer)
    results = Results()
    with tempfile.TemporaryDirectory(prefix="batch.") as work:
        results.check("bad options and files end the run with one line", option_problems(work))
        # A mixed list: a comment and a blank line, targets of every kind,
        # and lines that name no target.
        kinds = ["polite", "polite", "throttling", "garbage", "nobody"]
        lines = ["# a list", ""]
        lines += ["d%d.%s.test" % (i, kinds[i % len(kinds)]) for i in range(600)]
        lines += ["nx%d.test" % i for i in range(20)] + ["not a domain", "a@@b.test", "x" * 2000]
        targets = list(range(3, len(lines) + 1))
        code, records, err = run_batch(work, "mixed", lines, ["--jobs=512", "--per-address=2", "--timeout=5"])
        problems = schema_problems(work, "mixed") + stream_problems(records, targets)
        if code != 0:
            problems.append("exit code %r, stderr %r" % (code, err[-300:]))
        if servers[POLITE].peak > 2:
            problems.append("the polite server saw %d sessions at once" % servers[POLITE].peak)
        throttled = [r for r in records if r["type"] == "probe" and r["target"]["address"] == THROTTLING]
        if not throttled or not all(r["throttled"] for r in throttled):
            problems.append("421 replies not marked throttled")
        if servers[THROTTLING].peak > 2:
            problems.append("the throttling server saw %d sessions at once" % servers[THROTTLING].peak)
        errors = [r for r in records if r["type"] == "error" and r["phase"] == "input"]
        if len(errors) != 3:
            problems.append("%d input errors, expected 3" % len(errors))
        results.check("512 in flight, hostile peers among them: one writer, per-address held", problems)

        # One provider's MX host for 50 domains: one session.
        before = servers[POLITE].sessions
        lines = ["s%d.polite.test" % i for i in range(50)]
        code, records, err = run_batch(work, "shared", lines, ["--jobs=50"])
        probes = [r for r in records if r["type"] == "probe"]
        problems = schema_problems(work, "shared") + stream_problems(records, range(1, 51))
        if servers[POLITE].sessions - before != 1:
            problems.append("%d sessions for one host" % (servers[POLITE].sessions - before))
        if sum(r["reused"] for r in probes) != 49:
            problems.append("%d reused probes, expected 49" % sum(r["reused"] for r in probes))
        results.check("a shared MX host is probed once", problems)

        # Four shards together: the records of one run, each target once.
        lines = ["d%d.polite.test" % i for i in range(100)] + ["nx%d.test" % i for i in range(20)]
        _, whole, _ = run_batch(work, "whole", lines, ["--jobs=64"])
        problems = []
        if shutil.which("parallel") is None:
            problems.append("GNU parallel is missing (run scripts/install-deps)")
        else:
            listing = os.path.join(work, "whole.txt")
            subprocess.run(["parallel", "-j4", hp.BINARY, "-qDNS127.0.0.1", "--batch=" + listing, "--jobs=16",
                            "--shard={}/4", "--json=" + os.path.join(work, "shard{}.jsonl"), ":::", "0", "1", "2",
                            "3"], check=False, env=dict(os.environ, TEMP=work), stderr=subprocess.DEVNULL)
            sharded = []
            for i in range(4):
                sharded += [r for r in read_records(os.path.join(work, "shard%d.jsonl" % i)) if r["type"] != "meta"]
            key = lambda r: (r["type"], r["line"], r["input"])  # noqa: E731
            expected = sorted(key(r) for r in whole if r["type"] != "meta")
            if sorted(map(key, sharded)) != expected:
                problems.append("the shards' records differ from one run's")
            # examples/parallel-ssh.sh, with an ssh that runs the command here.
            tools = os.path.join(work, "tools")
            os.mkdir(tools)
            for name, text in (("ssh", '#!/bin/sh\nshift\nexec sh -c "$*"\n'),
                               ("zarvik", '#!/bin/sh\nexec %s -qDNS127.0.0.1 "$@"\n' % hp.BINARY)):
                with open(os.path.join(tools, name), "w") as f:
                    f.write(text)
                os.chmod(os.path.join(tools, name), 0o755)
            example = os.path.join(hp.SOURCE_DIR, "examples", "parallel-ssh.sh")
            joined = subprocess.run([example, listing, "h1", "h2", "h3", "h4"], capture_output=True, timeout=120,
                                    env=dict(os.environ, TEMP=work, PATH=tools + ":" + os.environ["PATH"]))
            over_ssh = [json.loads(line) for line in joined.stdout.splitlines()]
            if sorted(key(r) for r in over_ssh if r["type"] != "meta") != expected:
                problems.append("examples/parallel-ssh.sh: the records differ from one run's")
        results.check("four shards give the records of one run", problems)

        # Ctrl+C in the middle, then --resume: every target once.
        lines = ["d%d.slow.test" % i for i in range(40)]
        code, first, _ = run_batch(work, "cut", lines, ["--jobs=4", "--per-address=4"], interrupt_after_s=2.5)
        problems = schema_problems(work, "cut") + stream_problems(first, range(1, 41), expect_all=False)
        meta = first[-1] if first else {}
        if code != 1 or not meta.get("interrupted"):
            problems.append("exit code %r, interrupted %r" % (code, meta.get("interrupted")))
        counts = meta.get("counts", {})
        finished = [r for r in first if r["type"] in ("domain", "error")]
        if counts.get("targets") != len(finished) + counts.get("unfinished", -1):
            problems.append("targets %r is not finished %d + unfinished %r"
                            % (counts.get("targets"), len(finished), counts.get("unfinished")))
        code, second, _ = run_batch(work, "rest", lines,
                                    ["--jobs=8", "--per-address=8", "--resume=" + os.path.join(work, "cut.jsonl")])
        both = [r for r in first + second if r["type"] != "meta"] + [second[-1]] if second else []
        problems += stream_problems(both, range(1, 41))
        if code != 0:
            problems.append("the resumed run's exit code %r" % code)
        results.check("--resume after Ctrl+C: no target missing or doubled", problems)

    dns.finish()
    for server in servers.values():
        server.finish()
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
