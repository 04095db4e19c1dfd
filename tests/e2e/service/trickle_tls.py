#!/usr/bin/env python3
"""Slow and hostile TLS clients of the local service.

  trickle_tls.py HOST PORT CA_FILE [LIMIT]
    completes the TLS handshake, then sends the encrypted bytes of one request a byte a second
    (the request is trickled below TLS, so the service sees no plain byte until the record is
    whole). Prints the seconds from the first byte until the service closed the connection, or
    "never" after LIMIT seconds.
  trickle_tls.py HOST PORT CA_FILE --hold COUNT SECONDS
    opens COUNT connections, each sending half a request head and nothing more; prints how many
    got that far, then holds them for SECONDS.
  trickle_tls.py HOST PORT CA_FILE --send TEXT
    sends TEXT (with \\r\\n escapes) and keeps the connection open; prints the answer's status
    line and the seconds until the service closed the connection (or "never" after 10 s).
"""
import select
import socket
import ssl
import sys
import time

host, port, ca = sys.argv[1], int(sys.argv[2]), sys.argv[3]
context = ssl.create_default_context(cafile=ca)


def handshake():
    """A connection with its handshake done, and its TLS object over memory buffers."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = context.wrap_bio(incoming, outgoing, server_hostname=host)
    link = socket.create_connection(("127.0.0.1", port), timeout=10)
    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            link.sendall(outgoing.read())
            data = link.recv(65536)
            if not data:
                raise ConnectionResetError("closed during the handshake")
            incoming.write(data)
    link.sendall(outgoing.read())
    return link, tls, incoming, outgoing


head = b"GET /v1/version HTTP/1.1\r\nHost: %s:%d\r\n\r\n" % (host.encode(), port)

if len(sys.argv) > 5 and sys.argv[4] == "--hold":
    held = []
    for _ in range(int(sys.argv[5])):
        try:
            link, tls, _, outgoing = handshake()
            tls.write(head[: len(head) // 2])
            link.sendall(outgoing.read())
            held.append(link)
        except OSError:
            pass
    print(len(held), flush=True)
    time.sleep(float(sys.argv[6]))
    sys.exit(0)

if len(sys.argv) > 5 and sys.argv[4] == "--send":
    link, tls, incoming, outgoing = handshake()
    tls.write(sys.argv[5].encode().decode("unicode_escape").encode("latin-1"))
    link.sendall(outgoing.read())
    start, answer = time.monotonic(), b""
    while time.monotonic() - start < 10:
        if not select.select([link], [], [], 0.2)[0]:
            continue
        data = link.recv(65536)
        if not data:
            break
        incoming.write(data)
        try:
            while True:
                text = tls.read(65536)
                if not text:  # the service's close_notify
                    break
                answer += text
        except (ssl.SSLWantReadError, ssl.SSLZeroReturnError):
            pass
    closed = time.monotonic() - start
    print(answer.split(b"\r\n")[0].decode("latin-1"))
    print("%.1f" % closed if closed < 10 else "never")
    sys.exit(0)

limit = float(sys.argv[4]) if len(sys.argv) > 4 else 60
link, tls, incoming, outgoing = handshake()
tls.write(head)
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
