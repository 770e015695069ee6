#!/usr/bin/python3
"""A DNS server for the discovery tests (dnslib), answering from a zone in
the master-file form dnslib reads, over UDP and TCP on ADDRESS port 53,
where a resolver looks; names it does not hold get NXDOMAIN.

Usage: dns_server.py ADDRESS ZONE_FILE
Prints "ready", then serves until its standard input closes.
"""
import select
import sys

from dnslib import QTYPE, RCODE, RR
from dnslib.server import BaseResolver, DNSLogger, DNSServer


class ZoneResolver(BaseResolver):
    def __init__(self, text):
        self.records = RR.fromZone(text)

    def resolve(self, request, handler):
        reply = request.reply()
        name, qtype = request.q.qname, QTYPE[request.q.qtype]
        for rr in self.records:
            if rr.rname == name and (QTYPE[rr.rtype] == qtype or qtype == "ANY"):
                reply.add_answer(rr)
        if not reply.rr and not any(rr.rname == name for rr in self.records):
            reply.header.rcode = RCODE.NXDOMAIN
        return reply


def main():
    address, zone = sys.argv[1], sys.argv[2]
    with open(zone) as f:
        resolver = ZoneResolver(f.read())
    quiet = DNSLogger(log="-request,-reply,-truncated,-error,-recv,-send,-data", prefix=False)
    servers = [DNSServer(resolver, address=address, port=53, tcp=tcp, logger=quiet) for tcp in (False, True)]
    for s in servers:
        s.start_thread()
    print("ready", flush=True)
    select.select([sys.stdin], [], [], 600)
    for s in servers:
        s.stop()


if __name__ == "__main__":
    main()
