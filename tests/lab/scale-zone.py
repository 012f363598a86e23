#!/usr/bin/env python3
"""Writes the lab's scale zone and the two target lists that go with it.

    scale-zone.py ZONE_FILE UNIQUE_LIST SHARED_LIST

lab.sh runs this at start-up with LAB_SCALE=1; Knot signs the zone like the
lab's other zones.  Which domain is which depends on its number alone, so a
list cut short (head -n 1000) keeps the same mix:

  uNNNNN.scale.example (10,000 listed), each with an MX host of its own,
  mx.uNNNNN.scale.example:
    N % 20 == 7    not in the zone at all: NXDOMAIN (5%)
    N % 20 == 13   MX host on a black-holed address, 203.0.113.150-199 (5%)
    N % 10 == 4    TLSA 3 1 1 of the key that the listeners send (10%)
    others         MX host on a listener, 198.51.100.100-149, by N % 50
  sNNNNN.scale.example (10,000), MX 10 sharedNN with NN = N % 20: the
  20 hosts of one provider, 50 addresses among them (the listeners again),
  every one of them with a TLSA record.

Long TTLs keep a warmed resolver cache warm through a whole benchmark.
"""
import sys

ZONE = "scale.example"
COUNT = 10000
LISTENERS = ["198.51.100.%d" % (100 + i) for i in range(50)]
BLACK_HOLES = ["203.0.113.%d" % (150 + i) for i in range(50)]
SHARED_HOSTS = 20
# SHA-256 of the public key of mx1's certificate, which every scale listener
# sends (Postfix's default certificate in the lab).
MX1_KEY = "d0e61dc93cc4433bdf124c431f7177c4c2119893c4bf28ceea4385c1fde5c6ad"


def shared_addresses(j):
    # Hosts 0-19 take listeners 0-19 and 20-39; hosts 0-9 also 40-49, so that
    # every listener belongs to exactly one host.
    addresses = [LISTENERS[j], LISTENERS[20 + j]]
    if j < 10:
        addresses.append(LISTENERS[40 + j])
    return addresses


def main(zone_file, unique_list, shared_list):
    lines = [
        "; Made by scale-zone.py at lab start-up; see the lab's README.",
        "$ORIGIN %s." % ZONE,
        "$TTL 86400",
        "@ SOA ns1.lab.example. hostmaster.lab.example. 1 3600 600 864000 86400",
        "@ NS ns1.lab.example.",
    ]
    unique = []
    for n in range(COUNT):
        name = "u%05d" % n
        unique.append("%s.%s" % (name, ZONE))
        if n % 20 == 7:
            continue
        lines.append("%s MX 10 mx.%s" % (name, name))
        if n % 20 == 13:
            lines.append("mx.%s A %s" % (name, BLACK_HOLES[(n // 20) % len(BLACK_HOLES)]))
            continue
        lines.append("mx.%s A %s" % (name, LISTENERS[n % len(LISTENERS)]))
        if n % 10 == 4:
            lines.append("_25._tcp.mx.%s TLSA 3 1 1 %s" % (name, MX1_KEY))
    for j in range(SHARED_HOSTS):
        host = "shared%02d" % j
        for address in shared_addresses(j):
            lines.append("%s A %s" % (host, address))
        lines.append("_25._tcp.%s TLSA 3 1 1 %s" % (host, MX1_KEY))
    shared = []
    for n in range(COUNT):
        name = "s%05d" % n
        shared.append("%s.%s" % (name, ZONE))
        lines.append("%s MX 10 shared%02d" % (name, n % SHARED_HOSTS))
    with open(zone_file, "w") as out:
        out.write("\n".join(lines) + "\n")
    with open(unique_list, "w") as out:
        out.write("\n".join(unique) + "\n")
    with open(shared_list, "w") as out:
        out.write("\n".join(shared) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: scale-zone.py ZONE_FILE UNIQUE_LIST SHARED_LIST")
    main(*sys.argv[1:])
