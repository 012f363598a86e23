"""TLS faults of a peer, for test_hostile_peers.py.

The peer offers STARTTLS and then misbehaves inside or around TLS: it never
answers the ClientHello, ends the handshake with an alert, sends a chain of
a hundred certificates or one certificate of a mebibyte, or resets the
connection in the middle of a TLS record. The server's side of TLS is
Python's ssl module over memory BIOs, so that the script decides what goes
on the wire and when. The keys and certificates are made with openssl at
the start and thrown away at the end.
"""

import os
import socket
import ssl
import subprocess
import time

TLS_EHLO_REPLY = b"250-hostile.test\r\n250-STARTTLS\r\n250 8BITMIME\r\n"
# A fatal handshake_failure alert (RFC 8446 section 6): level 2,
# description 40, in a TLS 1.2 record.
HANDSHAKE_FAILURE_ALERT = b"\x15\x03\x03\x00\x02\x02\x28"
# Bounded waits keep each case within the harness's deadline.
TIMEOUT = ["--timeout=2"]
# A hostile peer may cost the program a few MiB, never more than this.
RSS_LIMIT_KIB = 16 * 1024


def openssl(*args, stdin=None):
    subprocess.run(["openssl"] + list(args), input=stdin, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class Certificates:
    """The keys and certificates of the cases, in folder."""

    def __init__(self, folder):
        self.key = os.path.join(folder, "key.pem")
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", self.key)
        self.leaf = self._self_signed(folder, "leaf", "/CN=hostile.test")
        self.chain = self._chain(folder, 100)
        self.huge = self._huge(folder)
        self.controls = self._self_signed(folder, "controls", None, self._controls_config(folder))

    def _self_signed(self, folder, name, subject, config=None):
        path = os.path.join(folder, name + ".pem")
        args = ["req", "-x509", "-new", "-key", self.key, "-days", "2", "-out", path]
        args += ["-config", config] if config else ["-subj", subject]
        openssl(*args)
        return path

    def _chain(self, folder, length):
        """A leaf and length - 1 CA certificates, each issued by the next."""
        ca_ext = os.path.join(folder, "ca.ext")
        with open(ca_ext, "w") as f:
            f.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n")
        issuer = self._self_signed(folder, "ca%03d" % (length - 1), "/CN=Hostile CA %d" % (length - 1))
        certificates = [issuer]
        for i in range(length - 2, -1, -1):
            path = os.path.join(folder, "ca%03d.pem" % i)
            csr = subprocess.run(["openssl", "req", "-new", "-key", self.key, "-subj",
                                  "/CN=hostile.test" if i == 0 else "/CN=Hostile CA %d" % i],
                                 check=True, capture_output=True).stdout
            extra = [] if i == 0 else ["-extfile", ca_ext]
            openssl("x509", "-req", "-CA", issuer, "-CAkey", self.key, "-set_serial", str(1000 + i), "-days",
                    "2", "-out", path, *extra, stdin=csr)
            certificates.insert(0, path)
            issuer = path
        path = os.path.join(folder, "chain.pem")
        with open(path, "wb") as out:
            for certificate in certificates:
                with open(certificate, "rb") as f:
                    out.write(f.read())
        return path

    def _huge(self, folder):
        """A certificate of about 1 MiB: twenty thousand DNS names."""
        config = os.path.join(folder, "huge.cnf")
        names = "\n".join("DNS.%d = n%06d.a-rather-long-label-for-size.hostile.test" % (i, i)
                          for i in range(1, 20001))
        with open(config, "w") as f:
            f.write("[req]\ndistinguished_name=dn\nx509_extensions=ext\nprompt=no\n[dn]\nCN=hostile.test\n"
                    "[ext]\nsubjectAltName=@alt\n[alt]\n" + names + "\n")
        return self._self_signed(folder, "huge", None, config)

    def _controls_config(self, folder):
        """A certificate whose names hold an escape sequence and a line break."""
        config = os.path.join(folder, "controls.cnf")
        with open(config, "w") as f:
            f.write("[req]\ndistinguished_name=dn\nx509_extensions=ext\nprompt=no\nstring_mask=nombstr\n"
                    "[dn]\nCN=hostile.test\n[ext]\nsubjectAltName=DNS:\"evil\x1b[2J.test\"\n")
        return config

    def context(self, chain):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(chain, self.key)
        return context


class TlsServer:
    """The server's side of TLS over the peer's socket, through memory BIOs."""

    def __init__(self, peer, context):
        self.peer = peer
        self.incoming = ssl.MemoryBIO()
        self.outgoing = ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.incoming.write(peer.pending)
        peer.pending = b""

    def _flush(self):
        data = self.outgoing.read()
        if data:
            self.peer.send(data)

    def _feed(self, deadline):
        while True:
            if self.peer.stop.is_set() or time.monotonic() > deadline:
                raise self.peer.error("the client sent no TLS data in time")
            try:
                data = self.peer.conn.recv(65536)
            except socket.timeout:
                continue
            if not data:
                raise self.peer.error("the client closed the TLS session")
            self.incoming.write(data)
            return

    def handshake(self):
        deadline = time.monotonic() + 5
        while True:
            try:
                self.tls.do_handshake()
                self._flush()
                return
            except ssl.SSLWantReadError:
                self._flush()
                self._feed(deadline)

    def read_line(self):
        deadline = time.monotonic() + 5
        data = b""
        while b"\r\n" not in data:
            try:
                data += self.tls.read(4096)
            except ssl.SSLWantReadError:
                self._feed(deadline)
        return data.split(b"\r\n", 1)[0]

    def sealed(self, data):
        """The TLS records that carry data, not yet sent."""
        self.tls.write(data)
        return self.outgoing.read()


def read_record(peer):
    """Reads one whole TLS record (RFC 8446 section 5.1) from the client."""
    deadline = time.monotonic() + 5
    while len(peer.pending) < 5 or len(peer.pending) < 5 + int.from_bytes(peer.pending[3:5], "big"):
        if peer.stop.is_set() or time.monotonic() > deadline:
            raise peer.error("no whole TLS record came")
        try:
            data = peer.conn.recv(65536)
        except socket.timeout:
            continue
        if not data:
            raise peer.error("the client closed before a whole TLS record")
        peer.pending += data
    length = 5 + int.from_bytes(peer.pending[3:5], "big")
    record, peer.pending = peer.pending[:length], peer.pending[length:]
    return record


def until_starttls(peer):
    peer.send(b"220 hostile.test ESMTP\r\n")
    peer.expect(b"EHLO localhost")
    peer.send(TLS_EHLO_REPLY)
    peer.expect(b"STARTTLS")
    peer.send(b"220 2.0.0 go ahead\r\n")


def ehlo_and_quit_over_tls(peer, server):
    """The client's EHLO and QUIT over the TLS session, answered."""
    if server.read_line() != b"EHLO localhost":
        raise peer.error("no EHLO over TLS")
    peer.send(server.sealed(b"250 hostile.test\r\n"))
    if server.read_line() != b"QUIT":
        raise peer.error("no QUIT over TLS")
    peer.send(server.sealed(b"221 2.0.0 Bye\r\n"))
    peer.drain()


def tls_cases(r, hp):
    """Runs the TLS cases with the harness r of test_hostile_peers (hp)."""
    with hp.tempfile.TemporaryDirectory(prefix="hostile-tls.") as folder:
        certificates = Certificates(folder)
        _run(r, hp, certificates)


def _run(r, hp, certificates):
    starttls = hp.HEAD + [b"< 220 hostile.test ESMTP", b"> EHLO localhost", b"< 250-hostile.test",
                          b"< 250-STARTTLS", b"< 250 8BITMIME", b"> STARTTLS", b"< 220 2.0.0 go ahead"]
    # Each case serves one connection; the retry after a failed handshake is
    # refused, which ends the probe at once.
    refused_retry = [b"Connection closed with 127.0.0.1", b"Error: Connection refused [10061]"]

    def silent(peer):
        until_starttls(peer)
        read_record(peer)
        peer.drain()

    r.case("STARTTLS answered, then silence", silent, TIMEOUT, 99,
           starttls + [b"TLS/SSL Problem: Unable to negotiate TLS cipher [162]", b"> NOOP"] + refused_retry,
           single=True, rss_limit=RSS_LIMIT_KIB)

    def alert(peer):
        until_starttls(peer)
        read_record(peer)
        peer.send(HANDSHAKE_FAILURE_ALERT)
        for _ in range(2):
            peer.expect(b"NOOP")
            peer.send(b"250 2.0.0 ok\r\n")
        hp.quit_politely(peer)

    r.case("a TLS alert in the middle of the handshake", alert, TIMEOUT, 99,
           starttls + [b"TLS/SSL Problem: Unable to establish a TLS connection [161]", b"> NOOP",
                       b"< 250 2.0.0 ok", b"> NOOP", b"< 250 2.0.0 ok", b"> QUIT", b"< 221 2.0.0 Bye"]
           + refused_retry, single=True, rss_limit=RSS_LIMIT_KIB)

    def serve(chain, then):
        def script(peer):
            until_starttls(peer)
            server = TlsServer(peer, certificates.context(chain))
            server.handshake()
            then(peer, server)
        return script

    def reported_then(ending):
        def judge(out):
            lines = out.split(b"\r\n")
            if b"TLS Cert: /CN=hostile.test" not in lines:
                return "no report of the server's certificate"
            if not any(line.startswith(b"  Status: ") for line in lines):
                return "no status line"
            if lines[-len(ending) - 1:-1] != ending:
                return "ends with %r, expected %r" % (lines[-len(ending) - 1:-1], ending)
            return None
        return judge

    over_tls = [b"> EHLO localhost", b"< 250 hostile.test", b"> QUIT", b"< 221 2.0.0 Bye", hp.CLOSED]
    r.case("a chain of 100 certificates", serve(certificates.chain, ehlo_and_quit_over_tls), TIMEOUT, 0,
           reported_then(over_tls), rss_limit=RSS_LIMIT_KIB)

    def huge(peer):
        until_starttls(peer)
        server = TlsServer(peer, certificates.context(certificates.huge))
        try:
            server.handshake()
        except ssl.SSLError:
            pass  # the client gave up on the certificate, as it should
        peer.conn.close()
        peer.conn = None

    r.case("a certificate of 1 MiB", huge, TIMEOUT, 99,
           starttls + [b"TLS/SSL Problem: Unable to establish a TLS connection [161]", b"> NOOP"] + refused_retry,
           single=True, rss_limit=RSS_LIMIT_KIB)

    def cut_record(peer, server):
        if server.read_line() != b"EHLO localhost":
            raise peer.error("no EHLO over TLS")
        records = server.sealed(b"250 hostile.test\r\n")
        peer.send(records[:len(records) // 2])
        time.sleep(0.2)
        peer.reset()

    def plain_text(peer):
        until_starttls(peer)
        read_record(peer)
        peer.send(b"554 5.7.0 no TLS here after all\r\n")
        peer.conn.close()
        peer.conn = None

    r.case("plain text where the ServerHello belongs", plain_text, TIMEOUT, 99,
           starttls + [b"TLS/SSL Problem: Unable to negotiate TLS cipher [162]", b"> NOOP"] + refused_retry,
           single=True, rss_limit=RSS_LIMIT_KIB)

    def close_notify(peer, server):
        try:
            server.tls.unwrap()
        except ssl.SSLWantReadError:
            pass
        server._flush()
        peer.drain()

    r.case("the TLS session closed right after the handshake", serve(certificates.leaf, close_notify), TIMEOUT,
           99, reported_then([b"> EHLO localhost", b"Error: Connection closed by peer for no good reason [11]"]),
           rss_limit=RSS_LIMIT_KIB)

    def names_shown_safely(out):
        if b"\x1b" in out:
            return "an escape byte of the certificate reached the output"
        if b"  CN/SAN: evil?[2J.test" not in out.split(b"\r\n"):
            return "the name is not shown with '?' for its control byte"
        return None

    r.case("control bytes in the certificate's names", serve(certificates.controls, ehlo_and_quit_over_tls),
           TIMEOUT, 0, names_shown_safely, rss_limit=RSS_LIMIT_KIB)

    r.case("a reset in the middle of a TLS record", serve(certificates.leaf, cut_record), TIMEOUT, 99,
           reported_then([b"> EHLO localhost", b"Error: Connection closed by peer for no good reason [10054]"]),
           rss_limit=RSS_LIMIT_KIB)
