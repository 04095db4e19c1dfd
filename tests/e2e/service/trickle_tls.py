#!/usr/bin/env python3
"""A client that completes the TLS handshake, then sends the encrypted bytes of one request a
byte a second (the request is trickled below TLS, so the service sees no plain byte until the
record is whole). Prints the seconds from the first byte until the service closed the
connection, or "never" after LIMIT seconds.

  trickle_tls.py HOST PORT CA_FILE [LIMIT]
"""
import select
import socket
import ssl
import sys
import time

host, port, ca = sys.argv[1], int(sys.argv[2]), sys.argv[3]
limit = float(sys.argv[4]) if len(sys.argv) > 4 else 60
incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
tls = ssl.create_default_context(cafile=ca).wrap_bio(incoming, outgoing, server_hostname=host)
link = socket.create_connection(("127.0.0.1", port), timeout=10)
while True:
    try:
        tls.do_handshake()
        break
    except ssl.SSLWantReadError:
        link.sendall(outgoing.read())
        data = link.recv(65536)
        if not data:
            sys.exit("closed during the handshake")
        incoming.write(data)
link.sendall(outgoing.read())
tls.write(b"GET /v1/version HTTP/1.1\r\nHost: %s:%d\r\n\r\n" % (host.encode(), port))
record = outgoing.read()
start = time.monotonic()
for i in range(int(limit)):
    try:
        link.send(record[i % len(record) : i % len(record) + 1])
        # Whatever the service sends (session tickets) is read; an end of stream ends the test.
        while select.select([link], [], [], 0)[0]:
            if not link.recv(65536):
                raise ConnectionResetError
    except OSError:
        print("%.1f" % (time.monotonic() - start))
        sys.exit(0)
    time.sleep(1)
print("never")
