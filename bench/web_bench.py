#!/usr/bin/env python3
"""What the tap's web side costs, side by side in one run, on the build given:
  CPU per datagram of the tap with 0, 1, 4 and 16 relay clients;
  what is lost at 10,000 a second with the view on, 4 monitor pages and 4
  relay clients, and what each relay client received;
  latency from the bridge's hand-over to the page's receipt in Chromium at
  1,000 events a second, and whether it stays flat;
  the tap's resident size as relay clients come and go 1,000 times;
  with --heap, the page's JavaScript heap after 1 and after 10 minutes.
usage: web_bench.py BIN_DIR [--quick] [--heap]"""
import multiprocessing, os, pty, signal, socket, struct, subprocess, sys, threading, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from browser import Browser  # noqa: E402
from harness import cpu_seconds, resident_kib, temporary_path  # noqa: E402

BIN = sys.argv[1]
QUICK, HEAP = "--quick" in sys.argv, "--heap" in sys.argv
WEB = 7048
# The bridge's acceleration datagram, 76 bytes; a relay frame adds 2.
ACCELERATION = (b"#bundle\0" + bytes(7) + b"\1" + b"".join(
    struct.pack("!I", 16) + a + b"\0" * 4 + b",f\0\0" + struct.pack("!f", v)
    for a, v in ((b"/a/x", 1.0), (b"/a/y", 0.0), (b"/a/z", -1.0))))
FRAME = len(ACCELERATION) + 2


def tap(*arguments, stdout=subprocess.DEVNULL):
    process = subprocess.Popen([os.path.join(BIN, "ring2osc-tap"), "--web", str(WEB)] + list(arguments),
                               stdout=stdout, stderr=subprocess.PIPE)
    time.sleep(0.5)
    return process


def stop(process):
    """The web part of the tap's summary line."""
    process.send_signal(signal.SIGINT)
    summary = process.communicate(timeout=10)[1].decode()
    return summary[summary.rfind("web: "):].strip()


def open_relay(port=None, path=b"/osc"):
    """A WebSocket upgraded on `port` (the monitor's by default), and how
    many bytes came after the handshake's answer."""
    port = WEB if port is None else port
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n" % (path, port))
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += s.recv(1024)
    return s, len(answer.split(b"\r\n\r\n", 1)[1])


def relay_client(received, ready):
    """A relay client in a process of its own that counts what it reads."""
    s, extra = open_relay()
    received.value = extra
    ready.set()
    while True:
        chunk = s.recv(1 << 20)
        if not chunk:
            return
        received.value += len(chunk)


QUERY = 7047  # the OSCQuery server's port


def oscquery_client(received, ready):
    """An OSCQuery client in a process of its own that LISTENs to the three
    accelerations and counts what it reads (each message a frame of 18 bytes)."""
    s, extra = open_relay(QUERY, b"/")
    for axis in "xyz":
        command = b'{"COMMAND":"LISTEN","DATA":"/a/%s"}' % axis.encode()
        s.sendall(bytes([0x81, 0x80 | len(command)]) + bytes(4) + command)  # masked with zeros
    received.value = extra
    ready.set()
    while True:
        chunk = s.recv(1 << 20)
        if not chunk:
            return
        received.value += len(chunk)


def udp_counter(port, received, ready):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, getattr(socket, "SO_RCVBUFFORCE", 33), 1 << 24)
    s.bind(("127.0.0.1", port))
    ready.set()
    while True:
        s.recv(65536)
        received.value += 1


def start(target, *arguments):
    value, ready = multiprocessing.Value("q", 0, lock=False), multiprocessing.Event()
    process = multiprocessing.Process(target=target, args=arguments + (value, ready), daemon=True)
    process.start()
    ready.wait(10)
    return process, value


def send(count, per_second):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    began = time.time()
    for n in range(count):
        if n % 10 == 0:
            delay = began + n / per_second - time.time()
            if delay > 0:
                time.sleep(delay)
        s.sendto(ACCELERATION, ("127.0.0.1", 7040))


def settle(values, target, seconds=5):
    deadline = time.time() + seconds
    while time.time() < deadline and any(v.value < target for v in values):
        time.sleep(0.05)


def cpu_per_datagram(count):
    print(f"CPU per datagram, one destination, {count} datagrams at 10,000 a second")
    for clients in (0, 1, 4, 16):
        counter, received = start(udp_counter, 7041)
        process = tap("--quiet", "--forward", "7041")
        relays = [start(relay_client) for _ in range(clients)]
        time.sleep(0.3)
        before = cpu_seconds(process.pid)
        send(count, 10000)
        settle([received] + [r[1] for r in relays], count)
        used = (cpu_seconds(process.pid) - before) * 1e6 / count
        got = [r[1].value // FRAME for r in relays]
        print(f"  {clients:2} relay clients: {used:6.2f} us  forwarded {received.value} of {count}; "
              f"relay clients received {min(got, default=count)} to {max(got, default=count)} ({stop(process)})")
        for p, _ in relays + [(counter, None)]:
            p.kill()
            p.join()  # the next round's counter binds the same port
    counter, received = start(udp_counter, 7041)
    process = tap("--quiet", "--forward", "7041", "--oscquery", str(QUERY))
    listeners = [start(oscquery_client) for _ in range(4)]
    time.sleep(0.3)
    before = cpu_seconds(process.pid)
    send(count, 10000)
    settle([received], count)
    settle([r[1] for r in listeners], count * 3 * 18)
    used = (cpu_seconds(process.pid) - before) * 1e6 / count
    got = [r[1].value // 18 for r in listeners]
    print(f"   4 OSCQuery clients listening to /a/x, /a/y, /a/z: {used:6.2f} us  forwarded {received.value} of "
          f"{count}; they received {min(got)} to {max(got)} of {3 * count} messages")
    for p, _ in listeners + [(counter, None)]:
        p.kill()
        p.join()
    process.send_signal(signal.SIGINT)
    process.wait(10)


def loss(seconds, browser):
    count = 10000 * seconds
    print(f"{count} datagrams at 10,000 a second for {seconds} s: view on a terminal, 4 monitor pages, "
          "4 relay clients")
    counter, received = start(udp_counter, 7041)
    master, slave = pty.openpty()
    threading.Thread(target=lambda: [os.read(master, 1 << 16) for _ in iter(int, 1)], daemon=True).start()
    process = tap("--forward", "7041", stdout=slave)
    pages = [browser.call("Target.createTarget", url=f"http://127.0.0.1:{WEB}/")["targetId"] for _ in range(4)]
    relays = [start(relay_client) for _ in range(4)]
    time.sleep(2)
    send(count, 10000)
    settle([received] + [r[1] for r in relays], count)
    got = [r[1].value // FRAME for r in relays]
    print(f"  lost to the UDP destination: {count - received.value} of {count}; relay clients received {got}"
          f" ({stop(process)})")
    for page in pages:
        browser.call("Target.closeTarget", targetId=page)
    for p, _ in relays + [(counter, None)]:
        p.kill()


def page_latency(events, browser):
    print(f"Latency from the bridge's hand-over to the page's receipt, {events} events at 1,000 a second")
    process = tap("--quiet")
    browser.open(f"http://127.0.0.1:{WEB}/?arrivals")
    time.sleep(2)
    script, stamps = temporary_path("script"), temporary_path("stamps")
    with open(script, "w") as f:
        f.write("1 x=1 y=2 z=3\n" * events)
    offset = time.time() - time.monotonic()  # the stamps' clock against the page's
    bridge = subprocess.Popen([os.path.join(BIN, "ring2osc")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=dict(os.environ, RINGSIM_EVENTS=script, RINGSIM_INTERVAL_US="1000",
                                       RINGSIM_STAMPS=stamps))
    time.sleep(min(events / 2000, 10))
    fps = browser.evaluate("new Promise((done) => { let n = 0; const t0 = performance.now();"
                           "const f = () => (++n, performance.now() - t0 < 2000 ? requestAnimationFrame(f)"
                           " : done(n / 2)); requestAnimationFrame(f); })")
    print(f"  the page's animation frames while the stream comes: {fps:.0f} a second")
    while not os.path.exists(stamps):
        time.sleep(0.2)
    time.sleep(1)
    bridge.kill()
    sent = [int(line) / 1e9 + offset for line in open(stamps)]
    for path in (script, stamps):
        os.unlink(path)
    arrived = [t / 1000 for t in browser.evaluate("window.ring2oscArrivals")]
    latencies = [(a - s) * 1000 for s, a in zip(sent, arrived)]
    def show(what, part):
        part = sorted(part)
        print(f"  {what}: median {part[len(part) // 2]:.2f} ms, p99 {part[len(part) * 99 // 100]:.2f} ms")
    show(f"all {len(latencies)} of {events}", latencies)
    for start_at in range(0, len(latencies) - 9999, 10000):
        show(f"events {start_at}-{start_at + 9999}", latencies[start_at:start_at + 10000])
    if HEAP:
        heap(browser)
    stop(process)


def heap(browser):
    """The page's heap at 1,000 events a second, after 1 and after 10 minutes."""
    script = temporary_path("script")
    open(script, "w").write("1 x=1 y=2 z=3\n2 r_r=1 r_p=2 r_y=3\n")
    bridge = subprocess.Popen([os.path.join(BIN, "ring2osc")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=dict(os.environ, RINGSIM_EVENTS=script, RINGSIM_INTERVAL_US="1000",
                                       RINGSIM_LOOP="1"))
    browser.open(f"http://127.0.0.1:{WEB}/")
    for minute in range(1, 11):
        time.sleep(60)
        browser.call("HeapProfiler.collectGarbage", session=True)
        used = browser.call("Runtime.getHeapUsage", session=True)["usedSize"]
        print(f"  page heap after {minute} min: {used / 1e6:.1f} MB")
    bridge.kill()
    os.unlink(script)


def resident(cycles):
    process = tap("--quiet")
    before = resident_kib(process.pid)
    line = f"Resident size of the tap: {before} KiB at start"
    for n in range(1, cycles + 1):
        s, _ = open_relay()
        s.close()
        if n in (cycles // 10, cycles):
            time.sleep(0.5)
            line += f", {resident_kib(process.pid)} KiB after {n} relay clients came and went"
    print(line)
    stop(process)


print("load average before:", open("/proc/loadavg").read().split()[:3], f"{os.cpu_count()} cores")
browser = Browser()
try:
    cpu_per_datagram(2000 if QUICK else 20000)
    loss(1 if QUICK else 60, browser)
    page_latency(2000 if QUICK else 60000, browser)
    resident(100 if QUICK else 1000)
finally:
    browser.close()
print("load average after:", open("/proc/loadavg").read().split()[:3])
