#!/usr/bin/python3
"""The program against SMTP peers that misbehave on purpose.

Each case starts a scripted server on 127.0.0.1 port 25 inside a network
namespace of its own (so port 25 is free and nothing leaves loopback), runs
the program with -h127.0.0.1, and checks the exact output bytes, the exit
code, the time taken and the peak resident size of the program.  The peers
stream bytes without a line end, send replies without end, trickle their
lines one byte at a time, mix NUL bytes and bare line feeds into lines, hang
up or reset in the middle of the dialogue and answer with codes that the
reply tables do not name.  Further cases put a scripted name server on
127.0.0.1 port 53 (UDP and TCP) in the same namespace and run the program
with -d: MX hosts on addresses of this host, impossible names, answers that
answer another question or none, and thousands of MX hosts; hostile_tls.py
adds the peers that misbehave in and around TLS.

Run as root (the namespace needs it); exits 77 with the reason when the
namespace cannot be made.  ZARVIK_BINARY names the program (else
build/zarvik beside the sources).  Prints "N passed, N failed" at the end.
"""

import ctypes
import fcntl
import os
import select
import signal
import socket
import struct
import sys
# The TLS cases live in a module beside this script; no bytecode is left behind.
sys.dont_write_bytecode = True
import tempfile
import threading
import time

SOURCE_DIR = os.environ.get("ZARVIK_SOURCE_DIR") or os.path.dirname(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BINARY = os.environ.get("ZARVIK_BINARY") or os.path.join(SOURCE_DIR, "build", "zarvik")

# The program always talks to port 25; the host is an address literal, so no
# DNS query is made, and the name server is one that nothing answers on.
ARGS = ["-h127.0.0.1", "-qDNS127.0.0.1"]
SENDER = "sender@example.net"
RECIPIENT = "rcpt@example.net"

# Inside the namespace the host name is "localhost", so the EHLO name is the
# same on every machine.
EHLO = b"EHLO localhost"

# A sanitizer build has a base cost of its own; absolute memory bounds hold
# for the program as users build it.
def built_with_sanitizers():
    try:
        with open(BINARY, "rb") as f:
            return b"__asan_init" in f.read()
    except OSError:
        return False


SANITIZED = built_with_sanitizers()

# Each case must end well within this; a hang is a failure, not a stall.
CASE_DEADLINE_S = 10.0

# The line and reply bounds keep a hostile peer's cost to a few MiB over a
# normal dialogue's peak (which also holds a sanitizer's base cost); the
# headroom allows for allocator slack and a sanitizer's quarantine.
RSS_HEADROOM_KIB = 24 * 1024

CLONE_NEWNET = 0x40000000
CLONE_NEWUTS = 0x04000000
SIOCGIFFLAGS = 0x8913
SIOCSIFFLAGS = 0x8914
IFF_UP = 0x1


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(77)


def enter_namespace():
    """Moves this process into fresh network and UTS namespaces with lo up."""
    if os.geteuid() != 0:
        skip("needs root for a network namespace")
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0:
        skip("cannot make a network namespace: " + os.strerror(ctypes.get_errno()))
    name = b"localhost"
    if libc.sethostname(name, len(name)) != 0:
        skip("cannot set the host name: " + os.strerror(ctypes.get_errno()))
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH22x", b"lo", 0)
        flags = struct.unpack("16sH", fcntl.ioctl(s, SIOCGIFFLAGS, request)[:18])[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH22x", b"lo", flags | IFF_UP))


class PeerError(Exception):
    pass


class Peer:
    """One scripted SMTP server connection: the script runs on a thread."""

    def __init__(self, script, single=False, address="127.0.0.1"):
        self.script = script
        # With single the listener goes once the connection is taken, so that
        # the program's next attempt is refused at once.
        self.single = single
        self.errors = []
        self.stop = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((address, 25))
        self.listener.listen(4)
        self.listener.settimeout(0.2)
        self.conn = None
        self.pending = b""
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while not self.stop.is_set():
                try:
                    self.conn, _ = self.listener.accept()
                    break
                except socket.timeout:
                    continue
            if self.conn is None:
                return
            if self.single:
                self.listener.close()
            self.conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self.conn.settimeout(0.2)
            self.script(self)
        except PeerError as e:
            self.errors.append(str(e))
        except OSError:
            # The program hung up; what it saw is judged by its output.
            pass
        except Exception as e:  # a fault in the script itself
            self.errors.append("peer script: %r" % e)

    def finish(self):
        self.stop.set()
        self.thread.join(5)
        if self.thread.is_alive():
            self.errors.append("peer thread did not stop")
        for s in (self.conn, self.listener):
            if s is not None:
                s.close()

    # Script steps.

    def error(self, text):
        return PeerError(text)

    def send(self, data):
        view = memoryview(data)
        while view:
            if self.stop.is_set():
                raise PeerError("stopped while sending")
            try:
                n = self.conn.send(view)
            except socket.timeout:
                continue
            view = view[n:]

    def trickle(self, data, delay_s):
        for i in range(len(data)):
            self.send(data[i:i + 1])
            time.sleep(delay_s)

    def stream(self, chunk):
        """Sends chunk again and again until the program goes away."""
        try:
            while True:
                self.send(chunk)
        except PeerError:
            pass  # the case is over

    def read_line(self, timeout_s=10.0):
        deadline = time.monotonic() + timeout_s
        while b"\r\n" not in self.pending:
            if self.stop.is_set() or time.monotonic() > deadline:
                raise PeerError("no command line came (have %r)" % self.pending)
            try:
                data = self.conn.recv(4096)
            except socket.timeout:
                continue
            if not data:
                raise PeerError("program closed, expected a command (have %r)" % self.pending)
            self.pending += data
        line, self.pending = self.pending.split(b"\r\n", 1)
        return line

    def expect(self, command):
        line = self.read_line()
        if line != command:
            raise PeerError("expected %r, got %r" % (command, line))

    def drain(self):
        """Reads until the program closes, so that closing sends no reset."""
        while not self.stop.is_set():
            try:
                if not self.conn.recv(4096):
                    return
            except socket.timeout:
                continue

    def reset(self):
        """Drops the connection with a TCP reset (SO_LINGER with zero time)."""
        self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.conn.close()
        self.conn = None


def dns_name(text):
    """Uncompressed wire form of a dotted name."""
    out = b""
    for label in text.split(".") if text else []:
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def dns_record(owner, rtype, rdata, ttl=300):
    return owner + struct.pack("!HHIH", rtype, 1, ttl, len(rdata)) + rdata


class DnsQuery:
    def __init__(self, message):
        self.id, self.flags = struct.unpack("!HH", message[:4])
        labels, at = [], 12
        while message[at]:
            labels.append(message[at + 1:at + 1 + message[at]].decode(errors="replace"))
            at += 1 + message[at]
        self.name = ".".join(labels)
        self.type, self.qclass = struct.unpack("!HH", message[at + 1:at + 5])
        self.question = message[12:at + 5]


def dns_answer(query, answers=(), rcode=0, flags=0x8180, question=None):
    """A response to query: question echoed (or the one given), then the
    answer records, each already in wire form."""
    question = query.question if question is None else question
    header = struct.pack("!HHHHHH", query.id, flags | rcode, 1, len(answers), 0, 0)
    return header + question + b"".join(answers)


class DnsPeer:
    """A name server on 127.0.0.1:53, UDP and TCP, on a thread. answer(query)
    gives the message to send back, or None for silence."""

    def __init__(self, answer):
        self.answer = answer
        self.errors = []
        self.queries = []
        self.stop = threading.Event()
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind(("127.0.0.1", 53))
        self.tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.tcp.bind(("127.0.0.1", 53))
        self.tcp.listen(8)
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _reply(self, message):
        query = DnsQuery(message)
        self.queries.append(query)
        return self.answer(query)

    def _run(self):
        try:
            while not self.stop.is_set():
                ready = select.select([self.udp, self.tcp], [], [], 0.1)[0]
                if self.udp in ready:
                    message, client = self.udp.recvfrom(65535)
                    reply = self._reply(message)
                    if reply is not None:
                        # Whole, even above 4096 bytes: the program then
                        # asks again over TCP.
                        self.udp.sendto(reply, client)
                if self.tcp in ready:
                    conn, _ = self.tcp.accept()
                    with conn:
                        conn.settimeout(2)
                        prefix = conn.recv(2, socket.MSG_WAITALL)
                        if len(prefix) == 2:
                            length = struct.unpack("!H", prefix)[0]
                            reply = self._reply(conn.recv(length, socket.MSG_WAITALL))
                            if reply is not None:
                                conn.sendall(struct.pack("!H", len(reply)) + reply)
        except Exception as e:  # a fault in the script itself
            self.errors.append("%r" % e)

    def finish(self):
        self.stop.set()
        self.thread.join(5)
        for s in (self.udp, self.tcp):
            s.close()


# The peak resident size is taken by GNU time in between: a child's
# ru_maxrss also holds the size of the process it was spawned from (the
# memory it had before exec), which for this script is Python's.
TIME = "/usr/bin/time"


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def run_binary(args, work):
    """Runs the program: (exit code, or None after the deadline, or minus
    the signal; stdout; stderr; seconds; peak RSS KiB)."""
    out_path = os.path.join(work, "stdout")
    err_path = os.path.join(work, "stderr")
    rss_path = os.path.join(work, "rss")
    env = dict(os.environ, TEMP=work, TMPDIR=work)
    timed = os.access(TIME, os.X_OK)
    argv = ([TIME, "-f", "%M", "-o", rss_path] if timed else []) + [BINARY] + args
    flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
    started = time.monotonic()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=[
        (os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, out_path, flags, 0o600),
        (os.POSIX_SPAWN_OPEN, 2, err_path, flags, 0o600),
    ], setsigdef=(signal.SIGPIPE, signal.SIGXFSZ))
    late = False
    try:
        while True:
            waited, status, usage = os.wait4(pid, os.WNOHANG)
            if waited == pid:
                break
            if time.monotonic() - started > CASE_DEADLINE_S and not late:
                # The program, then time (which ends when its child does).
                late = True
                for child in children_of(pid) if timed else [pid]:
                    os.kill(child, signal.SIGKILL)
            time.sleep(0.005)
        pid = None
    finally:
        if pid is not None:
            for child in children_of(pid) if timed else []:
                os.kill(child, signal.SIGKILL)
            os.kill(pid, signal.SIGKILL)
            os.wait4(pid, 0)
    elapsed = time.monotonic() - started
    rss = usage.ru_maxrss
    code = os.WEXITSTATUS(status) if os.WIFEXITED(status) else -os.WTERMSIG(status)
    if timed:
        with open(rss_path, "rb") as f:
            report = f.read().decode(errors="replace").splitlines()
        rss = int(report[-1]) if report and report[-1].isdigit() else rss
        signalled = [line for line in report if line.startswith("Command terminated by signal ")]
        if signalled:
            code = -int(signalled[0].rsplit(" ", 1)[1])
    with open(out_path, "rb") as f:
        out = f.read()
    with open(err_path, "rb") as f:
        err = f.read()
    return (None if late else code), out, err, elapsed, rss


HEAD = [
    b"Using nameserver 127.0.0.1",
    b"",
    b"Testing connection with host 127.0.0.1",
    b"Host resolved to 127.0.0.1 [127.0.0.1]",
    b"Connecting with 127.0.0.1 [127.0.0.1]",
    b"Connection established with 127.0.0.1",
]
CLOSED = b"Connection closed with 127.0.0.1 [127.0.0.1]"


def crlf(lines):
    return b"".join(line + b"\r\n" for line in lines)


def first_difference(got, expected):
    got_lines = got.split(b"\r\n")
    exp_lines = expected.split(b"\r\n")
    for i, (g, e) in enumerate(zip(got_lines, exp_lines)):
        if g != e:
            return "line %d: got %r, expected %r" % (i + 1, g[:200], e[:200])
    return "got %d lines, expected %d" % (len(got_lines) - 1, len(exp_lines) - 1)


VALIDATOR = os.path.join(SOURCE_DIR, "tests", "support", "validate_report.py")


def invalid_report(path):
    """What is wrong with the JSON report at path (None when it is valid).
    With ZARVIK_REPORT_COLLECT naming a file, the records are appended to it
    as well (see tests/support/status_coverage.py)."""
    if not os.path.exists(path):
        return "no JSON report was written"
    collect = os.environ.get("ZARVIK_REPORT_COLLECT")
    if collect:
        with open(path, "rb") as report, open(collect, "ab") as gathered:
            gathered.write(report.read())
    import subprocess
    checked = subprocess.run(["/usr/bin/python3", VALIDATOR, path], capture_output=True, text=True, timeout=60)
    return None if checked.returncode == 0 else "JSON report: " + (checked.stdout + checked.stderr).strip()[:300]


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.rss_limit = None
        # With json, every case runs with --json=FILE as well: the transcript
        # must stay the same, and every record must be valid.
        self.json = False

    def case(self, name, script, args, code, expected, max_seconds=CASE_DEADLINE_S, dns=None, base=ARGS,
             single=False, rss_limit=None, peer_address="127.0.0.1", report_check=None):
        """Runs one case; expected is the list of output lines or a predicate
        that returns what is wrong with the output (None when nothing is).
        script is the SMTP peer's (None: no SMTP peer), dns the name
        server's answer function (None: no name server); with single the
        peer takes one connection only, on peer_address port 25. rss_limit (KiB) holds for a build
        without sanitizers, whose own cost it would not allow for. In the
        JSON pass report_check, given the records, returns what is wrong
        with them (None when nothing is)."""
        problems = []
        if self.json:
            name += " (--json=FILE)"
        with tempfile.TemporaryDirectory(prefix="hostile.") as work:
            peer = Peer(script, single, peer_address) if script is not None else None
            server = DnsPeer(dns) if dns is not None else None
            report = os.path.join(work, "report.jsonl")
            try:
                got_code, out, err, elapsed, rss = run_binary(
                    base + args + (["--json=" + report] if self.json else []), work)
            finally:
                if peer is not None:
                    peer.finish()
                if server is not None:
                    server.finish()
            if self.json and got_code is not None:
                problem = invalid_report(report)
                if problem is None and report_check is not None:
                    with open(report, encoding="utf-8") as f:
                        import json
                        problem = report_check([json.loads(line) for line in f])
                if problem:
                    problems.append(problem)
        if got_code is None:
            problems.append("did not end within %.1f s" % CASE_DEADLINE_S)
        elif got_code != code:
            problems.append("exit code %d, expected %d" % (got_code, code))
        if callable(expected):
            verdict = expected(out)
            if verdict:
                problems.append(verdict)
        elif out != crlf(expected):
            problems.append("output differs: " + first_difference(out, crlf(expected)))
        if got_code is not None and elapsed > max_seconds:
            problems.append("took %.1f s, more than %.0f s" % (elapsed, max_seconds))
        if self.rss_limit is not None and rss > self.rss_limit:
            problems.append("peak RSS %d KiB above %d KiB" % (rss, self.rss_limit))
        if rss_limit is not None and not SANITIZED and rss > rss_limit:
            problems.append("peak RSS %d KiB above %d KiB" % (rss, rss_limit))
        if err:
            problems.append("standard error: %r" % err[:300])
        problems.extend("peer: " + e for e in (peer.errors if peer is not None else []))
        problems.extend("name server: " + e for e in (server.errors if server is not None else []))
        detail = "(%.2f s, %d KiB)" % (elapsed, rss)
        if problems:
            self.failed += 1
            print("FAIL %s %s" % (name, detail))
            for p in problems:
                print("     " + p)
        else:
            self.passed += 1
            print("ok   %s %s" % (name, detail))
        return rss


# Scripts and expectations.

GREETING = b"220 hostile.test ESMTP\r\n"
EHLO_REPLY = b"250-hostile.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n"
EHLO_TRANSCRIPT = [b"< 220 hostile.test ESMTP", b"> " + EHLO, b"< 250-hostile.test",
                   b"< 250-PIPELINING", b"< 250 8BITMIME"]


def quit_politely(peer):
    peer.expect(b"QUIT")
    peer.send(b"221 2.0.0 Bye\r\n")
    peer.drain()


QUIT_TRANSCRIPT = [b"> QUIT", b"< 221 2.0.0 Bye", CLOSED]


def plain_greeting_and_ehlo(peer):
    peer.send(GREETING)
    peer.expect(EHLO)
    peer.send(EHLO_REPLY)


def plain_dialogue(peer):
    plain_greeting_and_ehlo(peer)
    quit_politely(peer)


def endless_greeting(chunk):
    def script(peer):
        peer.stream(chunk)
    return script


def trickled_dialogue(peer):
    peer.trickle(GREETING, 0.005)
    peer.expect(EHLO)
    peer.trickle(EHLO_REPLY, 0.005)
    peer.expect(b"QUIT")
    peer.trickle(b"221 2.0.0 Bye\r\n", 0.005)
    peer.drain()


def endless_reply_lines(line, batch=256):
    def script(peer):
        peer.send(GREETING)
        peer.expect(EHLO)
        peer.stream(line * batch)
    return script


def reply_bound(line, count):
    """The transcript up to the reply bound: count lines, then code 8."""
    shown = b"< " + line.rstrip(b"\r\n")
    return HEAD + EHLO_TRANSCRIPT[:2] + [shown] * count + [b"Error: Client not responding [8]"]


def odd_bytes(peer):
    # NUL bytes at even and odd offsets are dropped; a bare LF or CR does not
    # end a line and is shown as "?"; a line without a reply code inside a
    # reply is shown but does not end the reply.
    peer.send(b"22\r\n2\x0020 odd\nbyte\x00s\rhere\x00\r\n")
    peer.expect(EHLO)
    peer.send(b"250-hostile.test\r\nthis is no reply line\r\n\x00\x00\r\n250-\x00SIZE 1000\r\n250 HELP\r\n")
    quit_politely(peer)


ODD_TRANSCRIPT = HEAD + [
    b"< 22", b"< 220 odd?bytes?here", b"> " + EHLO, b"< 250-hostile.test", b"< this is no reply line",
    b"< ", b"< 250-SIZE 1000", b"< 250 HELP"] + QUIT_TRANSCRIPT


MAIL_FROM = b"MAIL FROM:<%s>" % SENDER.encode()
RCPT_TO = b"RCPT TO:<%s>" % RECIPIENT.encode()


def envelope_and_quit(peer, rcpt_reply):
    """Accepts the sender, answers RCPT TO with rcpt_reply, then QUIT."""
    peer.expect(MAIL_FROM)
    peer.send(b"250 2.1.0 Ok\r\n")
    peer.expect(RCPT_TO)
    peer.send(rcpt_reply + b"\r\n")
    quit_politely(peer)


def envelope_lines(rcpt_reply):
    return [b"> " + MAIL_FROM, b"< 250 2.1.0 Ok", b"> " + RCPT_TO, b"< " + rcpt_reply]


def garbage_capabilities(peer):
    peer.send(GREETING)
    peer.expect(EHLO)
    peer.send(b"250-hostile.test\r\n250-SIZE 99999999999999999999999999999999\r\n250-SIZE -5\r\n"
              b"250-\r\n250-\x01\x7f\xff\r\n250-AUTH\r\n250-DSN DSN DSN\r\n250-8BITMIME=\r\n250\r\n")
    envelope_and_quit(peer, b"250 2.1.5 Ok")


GARBAGE_TRANSCRIPT = HEAD + [
    b"< 220 hostile.test ESMTP", b"> " + EHLO, b"< 250-hostile.test",
    b"< 250-SIZE 99999999999999999999999999999999", b"< 250-SIZE -5", b"< 250-",
    b"< 250-??\xff", b"< 250-AUTH", b"< 250-DSN DSN DSN", b"< 250-8BITMIME=", b"< 250",
] + envelope_lines(b"250 2.1.5 Ok") + QUIT_TRANSCRIPT


def refuse_greeting(peer):
    peer.send(b"554 5.7.1 Go away\r\n")
    peer.drain()


def close_after_greeting(peer):
    peer.send(GREETING)
    peer.conn.shutdown(socket.SHUT_WR)
    peer.drain()


def close_after_ehlo(peer):
    peer.send(GREETING)
    peer.expect(EHLO)
    peer.conn.close()
    peer.conn = None


def reset_after_ehlo(peer):
    peer.send(GREETING)
    peer.expect(EHLO)
    peer.reset()


PEER_CLOSED = HEAD + EHLO_TRANSCRIPT[:2] + [b"Error: Connection closed by peer for no good reason [11]"]
PEER_RESET = HEAD + EHLO_TRANSCRIPT[:2] + [b"Error: Connection closed by peer for no good reason [10054]"]


def hang_up_at_once(peer):
    # Greeting and close at once: the EHLO meets a closed socket, so the
    # program sees either the end of the stream or the reset that answers
    # its EHLO, depending on which arrives first.
    peer.send(GREETING)
    peer.conn.close()
    peer.conn = None


def peer_gone(out):
    if out in (crlf(PEER_CLOSED), crlf(PEER_RESET)):
        return None
    return "output differs: " + first_difference(out, crlf(PEER_CLOSED))


def answer_rcpt(reply):
    def script(peer):
        plain_greeting_and_ehlo(peer)
        envelope_and_quit(peer, reply)
    return script


def envelope_transcript(reply, error):
    return HEAD + EHLO_TRANSCRIPT + envelope_lines(reply) + [error] + QUIT_TRANSCRIPT


# Name server scripts. The domain is x.test; its MX host is mx.x.test.
DOMAIN = "x.test"
DNS_ARGS = ["-qDNS127.0.0.1"]
DNS_HEAD = [b"Using nameserver 127.0.0.1", b""]
TYPE_A, TYPE_MX, TYPE_AAAA = 1, 15, 28


def mx_to(address_type, address_bytes):
    """One MX host whose address (in the additional section) is given."""
    def answer(query):
        if query.type != TYPE_MX:
            return dns_answer(query)
        mx = dns_record(b"\xc0\x0c", TYPE_MX, b"\0\x0a" + dns_name("mx." + DOMAIN))
        glue = dns_record(dns_name("mx." + DOMAIN), address_type, address_bytes)
        header_and_rest = dns_answer(query, [mx])
        # The additional section holds the address.
        return header_and_rest[:10] + b"\0\x01" + header_and_rest[12:] + glue
    return answer


def answered_by_another(change):
    """Answers each query with an MX record, changed by change(query)."""
    def answer(query):
        mx = dns_record(b"\xc0\x0c", TYPE_MX, b"\0\x0a" + dns_name("mx." + DOMAIN))
        return change(query, mx)
    return answer


def many_mx_hosts(count, asked):
    """count MX hosts without addresses; each looked-up host is on an
    address nothing answers on. asked collects the names asked for A."""
    def answer(query):
        if query.type == TYPE_A:
            asked.append(query.name)
        if query.type == TYPE_MX:
            records = [dns_record(b"\xc0\x0c", TYPE_MX, struct.pack("!H", i % 100) +
                                  bytes([5]) + b"m%04d" % i + b"\xc0\x0c") for i in range(count)]
            return dns_answer(query, records)
        if query.type == TYPE_A and query.name.endswith("." + DOMAIN):
            return dns_answer(query, [dns_record(b"\xc0\x0c", TYPE_A, bytes([192, 0, 2, 1]))])
        return dns_answer(query)
    return answer


def dns_cases(r):
    localhost = DNS_HEAD + [b"Testing MX connection with domain " + DOMAIN.encode(),
                            b"Error: The MX record points to localhost [107]"]
    for what, rtype, data in [("0.0.0.0", TYPE_A, bytes(4)), ("::", TYPE_AAAA, bytes(16)),
                              ("::ffff:127.0.0.1", TYPE_AAAA, bytes(10) + b"\xff\xff\x7f\0\0\x01")]:
        r.case("MX host on " + what, None, ["-d" + DOMAIN], 1, localhost, dns=mx_to(rtype, data),
               base=DNS_ARGS)

    # Refused before any query: the name server would fail the case if asked.
    def must_not_be_asked(query):
        raise RuntimeError("asked for %d octets of name" % len(query.name))
    long_name = ".".join(["a" * 63, "b" * 63, "c" * 63, "d" * 61, "e" * 50])
    dotted = "abcdefgh." * (120 * 1024 // 9)
    for what, name, extra in [("a 305-octet name", long_name, []), ("a 64-octet label", "x" * 64 + ".test", []),
                              ("a 120 KiB name over TCP", dotted + "test", ["-u"])]:
        r.case("-d with " + what, None, ["-d" + name] + extra, 99,
               DNS_HEAD + [b"Testing MX connection with domain " + name.encode(), b"Error: Invalid domain [91]"],
               dns=must_not_be_asked, base=DNS_ARGS)

    # Answers that are no response to the question asked: as if the ID
    # were wrong.
    foreign = [
        ("a query sent back (QR clear)", lambda q, mx: dns_answer(q, [mx], flags=0x0100)),
        ("another name", lambda q, mx: dns_answer(q, [mx], question=dns_name("y.test") + q.question[-4:])),
        ("another type", lambda q, mx: dns_answer(q, [mx], question=q.question[:-4] + b"\0\x01\0\x01")),
        ("NXDOMAIN for another name",
         lambda q, mx: dns_answer(q, rcode=3, question=dns_name("y.test") + q.question[-4:])),
    ]
    for what, change in foreign:
        r.case("answer to " + what, None, ["-d" + DOMAIN], 99,
               DNS_HEAD + [b"Testing MX connection with domain " + DOMAIN.encode(),
                           b"Error: DNS server reported an unknown error [104]"],
               dns=answered_by_another(change), base=DNS_ARGS)

    asked = []

    def at_most_64(out):
        if len(asked) != 64:
            return "%d hosts looked up, not 64" % len(asked)
        lines = out.split(b"\r\n")
        listed = [line for line in lines if line.startswith(b"MX for x.test is ")]
        warning = b"Warning: only the first 64 of 2800 mail host entries are tested"
        connecting = [line for line in lines if line.startswith(b"Connecting with ")]
        if len(listed) != 64 or warning not in lines or len(connecting) != 64:
            return "%d listed, %d probed, warning %s" % (len(listed), len(connecting), warning in lines)
        return None
    r.case("2800 MX hosts", None, ["-d" + DOMAIN, "-a"], 99, at_most_64, dns=many_mx_hosts(2800, asked),
           base=DNS_ARGS)


def forged_lines(peer):
    # A bare LF, ESC and BEL inside a greeting line: shown as "?", so the
    # peer can neither start a line of its own nor set the terminal title.
    peer.send(b"220-ok\n< 250 forged acceptance\x1b]0;owned\x07\x08\r\n220 ready\r\n")
    peer.expect(EHLO)
    peer.send(EHLO_REPLY)
    quit_politely(peer)


def all_cases(r):
    """Runs every case once."""
    envelope = ["-t" + RECIPIENT, "-f" + SENDER]

    baseline = r.case("a plain dialogue", plain_dialogue, [], 0, HEAD + EHLO_TRANSCRIPT + QUIT_TRANSCRIPT)
    r.rss_limit = baseline + RSS_HEADROOM_KIB
    print("     peak RSS bound %d KiB" % r.rss_limit)

    message_too_long = HEAD + [b"Error: Message too long [10040]"]
    r.case("endless greeting without a line end", endless_greeting(b"x" * 65536), [], 99, message_too_long)
    r.case("endless greeting of bare line feeds", endless_greeting(b"220-x\n" * 8192), [], 99,
           message_too_long)
    r.case("endless greeting of NUL bytes", endless_greeting(b"\0" * 65536), [], 99, message_too_long)
    r.case("endless greeting of bare CRs", endless_greeting(b"\r" * 65536), [], 99, message_too_long)
    r.case("endless greeting lines", endless_greeting(b"220-xxxx\r\n" * 256), [], 99,
           HEAD + [b"< 220-xxxx"] * 1000 + [b"Error: Client not responding [8]"])

    r.case("endless lines without a reply code", endless_reply_lines(b"xxxx\r\n"), [], 99,
           reply_bound(b"xxxx\r\n", 1000))
    # 2048 + 6 bytes a line, CR LF included: the mebibyte a reply may take
    # is full after 511.
    long_line = b"250-" + b"y" * 2048 + b"\r\n"
    r.case("endless long continuation lines", endless_reply_lines(long_line, 32), [], 99,
           reply_bound(long_line, 511))

    r.case("greeting and replies one byte at a time", trickled_dialogue, [], 0,
           HEAD + EHLO_TRANSCRIPT + QUIT_TRANSCRIPT)
    r.case("NUL bytes, bare LF and CR, a line without a code", odd_bytes, [], 0, ODD_TRANSCRIPT)
    r.case("huge SIZE and garbage capabilities", garbage_capabilities, envelope, 0, GARBAGE_TRANSCRIPT)

    r.case("greeting refuses with 554", refuse_greeting, [], 99,
           HEAD + [b"< 554 5.7.1 Go away", b"Error: Permanent message handling problem [60]"])
    r.case("half close after the greeting", close_after_greeting, [], 99, PEER_CLOSED)
    r.case("close after EHLO", close_after_ehlo, [], 99, PEER_CLOSED)
    r.case("reset after EHLO", reset_after_ehlo, [], 99, PEER_RESET)
    r.case("close right after the greeting", hang_up_at_once, [], 99, peer_gone)

    r.case("RCPT TO answered with 590", answer_rcpt(b"590 5.9.0 What"), envelope, 99,
           envelope_transcript(b"590 5.9.0 What", b"Error: Unknown Error [177]"))
    r.case("RCPT TO answered with 550", answer_rcpt(b"550 5.1.1 No such user"), envelope, 1,
           envelope_transcript(b"550 5.1.1 No such user", b"Error: Permanent message handling problem [60]"))

    r.case("bare LF, ESC and BEL in a reply", forged_lines, [], 0,
           HEAD + [b"< 220-ok?< 250 forged acceptance?]0;owned??", b"< 220 ready"] + EHLO_TRANSCRIPT[1:] +
           QUIT_TRANSCRIPT)
    # 64 KiB of NUL bytes a line: the NULs count, so the mebibyte a reply
    # may take is full after 16 lines, not after 1000.
    nul_line = b"250-" + b"\0" * 65536 + b"\r\n"
    r.case("endless continuation lines of NUL bytes", endless_reply_lines(nul_line, 1), [], 99,
           HEAD + EHLO_TRANSCRIPT[:2] + [b"< 250-"] * 16 + [b"Error: Client not responding [8]"])

    dns_cases(r)

    import hostile_tls
    hostile_tls.tls_cases(r, sys.modules[__name__])


def main():
    if not os.access(BINARY, os.X_OK):
        print("FAIL no program at %s (build it first)" % BINARY)
        return 1
    enter_namespace()
    # A stop request from ctest ends the run through the finally clauses,
    # which kill and reap the program and close the peers.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    r = Results()
    all_cases(r)
    # Again with the JSON report beside the transcript.
    r.json = True
    all_cases(r)

    print("%d passed, %d failed" % (r.passed, r.failed))
    return 0 if r.failed == 0 and r.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
