"""The real programs in processes of their own, for the process tests: the
bridge on the simulated ring and the tap (RING2OSC_BRIDGE and RING2OSC_TAP run
other builds of them, such as "wine ring2osc.exe"), UDP sockets on loopback,
and one line per fact checked.

A test file calls main(globals()) with the bridge and the tap as its first two
arguments; any further arguments name the parts to run (default: all)."""
import base64, os, shlex, signal, socket, struct, subprocess, sys, tempfile, time, traceback

programs = sys.argv[1:3] + ["", ""]
BRIDGE = os.environ.get("RING2OSC_BRIDGE") or programs[0]
TAP = os.environ.get("RING2OSC_TAP") or programs[1]
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
started = []  # every process a test starts, so that a part that fails leaves none behind


class Failed(Exception):
    """A fact that did not hold: what follows in its part would only wait."""


def check(fact, what):
    print(("ok    " if fact else "FAIL  ") + what, flush=True)
    if not fact:
        raise Failed(what)


def main(names, parts=None):
    """Runs the named parts (default: the command line's, else every part_*
    in `names`), each to its first failure; exits 1 if any failed."""
    failed = []
    for part in parts if parts is not None else sys.argv[3:] or [n[5:] for n in names if n.startswith("part_")]:
        print(f"-- {part}", flush=True)
        try:
            names["part_" + part]()
        except Exception as error:
            failed.append(part)
            if not isinstance(error, Failed):
                traceback.print_exc()
        for process in started:
            if process.poll() is None:
                process.kill()
                process.wait()
    sys.exit(1 if failed else 0)


def temporary_path(stem):
    handle, path = tempfile.mkstemp(prefix=f"ring2osc-{stem}-")
    os.close(handle)
    os.unlink(path)
    return path


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def wait_until(fact, seconds=10):
    """Whether fact() comes true within `seconds`."""
    deadline = time.time() + seconds
    while not fact():
        if time.time() > deadline:
            return False
        time.sleep(0.05)
    return True


def udp_port_bound(port):
    """Whether some program has bound `port`, read from the kernel's tables: a
    probe that bound the port itself would race the program."""
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        for line in read(table).splitlines()[1:]:
            if int(line.split()[1].rsplit(":", 1)[1], 16) == port:
                return True
    return False


def cpu_seconds(pid):
    """User and system time of a process so far."""
    fields = read(f"/proc/{pid}/stat").rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_kib(pid):
    """A process's resident set, in KiB."""
    for line in read(f"/proc/{pid}/status").splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])


class Udp:
    """A UDP socket on 127.0.0.1:port (0: a free one), with a buffer large
    enough that bursts wait for the test instead of being dropped."""

    def __init__(self, port=0):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.setsockopt(socket.SOL_SOCKET, getattr(socket, "SO_RCVBUFFORCE", 33), 1 << 24)
        self.socket.bind(("127.0.0.1", port))
        self.port = self.socket.getsockname()[1]

    def send(self, port, datagram):
        return self.socket.sendto(datagram, ("127.0.0.1", port)) == len(datagram)

    def receive(self, timeout=10):
        self.socket.settimeout(timeout)
        try:
            return self.socket.recv(65536)
        except OSError:
            return None

    def receive_all(self, count, first=10, quiet=0.3):
        """`count` datagrams, each waited for up to `first` seconds (Wine
        starts slowly), then whatever else comes before `quiet` passes."""
        got = []
        while (d := self.receive(first if len(got) < count else quiet)) is not None:
            got.append(d)
        return got


class Program:
    """A program whose output and errors go to one file."""

    def __init__(self, command, stdin=None, env=None, out=None):
        self.out = out or temporary_path("out")
        with open(self.out, "wb") as o, open(stdin or os.devnull, "rb") as i:
            self.process = subprocess.Popen(command, stdin=i, stdout=o, stderr=subprocess.STDOUT,
                                            env=env)
        started.append(self.process)
        self.pid = self.process.pid

    def output(self):
        return read(self.out).replace("\r", "")

    def running(self):
        return self.process.poll() is None

    def stop(self, signal_number=signal.SIGINT, timeout=10):
        """The exit status after the signal (0: none sent), None when it did
        not end."""
        if signal_number and self.running():
            self.process.send_signal(signal_number)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.running():
            self.process.kill()
        self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.kill()
        if os.path.exists(self.out):
            os.unlink(self.out)


class Bridge(Program):
    """ring2osc playing `script` on the simulated ring with RINGSIM_* settings
    (RINGSIM_EVENTS "-": the script on standard input; "": the demo)."""

    def __init__(self, script, **settings):
        self.script, self.log = temporary_path("script"), temporary_path("log")
        with open(self.script, "wb") as f:
            f.write(script if isinstance(script, bytes) else script.encode())
        env = dict(os.environ, RINGSIM_EVENTS=self.script, RINGSIM_LOG=self.log,
                   RINGSIM_INTERVAL_US="200")
        env.update(settings)
        super().__init__(shlex.split(BRIDGE), stdin=self.script if env["RINGSIM_EVENTS"] == "-" else None,
                         env=env)

    def __exit__(self, *rest):
        super().__exit__(*rest)
        for path in (self.script, self.log):
            if os.path.exists(path):
                os.unlink(path)


def tap(*arguments, out=None):
    """ring2osc-tap with `arguments`, listening on 7040 once this returns (or
    ended: see running())."""
    program = Program(shlex.split(TAP) + list(arguments), out=out)
    wait_until(lambda: udp_port_bound(7040) or not program.running(), 20)
    return program


def bundle(messages=""):
    """The bridge's bundle of "ADDRESS TAG HEXBITS ..." messages."""
    data = b"#bundle\0" + struct.pack("!Q", 1)
    words = messages.split()
    for address, tag, bits in zip(words[0::3], words[1::3], words[2::3]):
        data += struct.pack("!I8s2sxxI", 16, address.encode(), b"," + tag.encode(), int(bits, 16))
    return data


def osc_text(data):
    """A message as "ADDRESS,TAGS VALUE ..."."""
    address = data.split(b"\0", 1)[0].decode()
    at = (len(address) + 4) & ~3
    tags = data[at:].split(b"\0", 1)[0].decode()
    at += (len(tags) + 4) & ~3
    text = address + tags
    for tag in tags[1:]:
        if tag in "fi":
            value = struct.unpack_from("!f" if tag == "f" else "!i", data, at)[0]
            text += " %g" % value
            at += 4
    return text


# Every kind of event as a script line with every field distinct (so that a
# message reading the wrong one shows), and the messages the bridge sends.
FIELDS = (" j_x=-2147483648 j_y=2147483647 x=1.5 y=-2.25 z=3.5 j_t=-4 r_r=0.5 r_p=-0.75 r_y=6"
          " b_value=-7 gest_value=8")
EVERY_KIND = [
    ("11", ""),
    ("1" + FIELDS, "/a/x f 3FC00000 /a/y f C0100000 /a/z f 40600000"),
    ("2" + FIELDS, "/r/r f 3F000000 /r/p f BF400000 /r/y f 40C00000"),
    ("3" + FIELDS, "/j/x i 80000000 /j/y i 7FFFFFFF /j/t i FFFFFFFC"),
    ("4" + FIELDS, "/gest i 8"),
    ("9" + FIELDS, "/g/x f 3FC00000 /g/y f C0100000 /g/z f 40600000"),
    ("0 b_number=-0.0" + FIELDS, "/b/0 i FFFFFFF9"),
    ("0 b_number=2.5" + FIELDS, ""),
    ("0 b_number=nan" + FIELDS, ""),
    ("0 b_number=10" + FIELDS, ""),
    ("1 x=nan y=-nan z=inf", "/a/x f 7FC00000 /a/y f FFC00000 /a/z f 7F800000"),
    ("2 r_r=-inf r_p=-0.0 r_y=1e-45", "/r/r f FF800000 /r/p f 80000000 /r/y f 00000001"),
    # Signalling NaNs, negative and with payloads, and denormals: bit for bit.
    ("9 x=bits:7F800001 y=bits:FFBFFFFF z=bits:807FFFFF", "/g/x f 7F800001 /g/y f FFBFFFFF /g/z f 807FFFFF"),
    ("2 r_r=bits:7FA5A5A5 r_p=bits:ff800001 r_y=bits:FFC00001",
     "/r/r f 7FA5A5A5 /r/p f FF800001 /r/y f FFC00001"),
] + [(f"0 b_number={n}" + FIELDS, f"/b/{n} i FFFFFFF9") for n in range(1, 10)] \
  + [(kind + FIELDS, "") for kind in ("5", "6", "7", "8", "10", "12", "-1")]


def script_of(rows):
    return "".join(line + "\n" for line, _ in rows)



class WebSocket:
    """A WebSocket client of the tap's on 127.0.0.1:port: the upgrade's
    answer in `status` and `head`, then frames sent masked and read whole."""

    def __init__(self, port, path="/", origin=None, host=None, behind=b""):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        key = base64.b64encode(os.urandom(16)).decode()
        headers = f"GET {path} HTTP/1.1\r\nHost: {host or '127.0.0.1:%d' % port}\r\nUpgrade: websocket\r\n" \
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n"
        self.socket.sendall((headers + (f"Origin: {origin}\r\n" if origin else "") + "\r\n").encode() + behind)
        self.file = self.socket.makefile("rb")
        self.head = [self.file.readline()]
        self.status = int(self.head[0].split()[1])
        while self.head[-1] not in (b"\r\n", b""):
            self.head.append(self.file.readline())

    def send(self, opcode, payload):
        mask = os.urandom(4)
        size = struct.pack("!B", 0x80 | len(payload)) if len(payload) < 126 else struct.pack("!BH", 0xFE, len(payload))
        self.socket.sendall(bytes([0x80 | opcode]) + size + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive(self):
        """(opcode, payload) of the next frame."""
        first, second = self.file.read(2)
        size = second & 0x7F
        if size >= 126:
            size = struct.unpack("!H" if size == 126 else "!Q", self.file.read(2 if size == 126 else 8))[0]
        return first & 0x0F, self.file.read(size)
