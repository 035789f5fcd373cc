# tools/servers/serverctl.py — starts and stops the test servers and reads their logs.
# The HTTP and FTP test servers, for test scripts.
"""Start the test servers from Python test code.

    import sys; sys.path.insert(0, "<repo>/tools/servers"); import serverctl

    with serverctl.start_http(root, faults={"/a.html": {"status": 404}}) as http:
        http.port, http.host, http.url("/a.html")   # 40123, "127.0.0.1:40123", "http://127.0.0.1:40123/a.html"
        http.set_faults({...})                        # replaces the fault script at once
        http.log_entries()                            # list of dicts, one per request
        http.wait_for_entries(3, timeout=10)
    # leaving the block (or http.stop()) stops the server; log_entries() still works

    ftp = serverctl.start_ftp(root, user="taro", password="pw", faults={"cut": {"/big.bin": 1000}})
    ...; ftp.stop()

    https = serverctl.start_http(root, tls=(certfile, keyfile))   # https://127.0.0.1:40124/...

Each server runs as its own /usr/bin/python3 process on a loopback address (127.0.0.1
unless `address` says another, such as 127.0.0.2) with a port chosen at run time (or the
`port` given: 80 makes links without a port, which needs root), and keeps its port
file, fault script and log in a temporary folder of its own, removed by stop(). start_* returns only once the port accepts connections
(or raises ServerError after `start_timeout` seconds, with the server's stderr).
The fault script formats are described at the top of httpserver.py and ftpserver.py.
"""

import atexit
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

PYTHON = "/usr/bin/python3"
HERE = os.path.dirname(os.path.abspath(__file__))
HTTP_SCRIPT = os.path.join(HERE, "httpserver.py")
FTP_SCRIPT = os.path.join(HERE, "ftpserver.py")

_running = []
DEFAULT_PORTS = {"http": 80, "https": 443, "ftp": 21}


class ServerError(RuntimeError):
    pass


class TestServer:
    """One running server process: its port, fault script and request log."""

    def __init__(self, kind, folder, process, address, scheme):
        self.kind = kind
        self.scheme = scheme
        self.address = address
        self.folder = folder
        self.process = process
        self.port = 0
        self.faults_path = os.path.join(folder, "faults.json")
        self.log_path = os.path.join(folder, "requests.jsonl")
        self._stopped_entries = None

    @property
    def host(self):
        """address:port, or the address alone on the scheme's own port (80, 443, 21)."""
        if self.port == DEFAULT_PORTS[self.scheme]:
            return self.address
        return "%s:%d" % (self.address, self.port)

    def url(self, path="/"):
        return "%s://%s%s" % (self.scheme, self.host, path)

    def set_faults(self, faults):
        """Replaces the fault script (None or {} for none); the next request sees it."""
        temporary = self.faults_path + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump(faults or {}, f)
        os.replace(temporary, self.faults_path)

    def log_entries(self):
        """Every request logged so far, oldest first (also after stop())."""
        if self._stopped_entries is not None:
            return list(self._stopped_entries)
        return _read_log(self.log_path)

    def clear_log(self):
        if self._stopped_entries is None and os.path.exists(self.log_path):
            os.remove(self.log_path)

    def wait_for_entries(self, count, timeout=10.0):
        """Waits until at least `count` requests are logged; returns the entries."""
        deadline = time.monotonic() + timeout
        entries = self.log_entries()
        while len(entries) < count and time.monotonic() < deadline:
            time.sleep(0.05)
            entries = self.log_entries()
        return entries

    def running(self):
        return self.process.poll() is None

    def stderr_text(self):
        try:
            with open(os.path.join(self.folder, "stderr.txt"), encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def stop(self, timeout=5.0):
        """Stops the process (SIGTERM, then SIGKILL) and removes its folder."""
        if self._stopped_entries is not None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout)
        self._stopped_entries = _read_log(self.log_path)
        shutil.rmtree(self.folder, ignore_errors=True)
        if self in _running:
            _running.remove(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False


def _read_log(path):
    entries = []
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.endswith("\n"):
                    entries.append(json.loads(line))
    except FileNotFoundError:
        pass
    return entries


def _wait_until_listening(server, port_file, start_timeout):
    deadline = time.monotonic() + start_timeout
    while time.monotonic() < deadline:
        if server.process.poll() is not None:
            break
        try:
            with open(port_file) as f:
                text = f.read().strip()
            if text:
                server.port = int(text)
                with socket.create_connection((server.address, server.port), timeout=1.0):
                    return
        except (OSError, ValueError):
            pass
        time.sleep(0.05)
    message = "%s server did not start within %.0f s:\n%s" % (server.kind, start_timeout, server.stderr_text())
    server.stop()
    raise ServerError(message)


def _start(kind, script, arguments, faults, start_timeout, address="127.0.0.1", port=0, scheme=None):
    folder = tempfile.mkdtemp(prefix="parvel-%s-" % kind)
    port_file = os.path.join(folder, "port")
    command = [PYTHON, script, "--address", address, "--port", str(port), "--port-file", port_file] + arguments
    command += ["--faults", os.path.join(folder, "faults.json"), "--log", os.path.join(folder, "requests.jsonl")]
    stderr = open(os.path.join(folder, "stderr.txt"), "wb")
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr)
    finally:
        stderr.close()
    server = TestServer(kind, folder, process, address, scheme or kind)
    server.set_faults(faults)
    _running.append(server)
    _wait_until_listening(server, port_file, start_timeout)
    return server


def start_http(root, faults=None, variables=None, http10=False, subst=True,
               idle_timeout=600, start_timeout=10.0, address="127.0.0.1", port=0, tls=None, decode_names=False):
    """Starts httpserver.py on `root`. `variables` maps NAME to the value of @NAME@ in pages.
    `address` is a loopback address, `port` 0 for one chosen by the system. `tls`, a
    (certificate file, key file) pair, serves https instead of http. `decode_names` serves a
    Shift_JIS or EUC-JP path that names no file from the file of its UTF-8 name."""
    arguments = ["--root", str(root), "--idle-timeout", str(idle_timeout)]
    if tls:
        arguments += ["--tls-cert", str(tls[0]), "--tls-key", str(tls[1])]
    for name, value in (variables or {}).items():
        arguments += ["--var", "%s=%s" % (name, value)]
    if http10:
        arguments.append("--http10")
    if not subst:
        arguments.append("--no-subst")
    if decode_names:
        arguments.append("--decode-names")
    return _start("http", HTTP_SCRIPT, arguments, faults, start_timeout, address, port, "https" if tls else "http")


def start_ftp(root, user=None, password="", anonymous=True, faults=None,
              idle_timeout=600, start_timeout=10.0, address="127.0.0.1", port=0):
    """Starts ftpserver.py on `root`, read-only, anonymous and/or one user."""
    arguments = ["--root", str(root), "--idle-timeout", str(idle_timeout)]
    if user:
        arguments += ["--user", user, "--password", password]
    if not anonymous:
        arguments.append("--no-anonymous")
    return _start("ftp", FTP_SCRIPT, arguments, faults, start_timeout, address, port)


@atexit.register
def _stop_all():
    for server in list(_running):
        server.stop()
