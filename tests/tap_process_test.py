#!/usr/bin/env python3
"""The real ring2osc-tap in a process of its own, on port 7040: what it hands
on, byte for byte and in order, what it prints, how it starts and ends.
usage: tap_process_test.py BRIDGE TAP [PART...]"""
import json, os, re, signal, socket, sys, threading, time, urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *

# The bridge's acceleration datagram: about 30 bytes a printed line.
ACCELERATION = bundle("/a/x f 80800001 /a/y f 80800001 /a/z f 80800001")


def at(u):
    return f"127.0.0.1:{u.port}"


def part_forward():
    a, b, sender, comes_back = Udp(), Udp(), Udp(), Udp()
    comes_back.socket.close()
    with tap("--quiet", "--forward", at(comes_back), "--forward", at(a), "--forward", str(b.port)) as t:
        gesture, foreign = bundle("/gest i 5"), b"/x\0\0,i\0\0\1\2\3\4"
        sent = [gesture, b"\x5A" * 65507, foreign, b"\1", b"", gesture, foreign]  # the largest: no OSC at all
        for d in sent[:-1]:
            time.sleep(0.02)
            sender.send(7040, d)
        sender.send(7040, sent[-1])  # at once: the tap reads no report between
        # The first destination comes back right after the last datagram it
        # missed and gets the rest, the next one too: its send reads that
        # miss's report and is tried again.
        # Each it missed counts as failed, each it got as forwarded (Linux
        # reports a miss at once; under Wine the report can come a datagram late).
        arrived = [a.receive() for _ in sent]  # each was tried on the first destination before
        back, late = Udp(comes_back.port), [gesture, b""]
        for d in late:
            sender.send(7040, d)
            time.sleep(0.02)
        check(arrived + a.receive_all(2) == sent + late and b.receive_all(9) == sent + late,
              "both destinations get every datagram unchanged, in order")
        check(back.receive_all(2) == late, "a destination that comes back gets the rest")
        status = t.stop()
        counts = re.fullmatch(
            r"ring2osc-tap: 9 datagrams received \(65640 bytes\), 4 malformed, 2 foreign, (?:0|unknown) dropped "
            rf"by the system; {at(comes_back)}: ([23]) forwarded, ([67]) failed; {at(a)}: 9 forwarded, 0 failed; "
            rf"{at(b)}: 9 forwarded, 0 failed; 0 output lines dropped\n", t.output())
        check(status == 0 and counts is not None and int(counts[1]) + int(counts[2]) == 9, t.output())


def part_unread():
    """Standard output and the recording each into a pipe that nobody reads:
    forwarding goes on, at 5,000 datagrams a second, and only lines are lost."""
    out, recording = temporary_path("fifo"), temporary_path("fifo")
    readers = []
    for path in (out, recording):
        os.mkfifo(path)
        readers.append(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
    a, b, sender, count = Udp(), Udp(), Udp(), 20000  # more lines than the queues and the pipes hold
    with tap("--record", recording, "--force", "--forward", at(a), "--forward", at(b), out=out) as t:
        arrived = [0, 0]

        def collect(i, u):
            while arrived[i] < count and u.receive() is not None:
                arrived[i] += 1
        threads = [threading.Thread(target=collect, args=(i, u)) for i, u in enumerate((a, b))]
        for thread in threads:
            thread.start()
        # Never more than 200 ahead of what arrived, so that an emulated tap
        # (Wine, qemu) is not simply outrun; one that waited for its output
        # would stall here for good.
        start, stalled = time.time(), False
        for n in range(count):
            waited = time.time() + 10
            while (time.time() < start + n / 5000 or n >= min(arrived) + 200) and not stalled:
                stalled = time.time() > waited
                time.sleep(0.0005)
            sender.send(7040, ACCELERATION)
        for thread in threads:
            thread.join()
        check(not stalled and arrived == [count, count], f"forwarded {arrived} of {count} each")
        t.process.send_signal(signal.SIGINT)
        os.set_blocking(readers[0], True)
        text = b"".join(iter(lambda: os.read(readers[0], 65536), b""))  # until the tap is gone
        status = t.stop(0)
        counts = re.search(r"; (\d+) output lines dropped; recorded (\d+) lines, (\d+) lost\n$", text.decode())
        check(status == 0 and counts is not None and int(counts[1]) > 0 and int(counts[2]) + int(counts[3]) == count,
              text[-300:].decode())
    for reader, path in zip(readers, (out, recording)):
        os.close(reader)
        if os.path.exists(path):
            os.unlink(path)


def part_start():
    # No MIDI here: a JACK server nobody runs; Wine (without its sound driver)
    # has no MIDI outputs, and the 32-bit Linux build no MIDI at all.
    os.environ["JACK_DEFAULT_SERVER"] = "ring2osc-none"
    midi_map = SOURCE + "/examples/maps/midi.map"
    wine = "wine" in TAP
    no_midi = "this build of the tap has no MIDI" if "qemu" in TAP else \
        "no MIDI here: neither the ALSA sequencer nor a JACK server is running"
    existing = temporary_path("existing")
    with open(existing, "w") as f:
        f.write("keep me\n")
    fifo = temporary_path("fifo")
    os.mkfifo(fifo)  # nobody writes: reading it would wait for ever
    loop = "is the address the tap listens on: it would loop"
    rows = [(["--forward", "7040"], 2, "--forward 127.0.0.1:7040 " + loop),
            (["--listen", "0.0.0.0:7041", "--forward", "7041"], 2, "--forward 127.0.0.1:7041 " + loop),
            (["--listen", "nosuch.invalid:7041"], 2, "cannot resolve nosuch.invalid"),
            (["--forward", "nosuch.invalid:7041"], 2, "--forward: cannot resolve nosuch.invalid"),
            (["--record", existing], 1, existing + ": File exists (--force replaces a file)"),
            (["--listen"], 2, "--listen needs a value (ring2osc-tap --help shows the usage)"),
            ([], 1, "127.0.0.1:7040 is already in use by another program"),
            (["--map", midi_map, "--midi-port", "nosuch"], 1, midi_map + ": " + (
                'MIDI output "nosuch" does not exist; the outputs are: none' if wine else no_midi)),
            (["--list-midi"], 0 if wine else 1, "no MIDI outputs (through Windows MIDI)" if wine else no_midi),
            # Wine cannot see a Linux FIFO at all: refused at once all the same.
            (["--check-map", fifo], 2, fifo + (": cannot be read (No such file or directory)" if wine
                                              else ": not a regular file (a map is a text file)"))]
    for arguments, status, said in rows:
        holder = Udp(7040 if not arguments else 0)
        with tap(*arguments) as t:
            check(t.stop(0) == status and t.output() == f"ring2osc-tap: {said}\n", f"{arguments}: {t.output()!r}")
        holder.socket.close()
    check(read(existing) == "keep me\n", "an existing recording is kept")
    os.unlink(existing)
    os.unlink(fifo)


def part_record():
    a, sender, recording = Udp(), Udp(), temporary_path("recording")
    with tap("--record", recording, "--forward", at(a)) as t:
        with Bridge("11\n1 x=1e-7 y=nan z=-0.0\n0 b_number=3 b_value=-1\n9 x=bits:7F800001 y=-inf z=1e-45\n"
                    "7 gest_value=1\n"):
            live = a.receive_all(5)
        sender.send(7040, b"/x\0\0")
        check(len(live) == 5 and len(a.receive_all(1)) == 1, f"{len(live)} of 5 forwarded, then a foreign one")
        t.kill()  # killed outright, the tap has still written every line it made
        shown = re.sub(r"\d+\.\d{6}", "T", t.output())
        check(shown == "T /a/x f 1e-07\nT /a/y f bits:7FC00000\nT /a/z f -0\nT /b/3 i -1\nT /g/x f bits:7F800001\n"
              "T /g/y f -inf\nT /g/z f 1e-45\n", shown)
    recorded = read(recording)
    heading, _, lines = recorded.partition("\n")
    check(heading.startswith("# ring2osc-tap recording, started ") and re.sub(r"\d+\.\d{6}", "T", lines) ==
          "@T -1\n@T 1 x=1e-07 y=bits:7FC00000 z=-0\n@T 0 b_number=3 b_value=-1\n"
          "@T 9 x=bits:7F800001 y=-inf z=1e-45\n@T -1\n# @T foreign 2F780000\n", recorded)
    replay = Udp(7040)
    with Bridge(recorded):
        check(replay.receive_all(len(live)) == live, "the recording replays byte for byte")
    os.unlink(recording)


def part_reload():
    """A map edited while the tap runs: each edit's message, a broken edit
    said and refused, the file renamed away and removed, a save by rename,
    100 saves in a second."""
    out, sender, path = Udp(), Udp(), temporary_path("map")

    def save(top, rename=False, rule="from 0..1 to 0..%s"):
        with open(path + ".new" if rename else path, "w") as f:
            f.write(f"to {out.port}\n/o <- /a/x {rule % top}\n")
        if rename:
            os.replace(path + ".new", path)

    def value():  # what the running map makes of x = 0.5
        sender.send(7040, bundle("/a/x f 3F000000 /a/y f 0 /a/z f 0"))
        return osc_text(out.receive() or b"\0")

    save(10)
    with tap("--quiet", "--map", path) as t:
        said = lambda text, times=1: wait_until(lambda: t.output().count(text) >= times)
        check(value() == "/o,f 5", "the map as started")
        save(100)
        check(said("read again (1 rule)") and value() == "/o,f 50", "a scale changed")
        save(0, rule="frm 0..1 to 0..%s")
        check(said("not read again") and f'{path}:2: unknown word "frm"\n' in t.output() and value() == "/o,f 50",
              "a broken edit is said, and the map before goes on")
        save(1000)
        check(said("read again (", 2) and value() == "/o,f 500", "mended, it runs")
        save(2, rename=True)
        check(said("read again (", 3) and value() == "/o,f 1", "a save by rename")
        os.rename(path, path + ".away")
        check(said("is gone") and value() == "/o,f 1", "renamed away: said, and the map goes on")
        os.rename(path + ".away", path)
        time.sleep(0.3)
        os.unlink(path)
        check(said("is gone", 2) and value() == "/o,f 1", "back and removed: said again")
        for top in range(1, 101):
            save(top)
            time.sleep(0.01)
        check(wait_until(lambda: value() == "/o,f 50", 5) and t.output().count("not read again") == 1,
              "100 saves in a second: the last one runs, no half-written one was read")
        t.stop()
        check(re.search(r"read again \d+ times;", t.output()) is not None, t.output()[-300:])
    os.unlink(path)


def part_network():
    """To several machines on a stage: a broadcast address as --forward, and a
    multicast group as --messages and as a map's destination, each heard by a
    receiver bound to that address (on a loopback of the test's own; where
    there is none, as under Wine, the broadcast alone)."""
    group, own = "239.255.70.40", os.environ.get("RING2OSC_OWN_NET") == "1"
    receivers = []
    for address in ["127.255.255.255"] + [group] * 2 * own:
        r = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        r.bind((address, 0))
        r.settimeout(10)
        if address == group:
            r.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                         socket.inet_aton(group) + socket.inet_aton("127.0.0.1"))
        receivers.append(r)
    ports = [r.getsockname()[1] for r in receivers]
    arguments = ["--quiet", "--multicast-ttl", "1", "--forward", f"127.255.255.255:{ports[0]}"]
    path = temporary_path("map")
    if own:
        with open(path, "w") as f:
            f.write(f"to {group}:{ports[2]}\n/o <- /gest\n")
        arguments += ["--messages", f"{group}:{ports[1]}", "--map", path]
    with tap(*arguments) as t:
        Udp().send(7040, bundle("/gest i 00000005"))
        got = [r.recv(65536) for r in receivers]
        expected = [bundle("/gest i 00000005"), bundle("/gest i 00000005")[20:], b"/o\0\0,i\0\0\0\0\0\5"]
        check(got == expected[:len(got)], f"{len(got)} receivers: the datagram, its message, the map's")
        check(t.stop() == 0, t.output())
    if own:
        os.unlink(path)


def part_oscquery_alone():
    """No DNS-SD here (no daemon; under Wine no such calls): one line, and the
    namespace is served all the same."""
    t = tap("--quiet", "--oscquery", "0")
    check(wait_until(lambda: "without discovery" in t.output() and "OSCQuery at" in t.output()), t.output())
    port = int(re.search(r"OSCQuery at http://127.0.0.1:(\d+)/", t.output())[1])
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/?HOST_INFO", timeout=10) as answer:
        check(json.loads(answer.read())["WS_PORT"] == port, "the namespace is served")
    check(t.stop() == 0 and t.output().count("without discovery") == 1, t.output())


def part_maps():
    """The whole table, then rotations in one burst and a button pressed twice
    and let go, into --messages and both presets unedited; oscdump receives
    Wekinator's."""
    maps = SOURCE + "/examples/maps/"
    with Program(["oscdump", "-L", "6448"]) as wekinator:
        wait_until(lambda: udp_port_bound(6448), 20)
        messages, vrchat = Udp(), Udp(9000)
        with tap("--quiet", "--messages", at(messages), "--map", maps + "vrchat.map", "--map",
                 maps + "wekinator.map") as t:
            rows = EVERY_KIND + [(r, f"/r/r f {bits} /r/p f 0 /r/y f 0") for r, bits in
                                 (("@1 2 r_r=90", "42B40000"), ("2 r_r=-90", "C2B40000"), ("2 r_r=360", "43B40000"))]
            rows += [("0 b_number=3 b_value=1", "/b/3 i 00000001"), ("0 b_number=3 b_value=0", "/b/3 i 00000000")]
            elements = [bundle(sent)[i + 4:i + 20] for _, sent in rows for i in range(16, len(bundle(sent)), 20)]
            with Bridge(script_of(rows)):
                check(messages.receive_all(len(elements), quiet=0.5) == elements, "each message exactly as its element")
                shown = {}  # per parameter, in order
                for d in vrchat.receive_all(26, quiet=0.5):
                    name, _, value = osc_text(d)[19:].partition(",")
                    shown.setdefault(name, []).append("," + value)
            expected = {"RingRoll": [",f 0.00277778", ",f 0.5", ",f 1"],  # 90, then -90 and 360 held
                        "RingPitch": [",f -0.00416667", ",f 0", ",f 0", ",f 0"],
                        "RingYaw": [",f 0.0333333", ",f 0", ",f 0", ",f 0"],
                        "RingJoyX": [",f -1"], "RingJoyY": [",f 1"], "RingTouch": [",T"], "RingGesture": [",i 8"]}
            expected.update({f"RingButton{b}": [",T"] for b in range(10)})
            expected["RingButton3"].append(",F")
            check(shown == expected, f"VRChat's parameters: {shown}")
            held = ["1.500000 -2.250000 3.500000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000",
                    "1.500000 -2.250000 3.500000 0.000000 0.000000 0.000000 0.500000 -0.750000 6.000000",
                    "1.500000 -2.250000 3.500000 1.500000 -2.250000 3.500000 0.500000 -0.750000 6.000000",
                    "1.500000 -2.250000 3.500000 1.500000 -2.250000 3.500000 0.500000 -0.000000 0.000000",
                    "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 0.500000 -0.000000 0.000000",
                    "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 90.000000 0.000000 0.000000",
                    "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 -90.000000 0.000000 0.000000",
                    "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 360.000000 0.000000 0.000000"]
            wanted = "".join(f"/wek/inputs fffffffff {h}\n" for h in held)
            dumped = lambda: "".join(line.split(" ", 1)[-1] + "\n" for line in read(wekinator.out).splitlines())
            wait_until(lambda: len(dumped()) >= len(wanted))
            got = dumped()
            check(got == wanted, "Wekinator's inputs, held between datagrams:\n" + got)
            check(wekinator.stop() == 0 and t.stop() == 0 and re.search(
                "vrchat.map -> 127.0.0.1:9000: 26 sent, 0 failed, 4 not finite dropped; .*wekinator.map -> "
                "127.0.0.1:6448: 8 sent, 0 failed, 9 not finite dropped;", t.output()) is not None, t.output())


main(globals())
