#!/usr/bin/env python3
"""Seed corpora of the core fuzz targets, written by hand from the frame
layout and the files the tool writes (byte for byte as the writers do), so
that they do not come from the code under test. Files the tool itself wrote
(kvex-ctl get/record on the simulator) are added by --from DIR.
    tests/fuzz/seeds.py [--from DIR]"""
import os, struct, sys

here = os.path.dirname(os.path.abspath(__file__))
corpus = os.path.join(here, "corpus")


def put(target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def frame(sync, header, words):
    words = list(words) + [0] * (16 - len(words))
    return struct.pack(">18H", sync, header, *words)


# ---------------------------------------------------------------- frames
params = [1, 0, 512, 0, 0, 1, 10, 2038, 1000, 50, 0, 0, 1024, 30000, 4, 1]
put("frame", "request-store", frame(0x55, 1, params))
put("frame", "reply-params", frame(0xAA, 2, params))
# measurement: edges 812 and 1236, um value 123456 in words 3 (low) and 4 (high)
meas = [812, 1236, 1024, 123456 & 0xFFFF, 123456 >> 16, 1000, 50, 2, 10, 2038, 0, 980, 12, 1]
put("frame", "reply-measure", frame(0xAA, 8, meas))
put("frame", "measure-negative", frame(0xAA, 8, [1, 2, 3, 0xFFFF, 0xFFFF]))
put("frame", "three-frames", frame(0xAA, 8, meas) * 3)
put("frame", "echo-odd-tail", frame(0xAA, 5, range(16)) + b"\xAA")

# ---------------------------------------------------------------- hardware replies
# ccdtype, ccdmaxpixel, ccdresolution, pcbtype, ccdvirtpixel, ccdsubpixel,
# ccdpixB, ccdpixE, softversion, hwtype, adcmax; then the full scale before
sensors = {
    "type1-80": [1, 1024, 80, 100, 2048, 2, 1, 2048, 252, 80, 1024],
    "type1-20": [1, 1024, 20, 100, 4096, 4, 1, 4096, 252, 80, 1024],
    "type2-250": [2, 1024, 0, 100, 2048, 2, 1, 2048, 252, 250, 1024],
    "type2-750": [2, 1024, 750, 0, 1024, 1, 1, 1024, 230, 0, 256],
    "type3": [3, 512, 0, 100, 1024, 2, 1, 1024, 245, 0, 1024],
    "type4": [4, 512, 0, 1, 512, 1, 1, 512, 200, 0, 1024],
    "type101": [101, 256, 0, 100, 512, 2, 1, 512, 252, 0, 1024],
    "type102-8bit": [102, 768, 0, 100, 1536, 2, 1, 1536, 225, 0, 1024],
    "type103": [103, 1180, 0, 100, 2360, 2, 1, 2360, 252, 0, 1024],
    "type104-old": [104, 1536, 0, 100, 3072, 2, 1, 3072, 249, 0, 1024],
    "type104": [104, 1536, 0, 100, 3072, 2, 1, 3072, 250, 0, 1024],
    "unknown-1000": [77, 1000, 0, 7, 1000, 0, 0, 0, 0, 0, 0],
    "zeros": [0] * 11,
    "ones": [0xFFFF] * 11,
}
for name, w in sensors.items():
    put("model", name, struct.pack(">16H", *(w + [0] * 5)) + struct.pack(">H", 1024))

# ---------------------------------------------------------------- firmware replies
# first byte: board type selector (0 -> board 0: 36 words, low bytes)
def text72(s):
    return s.encode("latin-1").ljust(72, b"\0")[:72]

for name, s in [("xc", "K-VEX-XC Firmware V2.52 12/2019"), ("xd", "K-VEX-XD V2.40"),
                ("xg-xc", "K-VEX-XG-XC V1.00"), ("xh-xd", "K-VEX-XH-XD V1.00"),
                ("xf", "K-VEX-XF V3.0"), ("other", "CCD-LINE 1.0"), ("full", "K" * 72)]:
    put("firmware", "board100-" + name, b"\x01" + text72(s))
w = b"".join(b"\0" + c for c in [bytes([x]) for x in text72("K-VEX-XC V2.30")[:36]])
put("firmware", "board0-xc", b"\x00" + w)
put("firmware", "short", b"\x01" + b"K-VEX-XC")

# ---------------------------------------------------------------- parameter files
def parafile(words):
    return "".join("%5u\n" % v for v in words).encode()

put("paramfile", "written", parafile(params))
put("paramfile", "extremes", parafile([0, 65535] * 8))
put("paramfile", "crlf-tabs", b"\t1\r\n" * 15 + b"70000\r\n")
put("paramfile", "seventeen", parafile(params + [9]))
put("paramfile", "too-few", parafile(params[:15]))
put("paramfile", "sign", b"-1\n" + parafile(params[1:]))

# ---------------------------------------------------------------- recorder files
def recfile(lines, slope="1.0000", offset=0, eol=b"\r\n"):
    h = [b"Date:\t12-07-2026", b"Time:\t10:30:00", b"Time-Increment[s]:\t1",
         b"Number of Samples:\t%d" % len(lines), b"Offset-Value [\xb5m]:\t%d" % offset,
         b"Slope-Value [\xb5m/pixel]:\t" + slope.encode(), b"E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]"]
    body = [b"%d\t%d\t%d\t%d\t%d" % l for l in lines]
    return b"".join(x + eol for x in h + body)

samples = [(812, 1236, 1024, 2, 123456), (811, 1237, 1026, 2, -5), (0, 0, 0, 0, 0)]
put("recfile", "written", recfile(samples))
put("recfile", "lf", recfile(samples, eol=b"\n"))
put("recfile", "comma", recfile(samples, slope="0,5000", offset=-30000))
put("recfile", "cut", recfile(samples)[:-9])
put("recfile", "bad-line", recfile(samples) + b"1\t2\tthree\t4\t5\r\n" + b"1\t2\t3\t4\t5\r\n")
put("recfile", "header-only", recfile([]))

# ---------------------------------------------------------------- kvex-ctl text
for name, s in [("url", "mqtt://localhost"), ("url-port", "mqtt://broker.local:8883/"),
                ("url-ip", "mqtt://10.0.0.2:1883"), ("url-bad", "mqtt://user@host:0"),
                ("cred", "operator:s3cr:et\n"), ("cred-crlf", "u:p\r\n")]:
    put("ctl", name, s.encode())

# ---------------------------------------------------------------- files the tool wrote
if len(sys.argv) == 3 and sys.argv[1] == "--from":
    src = sys.argv[2]
    for fn in sorted(os.listdir(src)):
        data = open(os.path.join(src, fn), "rb").read()
        put("recfile" if data.startswith(b"Date:") else "paramfile", "tool-" + fn, data)
