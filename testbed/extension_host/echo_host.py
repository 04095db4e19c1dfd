#!/usr/bin/env python3
"""Echo host for the extension's tests: a native messaging host (a 4-byte length, then JSON) with
the host's message shape and canned answers, no card: version, diagnostics, open (sessions s-1,
s-2, ...), close, call (GetVersion "0001", other methods their name and arguments), watch (a state
and a card insertion, then open until cancelled). A call whose first argument is "hang" waits for
its cancel; "die" ends the host mid-call. Logs its command line and every message it gets to
$QARDEX_ECHO_LOG when set.
"""
import json
import os
import struct
import sys

log = open(os.environ.get("QARDEX_ECHO_LOG") or os.devnull, "a", buffering=1)
sessions, waiting = set(), set()  # waiting: hanging calls and open watches


def send(message):
    data = json.dumps(message).encode()
    sys.stdout.buffer.write(struct.pack("=I", len(data)) + data)
    sys.stdout.buffer.flush()


def answer(request):
    ask, session, args = request.get("ask"), request.get("session"), request.get("args", [])
    if ask == "version":
        return 200, {"version": "0001"}
    if ask == "diagnostics":
        return 200, {"version": "1.0.0", "readers": 1, "hcCard": True, "serverReachable": True}
    if ask == "open":
        sessions.add("s-%d" % (len(sessions) + 1))
        return 201, {"session": "s-%d" % len(sessions)}
    if session not in sessions:
        return 404, {"error": "unknown session"}
    if ask == "close":
        sessions.discard(session)
        return 204, None
    if args[:1] == ["die"]:
        os._exit(3)
    if ask == "watch":
        reader = {"index": 0, "reader": "QX Echo 00 00"}
        send({"id": request["id"], "event": dict(type="state", readers=[dict(reader, card=False, hc=False)])})
        send({"id": request["id"], "event": dict(reader, type="card-inserted", hc=True)})
    if ask == "watch" or args[:1] == ["hang"]:
        return None
    method = request.get("method")
    return 200, {"result": "0001" if method == "GetVersion" else "%s(%s)" % (method, ",".join(args)), "lastError": 0}


log.write("argv %s\n" % json.dumps(sys.argv[1:]))
while len(header := sys.stdin.buffer.read(4)) == 4:
    request = json.loads(sys.stdin.buffer.read(struct.unpack("=I", header)[0]))
    log.write(json.dumps(request, sort_keys=True) + "\n")
    if request.get("cancel"):
        if request["id"] in waiting:
            waiting.discard(request["id"])
            send({"id": request["id"], "end": True})
    elif (reply := answer(request)) is None:
        waiting.add(request["id"])
    else:
        send(dict({"id": request["id"], "status": reply[0]}, **({"body": reply[1]} if reply[1] else {})))
