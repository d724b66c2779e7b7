#!/usr/bin/env python3
"""MIDI out of the real tap, on a JACK server of the test's own (the dummy
backend: no sound hardware needed) with jack_midi_dump as the receiver: the
MIDI preset unedited on the whole table, a port that goes and comes back, the
tap's own port, one that does not exist. (Without any MIDI: tap_process_test.)
usage: midi_test.py BRIDGE TAP [PART...]"""
import os, re, shlex, shutil, signal, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *

PRESET = SOURCE + "/examples/maps/midi.map"
MONITOR = "midi-monitor:input"  # jack_midi_dump's port


def run(*command):
    """The exit status and output of a program run to its end."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=20)
    return done.returncode, done.stdout.decode()


class Jack:
    """A JACK server of the test's own, and jack_midi_dump on it."""

    def __enter__(self):
        self.dump = None
        self.start()
        return self

    def start(self):
        name = f"ring2osc-test-{os.getpid()}"
        os.environ.update(JACK_NO_START_SERVER="1", JACK_DEFAULT_SERVER=name)
        # Few ports: the server's shared memory then takes about 38 MB of
        # /dev/shm instead of 107 MB.
        self.server = Program(["jackd", "--port-max", "16", "-n", name, "-d", "dummy", "-r", "48000", "-p", "256"])
        # jack_wait can give up early while another server's shared memory is
        # being set up or taken down (another test run on this machine).
        up = any(self.server.running() and run("jack_wait", "-w", "-t", "10")[0] == 0 for _ in range(3))
        if not up:
            raise SystemExit(f"the JACK server did not start (/dev/shm has {shutil.disk_usage('/dev/shm').free // 10**6}"
                             f" MB free):\n{self.server.output()}")

    def __exit__(self, *rest):
        if self.dump:
            self.dump.__exit__(*rest)
        self.server.stop(15)
        self.server.__exit__(*rest)

    def has(self, port):
        # JACK's clients may say on the same output that they cannot lock
        # memory or run in real time (no such privileges).
        return wait_until(lambda: port in run("jack_lsp", port)[1].splitlines(), 5)

    def start_dump(self):
        self.dump = Program(["jack_midi_dump"])
        if not self.has(MONITOR):
            raise SystemExit("jack_midi_dump did not start:\n" + self.dump.output())

    def dumped(self, count):
        """The bytes of each message dumped, once `count` of them came."""
        messages = lambda: re.findall(r"\s*\d+: ((?:[0-9a-f]{2} )+)", self.dump.output())
        wait_until(lambda: len(messages()) >= count, 5)
        return "".join(m + "\n" for m in messages())


def part_preset():
    with Jack() as jack:
        jack.start_dump()
        with tap("--quiet", "--map", PRESET, "--midi-port", "MONITOR") as t:
            said = lambda text, times: wait_until(lambda: t.output().count(text) >= times)
            with Bridge(script_of(EVERY_KIND) + "0 b_number=0 b_value=0\n"):
                # Notes on while a button is not 0; controls from their ranges
                # to 0..127, each only when its value changes; what is not
                # finite dropped.
                check(jack.dumped(26) == "b0 17 6f \nb0 18 00 \nb0 19 7f \n"  # /a: 1.5 -2.25 3.5
                      "b0 14 40 \nb0 15 3f \nb0 16 42 \n"  # /r: 0.5 -0.75 6
                      "b0 1d 00 \nb0 1e 7f \nb0 1f 7f \n"  # /j and touched
                      "b0 1a 6f \nb0 1b 00 \nb0 1c 7f \n"  # /g
                      "90 3c 64 \n"  # /b/0 -7
                      "b0 15 40 \nb0 16 40 \n"  # -0 and 1e-45
                      "b0 1c 40 \n"  # -1.2e-38
                      "90 3d 64 \n90 3e 64 \n90 3f 64 \n90 40 64 \n90 41 64 \n"
                      "90 42 64 \n90 43 64 \n90 44 64 \n90 45 64 \n80 3c 00 \n", "the preset's bytes for the table")
            jack.dump.kill()
            check(said("is gone", 1), "a port that goes is said")
            with Bridge("0 b_number=1 b_value=0\n"):  # missed: the port is gone
                time.sleep(1)
            jack.start_dump()
            check(said("input is back\n", 1), "and when it is back")  # not "until it is back"
            # The notes it had on are turned off first: the receiver may still hold them.
            check(jack.dumped(9) == "".join(f"80 {n:02x} 00 \n" for n in range(0x3d, 0x46)), "notes off once back")
            with Bridge("0 b_number=2 b_value=0\n"):
                check(jack.dumped(10).endswith("80 45 00 \n80 3e 00 \n"), "it gets what comes after")
            jack.dump.kill()  # gone again as the tap ends
            said("is gone", 2)
            gone = f"ring2osc-tap: MIDI port {MONITOR} is gone: what it misses counts as failed until it is back\n"
            check(t.stop() == 0 and t.output() == "ring2osc-tap: MIDI through JACK\n" + gone +
                  f"ring2osc-tap: MIDI port {MONITOR} is back\n" + gone +
                  "ring2osc-tap: 33 datagrams received (1288 bytes), 0 malformed, 0 foreign, 0 dropped by the system; "
                  f"{PRESET} -> MIDI {MONITOR}: 27 sent, 1 failed, 9 not finite dropped, the port is gone; "
                  "0 output lines dropped\n", t.output())


def part_stage():
    """Every note the tap turned on is turned off however it ends; a port name
    that several outputs hold is refused; the JACK server killed and started
    again is followed."""
    with Jack() as jack:
        jack.start_dump()
        other = Program(["jack_midi_dump"])  # named midi-monitor-01 by JACK
        check(jack.has("midi-monitor-01:input") and run(*shlex.split(TAP), "--map", PRESET, "--midi-port", "monitor") ==
              (1, f'ring2osc-tap: {PRESET}: MIDI output "monitor" matches several outputs: {MONITOR}, '
                  'midi-monitor-01:input; name one of them exactly\n'), "a name several outputs hold")
        other.kill()
        for n, ending in enumerate((signal.SIGINT, signal.SIGTERM)):
            with tap("--quiet", "--map", PRESET, "--midi-port", MONITOR) as t:
                with Bridge("0 b_number=4 b_value=1\n"):  # held as the tap ends
                    jack.dumped(2 * n + 1)
                check(t.stop(ending) == 0 and jack.dumped(2 * n + 2).endswith("90 40 64 \n80 40 00 \n"),
                      f"the held note turned off on {ending.name}")
        edited = temporary_path("map")
        with open(edited, "w") as f:
            f.write("midi\nnote 64 <- /b/4\n")
        with tap("--quiet", "--map", edited, "--midi-port", MONITOR) as t:
            with Bridge("0 b_number=4 b_value=1\n"):
                jack.dumped(5)
            with open(edited, "w") as f:
                f.write("midi\nnote 64 <- /b/4 velocity 9\n")
            check(jack.dumped(6).endswith("90 40 64 \n80 40 00 \n"), "a map read again turns its notes off first")
            t.stop()
        os.unlink(edited)
        with tap("--quiet", "--map", PRESET, "--midi-port", MONITOR) as t:
            said = lambda text: wait_until(lambda: text in t.output(), 5)
            with Bridge("0 b_number=5 b_value=1\n"):
                jack.dumped(7)
            jack.server.kill()
            jack.dump.kill()
            check(said("is gone"), "the server's end is said")
            with Bridge("0 b_number=6 b_value=1\n"):  # missed: counted as failed
                time.sleep(1)
            jack.start()
            jack.start_dump()
            back = time.time()
            check(said("is back") and time.time() - back < 2, f"back {time.time() - back:.1f} s after the server")
            time.sleep(1.5)  # the notes it had on go a second after it is back, as the new graph settles
            with Bridge("0 b_number=7 b_value=1\n"):
                check(jack.dumped(2) == "80 41 00 \n90 43 64 \n", "the note it had on turned off, then what comes")
            check(t.stop() == 0 and re.search(r"MIDI midi-monitor:input: 2 sent, 1 failed", t.output()) is not None
                  and t.output().count("is gone") == 1, t.output())


def part_ports():
    with Jack() as jack:
        jack.start_dump()
        with tap("--quiet", "--map", PRESET):
            check(jack.has("ring2osc:ring2osc") and run("jack_connect", "ring2osc:ring2osc", MONITOR)[0] == 0,
                  "the tap's own port, connected")
            with Bridge("0 b_number=9 b_value=1\n"):
                check(jack.dumped(1) == "90 45 64 \n", "sends through it")
        check(run(*shlex.split(TAP), "--list-midi") == (0, MONITOR + "\n"), "--list-midi lists the outputs")
        check(run(*shlex.split(TAP), "--map", PRESET, "--midi-port", "nosuch") ==
              (1, f'ring2osc-tap: {PRESET}: MIDI output "nosuch" does not exist; the outputs are: {MONITOR}\n'),
              "a port that does not exist")


main(globals())
