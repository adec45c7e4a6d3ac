#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/.

Each seed follows the input layout described at the top of its target's
source. The committed files are the output of this script; run it again
after changing a layout:  python3 fuzz/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    path = os.path.join(CORPUS, target)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def i16(v):
    return struct.pack("<h", v)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def i32(v):
    return struct.pack("<i", v)


# ---------------------------------------------------------------- addresses

ADDRESSES = {
    "mw10": "MW10",
    "mx10.3": "MX10.3",
    "explicit-f030": "F030:10",
    "symbol-name": "MAIN.nCounter",
    "lower-mb20": "mb20",
    "hex-prefix": "MW0x1A",
    "q-bit": "QX0.7",
    "i-word": "IW10",
    "explicit-short": "20:1A",
    "explicit-4020": "4020:10",
    "negative": "MB-10",
    "bit-overflow": "MX999999999.0",
    "offset-overflow": "MBFFFFFFFFF",
    "unknown-area": "DB20",
    "three-parts": "MX1.2.7",
    "empty": "",
    "latin1-umlaut": b"M\xc4B10",
    "utf8-umlaut": "MÄ10",
    "explicit-negative": "F020:-1",
    "symbol-index": "GVL.aTemps[3]",
    "symbol-leading-dot": ".bRun",
    "symbol-matrix": "Main.st.aMatrix[1,2].x",
}

# ---------------------------------------------------------------- connection texts

CONNECTIONS = {
    "eth": "192.168.0.10:48898",
    "eth-local": "127.0.0.1:851",
    "eth-port-too-big": "10.0.0.1:70000",
    "eth-port-highest": "10.0.0.1:65535",
    "eth-port-zero": "10.0.0.1:0",
    "eth-semicolon": "192.168.1.20;48898",
    "eth-no-ip": ":48898",
    "eth-two-colons": "10.0.0.1:1:2",
    "serial": "/dev/ttyUSB0,9600,8,1,N",
    "serial-even": "COM3,115200,8,2,Even",
    "serial-short": "COM1,9600",
    "serial-odd-spaces": "ttyS0,19200,7,3, odd",
    "serial-bad-baud": "ttyS0,9601,8,1,N",
    "serial-extra": "ttyUSB0,9600,8,1,N,X",
    "commas": ",,,,",
    "none": "192.168.1.20",
}

# ---------------------------------------------------------------- replies
# The controller's reply frames: AMS/TCP header, AMS header, command data.

CONTROLLER_NETID = bytes([192, 168, 0, 10, 1, 1])
DRIVER_NETID = bytes([192, 168, 10, 100, 1, 1])


def frame(invoke, command, body, error=0, tcp_length=None):
    # A reply is addressed to the driver, from the controller.
    ams = (DRIVER_NETID + u16(32957) + CONTROLLER_NETID + u16(851) + u16(command) + u16(0x0005)
           + u32(len(body)) + u32(error) + u32(invoke))
    length = 32 + len(body) if tcp_length is None else tcp_length
    return u16(0) + u32(length) + ams + body


def read_reply(invoke, data, result=0, length=None):
    return frame(invoke, 2, u32(result) + u32(len(data) if length is None else length) + data)


def write_reply(invoke, result=0):
    return frame(invoke, 3, u32(result))


def symbol_entry(group, offset, size, name, type_name, comment):
    body = (u32(group) + u32(offset) + u32(size) + u32(2) + u32(8) + u16(len(name)) + u16(len(type_name))
            + u16(len(comment)) + name + b"\0" + type_name + b"\0" + comment + b"\0")
    return u32(4 + len(body)) + body


def piece(data):
    return u16(len(data)) + data


# ctl: bits0-1 kind, bit2 late piece, bit3 the request echoed, bit4 reconnect, bits5-7 refused ids
READ, WRITE, LOOKUP, LATE, ECHO, RECONNECT, SKIP1 = 0, 1, 2, 0x04, 0x08, 0x10, 0x20


def exchange(ctl, type_index, count_raw, stale=b"", pieces=(), late=None):
    out = u8(ctl) + u8(type_index) + u16(count_raw) + piece(stale) + u8(len(pieces))
    out += b"".join(piece(p) for p in pieces)
    if ctl & 0x04:
        out += piece(late or b"")
    return out


def connection(first_id, *exchanges):
    # The target adds one to the first id before the first request.
    return u32(first_id) + u8(len(exchanges) - 1) + b"".join(exchanges)


# type index i selects element type i + 1: 0 bool ... 5 int32 ... 10 double
T_BOOL, T_INT8, T_INT16, T_INT32, T_FLOAT, T_UINT64, T_DOUBLE, T_UINT16 = 0, 1, 3, 5, 7, 9, 10, 4


def split(data, *cuts):
    parts, last = [], 0
    for c in cuts:
        parts.append(data[last:c])
        last = c
    parts.append(data[last:])
    return parts


def replies():
    seeds = {}
    int32x3 = struct.pack("<iii", 1, -2, 300000)
    r1 = read_reply(1, int32x3)
    seeds["read-int32x3-whole"] = connection(0, exchange(0, T_INT32, 2, pieces=[r1]))
    seeds["read-int32x3-split"] = connection(0, exchange(0, T_INT32, 2, pieces=split(r1, 4, 34)))
    stranger = read_reply(0, int32x3)
    seeds["read-stranger-first"] = connection(
        0, exchange(0, T_INT32, 2, pieces=split(stranger + r1, 20, len(stranger) + 3)))
    seeds["write-whole"] = connection(4, exchange(1, T_INT8, 2, pieces=[write_reply(5)]))
    # A late reply (id 1) cut short: its rest comes during the next exchange.
    late = read_reply(1, struct.pack("<dd", 1.5, -0.0))
    r2 = read_reply(3, struct.pack("<dd", 2.5, 1e300))
    seeds["late-rest-next-exchange"] = connection(
        1, exchange(0, T_DOUBLE, 1, pieces=[late[:50]]),
        exchange(0, T_DOUBLE, 1, pieces=[late[50:] + r2[:10], r2[10:]]))
    seeds["read-ads-error"] = connection(0, exchange(0, T_INT32, 2, pieces=[read_reply(1, b"", result=0x710)]))
    seeds["read-ams-error"] = connection(0, exchange(0, T_INT16, 0, pieces=[frame(1, 2, b"", error=0x700)]))
    big = read_reply(1, b"\x11" * 14)
    seeds["read-oversized"] = connection(0, exchange(0, T_INT32, 2, pieces=[big]))
    noise = frame(9, 2, b"\x00" * 8, tcp_length=0x7FFFFFFF)
    seeds["noise-then-reply"] = connection(0, exchange(0, T_INT32, 2, pieces=[noise, r1]))
    seeds["too-short-then-reply"] = connection(0, exchange(0, T_INT32, 2, pieces=[u16(0) + u32(0) + r1]))
    seeds["read-bool-x8"] = connection(
        0, exchange(0, T_BOOL, 7, pieces=[read_reply(1, bytes([0, 1, 2, 255, 0, 0, 1, 128]))]))
    # The 16-bit invoke id wraps between the two requests.
    seeds["invoke-id-wrap"] = connection(
        0xFFFE, exchange(0, T_UINT16, 0, pieces=[read_reply(0xFFFF, u16(0xBEEF))]),
        exchange(1, T_UINT16, 0, pieces=[write_reply(0x10000)]))
    cut = read_reply(0, b"\x00" * 40)
    seeds["reconnect-drops-pending"] = connection(
        1, exchange(0, T_INT32, 2, pieces=[cut[:60]]),
        exchange(RECONNECT, T_INT32, 2, pieces=[read_reply(3, int32x3)]))
    seeds["echoed-request"] = connection(0, exchange(ECHO, T_INT32, 2, pieces=[r1[:20], r1[20:]]))
    seeds["stray-byte-after-lookup"] = connection(
        0, exchange(LOOKUP, 2, 0, pieces=[read_reply(1, symbol_entry(0x4020, 0, 2, b".bRun", b"BOOL", b""))]),
        exchange(READ, T_INT32, 2, pieces=[b"\x01" + read_reply(2, int32x3)]))
    seeds["oversized-then-next"] = connection(
        0, exchange(0, T_INT32, 2, pieces=[read_reply(1, int32x3, length=12)[:2] + u32(44 + 12 + 1000)
                                             + read_reply(1, int32x3)[6:]]),
        exchange(0, T_INT32, 2, pieces=[read_reply(2, int32x3)]))
    seeds["write-trailing-late"] = connection(
        0, exchange(WRITE | LATE, T_INT32, 0, pieces=[write_reply(1) + b"\x00\x00\x07"], late=write_reply(1)))
    seeds["mixed-four"] = connection(
        10,
        exchange(0, T_UINT64, 1, pieces=[read_reply(11, struct.pack("<QQ", 1, 2**64 - 1))]),
        exchange(WRITE | SKIP1, T_FLOAT, 0, pieces=[write_reply(13)]),  # one id went to a refused request
        exchange(0, T_FLOAT, 1, pieces=[read_reply(14, struct.pack("<ff", float("nan"), -1.25))]),
        exchange(0, T_INT8, 3, pieces=[read_reply(15, b"\x80\x7f\x00\xff")[:30], read_reply(15, b"\x80\x7f\x00\xff")[30:]]))
    entry = symbol_entry(0x4040, 0x1F4, 2, b"MAIN.nCounter", b"INT", b"counts")
    seeds["lookup-entry"] = connection(0, exchange(LOOKUP, 0, 0, pieces=split(read_reply(1, entry), 50)))
    seeds["lookup-length-short"] = connection(
        0, exchange(LOOKUP, 1, 0, pieces=[read_reply(1, entry, length=len(entry) - 1)]))
    seeds["lookup-then-read"] = connection(
        0, exchange(LOOKUP, 2, 0, pieces=[read_reply(1, symbol_entry(0x4020, 0, 2, b".bRun", b"BOOL", b""))]),
        exchange(READ, T_INT16, 0, pieces=[read_reply(2, u16(0xFFFF))]))
    seeds["read-one-short"] = connection(0, exchange(0, T_INT32, 2, pieces=[read_reply(1, int32x3[:-1])]))
    seeds["read-uint16-x1000"] = connection(
        0, exchange(0, T_UINT16, 999, pieces=[read_reply(1, b"".join(u16(i * 7) for i in range(1000)))]))
    return seeds


# Connections whose pieces carry frames the target builds (see the input
# layout in fuzz_reply.cpp): notifications, replies, late replies.
BUILD, SINK, CLEAN = 0x04, 0x08, 0x10
NOTE, REPLY, OLDER, CUT = 1, 2, 3, 0x04
AWAITED = 0x08  # a notification's shape bit: it carries the awaited invoke id


def built_connection(first_id, flags, *exchanges, held=0xFF, limit=511):
    out = u32(first_id) + u8((len(exchanges) - 1) | flags)
    if flags & SINK:
        out += u8(held) + u16(limit)
    return out + b"".join(exchanges)


def notice(first_handle, stamps, per_stamp, samples, awaited=False):
    # The target reads one size byte and the bytes per sample.
    assert 1 <= stamps <= 4 and len(samples) == stamps * per_stamp
    shape = first_handle | (AWAITED if awaited else 0) | ((stamps - 1) << 4) | (per_stamp << 6)
    return b"".join([u8(shape)] + [u8(len(s)) + s for s in samples])


def op(kind=0, shape=b"", cut=None, raw=None):
    # A piece: its raw bytes (none in a clean stream), then what is built after them.
    head = b"" if raw is None else piece(raw)
    return head + u8(kind | (CUT if cut is not None else 0)) + shape + (b"" if cut is None else u16(cut))


def built_exchange(ctl, type_index, count_raw, stale, pieces=(), late=None):
    out = u8(ctl) + u8(type_index) + u16(count_raw) + stale + u8(len(pieces)) + b"".join(pieces)
    if ctl & LATE:
        out += late
    return out


def notifications():
    seeds = {}
    ab = notice(0, 1, 1, [b"ab"])
    two = notice(1, 2, 2, [b"\x01\x02", b"", b"\xff" * 16, b"\x7f"])
    mine = notice(4, 1, 1, [b"\x10\x20\x30\x40"], awaited=True)
    clean = BUILD | SINK | CLEAN
    seeds["notify-then-reply"] = built_connection(
        0, clean, built_exchange(READ, T_INT32, 2, op(), [op(NOTE, ab), op(REPLY)]))
    # A notification cut in its header, its rest and the reply in the next piece.
    seeds["notify-cut-then-reply"] = built_connection(
        0, clean, built_exchange(READ, T_INT16, 0, op(), [op(NOTE, two, cut=20), op(REPLY)]))
    seeds["notify-awaited-id"] = built_connection(
        0, clean, built_exchange(WRITE, T_INT8, 3, op(), [op(NOTE, mine, cut=50), op(REPLY, cut=7), op()]))
    # After the reply, one cut in two between the exchanges; the next wait
    # begins with a late reply to the first request.
    seeds["notify-between-exchanges"] = built_connection(
        5, clean,
        built_exchange(READ | LATE, T_DOUBLE, 0, op(), [op(REPLY)], late=op(NOTE, two, cut=60)),
        built_exchange(LOOKUP, 1, 0, op(NOTE, ab), [op(OLDER), op(NOTE, mine), op(REPLY, cut=30), op()]))
    # Input bytes: the reply and a notification behind it in one piece, noise before.
    r1 = read_reply(1, struct.pack("<iii", 1, -2, 300000))
    seeds["notify-behind-reply"] = built_connection(
        0, BUILD | SINK, built_exchange(READ, T_INT32, 2, op(raw=b""), [op(NOTE, ab, raw=b"\x00\x00\x07" + r1)]))
    # Longer than the limit: noise to the engine, as are notifications with no sink.
    seeds["notify-over-limit"] = built_connection(
        0, clean, built_exchange(READ, T_UINT16, 1, op(), [op(NOTE, two), op(NOTE, ab), op(REPLY)]),
        held=0x01, limit=60)
    seeds["notify-no-sink"] = built_connection(
        0, BUILD | CLEAN, built_exchange(READ, T_INT32, 2, op(), [op(NOTE, two, cut=9), op(NOTE, ab), op(REPLY)]))
    # The head of a notification kept between waits, then a reconnect.
    seeds["notify-reconnect-drops-head"] = built_connection(
        0, clean, built_exchange(READ, T_INT8, 0, op(), [op(REPLY), op(NOTE, ab, cut=25)]),
        built_exchange(READ | RECONNECT, T_INT8, 0, op(NOTE, ab), [op(REPLY)]))
    # An echoing line: the rest of a notification comes before the echo.
    seeds["notify-echo"] = built_connection(
        0, clean, built_exchange(ECHO, T_FLOAT, 1, op(NOTE, two, cut=41), [op(NOTE, ab), op(REPLY)]))
    return seeds


# ---------------------------------------------------------------- notification data
# fuzz_notification: u8 mode; bit0 a notification built from a shape and
# samples (as fuzz_reply builds them), else the data part as it came.


def notification_data(*stamps, length=None, tail=b""):
    # stamps: lists of (handle, bytes); the samples' sizes as they are.
    body = u32(len(stamps))
    for i, samples in enumerate(stamps):
        body += struct.pack("<Q", 0x01D9000000000000 + i) + u32(len(samples))
        body += b"".join(u32(h) + u32(len(b)) + b for h, b in samples)
    body += tail
    return u32(len(body) if length is None else length) + body


def notification_datas():
    return {
        "built-one": u8(0x01) + notice(0, 1, 1, [b"ab"]),
        "built-four-stamps": u8(0x0F) + notice(5, 4, 3, [bytes([i]) * (i % 17) for i in range(12)]),
        "built-no-samples": u8(0x01) + notice(2, 3, 0, []),
        "one-sample": u8(0) + notification_data([(7, b"\x01\x02")]),
        "two-stamps": u8(0) + notification_data([(1, b"x")], [(2, b""), (3, b"yz")]),
        "no-stamps": u8(0) + notification_data(),
        "bytes-after-length": u8(0) + notification_data([(1, b"ab")]) + b"\xee" * 5,
        "unused-in-length": u8(0) + notification_data([(1, b"ab")], tail=b"\0\0\0"),
        "length-past-end": u8(0) + notification_data([(1, b"ab")], length=200),
        "sample-size-huge": u8(0) + u32(28) + u32(1) + b"\0" * 8 + u32(1) + u32(1) + u32(0xFFFFFFFF) + b"ab",
        "stamps-huge": u8(0) + u32(8) + u32(0xFFFFFFFF) + b"\0" * 4,
        "short": u8(0) + b"\x04\0\0",
        "empty": b"",
    }


# ---------------------------------------------------------------- decoder

def decodes():
    def seed(type_index, count, flags, data):
        return u8(type_index) + i16(count) + u8(flags) + data

    return {
        "bool-x5": seed(0, 5, 0, bytes([0, 1, 2, 0x80, 0xFF])),
        "int8-x4": seed(1, 4, 0x05, b"\x80\x7f\x00\xff"),
        "uint8-past-end": seed(2, 8, 0, b"\x01\x02"),
        "int16-x2": seed(3, 2, 0x0A, struct.pack("<hh", -32768, 32767)),
        "uint16-odd-bytes": seed(4, 3, 0, b"\x01\x02\x03\x04\x05"),
        "int32-x3": seed(5, 3, 0, struct.pack("<iii", -1, 0, 2**31 - 1)),
        "uint32-half": seed(6, 4, 0x04, struct.pack("<IIII", 1, 2, 3, 2**32 - 1)),
        "float-nan-inf": seed(7, 4, 0, struct.pack("<fff", float("nan"), float("inf"), -0.0) + b"\x01\x00\x80\x7f"),
        "int64-x2": seed(8, 2, 0, struct.pack("<qq", -2**63, 2**63 - 1)),
        "uint64-x1": seed(9, 1, 0x0C, struct.pack("<Q", 2**64 - 1)),
        "double-x3": seed(10, 3, 0, struct.pack("<ddd", 1e-310, -1.5, float("-inf"))),
        "negative-count": seed(5, -3, 0, b"\x01\x02\x03\x04"),
        "zero-count": seed(10, 0, 0x03, b""),
    }


# ---------------------------------------------------------------- labels

ELEMENT = {  # list kind -> struct format of one element
    1: "B", 2: "b", 3: "B", 4: "h", 5: "H", 6: "i", 7: "I", 8: "f", 9: "q", 10: "Q", 11: "d", 14: "i", 15: "i",
}


# Picks of the target's special values: integers, and floats.
SPECIAL = {"0": 0, "1": 1, "-1": 2, "MIN": 3, "MAX": 4, "inf": 4, "-inf": 5, "nan": 6, "max": 8, "lowest": 9}


def label(type_code, count, kind, values, result=0, name=b"MW10", aux=b""):
    if -1 <= type_code <= 45:
        out = u8(type_code + 1)
    else:
        out = u8(0xFF) + i32(type_code)
    out += i16(count) + u8(kind) + u16(len(values))
    for v in values:
        if kind in (12, 13):
            s = v.encode("latin-1")
            out += u8(len(s)) + s
        elif kind == 1:
            out += u8(v)
        elif isinstance(v, str):  # a special value by name
            out += u8(SPECIAL[v])
        else:
            out += u8(0xFF) + struct.pack("<" + ELEMENT[kind], v)
    return out + u8(result) + u8(len(name)) + name + u8(len(aux)) + aux


def labels():
    return {
        "int32-equal": u8(0x0A) + label(6, 3, 6, [1, -2, 2**31 - 1]) + label(6, 3, 6, [5, 0, 1]),
        "int16-min-by-minus-one": u8(0x0E) + label(4, 2, 4, [-32768, 7]) + label(4, 2, 4, [-1, 0]),
        "int32-min-by-minus-one": u8(0) + label(6, 2, 6, ["MIN", 7]) + label(6, 2, 6, ["-1", "0"]),
        "int64-min-by-minus-one": u8(0) + label(9, 1, 9, ["MIN"]) + label(9, 1, 9, ["-1"]),
        "uint16-products": u8(0) + label(5, 2, 5, [65535, 3]) + label(5, 2, 5, [65535, 0]),
        "float-nan-zero": u8(0) + label(8, 3, 8, ["nan", "inf", 0.0]) + label(8, 3, 8, [0.0, -0.0, 0.0]),
        "double-further-code": u8(0) + label(38, 2, 11, [1e308, -2.5]) + label(38, 2, 11, [1e308, 0.0]),
        "bool-ops": u8(0) + label(1, 4, 1, [0, 1, 0, 1]) + label(1, 4, 1, [0, 0, 1, 1]),
        "strings": u8(0) + label(12, 2, 12, ["ab", ""]) + label(12, 2, 12, ["c", "d"]),
        "int32-code-20": u8(0x08) + label(20, 2, 6, [4, 9]) + label(20, 2, 6, [2, 3]),
        "code-30-no-base": u8(0) + label(30, 2, 6, [1, 2]) + label(6, 2, 6, [1, 2]),
        "code-minus-one": u8(0) + label(-1, 1, 6, [1]) + label(-1, 1, 6, [1]),
        "code-large": u8(0) + label(100000, 1, 6, [1]) + label(-7, 1, 6, [1]),
        "count-above-length": u8(0) + label(6, 300, 6, [1, 2]) + label(6, 300, 6, [3, 4]),
        "lengths-differ": u8(0) + label(6, 3, 6, [1, 2, 3]) + label(6, 3, 6, [1, 2]),
        "wrong-list-type": u8(0) + label(6, 2, 4, [1, 2]) + label(6, 2, 6, [1, 2]),
        "uint64-wrap": u8(0) + label(10, 1, 10, [2**64 - 1]) + label(10, 1, 10, [2]),
        "int8-chars": u8(0) + label(2, 3, 2, [-128, 127, 0]) + label(2, 3, 2, [-1, 1, 0]),
        "negative-count": u8(0) + label(6, -5, 6, [1]) + label(6, -5, 6, [1]),
        "no-value": u8(0) + label(6, 2, 0, []) + label(6, 2, 0, []),
        "stringlist-variantlist": u8(0) + label(12, 1, 13, ["x"]) + label(6, 1, 14, [5]),
        "scalar-value": u8(0) + label(6, 1, 15, [5]) + label(6, 1, 15, [5]),
    }


def symbol_tables():
    a = symbol_entry(0x4020, 0, 2, b"MAIN.x", b"INT", b"")
    b = symbol_entry(0x4020, 4, 81, b"MAIN.s", b"STRING(80)", b"a comment \xe4")
    c = symbol_entry(0xF030, 0, 40, b"GVL.arr", b"ARRAY [0..9] OF DINT", b"")
    newer = a[:0] + u32(len(a) + 4) + a[4:] + b"\0\0\0\0"  # bytes after the comment
    return {
        "one": a,
        "three": a + b + c,
        "with-extra-bytes": newer + b,
        "cut": (a + b)[:-3],
        "empty": b"",
    }


def data_type_entry(name, type_name, comment, size, offs, data_type, dims=(), members=(), after=b""):
    body = (u32(1) + u32(0) + u32(0) + u32(size) + u32(offs) + u32(data_type) + u32(0)
            + u16(len(name)) + u16(len(type_name)) + u16(len(comment)) + u16(len(dims)) + u16(len(members))
            + name + b"\0" + type_name + b"\0" + comment + b"\0")
    for lower, count in dims:
        body += i32(lower) + u32(count)
    for m in members:
        body += m
    return u32(4 + len(body) + len(after)) + body + after


def data_type_tables():
    speed = data_type_entry(b"T_Speed", b"INT", b"rpm", 2, 0, 2)
    members = (data_type_entry(b"nSpeed", b"INT", b"", 2, 0, 2),
               data_type_entry(b"aSteps", b"ARRAY [1..3] OF REAL", b"", 12, 4, 4, dims=((1, 3),)))
    motor = data_type_entry(b"ST_Motor", b"", b"a drive \xe4", 16, 0, 65, members=members)
    nested = data_type_entry(b"ST_Axis", b"", b"", 16, 0, 65,
                             members=(data_type_entry(b"stMotor", b"ST_Motor", b"", 16, 0, 65, members=members),))
    newer = data_type_entry(b"T_Row", b"INT", b"", 12, 0, 2, dims=((-1, 2), (0, 3)), after=b"\1\2\3\4")
    return {
        "one": speed,
        "structure": motor,
        "three": speed + motor + nested,
        "with-extra-bytes": newer + speed,
        "cut": (speed + motor)[:-5],
        "empty": b"",
    }


def main():
    # Files other than these (inputs kept from failures) stay as they are.
    for name, text in ADDRESSES.items():
        write("fuzz_address", name, text)
    for name, text in CONNECTIONS.items():
        write("fuzz_connection", name, text)
    for name, data in replies().items():
        write("fuzz_reply", name, data)
    for name, data in notifications().items():
        write("fuzz_reply", name, data)
    for name, data in notification_datas().items():
        write("fuzz_notification", name, data)
    for name, data in decodes().items():
        write("fuzz_decode", name, data)
    for name, data in labels().items():
        write("fuzz_label", name, data)
    for name, data in symbol_tables().items():
        write("fuzz_symboltable", name, data)
    for name, data in data_type_tables().items():
        write("fuzz_datatypes", name, data)


if __name__ == "__main__":
    main()
