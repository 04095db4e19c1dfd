#!/usr/bin/env python3
"""Drives a native messaging host as a browser would, for tests that bypass the extension:
drive_host.py COMMAND [ARGUMENT...] starts the host, sends each line of its own standard input
as one native message (the bytes as they are, so a line need not be JSON), ends the host's
input, and prints each message the host sent (one JSON text a line), then "exit STATUS".
The host has 60 s in all ("exit timeout" then).
"""
import struct
import subprocess
import sys

frames = b"".join(struct.pack("=I", len(line)) + line for line in sys.stdin.buffer.read().splitlines())
host = subprocess.Popen(sys.argv[1:], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
try:
    output, _ = host.communicate(frames, timeout=60)
except subprocess.TimeoutExpired:
    host.kill()
    output, status = host.communicate()[0], "timeout"
else:
    status = host.returncode
while len(output) >= 4:
    length = struct.unpack("=I", output[:4])[0]
    print(output[4:4 + length].decode())
    output = output[4 + length:]
print("exit", status)
