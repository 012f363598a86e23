#!/usr/bin/python3
"""Chains forged to pass for trusted ones, served by a scripted TLS peer.

Each case answers MX, A and TLSA queries from a scripted name server (the
TLSA answer authenticated, AD set) and serves one chain after STARTTLS;
none of the forged chains may be reported as "valid and trusted" or
"DANE verified" (RFC 7671 sections 5.1 and 5.2, RFC 5280 section 6). Two
honest chains show that the same set-up does report trust where it is
there. The peers live in a network namespace of this script's own, the
mail host on 192.0.2.25. Run as root; exits 77 when the namespace cannot
be made. Prints "N passed, N failed" at the end.
"""

import hashlib
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_tls  # noqa: E402
import test_hostile_peers as hp  # noqa: E402

DOMAIN = "dane.test"
MX = "mx." + DOMAIN
MX_ADDRESS = "192.0.2.25"
TYPE_A, TYPE_MX, TYPE_TLSA = 1, 15, 52
FLAGS_AD = 0x81A0  # a response, RD, RA and AD (RFC 4035 section 3.2.3)


def openssl(*args, stdin=None):
    subprocess.run(["openssl"] + list(args), input=stdin, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def der(path):
    return subprocess.run(["openssl", "x509", "-in", path, "-outform", "DER"], check=True,
                          capture_output=True).stdout


class Pki:
    """The keys and certificates of the cases, made with openssl in folder."""

    def __init__(self, folder):
        self.folder = folder
        self.config = self._write("req.cnf", "[req]\ndistinguished_name=dn\n[dn]\n")
        self.ca_ext = self._write("ca.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,"
                                  "cRLSign\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
        self.not_ca_ext = self._write("notca.ext", "basicConstraints=critical,CA:FALSE\n"
                                      "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
        self._write("index", "")
        self._write("serial", "1000\n")
        self.ca_config = self._write("ca.cnf", "[ca]\ndefault_ca=d\n[d]\ndatabase=%s\nnew_certs_dir=%s\n"
                                     "serial=%s\ndefault_md=sha256\npolicy=p\nunique_subject=no\n"
                                     "[p]\ncommonName=supplied\n"
                                     % (os.path.join(folder, "index"), folder, os.path.join(folder, "serial")))
        self.server_key = self._key("server")
        self.root = self._root("root", "/CN=Forgery Test Root", self._key("root"))
        # The root's name with the attacker's key: anyone can make it.
        self.twin = self._root("twin", "/CN=Forgery Test Root", self._key("attacker"))
        self.intermediate = self._issue("intermediate", "/CN=Forgery Test CA", self.root, self.ca_ext,
                                        self._key("intermediate"))
        self.not_ca = self._issue("notca", "/CN=Forgery Test Not A CA", self.root, self.not_ca_ext,
                                  self._key("notca"))
        self.expired_ca = self._expired("expiredca", "/CN=Forgery Test Expired CA", self.root,
                                        self._key("expiredca"))

    def _write(self, name, text):
        path = os.path.join(self.folder, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def _key(self, name):
        path = os.path.join(self.folder, name + ".key")
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", path)
        return path

    def _root(self, name, subject, key):
        path = os.path.join(self.folder, name + ".pem")
        openssl("req", "-x509", "-new", "-config", self.config, "-key", key, "-subj", subject, "-days", "30",
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
                "-out", path)
        return (path, key)

    def _csr(self, subject, key):
        return subprocess.run(["openssl", "req", "-new", "-config", self.config, "-key", key, "-subj", subject],
                              check=True, capture_output=True).stdout

    def _issue(self, name, subject, issuer, ext, key=None, dates=None):
        """A certificate issued by issuer (openssl ca sets the dates): valid
        from yesterday for 30 days unless dates are given."""
        if dates is None:
            now = time.time()
            dates = (time.strftime("%Y%m%d%H%M%SZ", time.gmtime(now - 86400)),
                     time.strftime("%Y%m%d%H%M%SZ", time.gmtime(now + 30 * 86400)))
        csr = self._write(name + ".csr", self._csr(subject, key or self.server_key).decode())
        path = os.path.join(self.folder, name + ".pem")
        openssl("ca", "-batch", "-config", self.ca_config, "-cert", issuer[0], "-keyfile", issuer[1], "-in", csr,
                "-out", path, "-notext", "-startdate", dates[0], "-enddate", dates[1], "-extfile", ext)
        return (path, key)

    def _expired(self, name, subject, issuer, key):
        """A CA certificate whose validity ended years ago."""
        return self._issue(name, subject, issuer, self.ca_ext, key, ("20200101000000Z", "20200201000000Z"))

    def leaf(self, name, issuer, usage="serverAuth"):
        ext = self._write(name + ".ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=%s\n"
                          "subjectAltName=DNS:%s\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n"
                          % (usage, MX))
        return self._issue(name, "/CN=" + MX, issuer, ext)[0]

    def chain(self, name, *paths):
        """A PEM file of the certificates in order, as the server sends them."""
        out = os.path.join(self.folder, name + ".chain")
        with open(out, "wb") as f:
            for path in paths:
                with open(path, "rb") as part:
                    f.write(part.read())
        return out


def tlsa(usage, selector, matching_type, data):
    return bytes([usage, selector, matching_type]) + data


def spki_of(path):
    pub = subprocess.run(["openssl", "x509", "-in", path, "-noout", "-pubkey"], check=True,
                         capture_output=True).stdout
    return subprocess.run(["openssl", "pkey", "-pubin", "-outform", "DER"], input=pub, check=True,
                          capture_output=True).stdout


def name_server(records):
    """MX, A and authenticated TLSA answers for the one mail host."""
    def answer(query):
        if query.type == TYPE_MX and query.name == DOMAIN:
            return hp.dns_answer(query, [hp.dns_record(b"\xc0\x0c", TYPE_MX, b"\0\x0a" + hp.dns_name(MX))])
        if query.type == TYPE_A and query.name == MX:
            return hp.dns_answer(query, [hp.dns_record(b"\xc0\x0c", TYPE_A, bytes(map(int, MX_ADDRESS.split("."))))])
        if query.type == TYPE_TLSA and query.name == "_25._tcp." + MX:
            return hp.dns_answer(query, [hp.dns_record(b"\xc0\x0c", TYPE_TLSA, r) for r in records], flags=FLAGS_AD)
        return hp.dns_answer(query)
    return answer


def serving(chain_path, key):
    def script(peer):
        hostile_tls.until_starttls(peer)
        context = hostile_tls.ssl.SSLContext(hostile_tls.ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(chain_path, key)
        server = hostile_tls.TlsServer(peer, context)
        server.handshake()
        hostile_tls.ehlo_and_quit_over_tls(peer, server)
    return script


def status_is(trusted, word=None):
    """The output's one Status line: trusted or not, and holding word."""
    def judge(out):
        lines = [line for line in out.split(b"\r\n") if line.startswith(b"  Status: ")]
        if len(lines) != 1:
            return "%d status lines" % len(lines)
        line = lines[0]
        says_trusted = b"valid and trusted" in line or b"DANE verified" in line
        if says_trusted != trusted:
            return "%r, expected it %s trusted" % (line, "to be" if trusted else "not to be")
        if word is not None and word not in line:
            return "%r lacks %r" % (line, word)
        return None
    return judge


def report_trusts(trusted, dane_result=None):
    """The JSON report's probe: trusted by the CA file or verified by DANE
    exactly when trusted, and with dane_result when given."""
    def judge(records):
        probes = [r for r in records if r["type"] == "probe"]
        if len(probes) != 1:
            return "%d probe records" % len(probes)
        probe = probes[0]
        says = probe["certificate"]["trusted"] is True or probe["dane"]["result"] == "verified"
        if says != trusted:
            return "report: trusted %r, DANE %r" % (probe["certificate"]["trusted"], probe["dane"]["result"])
        if dane_result is not None and probe["dane"]["result"] != dane_result:
            return "report: DANE %r, expected %r" % (probe["dane"]["result"], dane_result)
        return None
    return judge


def main():
    if not os.access(hp.BINARY, os.X_OK):
        print("FAIL no program at %s (build it first)" % hp.BINARY)
        return 1
    hp.enter_namespace()
    subprocess.run(["ip", "address", "add", MX_ADDRESS + "/32", "dev", "lo"], check=True)
    r = hp.Results()
    with hp.tempfile.TemporaryDirectory(prefix="forged.") as folder:
        pki = Pki(folder)
        key = pki.server_key
        root, intermediate = pki.root[0], pki.intermediate[0]
        honest = pki.leaf("honest", pki.intermediate)
        forged = pki.leaf("forged", pki.twin)
        cases = [
            # name, served chain, TLSA records, -lCA, trusted, a word the status holds
            ("honest chain under the CA file", pki.chain("c1", honest, intermediate), [], True, True, b"CN+CA"),
            ("honest 3 1 1", pki.chain("c2", honest, intermediate),
             [tlsa(3, 1, 1, hashlib.sha256(spki_of(honest)).digest())], False, True, b"DANE verified"),
            ("2 0 1 of the root, leaf signed by another key of its name", pki.chain("c3", forged, root),
             [tlsa(2, 0, 1, hashlib.sha256(der(root)).digest())], False, False, b"DANE issuer mismatch"),
            ("0 0 1 of a CA, leaf signed by another key", pki.chain("c4", forged, intermediate, root),
             [tlsa(0, 0, 1, hashlib.sha256(der(intermediate)).digest())], True, False, None),
            ("issuer with CA:FALSE under the CA file",
             pki.chain("c5", pki.leaf("undernotca", pki.not_ca), pki.not_ca[0]), [], True, False, None),
            ("1 1 1 of a leaf under an issuer with CA:FALSE",
             pki.chain("c6", pki.leaf("undernotca2", pki.not_ca), pki.not_ca[0]),
             [tlsa(1, 1, 1, hashlib.sha256(spki_of(os.path.join(folder, "undernotca2.pem"))).digest())],
             True, False, None),
            ("expired issuer under the CA file",
             pki.chain("c7", pki.leaf("underexpired", pki.expired_ca), pki.expired_ca[0]), [], True, False,
             b"expired"),
            ("leaf for client authentication only",
             pki.chain("c8", pki.leaf("clientonly", pki.intermediate, "clientAuth"), intermediate), [], True,
             False, b"invalid purpose"),
            ("3 0 0 of the leaf with four bytes more", pki.chain("c9", honest, intermediate),
             [tlsa(3, 0, 0, der(honest) + b"\0\0\0\0")], False, False, b"invalid DANE"),
            ("a record of an unknown usage", pki.chain("c10", honest, intermediate),
             [tlsa(4, 0, 1, hashlib.sha256(der(honest)).digest())], False, False, None),
        ]
        dane_results = {"honest 3 1 1": "verified", "a record of an unknown usage": "no_usable_records"}
        # Once for the transcript, once more with the JSON report beside it.
        for json_pass in (False, True):
            r.json = json_pass
            for name, chain_path, records, use_ca, trusted, word in cases:
                args = ["-d" + DOMAIN] + hostile_tls.TIMEOUT + (["-lCA" + root] if use_ca else [])
                r.case(name, serving(chain_path, key), args, 0, status_is(trusted, word), dns=name_server(records),
                       base=hp.DNS_ARGS, peer_address=MX_ADDRESS,
                       report_check=report_trusts(trusted, dane_results.get(name)))
    print("%d passed, %d failed" % (r.passed, r.failed))
    return 0 if r.failed == 0 and r.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
