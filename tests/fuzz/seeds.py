#!/usr/bin/env python3
"""Seed corpora of the core fuzz targets, written by hand from the frame
layout and the files the tool writes (byte for byte as the writers do), so
that they do not come from the code under test. Files the tool itself wrote
(kvex-ctl get/record on the simulator) are added by --from DIR.
    tests/fuzz/seeds.py [--from DIR]

--golden OUT writes structure-aware seeds into OUT/<target>/ instead: the
frames the tool wrote in every golden scenario (tests/golden, fault matrix
included), the hardware words and firmware texts it saw, the parameter sets
it sent as the parameter files it would write, and the files it wrote.
With --sim KVEX_SIM those requests also go to the simulator, and its
replies (measurements, hardware, firmware, video blocks) join the seeds.
The output depends only on the files in git (and the simulator), so the
same checkout gives the same seeds.
    tests/fuzz/seeds.py --golden OUT [--sim KVEX_SIM]"""
import os, re, struct, sys, time

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


def text72(s):
    return s.encode("latin-1").ljust(72, b"\0")[:72]


def parafile(words):
    """A parameter file as the tool writes it: five columns, LF."""
    return "".join("%5u\n" % v for v in words).encode()


def recfile(lines, slope="1.0000", offset=0, eol=b"\r\n", date=b"12-07-2026", time=b"10:30:00", inc=1):
    """A recorder file as the tool writes it: seven header lines, CR LF."""
    h = [b"Date:\t" + date, b"Time:\t" + time, b"Time-Increment[s]:\t%d" % inc,
         b"Number of Samples:\t%d" % len(lines), b"Offset-Value [\xb5m]:\t%d" % offset,
         b"Slope-Value [\xb5m/pixel]:\t" + slope.encode(), b"E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]"]
    body = [b"%d\t%d\t%d\t%d\t%d" % l for l in lines]
    return b"".join(x + eol for x in h + body)


def hand():
    """The hand-written seeds, into tests/fuzz/corpus."""
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
    for name, s in [("xc", "K-VEX-XC Firmware V2.52 12/2019"), ("xd", "K-VEX-XD V2.40"),
                    ("xg-xc", "K-VEX-XG-XC V1.00"), ("xh-xd", "K-VEX-XH-XD V1.00"),
                    ("xf", "K-VEX-XF V3.0"), ("other", "CCD-LINE 1.0"), ("full", "K" * 72)]:
        put("firmware", "board100-" + name, b"\x01" + text72(s))
    w = b"".join(b"\0" + c for c in [bytes([x]) for x in text72("K-VEX-XC V2.30")[:36]])
    put("firmware", "board0-xc", b"\x00" + w)
    put("firmware", "short", b"\x01" + b"K-VEX-XC")

    # ---------------------------------------------------------------- parameter files
    put("paramfile", "written", parafile(params))
    put("paramfile", "extremes", parafile([0, 65535] * 8))
    put("paramfile", "crlf-tabs", b"\t1\r\n" * 15 + b"70000\r\n")
    put("paramfile", "seventeen", parafile(params + [9]))
    put("paramfile", "too-few", parafile(params[:15]))
    put("paramfile", "sign", b"-1\n" + parafile(params[1:]))

    # ---------------------------------------------------------------- recorder files
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

# ---------------------------------------------------------------- golden traces
golden = os.path.join(here, "..", "golden")
HW_ORDER, FIRMWARE_ORDER = 10, 7
PARAM_ORDERS = (1, 2, 3, 4)          # store/get RAM and EEPROM: the words are a parameter set


def traces():
    """(scenario, list of written frames, list of status texts), every
    golden trace, fault matrix included, in a fixed order."""
    out = []
    for sub in ("", "faults"):
        d = os.path.join(golden, sub)
        for fn in sorted(os.listdir(d)):
            if not fn.endswith(".trace"):
                continue
            writes, status = [], []
            for line in open(os.path.join(d, fn), encoding="latin-1"):
                if line.startswith("> "):
                    writes.append(bytes(int(x, 16) for x in line[2:].split()))
                elif line.startswith('status: "'):
                    status.append(line.rstrip("\n")[len('status: "'):-1])
            out.append(((sub + "-" if sub else "") + fn[:-6], writes, status))
    return out


def golden_files():
    """(name, bytes) of every file the tool wrote in a golden scenario."""
    out = []
    for sub in ("", "faults"):
        d = os.path.join(golden, sub)
        for fn in sorted(os.listdir(d)):
            if fn.endswith(".dat"):
                out.append(((sub + "-" if sub else "") + fn[:-4], open(os.path.join(d, fn), "rb").read()))
    return out


def words_of(f):
    return list(struct.unpack(">16H", f[4:36]))


class Seeds:
    """Seeds by target, each content once (the first name wins)."""

    def __init__(self):
        self.by = {}

    def add(self, target, name, data):
        t = self.by.setdefault(target, {})
        if data not in t.values():
            t[name] = data

    def write(self, root):
        for target, t in self.by.items():
            d = os.path.join(root, target)
            os.makedirs(d, exist_ok=True)
            for fn in os.listdir(d):     # a rerun leaves no stale seed behind
                os.remove(os.path.join(d, fn))
            for name, data in t.items():
                with open(os.path.join(d, name), "wb") as f:
                    f.write(data)
            print("%-10s %4d seeds" % (target, len(t)))


def unmask(dat):
    """A golden recording with a real date and time where it is masked."""
    return dat.replace(b"MM-DD-YYYY", b"12-07-2026").replace(b"HH:MM:SS", b"10:30:00")


def from_golden(seeds):
    configs = {}   # (hardware words, firmware text) -> requests, for the simulator
    for scen, writes, status in traces():
        # frames: each write, and the same words in the sensor's frame
        for i, f in enumerate(writes):
            if len(f) != 36:
                continue
            seeds.add("frame", "%s-%d" % (scen, i), f)
            seeds.add("frame", "%s-%d-reply" % (scen, i), struct.pack(">H", 0xAA) + f[2:])
        if writes:
            seeds.add("frame", scen + "-all", b"".join(writes[:8]))
        # the hardware words as the tool holds them ride in its firmware request
        hw = None
        for f in writes:
            if len(f) == 36 and struct.unpack(">H", f[2:4])[0] == FIRMWARE_ORDER:
                hw = words_of(f)
                for before in (1024, 256):
                    seeds.add("model", "%s-hw-%d" % (scen, before), f[4:36] + struct.pack(">H", before))
        firmware = [t for t in status if t.startswith("K-VEX")]
        pcb = hw[3] if hw else 100
        for j, t in enumerate(firmware):
            raw = text72(t)
            # selector byte: 0 -> board 0 (36 words, low bytes), 1 -> board 100
            seeds.add("firmware", "%s-%d-board100" % (scen, j), b"\x01" + raw)
            seeds.add("firmware", "%s-%d-board0" % (scen, j),
                      b"\x00" + b"".join(b"\0" + bytes([c]) for c in raw[:36]))
            if pcb not in (0, 100):
                seeds.add("firmware", "%s-%d-board%d" % (scen, j, pcb), bytes([pcb & 0xFF]) + raw)
        # every parameter set the tool sent or asked for, as the file it writes
        for i, f in enumerate(writes):
            if len(f) == 36 and struct.unpack(">H", f[2:4])[0] in PARAM_ORDERS:
                seeds.add("paramfile", "%s-%d" % (scen, i), parafile(words_of(f)))
        if hw:
            key = (tuple(hw), firmware[0] if firmware else "")
            configs.setdefault(key, []).extend(f for f in writes if len(f) == 36)
    for name, data in golden_files():
        if data.startswith(b"Date:"):
            seeds.add("recfile", name, data)
            seeds.add("recfile", name + "-dated", unmask(data))
            seeds.add("recfile", name + "-lf", unmask(data).replace(b"\r\n", b"\n"))
        else:
            seeds.add("paramfile", name, data)
    # broker addresses the tests hand to kvex-ctl
    for fn in ("test_ctl.cpp",):
        text = open(os.path.join(here, "..", fn), encoding="latin-1").read()
        for k, url in enumerate(sorted(set(re.findall(r'"(mqtt://[^"]*)"', text)))):
            seeds.add("ctl", "test-url-%d" % k, url.encode())
    return configs


# ---------------------------------------------------------------- the simulator's replies
SIM_OPTIONS = ("ccdtype", "ccdmaxpixel", "ccdresolution", "pcbtype", "ccdvirtpixel", "ccdsubpixel",
               "ccdpixb", "ccdpixe", "softversion", "hwtype", "adcmax")   # hardware words 0..10
MEASURE_ORDER = 8
QUIET_S, REPLY_MAX_S = 0.05, 1.0


def exchange(line, request):
    """Writes one request, returns what came back until the line went quiet."""
    import select
    os.write(line, request)
    got, deadline, quiet = b"", time.monotonic() + REPLY_MAX_S, QUIET_S * 4
    while time.monotonic() < deadline:
        r, _, _ = select.select([line], [], [], quiet)
        if not r:
            break
        got += os.read(line, 4096)
        quiet = QUIET_S
    return got


def recorder_line(w):
    """E-LEFT, E-RIGHT, M-VALUE, EDGES and the signed 32-bit M-VAL[um] of a measurement."""
    um = w[3] | w[4] << 16
    return (w[0], w[1], w[2], w[7], um - (1 << 32) if um & 0x80000000 else um)


VIRT_PIXELS = (256, 512, 768, 1024, 1180, 1280, 1536, 2048, 2360, 2560, 3072, 4096, 8192, 0, 1, 65535)


def end_to_end(seeds, tag, hw, replies):
    """One golden sensor's replies laid out as the end-to-end targets read them."""
    first = lambda order: replies.get(order, [b""])[0]
    echo, hwr, fw, params = first(5), first(HW_ORDER), first(FIRMWARE_ORDER), first(2)
    measures = [r[:36] for r in replies.get(MEASURE_ORDER, []) if len(r) >= 36]
    if hwr and fw:
        # board byte (bit 0: board 0), then echo, hardware (length bytes) and text (length / 8)
        seeds.add("ident", tag, bytes([1 if hw[3] == 0 else 0, len(echo) & 0xFF]) + echo +
                  bytes([len(hwr) & 0xFF]) + hwr + bytes([len(fw) // 8]) + fw)
    if len(hwr) >= 36 and len(params) >= 36:
        # hardware and parameter replies, then the measurements, a length byte each
        seeds.add("receive", tag, hwr[:36] + params[:36] + b"".join(bytes([36]) + m for m in measures))
    blocks = replies.get(9) or replies.get(11, [])[:1]
    if measures and blocks:
        pick = (0x10 if hw[3] == 100 else 0x20 if hw[3] == 0 else 0) | (0x40 if hw[10] == 256 else 0)
        if hw[4] in VIRT_PIXELS:
            pick |= VIRT_PIXELS.index(hw[4])
        seeds.add("video", tag, bytes([pick]) + measures[0] + b"".join(struct.pack(">H", len(b)) + b for b in blocks[:4]))


def from_sim(seeds, configs, sim):
    """Replays the requests of each golden sensor on a simulator set up as
    that sensor (no noise, fixed seed) and keeps its replies."""
    import subprocess, tty
    for k, ((hw, firmware), requests) in enumerate(sorted(configs.items())):
        args = [sim, "--fast", "--noise", "0", "--video-noise", "0", "--seed", "1"]
        for opt, v in zip(SIM_OPTIONS, hw):
            args += ["--" + opt, str(v)]
        if firmware:
            args += ["--firmware", firmware.rstrip()]
        p = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            path = p.stdout.readline().decode().strip()
            if not path.startswith("/dev/"):
                sys.exit("seeds.py: %s gave no pseudo-terminal (%r)" % (sim, path))
            line = os.open(path, os.O_RDWR | os.O_NOCTTY)
            tty.setraw(line)
            seen, lines, replies = set(), [], {}
            for req in requests:
                if req in seen:
                    continue
                seen.add(req)
                order = struct.unpack(">H", req[2:4])[0]
                reply = exchange(line, req)
                if not reply:
                    continue
                tag = "sim%d-order%d-%d" % (k, order, len(seen))
                replies.setdefault(order, []).append(reply)
                seeds.add("frame", tag, reply)
                if order == HW_ORDER and len(reply) >= 36:
                    for before in (1024, 256):
                        seeds.add("model", "%s-%d" % (tag, before), reply[4:36] + struct.pack(">H", before))
                elif order == FIRMWARE_ORDER:
                    seeds.add("firmware", tag, bytes([0 if hw[3] == 0 else 1 if hw[3] == 100 else hw[3] & 0xFF]) + reply)
                elif order in PARAM_ORDERS and len(reply) >= 36:
                    seeds.add("paramfile", tag, parafile(words_of(reply[:36])))
                elif order == MEASURE_ORDER and len(reply) >= 36:
                    lines.append(recorder_line(words_of(reply[:36])))
            # the measurements as the recorder writes them, and one more of each per request
            for r in list(lines):
                m = exchange(line, b"\x00\x55\x00\x08" + bytes(32))
                if len(m) >= 36:
                    lines.append(recorder_line(words_of(m[:36])))
            if lines:
                seeds.add("recfile", "sim%d" % k, recfile(lines, slope="12.5000", inc=0))
                seeds.add("recfile", "sim%d-comma" % k, recfile(lines, slope="12,5000", offset=-120))
            end_to_end(seeds, "sim%d" % k, hw, replies)
            os.close(line)
        finally:
            p.stdin.close()
            p.terminate()
            p.wait()


# ---------------------------------------------------------------- main
def main(argv):
    if not (argv == [] or (len(argv) == 2 and argv[0] in ("--golden", "--from")) or
            (len(argv) == 4 and argv[0] == "--golden" and argv[2] == "--sim")):
        sys.exit(__doc__)
    if argv and argv[0] == "--golden":
        seeds = Seeds()
        configs = from_golden(seeds)
        want = ["frame", "model", "firmware", "paramfile", "recfile", "parafile", "ctl"]
        if len(argv) == 4:
            from_sim(seeds, configs, argv[3])
            want += ["ident", "receive", "video"]
        # the end-to-end parameter file target reads the same files
        for name, data in list(seeds.by.get("paramfile", {}).items()):
            seeds.add("parafile", name, data)
        # a changed trace format must not quietly leave a fuzzer without its seeds
        missing = [t for t in want if not seeds.by.get(t)]
        if missing:
            sys.exit("seeds.py: no seeds drawn for " + ", ".join(missing))
        seeds.write(argv[1])
        return
    hand()
    if argv:
        src = argv[1]
        for fn in sorted(os.listdir(src)):
            data = open(os.path.join(src, fn), "rb").read()
            put("recfile" if data.startswith(b"Date:") else "paramfile", "tool-" + fn, data)


main(sys.argv[1:])
