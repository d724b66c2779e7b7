#!/usr/bin/env python3
"""The tap found and finding, through a DNS-SD of the test's own (scripts/with-dns-sd:
Avahi's daemon on a loopback of its own) with python-zeroconf as the peer that is
not ours: the OSCQuery service advertised and withdrawn, the namespace read by a
reader written from the proposal, LISTEN and hostile clients, and a map that
finds a VRChat stand-in, and finds it again on another port.
usage: discovery_test.py BRIDGE TAP [PART...]"""
import http.server, json, os, re, socket, struct, sys, threading, time, urllib.error, urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *
from zeroconf import ServiceBrowser, ServiceInfo, Zeroconf

QUERY = "_oscjson._tcp.local."


def oscquery_tap(*arguments):
    """The tap serving OSCQuery on a free port, and that port."""
    t = tap("--quiet", "--oscquery", "0", *arguments)
    check(wait_until(lambda: "OSCQuery at" in t.output()), t.output())
    return t, int(re.search(r"OSCQuery at http://127.0.0.1:(\d+)/", t.output())[1])


def get(port, target):
    """Status and JSON (or None) of GET target."""
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}{target}", timeout=5) as answer:
            body = answer.read()
            return answer.status, json.loads(body) if body else None
    except urllib.error.HTTPError as error:
        return error.code, None


class Seen:
    """What a zeroconf browser sees of a type: names added and removed."""

    def __init__(self, zc, type_):
        self.added, self.removed, self.zc, self.type = [], [], zc, type_
        self.browser = ServiceBrowser(zc, type_, self)

    def add_service(self, zc, type_, name):
        self.added.append(name)

    def remove_service(self, zc, type_, name):
        self.removed.append(name)

    def update_service(self, zc, type_, name):
        pass


def part_advertised():
    zc = Zeroconf(interfaces=["127.0.0.1"])
    seen = Seen(zc, QUERY)
    started = time.time()
    t, port = oscquery_tap("--oscquery-name", "Stage Ring")
    name = "Stage Ring." + QUERY
    check(wait_until(lambda: name in seen.added, 15), f"the peer sees the service ({seen.added})")
    print(f"-- seen by the peer {time.time() - started:.2f} s after the tap started")
    info = zc.get_service_info(QUERY, name, 3000)
    check(info is not None and info.port == port and info.addresses == [socket.inet_aton("127.0.0.1")],
          f"resolved to the port listened on, on loopback: {info}")
    time.sleep(1)
    check(seen.added.count(name) == 1, f"seen once: {seen.added}")
    check(t.stop() == 0 and wait_until(lambda: name in seen.removed, 10), "withdrawn when the tap ends")
    zc.close()


def part_namespace():
    """Checked against the proposal's required attributes, by a reader of its own."""
    t, port = oscquery_tap()
    Udp().send(7040, bundle("/a/x f 3F000000 /a/y f 7FC00000 /a/z f 80000000"))
    time.sleep(0.3)
    status, root = get(port, "/")
    nodes = []

    def walk(node, path):
        nodes.append((node, path))
        for key, child in node.get("CONTENTS", {}).items():
            walk(child, path.rstrip("/") + "/" + key)
    walk(root, "/")
    check(all(node.get("FULL_PATH") == path for node, path in nodes), "every node's FULL_PATH is its path")
    nodes = [node for node, _ in nodes]
    leaves = {n["FULL_PATH"]: n for n in nodes if "CONTENTS" not in n}
    check(status == 200 and len(leaves) == 23, f"23 addresses: {sorted(leaves)}")
    check(all(n["TYPE"] in ("f", "i") and n["ACCESS"] == 1 and "RANGE" not in n and n["DESCRIPTION"]
              and len(n.get("VALUE", [0])) == len(n["TYPE"]) for n in leaves.values()), "each leaf's attributes")
    check([leaves[a].get("VALUE") for a in ("/a/x", "/a/y", "/a/z", "/gest")] == [[0.5], None, [-0.0], None],
          "the latest value exactly; none while NaN or not yet seen")
    check(sorted(root["CONTENTS"]) == ["a", "b", "g", "gest", "j", "r"], "the containers")
    status, info = get(port, "/?HOST_INFO")
    check(status == 200 and info["NAME"] == "ring2osc-tap" and info["WS_PORT"] == port and info["OSC_PORT"] == 7040
          and info["EXTENSIONS"] == {"ACCESS": True, "VALUE": True, "DESCRIPTION": True, "LISTEN": True}, str(info))
    check([get(port, q) for q in ("/a/x?VALUE", "/a/x?TYPE", "/a/y?VALUE", "/a/x?RANGE", "/a/x?NOPE", "/a/w")] ==
          [(200, {"VALUE": [0.5]}), (200, {"TYPE": "f"}), (204, None), (204, None), (400, None), (404, None)],
          "attributes alone; 204 for one the node has not, 400 for one OSCQuery has not, 404 for no node")
    t.stop()


def part_listen():
    """LISTEN streams exactly the addresses asked for; hostile clients cost the others nothing."""
    t, port = oscquery_tap()
    listening, unasked, deaf = WebSocket(port), WebSocket(port), WebSocket(port)
    deaf.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # never reads
    for path in [a for a in ("/a/x", "/b/3", "/gest")] + ["/a/x"] * 1000:
        deaf.send(0x1, json.dumps({"COMMAND": "LISTEN", "DATA": path}).encode())
    listening.send(0x1, b'{"COMMAND":"LISTEN","DATA":"/a/x"}')
    listening.send(0x1, b'{"COMMAND": "LISTEN", "DATA": "\\/gest"}')
    listening.send(0x1, b'{"COMMAND":"LISTEN"')  # not JSON: counted, let be
    unasked.send(0x1, b'{"COMMAND":"LISTEN","DATA":"/nothing"}')
    time.sleep(0.3)
    sender = Udp()
    for n in range(3000):
        sender.send(7040, bundle(f"/a/x f {n:08X} /a/y f 0 /a/z f 0"))
        sender.send(7040, bundle("/b/3 i 00000001"))
    sender.send(7040, bundle("/gest i 00000007"))
    got = [listening.receive() for _ in range(3001)]
    check(got == [(2, bundle(f"/a/x f {n:08X}")[20:]) for n in range(3000)] + [(2, bundle("/gest i 00000007")[20:])],
          "each message of /a/x and /gest, alone, in order, beside a client that never reads")
    listening.send(0x1, b'{"COMMAND":"IGNORE","DATA":"/a/x"}')
    time.sleep(0.3)
    sender.send(7040, bundle("/a/x f 00000000 /a/y f 0 /a/z f 0"))
    sender.send(7040, bundle("/gest i 00000008"))
    check(listening.receive() == (2, bundle("/gest i 00000008")[20:]), "IGNORE stops one address")
    unasked.socket.settimeout(0.5)
    try:
        check(unasked.receive() is None, "nothing unasked")
    except OSError:
        pass
    huge = WebSocket(port)
    huge.send(0x1, b'{"COMMAND":"LISTEN","DATA":"' + b"/" * 5000 + b'"}')
    check(huge.receive()[1][:2] == struct.pack("!H", 1009), "a command over 4 KiB closes with 1009")
    check(WebSocket(port, origin="http://evil.example").status == 403, "a foreign page's origin: 403")
    check(t.stop() == 0 and re.search(r"OSCQuery: 4 clients served, \d+ messages dropped, 2 said no command",
                                      t.output()) is not None, t.output())


class HostInfo(http.server.BaseHTTPRequestHandler):
    """An OSCQuery server of the stand-in's: ?HOST_INFO with an OSC port."""
    osc_port = 0

    def do_GET(self):
        body = json.dumps({"NAME": "VRChat", "OSC_PORT": HostInfo.osc_port, "OSC_TRANSPORT": "UDP"}).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *_):
        pass


def part_vrchat():
    """A map's to service: its fallback until the service is found, then the
    service, again on its new port once it is registered again, and found
    through _oscjson._tcp's ?HOST_INFO alone."""
    zc = Zeroconf(interfaces=["127.0.0.1"])
    fallback, first, second, third = Udp(), Udp(), Udp(), Udp()
    path = temporary_path("map")
    with open(path, "w") as f:
        f.write(f"to service VRChat-Client-* else {fallback.port}\n/avatar/parameters/RingGesture <- /gest\n")
    t = tap("--quiet", "--map", path)
    send = lambda n: Udp().send(7040, bundle(f"/gest i {n:08X}"))
    send(1)
    check(fallback.receive() is not None, "its fallback until the service is found")

    def stand_in(port, osc=True):
        kind = "_osc._udp.local." if osc else QUERY
        info = ServiceInfo(kind, "VRChat-Client-A1B2C3." + kind, addresses=[socket.inet_aton("127.0.0.1")],
                           port=port, server="vrchat.local.")
        zc.register_service(info)
        return info
    for to in (first, second):
        info = stand_in(to.port)
        check(wait_until(lambda: f"at 127.0.0.1:{to.port}" in t.output(), 15), t.output())
        send(2)
        check(to.receive() is not None, f"found on port {to.port}")
        zc.unregister_service(info)
        check(wait_until(lambda: t.output().count("no VRChat-Client-*") >= 1 + (to is second), 15), "gone: said")
    server = http.server.HTTPServer(("127.0.0.1", 0), HostInfo)
    HostInfo.osc_port = third.port
    threading.Thread(target=server.serve_forever, daemon=True).start()
    info = stand_in(server.server_address[1], osc=False)
    check(wait_until(lambda: f"at 127.0.0.1:{third.port}" in t.output(), 15), "found through ?HOST_INFO")
    send(3)
    check(third.receive() is not None, "and sent to")
    # Edited to look for another service, then back: its fallback, then the instance found.
    for pattern, to, said in (("Other-*", fallback, "read again"), ("VRChat-Client-*", third, f"at 127.0.0.1:{third.port}")):
        before = t.output().count(said)
        with open(path, "w") as f:
            f.write(f"to service {pattern} else {fallback.port}\n/avatar/parameters/RingGesture <- /gest\n")
        check(wait_until(lambda: t.output().count(said) > before, 15), f"{pattern}: {t.output()}")
        send(4)
        check(to.receive() is not None, f"edited to {pattern}: sent to port {to.port}")
    zc.unregister_service(info)
    server.shutdown()
    t.stop()
    zc.close()
    os.unlink(path)


main(globals())
