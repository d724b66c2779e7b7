#!/usr/bin/env python3
"""Real OSC receivers that share no code with the bridge, fed by the real
ring2osc through the real ring2osc-tap, all at once: liblo's oscdump, the
SuperCollider example and the Pd patch, each on a port of its own, each show
every address with its value.
usage: peer_test.py BRIDGE TAP"""
import math, os, re, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *

# All 23 addresses, in the order in which the peers show them.
SCRIPT = "1 x=1.5 y=-inf z=nan\n2 r_r=0.25 r_p=-90 r_y=180\n3 j_x=-2147483648 j_y=2147483647 j_t=1\n" \
         "4 gest_value=5\n9 x=inf y=-0.5 z=3\n" + "".join(f"0 b_number={n} b_value={n * 11}\n" for n in range(10))
EXPECTED = [("/a/x", 1.5), ("/a/y", -math.inf), ("/a/z", math.nan), ("/r/r", 0.25), ("/r/p", -90), ("/r/y", 180),
            ("/j/x", -2147483648), ("/j/y", 2147483647), ("/j/t", 1), ("/gest", 5), ("/g/x", math.inf),
            ("/g/y", -0.5), ("/g/z", 3)] + [(f"/b/{n}", n * 11) for n in range(10)]


def shown_in(output):
    """From each line showing an address: the address and the line's last
    word, its value ("/a/x 1.5", Pd's "/a/x: 1.5", oscdump's "TIME /a/x f
    1.500000")."""
    found = (re.search(r"(^|\s)(/[a-z]/[a-z0-9]|/gest):? (.* )?(\S+)$", line) for line in output.splitlines())
    return [(m[2], float(m[4])) for m in found if m]


def part_peers():
    os.environ.update(QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1", RING2OSC_POST="1",
                      RING2OSC_PORT="7042", RING2OSC_EXAMPLE=SOURCE + "/examples/ring2osc.scd")
    peers = [("pd", ["pd", "-nogui", "-nosound", "-nomidi", "-stderr", "-open", SOURCE + "/tests/pd_harness.pd",
                     "-open", SOURCE + "/examples/ring2osc.pd", "-send", "ring2osc-port 7041"], 7041, 1),
             ("sclang", ["sclang", SOURCE + "/tests/sc_harness.scd"], 7042, 2),  # each address shown twice
             ("oscdump", ["oscdump", "-L", "7043"], 7043, 1)]
    listeners = [Program(command) for _, command, _, _ in peers]
    try:
        for (name, _, port, _), listener in zip(peers, listeners):
            check(wait_until(lambda: udp_port_bound(port), 20), f"{name} listens")
        with tap("--quiet", "--forward", "7041", "--forward", "7042", "--forward", "7043"), Bridge(SCRIPT):
            for (name, _, _, shows), listener in zip(peers, listeners):
                wait_until(lambda: len(shown_in(listener.output())) >= shows * len(EXPECTED), 15)
                shown = shown_in(listener.output())
                # Pd's number boxes show six significant digits, and a NaN as 0.
                wanted = [(a, 0 if math.isnan(v) and name == "pd" else v) for a, v in EXPECTED] * shows
                check(len(shown) == len(wanted) and all(
                    a == b and (math.isnan(y) if math.isnan(x) else x == y or abs(x - y) <= 1e-5 * abs(x))
                    for (b, x), (a, y) in zip(wanted, shown)), f"{name} shows every address: {shown}")
    finally:
        for listener in listeners:
            listener.__exit__()


main(globals())
