#!/usr/bin/env python3
"""The tap's web side through real processes: the bridge on the simulated ring
sends to the tap (RING2OSC_BRIDGE and RING2OSC_TAP run other builds, e.g.
under Wine); a Linux WebSocket client and headless Chromium read from it.
usage: web_test.py BRIDGE TAP [PART...]   parts: page relay rules hostile (default all);
RING2OSC_WEB_PARTS, when set, runs only those of them that it names"""
import base64, os, re, shlex, signal, socket, struct, subprocess, sys, tempfile, threading, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness
from harness import Bridge, check

# The page and the relay take the bridge's datagrams on 7040; the rules and
# the hostile clients need no bridge, so they listen on ports of their own
# and run beside the other tests (beside_others()).
LISTEN, WEB, FORWARD = 7040, 7048, 7049


def beside_others():
    global LISTEN, WEB
    LISTEN, WEB = 7050, 7051


class Tap:
    def __init__(self, *arguments, limit=()):
        self.output = tempfile.TemporaryFile()
        command = list(limit) + shlex.split(harness.TAP) + ["--quiet", "--listen", f"127.0.0.1:{LISTEN}", "--web", str(WEB)]
        self.process = subprocess.Popen(command + list(arguments), stdout=self.output, stderr=subprocess.STDOUT)
        harness.started.append(self.process)
        harness.wait_until(lambda: http(b"GET /status HTTP/1.1\r\nHost: localhost:%d\r\n\r\n" % WEB) == 200, 30)

    def summary(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(20)
        self.output.seek(0)
        return self.output.read().decode()


def play(script):
    with Bridge(script):
        time.sleep(3 if "wine" in harness.BRIDGE else 1)


def http(request, timeout=10):
    """The status code of the answer, or None when the connection closes first."""
    try:
        with socket.create_connection(("127.0.0.1", WEB), timeout=timeout) as s:
            s.sendall(request)
            answer = s.recv(64)
            return int(answer.split()[1]) if answer else None
    except OSError:
        return None


# Whether a WebSocket's answer has no body and says no type.
empty = lambda answer: b"\r\ncontent-length: 0\r\n" in (h := b"".join(answer.head).lower()) and b"\r\ncontent-type:" not in h


def WebSocket(origin=None, host=None, behind=b""):
    return harness.WebSocket(WEB, "/osc", origin, host, behind)


# Script lines and what the page's table then shows: the shortest decimal
# that reads back to the same float; NaN, infinities and -0 as such.
BEFORE = [("0 b_number=3 b_value=1", {"/b/3": "1"}),
          ("1 x=0.1 y=-0.0 z=nan", {"/a/x": "0.1", "/a/y": "-0", "/a/z": "NaN"}),
          ("2 r_r=inf r_p=-inf r_y=1e-45", {"/r/r": "inf", "/r/p": "-inf", "/r/y": "1e-45"}),
          ("3 j_x=-2147483648 j_y=2147483647 j_t=1", {"/j/x": "-2147483648", "/j/y": "2147483647", "/j/t": "1"}),
          ("4 gest_value=5", {"/gest": "5"}),
          ("9 x=16777217 y=3.4028235e38 z=-1.17549435e-38",
           {"/g/x": "16777216", "/g/y": "3.4028235e+38", "/g/z": "-1.1754944e-38"})]
BEFORE += [(f"0 b_number={n} b_value={n - 4}", {f"/b/{n}": str(n - 4)}) for n in (0, 1, 2, 4, 5, 6, 7, 8)]
AFTER = [("1 x=-2.5 y=1e10 z=0.3", {"/a/x": "-2.5", "/a/y": "10000000000", "/a/z": "0.3"}),
         ("0 b_number=9 b_value=-7", {"/b/9": "-7"}),
         ("2 r_r=bits:7F800001 r_p=123456.79 r_y=-0.0", {"/r/r": "NaN", "/r/p": "123456.79", "/r/y": "-0"})]


def part_page():
    from browser import Browser
    tap = Tap()
    play("\n".join(line for line, _ in BEFORE) + "\n")
    browser = Browser()
    try:
        browser.open(f"http://127.0.0.1:{WEB}/")
        time.sleep(2)  # opened after the values came: the latest are there at once
        play("\n".join(line for line, _ in AFTER) + "\n")
        rows = browser.evaluate("[...document.querySelectorAll('#addresses tbody tr')]"
                                ".map(r => [r.cells[0].textContent, r.cells[1].textContent])")
        shown, expected = dict(rows), {}
        for _, values in BEFORE + AFTER:
            expected.update(values)
        for address, text in expected.items():
            check(shown.get(address) == text, f"page shows {address} {text} (shows {shown.get(address)})")
        dropped = browser.evaluate("document.getElementById('system-dropped').textContent")
        check(dropped == "0", f"page shows none dropped by the system ({dropped})")
        browser.screenshot(os.path.join(tempfile.gettempdir(), "ring2osc-monitor.png"))
        tap.summary()
        time.sleep(2)
        gone = browser.evaluate("document.getElementById('connection').textContent")
        tap = Tap()
        time.sleep(2)  # the page tries again every second
        play("4 gest_value=9\n")
        back = browser.evaluate("[document.getElementById('connection').textContent, "
                                "document.getElementById('gesture').textContent]")
        check("gone" in gone and back == ["Live", "9"], f"the tap goes ({gone}) and comes back ({back})")
        browser.open(f"http://127.0.0.1:{WEB}/ring2osc-browser.html")
        time.sleep(1)
        play("4 gest_value=6\n1 x=1 y=2 z=3\n")
        values = browser.evaluate("document.getElementById('values').textContent")
        check(values.startswith("2 messages received") and "/a/z 3.00" in values, f"example sketch: {values}")
    finally:
        browser.close()
        tap.summary()


def part_relay():
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.setsockopt(socket.SOL_SOCKET, getattr(socket, "SO_RCVBUFFORCE", 33), 1 << 24)  # Python is slow
    udp.bind(("127.0.0.1", FORWARD))
    udp.settimeout(5)
    tap = Tap("--forward", str(FORWARD))
    reader, idle = WebSocket(), WebSocket()
    idle.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # never read
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    count, size, started = 20000, 400, time.time()
    got = {"udp": [], "ws": []}

    def collect(name, receive):
        try:
            while len(got[name]) < count + 1:
                got[name].append(receive())
        except OSError:
            pass
    threads = [threading.Thread(target=collect, args=("udp", lambda: udp.recv(65536))),
               threading.Thread(target=collect, args=("ws", lambda: reader.receive()[1]))]
    for t in threads:
        t.start()
    play("\n".join(line for line, _ in BEFORE) + "\n")  # the bridge's own datagrams, then a flood
    first = len(got["udp"])
    for n in range(count - first + 1):
        # Never far ahead of what arrived, so that an emulated tap is not outrun.
        while time.time() < started + n / 5000 or first + n - min(map(len, got.values())) > 200:
            time.sleep(0.0005)
        sender.sendto(struct.pack("!I", n) + bytes(size - 4), ("127.0.0.1", LISTEN))
    for t in threads:
        t.join(30)
    check(len(got["udp"]) == count + 1 and got["ws"] == got["udp"],
          f"relay: {len(got['ws'])} messages byte for byte as the {len(got['udp'])} forwarded")
    summary = tap.summary()
    check("web: 2 relay clients served" in summary and " 0 messages dropped" not in summary, summary.strip())


def part_rules():
    beside_others()
    tap = Tap("--web-origin", "https://editor.p5js.org")
    get = lambda host, path="/", method="GET": http(f"{method} {path} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
    here = f"127.0.0.1:{WEB}"
    # Every Host and Origin: web_rules_test; here, that the server asks the rules.
    check(get("evil.example:%d" % WEB) == 403 and get(here) == 200, "GET / from a foreign Host: 403")
    for origin, status in [("http://evil.example", 403), ("https://editor.p5js.org", 101), (None, 101)]:
        check(WebSocket(origin).status == status, f"upgrade from {origin}: {status}")
    check(get(here, method="POST") == 405 and get(here, "/nothing") == 404 and get(here, "/osc") == 426,
          "POST: 405; other paths: 404; /osc without upgrade: 426")
    check(http(b"GET / HTTP/1.1\r\nHost: %s\r\nX: %s\r\n\r\n" % (here.encode(), b"x" * 8192)) == 431, "9 KiB of headers: 431")
    began = time.time()
    check(http(b"GET / HTTP/1.1\r\n", timeout=30) is None and 4 < time.time() - began < 15, "half a request: closed after 5 s")
    client = WebSocket()
    client.send(0x1, b"to nowhere")
    for _ in range(3):
        client.send(0x2, bytes(2000))
    client.send(0x9, b"ping, masked")
    check(client.receive() == (0xA, b"ping, masked"), "a ping is answered; text and 2,000-byte messages are ignored")
    client.send(0x8, struct.pack("!H", 1000))
    check(client.receive()[0] == 0x8, "a close is closed")
    eager = WebSocket(behind=bytes([0x89, 0x84]) + bytes(4) + b"soon")  # a ping in the upgrade's own write
    check(eager.receive() == (0xA, b"soon"), "a ping sent right behind the upgrade is answered")
    eager.send(0x8, struct.pack("!H", 1000))
    eager.receive()
    client = WebSocket()
    client.send(0x2, bytes(5000))
    check(client.receive()[1][:2] == struct.pack("!H", 1009), "5,000 bytes: closed with 1009")
    clients, busy = [WebSocket() for _ in range(32)], WebSocket()
    check(all(c.status == 101 for c in clients) and busy.status == 503 and empty(busy), "32 relay clients, the 33rd: 503")
    check(all(get(here) == 200 for _ in range(40)), "beside them, 40 requests one after another: each answered")
    tap.summary()


def part_hostile():
    """Clients no browser makes: each promise holds against them."""
    beside_others()
    tap = Tap()
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    with socket.create_connection(("127.0.0.1", WEB), timeout=10) as s:
        s.sendall(b"GET / HTTP/1.1\r\nHost: localhost:%d\r\n\r\n" % WEB)
        head = s.recv(65536).split(b"\r\n\r\n")[0].lower()
    check(b"content-security-policy: default-src 'self'; connect-src 'self'; frame-ancestors 'none'" in head,
          "the page forbids other sources and framing")
    forbidden = WebSocket(host="x:1")
    answers = [head, b"".join(WebSocket().head).lower(), b"".join(forbidden.head).lower()]
    check(all(b"beast" not in a for a in answers), "no answer names the server's library")
    check(forbidden.status == 403 and empty(forbidden), "a foreign Host's answer is empty")
    missed = 0
    for n in range(50):
        client = WebSocket()
        sender.sendto(struct.pack("!I", n), ("127.0.0.1", LISTEN))
        missed += client.receive() != (2, struct.pack("!I", n))
        client.file.close()
        client.socket.close()
    time.sleep(0.5)  # their slots free
    check(missed == 0, f"a datagram right after the 101 reaches the client ({missed} of 50 missed)")
    descriptors = len(os.listdir(f"/proc/{tap.process.pid}/fd"))
    lingering = [WebSocket() for _ in range(32)]
    for client in lingering:
        client.send(0x8, struct.pack("!H", 1000))
    closed = all(c.receive()[0] == 0x8 for c in lingering)
    let_go = harness.wait_until(lambda: len(os.listdir(f"/proc/{tap.process.pid}/fd")) == descriptors, 12)
    check(closed and let_go, "32 clients that close and hold their sockets are let go within seconds")
    # Pings never read, and empty datagrams for clients that never read.
    resident = harness.resident_kib(tap.process.pid)
    flooder, idle = WebSocket(), [WebSocket() for _ in range(8)]
    for c in [flooder] + idle:
        c.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    ping = bytes([0x89, 0x80 | 125]) + bytes(4) + bytes(125)
    flooder.socket.setblocking(False)
    pings, end = 0, time.time() + 3
    while time.time() < end:
        sender.sendto(b"", ("127.0.0.1", LISTEN))
        try:
            pings += flooder.socket.send(ping * 200) // len(ping)
        except OSError:
            time.sleep(0.001)
    time.sleep(1)
    grown = (harness.resident_kib(tap.process.pid) - resident) / 1024
    check(grown < 16, f"{pings} pings and empty datagrams for 9 clients that never read: {grown:.0f} MiB more")
    summary = tap.summary()
    check(" 0 dropped by the system" in summary or "unknown dropped" in summary, summary.strip())
    # Datagrams the system drops while the tap cannot read are counted.
    tap = Tap()
    os.kill(tap.process.pid, signal.SIGSTOP)
    for n in range(4000):
        sender.sendto(bytes(1400), ("127.0.0.1", LISTEN))
    os.kill(tap.process.pid, signal.SIGCONT)
    time.sleep(1)
    sender.sendto(b"", ("127.0.0.1", LISTEN))  # the count so far comes with the next datagram
    time.sleep(0.5)
    summary = tap.summary()
    received, dropped = (int(re.search(r"(\d+) " + what, summary).group(1))
                         for what in ("datagrams received", "dropped by the system"))
    check(dropped > 0 and received + dropped == 4001, f"stopped: {received} received and {dropped} dropped by the system of 4001")
    # Out of descriptors: accepting is tried again after a pause, not in a spin.
    tap = Tap(limit=["prlimit", "--nofile=40"])
    held = [socket.create_connection(("127.0.0.1", WEB)) for _ in range(60)]
    before = harness.cpu_seconds(tap.process.pid)
    time.sleep(2)
    spent = harness.cpu_seconds(tap.process.pid) - before
    check(spent < 0.5, f"out of descriptors for 2 s with 60 connections waiting: {spent:.2f} s of CPU")
    for h in held:
        h.close()
    page = b"GET / HTTP/1.1\r\nHost: localhost:%d\r\n\r\n" % WEB
    check(harness.wait_until(lambda: http(page, timeout=2) == 200), "with descriptors free again, the page is served")
    tap.summary()


PARTS = sys.argv[3:] or ["page", "relay", "rules", "hostile"]
harness.main(globals(), [p for p in PARTS if p in os.environ.get("RING2OSC_WEB_PARTS", " ".join(PARTS)).split()])
