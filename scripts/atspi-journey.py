#!/usr/bin/python3
"""A keyboard-only journey through the accessibility bus, as a screen reader
user makes it: Tab to Light power by its name, type 700, Ctrl+S, F5, Esc, F7.
The tool talks to kvex-sim through a relay that keeps every byte the tool
writes; the frames are checked here, laid out by hand. Run by
scripts/atspi-journey inside its own D-Bus session and X server.
  atspi-journey.py KVEX_RIDAR KVEX_SIM"""
import os
import pty
import select
import subprocess
import sys
import threading
import time
import tty

import pyatspi

ridar, sim_path = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


# ---- the simulated sensor behind a relay that records the tool's bytes ----
sim = subprocess.Popen([sim_path, "--seed", "7", "--noise", "0"], stdin=subprocess.PIPE,
                       stdout=subprocess.PIPE, text=True)
sim_dev = sim.stdout.readline().strip()
sensor = os.open(sim_dev, os.O_RDWR | os.O_NOCTTY)
tty.setraw(sensor)
tool_side, tool_dev_fd = pty.openpty()
tty.setraw(tool_side)
tty.setraw(tool_dev_fd)
tool_dev = os.ttyname(tool_dev_fd)
wire = bytearray()        # what the tool wrote
wire_lock = threading.Lock()


def relay():
    while True:
        r, _, _ = select.select([tool_side, sensor], [], [], 0.5)
        for fd in r:
            try:
                data = os.read(fd, 4096)
            except OSError:
                return
            if fd == tool_side:
                with wire_lock:
                    wire.extend(data)
                os.write(sensor, data)
            else:
                os.write(tool_side, data)


threading.Thread(target=relay, daemon=True).start()


def frames_since(mark):
    """The tool's 36-byte frames (sync 00 55) written after byte `mark`."""
    with wire_lock:
        data = bytes(wire[mark:])
    out, i = [], 0
    while i + 36 <= len(data):
        if data[i:i + 2] == b"\x00\x55":
            out.append(data[i:i + 36])
            i += 36
        else:
            i += 1
    return out


def orders(frames):
    return [f[2] << 8 | f[3] for f in frames]


# ---- the tool and its accessible tree ---------------------------------------
env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
tool = subprocess.Popen([ridar, "--port", tool_dev], env=env)


def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == "kvex-ridar":
            return app
    return None


def walk(acc, depth=0):
    if acc is None or depth > 40:
        return
    yield acc
    for i in range(acc.childCount):
        try:
            yield from walk(acc.getChildAtIndex(i), depth + 1)
        except Exception:
            continue


def focused(app):
    for acc in walk(app):
        try:
            if acc.getState().contains(pyatspi.STATE_FOCUSED):
                return acc
        except Exception:
            continue
    return None


def wait_for(pred, seconds):
    end = time.time() + seconds
    while time.time() < end:
        v = pred()
        if v:
            return v
        time.sleep(0.2)
    return pred()


def key(name, mods=()):
    for m in mods:
        pyatspi.Registry.generateKeyboardEvent(m, None, pyatspi.KEY_PRESS)
    pyatspi.Registry.generateKeyboardEvent(KEYSYMS[name], None, pyatspi.KEY_SYM)
    for m in reversed(mods):
        pyatspi.Registry.generateKeyboardEvent(m, None, pyatspi.KEY_RELEASE)
    time.sleep(0.3)


# X keysyms, by hand; modifiers as key codes of Xvfb's default keymap
KEYSYMS = {"Tab": 0xFF09, "Escape": 0xFF1B, "F5": 0xFFC2, "F7": 0xFFC4, "s": 0x73,
           "7": 0x37, "0": 0x30, "a": 0x61}
CONTROL = 37

app = wait_for(find_app, 30)
check(app is not None, "kvex-ridar is on the accessibility bus")
if app is None:
    sys.exit(1)
status = wait_for(lambda: next((a for a in walk(app) if a.name == "Status"), None), 20)
check(status is not None, 'the status line is named "Status"')
health = next((a for a in walk(app) if a.name == "Link health"), None)
check(health is not None, 'the link-health field is named "Link health"')
# start-up: echo, identification and the parameter set from RAM
check(wait_for(lambda: 2 in orders(frames_since(0)), 20), "start-up read the RAM set (order 2)")
time.sleep(1)

passed = []
for _ in range(60):
    key("Tab")
    acc = focused(app)
    name = acc.name if acc is not None else ""
    if acc is not None and acc.getRole() == pyatspi.ROLE_COMBO_BOX:
        # Qt names a ring by its value; its label comes as a relation
        for rel in acc.getRelationSet():
            if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY and rel.getNTargets():
                name = rel.getTarget(0).name + ": " + name
    passed.append(name)
    if name == "Light power":
        break
print("Tab passed: " + " | ".join(passed), flush=True)
check(passed and passed[-1] == "Light power", "Tab reaches Light power by its name")
check(all(passed), "every field Tab passed has a name")
acc = focused(app)
if acc is not None:
    check(acc.getRole() == pyatspi.ROLE_SPIN_BUTTON, "Light power is a spin button")
    check("0 to 1000" in (acc.description or ""), "its description gives the range")
    check(next((a for a in walk(app) if a.name == "Sensor RAM"), None).getRole()
          == pyatspi.ROLE_RADIO_BUTTON, "Sensor RAM is a radio button")

mark = len(wire)
key("a", [CONTROL])
for ch in "700":
    key(ch)
key("s", [CONTROL])
store = wait_for(lambda: [f for f in frames_since(mark) if f[2:4] == b"\x00\x01"], 5)
check(bool(store), "Ctrl+S sent a store-to-RAM frame (order 1)")
if store:
    check(store[0][4:6] == b"\x02\xbc", "its first word, light power, is 700 (02 BC)")

mark = len(wire)
key("F5")
check(wait_for(lambda: orders(frames_since(mark)).count(8) >= 5, 5),
      "F5 runs: measurement requests (order 8)")
key("Escape")
time.sleep(2)
mark = len(wire)
time.sleep(1.5)
check(8 not in orders(frames_since(mark)), "Esc stopped the requests")
key("F7")
def analysis_window():
    for i in range(app.childCount):
        w = app.getChildAtIndex(i)
        if w is not None and w.name == "K-VEX-XC-Ridar - Analysis" and \
                w.getState().contains(pyatspi.STATE_SHOWING):
            return w
    return None


analysis = wait_for(analysis_window, 10)
print("windows: " + " | ".join("%s (%s)" % (app.getChildAtIndex(i).name,
                                            app.getChildAtIndex(i).getRoleName())
                               for i in range(app.childCount)), flush=True)
check(analysis is not None, "F7 opened the Analysis window")

tool.terminate()
tool.wait(10)
sim.terminate()
print("journey: " + ("passed" if not failures else "%d failed" % len(failures)))
sys.exit(1 if failures else 0)
