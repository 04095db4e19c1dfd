#!/usr/bin/env python3
"""Writes the seed inputs of every harness into corpus/<harness>/ and the
inputs that show known faults into findings/. Run from anywhere.

The harnesses read their input with FuzzedDataProvider: strings and raw bytes
from the front (a string ends at a backslash followed by any other byte), and
numbers from the back, the first number taken being the input's last byte."""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    def __init__(self):
        self.front = bytearray()
        self.back = []  # numbers in the order they are taken

    def text(self, data):
        if isinstance(data, str):
            data = data.encode('latin-1')
        self.front += data.replace(b'\\', b'\\\\') + b'\\E'
        return self

    def raw(self, data):
        self.front += data
        return self

    def number(self, value, width=1):
        self.back.append(value.to_bytes(width, 'little'))
        return self

    def bytes(self):
        tail = bytearray()
        for value in self.back:
            tail = bytearray(value) + tail  # taken from the end, the first byte taken most significant
        return bytes(self.front + tail)


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def seed(harness, name, data):
    write(os.path.join(HERE, 'corpus', harness), name, data)


def finding(harness, name, data):
    write(os.path.join(HERE, 'findings', harness), name, data)


# Script events of the scripted socket: 0 silence, 1 recv error, 2 select error,
# 3 close, 4 data.
def script(inp, events):
    for kind, value in events:
        if kind == 'data':
            inp.number(4).text(value)
        elif kind == 'silence':
            inp.number(0).number(value - 1, 3)
        else:
            inp.number({'recv-error': 1, 'select-error': 2, 'close': 3}[kind])
    return inp


def proxy(flags, line, events):
    return script(Input().number(flags).text(line), events).bytes()


OK = 'HTTP/1.0 200 Connection established\r\nProxy-agent: t\r\n\r\n'
seed('proxy_dialogue', 'ok', proxy(0, 'HTTP/1.1 200 OK', [('data', OK)]))
seed('proxy_dialogue', 'basic', proxy(0, 'HTTP/1.0 407 x', [(
    'data', 'HTTP/1.0 407 Proxy Authentication Required\r\n'
    'Proxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm="p"\r\n\r\n')]))
seed('proxy_dialogue', 'ntlm', proxy(0, 'x', [(
    'data', 'HTTP/1.1 407 No\r\nPROXY-AUTHENTICATE:   Negotiate\r\n\r\n')]))
seed('proxy_dialogue', 'www', proxy(0, '', [(
    'data', 'HTTP/1.1 401 No\r\nWWW-Authenticate: basic\r\n\r\n')]))
seed('proxy_dialogue', 'redirect', proxy(0, 'HTTP/1.1 302 Found', [(
    'data', 'HTTP/1.1 302 Found\r\nLocation: x\r\n\r\n')]))
seed('proxy_dialogue', 'slow', proxy(0, 'HTTP', [
    ('data', 'HTTP/1.0 200 OK\r\n'), ('silence', 29000), ('data', 'A: b\r\n'),
    ('select-error', 0), ('data', '\r\n')]))
seed('proxy_dialogue', 'pieces', proxy(0, '', [
    ('data', 'HTTP/1.0 2'), ('data', '00 OK\r'), ('recv-error', 0), ('data', '\n\r\n')]))
seed('proxy_dialogue', 'silent', proxy(0, '', [('silence', 40000)]))
seed('proxy_dialogue', 'closed', proxy(0, '', [('data', 'HTTP/1.0 200 OK\r\n'), ('close', 0)]))
# A proxy that streams header lines and never pauses.
finding('proxy_dialogue', 'endless-headers', proxy(1, '', [('data', 'HTTP/1.0 200 OK\r\nA: b\r\n')]))

KEY = bytes(range(24))
def framed(flags, events):
    return script(Input().number(flags).raw(KEY), events).bytes()


seed('framed_reply', 'whole', framed(0, [('data', b'\x01' * 16 + b'<E>')]))
seed('framed_reply', 'pieces', framed(3, [('data', b'\x02' * 10), ('silence', 500),
                                          ('data', b'\x03' * 6 + b'<'), ('data', 'E>')]))
seed('framed_reply', 'errors', framed(2, [('recv-error', 0), ('data', 'x<E>')]))
seed('framed_reply', 'full', framed(1, [('data', b'\x04' * 500)]))
seed('framed_reply', 'trailer-only', framed(0, [('data', '<E>')]))
seed('framed_reply', 'late', framed(0, [('silence', 25000)]))
# A server that fails most reads but trickles a byte now and then, for ever.
finding('framed_reply', 'trickle', framed(4, [('recv-error', 0)] * 50 + [('data', 'x')]))


def pem():
    path = os.path.join(HERE, 'corpus', 'server_key', 'rsa1024')
    if os.path.exists(path):
        return open(path, 'rb').read()
    out = subprocess.run(['openssl', 'genrsa', '1024'], capture_output=True, check=True).stdout
    return subprocess.run(['openssl', 'rsa', '-pubout'], input=out, capture_output=True,
                          check=True).stdout


PEM = pem()
seed('server_key', 'rsa1024', PEM)
seed('server_key', 'cut', PEM[:150])
seed('server_key', 'no-end', PEM.replace(b'-----END PUBLIC KEY-----\n', b''))


def card_answer(inp, data, ok=True):
    return inp.number(1 if ok else 0).text(data)


def session(flags, answers, replies, secret_length=16, encrypt_length=128):
    inp = Input().number(flags).number(secret_length + 1, 2).number(encrypt_length + 1, 2)
    inp.raw(bytes(range(0x40, 0x50)))
    inp.number(len(answers))
    for data in answers:
        card_answer(inp, data)
    for mode, data, chunk in replies:
        inp.number(mode).text(data).number(chunk)
    return inp.bytes()


KEY_TEXT = PEM.decode().ljust(272, '\n')[:272]
HELLO = ('Hello ' + KEY_TEXT + 'x' * 5).encode() + bytes(range(1, 129)) + b'tail'
REPLY02 = b'02<sa=32>' + bytes(range(0x61, 0x81)) + b'<E>'
FINAL = b'03<rs=OK' + b'OK' + b'<re=256>' + bytes((0x41 + i % 26) for i in range(256)) + b'<E>'
GOOD_CARD = [b'A' * 12 + b'\x90\x00', b'12345678\x90\x00', b'C' * 16 + b'\x90\x00']
seed('sam_session', 'success', session(0, GOOD_CARD, [(0, HELLO, 0), (0, REPLY02, 0), (0, FINAL, 0)]))
seed('sam_session', 'pieces', session(0, GOOD_CARD, [(0, HELLO, 7), (0, REPLY02, 1), (0, FINAL, 64)]))
seed('sam_session', 'real-key', session(8, GOOD_CARD, [(0, HELLO, 0), (0, REPLY02, 0), (0, FINAL, 0)]))
seed('sam_session', 'bad-hello', session(0, GOOD_CARD, [(1, 'Hello', 0), (0, '', 0), (0, '', 0)]))
seed('sam_session', 'not-02', session(0, GOOD_CARD, [(0, HELLO, 0), (0, b'03' + REPLY02[2:], 0), (2, '', 0)]))
seed('sam_session', 'card-refuses', session(0, GOOD_CARD[:2] + [b'\x69\x82'], [(0, HELLO, 0), (0, REPLY02, 0), (0, FINAL, 0)]))
seed('sam_session', 'no-secret', session(0, GOOD_CARD, [(0, HELLO, 0)], secret_length=-1))
seed('sam_session', 'no-connection', session(3, [], []))
# A card that sends only its status word for the identifier; a final reply cut after "OK".
finding('sam_session', 'short-card-id', session(0, [b'\x90\x00'] + GOOD_CARD[1:],
        [(0, HELLO, 0), (0, REPLY02, 0), (0, FINAL, 0)]))
finding('sam_session', 'short-final-reply', session(0, GOOD_CARD,
        [(0, HELLO, 0), (0, REPLY02, 0), (0, FINAL[:20], 0)]))

seed('proxy_text', 'host-port', b'proxy.example:8080')
seed('proxy_text', 'list', b'h1:81;h2:82')
seed('proxy_text', 'no-host', b':81')
seed('proxy_text', 'sign', b'h: -12x')
seed('proxy_text', 'long', b'h' * 60 + b':99999999999')


def readers(multi, size_kind=1, size=0):
    inp = Input().text(multi).text(multi).number(size_kind)
    if size_kind == 0:
        inp.number(size, 4)
    return inp.bytes()


seed('reader_names', 'two', readers(b'Reader A\x00Reader B\x00\x00'))
seed('reader_names', 'long-name', readers(b'R' * 120 + b'\x00Short\x00\x00'))
seed('reader_names', 'many', readers(b''.join(b'R%d\x00' % i for i in range(25)) + b'\x00'))
seed('reader_names', 'size-lies', readers(b'A\x00\x00', 0, 2))
# A service that reports a reader list of 4 GiB.
finding('reader_names', 'huge-size', readers(b'A\x00\x00', 0, 0xFFFFFFF0))

BASIC = b'000012345678' + b'HOLDER NAME   ' + b' ' * 6 + b'A123456789' + b'0700101' + b'M' + b'1100101'
def holder(flags, answers, multi=None):
    inp = Input().number(flags)
    if multi is not None:
        inp.text(multi).number(1)
    for data in answers:
        card_answer(inp, data)
    return inp.bytes()


seed('holder_record', 'record', holder(0, [b'\x90\x00', BASIC + b'\x90\x00', b'1\x90\x00']))
seed('holder_record', 'no-card-data', holder(2, [b'\x90\x00', BASIC + b'\x90\x00']))
seed('holder_record', 'refused', holder(0, [b'\x90\x00', b'\x6a\x82']))
seed('holder_record', 'readers', holder(1, [b'\x6a\x82', b'\x90\x00', BASIC + b'\x90\x00', b'\x00\x90\x00'],
                                        b'No card\x00HC\x00\x00'))
# A card whose basic data is only its status word.
finding('holder_record', 'short-basic-data', holder(2, [b'\x90\x00', b'\x90\x00']))


def site(flags, zone, host, converted=''):
    return Input().number(flags).number(zone + 1).text(host).text(converted).bytes()


seed('site_rules', 'allowed', site(1, 3, 'www.qardex.example'))
seed('site_rules', 'capitals', site(1, 3, 'WWW.QARDEX.EXAMPLE.'))
seed('site_rules', 'range', site(1, 3, '198.51.100.7'))
seed('site_rules', 'idn', site(17, 3, b'\xff\x10.qardex.example', 'xn--x.qardex.example'))
seed('site_rules', 'local', site(0, 3, 'localhost'))
seed('site_rules', 'zone', site(1, 2, 'intranet'))
seed('site_rules', 'user', site(5, 3, 'www.qardex.example'))

seed('hosts_rewrite', 'stock', b'# 127.0.0.1 localhost\r\n' + b'\x00')
seed('hosts_rewrite', 'other-mapping',
     b'127.0.0.1 localhost\n10.0.0.1 local.qardex.example # old\n\tlocal.qardex.example\nlast' + b'\x00')
seed('hosts_rewrite', 'present',
     b'\r\n127.0.0.1       local.qardex.example #mQARDEX use this. \r\n' + b'\x00')
seed('hosts_rewrite', 'other-host', Input().text('a.example').raw(b'1.2.3.4 a.example\n').number(1).bytes())


def code(units, narrow, system=b''):
    return Input().number(units).text(narrow).raw(system).bytes()


seed('code_argument', 'known', code(4, '8008'))
seed('code_argument', 'zeros', code(5, '00001'))
seed('code_argument', 'system', code(2, '5', b'Access is denied.\r\n' * 20))
seed('code_argument', 'letters', code(3, '12a'))
seed('code_argument', 'long', code(6, '123456'))


def tool(args, hex_text=b''):
    inp = Input().number(len(args))
    for arg in args:
        inp.text(arg)
    return inp.raw(hex_text).bytes()


seed('tool_arguments', 'hello-key', tool(['hello-key'], b'00ff'))
seed('tool_arguments', 'basic', tool(['decrypt-basic', '--date', '20240131', '0123456789ABCDEF']))
seed('tool_arguments', 'encrypt', tool(['decrypt-encrypt', '--card-number', '000012345678',
                                        '--date', '20240229', 'A' * 32], b'aBcD'))
seed('tool_arguments', 'bad', tool(['decrypt-basic', '--date'], b'0g'))


# Service <-> worker frames: the stream, fed in pieces of CHUNK bytes.
def ipc_text(units):
    return len(units).to_bytes(4, 'little') + b''.join(u.to_bytes(2, 'little') for u in units)


def ipc_name(name):
    return bytes([len(name)]) + name


def ipc_frame(payload):
    return len(payload).to_bytes(4, 'little') + payload


def ipc_stream(chunk, payloads):
    return Input().raw(b''.join(ipc_frame(p) for p in payloads)).number(chunk - 1, 2).bytes()


def u32(value):
    return value.to_bytes(4, 'little')


CALL = (b'\x04' + u32(1) + (7).to_bytes(8, 'little') + ipc_name(b'EnCrypt') + b'\x01\x01'
        + ipc_text([0x61, 0xD800]))
RESULT = b'\x05' + u32(1) + b'\x01' + ipc_text([0x30, 0x30]) + u32(0)
EVERY_TYPE = [b'\x01' + u32(1234), b'\x02' + (7).to_bytes(8, 'little'), CALL, RESULT,
              b'\x05' + u32(2) + b'\x02' + u32(0xFFFFFFFF) + u32(8013), b'\x06' + u32(3),
              b'\x07' + u32(4) + ipc_name(b'unknown method'), b'\x03' + (7).to_bytes(8, 'little')]
seed('ipc_message', 'every-type', ipc_stream(4096, EVERY_TYPE))
seed('ipc_message', 'byte-by-byte', ipc_stream(1, [CALL, RESULT]))
seed('ipc_message', 'pieces', ipc_stream(5, EVERY_TYPE))
seed('ipc_message', 'no-args', ipc_stream(64, [
    b'\x04' + u32(9) + (1).to_bytes(8, 'little') + ipc_name(b'GetBasic') + b'\x00']))
seed('ipc_message', 'trailing-byte', ipc_stream(64, [b'\x06' + u32(3) + b'\x00', CALL]))
seed('ipc_message', 'bad-kind', ipc_stream(64, [CALL[:-9] + b'\x03' + CALL[-8:]]))
# A header that announces one byte more than a payload may hold, then a good frame.
seed('ipc_message', 'oversized',
     Input().raw(ipc_frame(CALL) + u32(0x10001) + ipc_frame(CALL)).number(15, 2).bytes())
