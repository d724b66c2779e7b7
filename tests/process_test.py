#!/usr/bin/env python3
"""The real ring2osc on the simulated ring, in a process of its own: what
arrives on port 7040, byte for byte, and what the SDK was asked.
usage: process_test.py BRIDGE TAP [PART...]"""
import os, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *


def part_every_kind():
    receiver = Udp(7040)
    script = "# line 2 is malformed; the rest plays\nfour\n" + script_of(EVERY_KIND)
    with Bridge(script, RINGSIM_EVENTS="-", RINGSIM_RINGS="5") as bridge:
        arrived = receiver.receive_all(len(EVERY_KIND))
        wrong = [line for (line, sent), got in zip(EVERY_KIND, arrived) if got != bundle(sent)]
        check(len(arrived) == len(EVERY_KIND) and not wrong, f"{len(arrived)} datagrams, these wrong: {wrong}")
        subscribed = "QorInitialize\nQorNumRings 5\n" + "".join(
            f"QorGetRingName 0\nQorSubscribe {code} ring0\n" for code in (2, 3, 4, 1, 10, 5, 6))
        check(read(bridge.log) == subscribed, "the SDK asked in order: " + read(bridge.log).replace("\n", "; "))
        check(bridge.output() == 'ringsim: -:2: bad kind "four"\n', bridge.output())


def part_settings():
    """Each setting's effect: what arrives (in any order) and what is said."""
    gesture, empty = bundle("/gest i 1"), bundle()
    rows = [({"RINGSIM_EVENTS": "-", "RINGSIM_THREADS": "2", "RINGSIM_RINGS": "0"}, "11\n4 gest_value=1\n",
             [empty, empty, gesture, gesture], ""),
            ({"RINGSIM_THREADS": "3"}, "4 gest_value=1\n", [gesture] * 3, ""),
            ({"RINGSIM_EVENTS": "-", "RINGSIM_LOOP": "1", "RINGSIM_INTERVAL_US": "0"}, "@0 4 gest_value=1\n",
             [gesture], "ringsim: -: a pass takes no time (no @SECONDS past 0, RINGSIM_INTERVAL_US 0): "
             "played once, not looped\n"),
            ({"RINGSIM_EVENTS": "", "RINGSIM_RINGS": "0"}, "", [empty],
             "ringsim: demo waits: QorNumRings is 0, so nothing subscribes\n")]
    receiver = Udp(7040)
    for settings, script, sent, said in rows:
        with Bridge(script, **settings) as bridge:
            arrived = receiver.receive_all(len(sent), quiet=0.5)
            check(sorted(arrived) == sorted(sent) and bridge.output() == said, f"{settings}: {len(arrived)} "
                  f"datagrams, said {bridge.output()!r}")
            if "RINGSIM_THREADS" in settings and settings.get("RINGSIM_RINGS") == "0":
                check(read(bridge.log) == "QorInitialize\nQorNumRings 0\nQorNumRings 0\n", read(bridge.log))
                # Played out, the bridge only sleeps; it must not spin a core.
                before = cpu_seconds(bridge.pid)
                time.sleep(1)
                spent = cpu_seconds(bridge.pid) - before
                check(spent < 0.1, f"played out: {spent:.2f} s of CPU in 1 s")


def part_loop():
    receiver, stamps = Udp(7040), temporary_path("stamps")
    with Bridge("@0.02 4 gest_value=1\n@0.01 4 gest_value=2\n", RINGSIM_EVENTS="-", RINGSIM_LOOP="1",
                RINGSIM_SPEED="2", RINGSIM_STAMPS=stamps) as bridge:
        arrived = receiver.receive_all(6, quiet=0)[:6]
        check(arrived == [bundle("/gest i 1"), bundle("/gest i 2")] * 3, "the loop plays in order")
        check(bridge.output() == "ringsim: -:2: time before the line before's; played right after it\n",
              bridge.output())
        # The first pass's two hand-overs, in order, while the loop goes on.
        times = [int(t) for t in read(stamps).split()]
        check(len(times) == 2 and 0 < times[0] <= times[1], f"stamps {times}")
    os.unlink(stamps)


def part_said():
    stamps = temporary_path("missing") + "/stamps"
    with Bridge(b"\xFF\xFE4\0\n\0", RINGSIM_EVENTS="-", RINGSIM_STAMPS=stamps) as bridge:
        wait_until(lambda: bridge.output().count("\n") >= 2)
        check(bridge.output() == "ringsim: -: UTF-16 text; save the script as UTF-8\nringsim: cannot write "
              f"{stamps}.partial: No such file or directory\n" and bridge.running(), bridge.output())


def part_demo():
    receiver, log = Udp(7040), temporary_path("missing") + "/log"
    # The first address of each datagram: the subscription's empty bundle,
    # then tick by tick acceleration, rotation and gyroscope, the joystick
    # every tenth tick, a button twice in fifty, a gesture once in a hundred.
    expected, tick = [""], 0
    while len(expected) < 80:
        expected += ["/a/x", "/r/r", "/g/x"] + ["/j/x"] * (tick % 10 == 5) + ["/b/"] * (tick % 50 in (20, 35)) \
            + ["/gest"] * (tick % 100 == 60)
        tick += 1
    with Bridge("", RINGSIM_EVENTS="", RINGSIM_LOG=log) as bridge:
        arrived = []
        while len(arrived) < len(expected) and (d := receiver.receive()) is not None:
            address = d[20:].split(b"\0", 1)[0].decode() if len(d) > 16 else ""
            arrived.append(address[:3] if address.startswith("/b/") else address)
        check(arrived == expected, f"the demo tick by tick: {arrived[:12]}")
        said = bridge.output()
        check(said.startswith(f"ringsim: cannot write {log}: ") and said.count("\n") == 1 and bridge.running(),
              f"a log it cannot write is said once and the demo goes on: {said!r}")


main(globals())
