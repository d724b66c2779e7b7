"""Headless Chromium driven through its DevTools protocol over a pipe (no
WebSocket needed): open a page, evaluate JavaScript in it, take screenshots."""
import base64
import fcntl
import json
import os
import shutil
import subprocess
import tempfile


class Browser:
    def __init__(self, width=1280, height=800):
        chromium = shutil.which("chromium")
        if chromium is None:
            raise SystemExit("chromium is missing (Debian: chromium)")
        self.profile = tempfile.mkdtemp(prefix="ring2osc-chromium-")
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--remote-debugging-pipe", f"--user-data-dir={self.profile}",
                 f"--window-size={width},{height}", "about:blank"]

        def pipes():  # the protocol's pipe is the child's descriptors 3 and 4
            read, write = (fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser_read, from_browser_write))
            os.dup2(read, 3)
            os.dup2(write, 4)
        # Its singleton socket goes to TMPDIR: into the profile, which close() removes.
        self.process = subprocess.Popen([chromium] + flags, preexec_fn=pipes, pass_fds=(3, 4),
                                        env=dict(os.environ, TMPDIR=self.profile),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.pending, self.next_id = b"", 0
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]
        self.call("Page.enable", session=True)
        self.call("Runtime.enable", session=True)
        self.call("Emulation.setDeviceMetricsOverride", session=True, width=width, height=height,
                  deviceScaleFactor=1, mobile=False)

    def call(self, method, session=False, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise RuntimeError("chromium went away")
                self.pending += chunk
            raw, self.pending = self.pending.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]

    def open(self, url):
        self.call("Page.navigate", session=True, url=url)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", session=True, expression=expression,
                           returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", session=True, format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        self.process.kill()
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)
