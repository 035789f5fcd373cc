#!/usr/bin/python3
# tools/servers/ftpserver.py — the FTP test server: pyftpdlib serving a folder read-only.
# On 127.0.0.1, with scripted faults and a command log.
"""FTP test server for the downloader's tests and demos (Debian's python3-pyftpdlib).

Command line
  /usr/bin/python3 tools/servers/ftpserver.py --root DIR [--address 127.0.0.1] [--port 0] [--port-file F]
      [--user NAME --password PW] [--no-anonymous] [--faults FILE] [--log FILE]
      [--idle-timeout 600]

  Listens on one loopback address only (--address, 127.0.0.1 by default), on the port given (0: chosen by the system); prints
  "PORT n" on stdout and, with --port-file, writes n to that file. Anonymous users
  (any password) may list and read the root unless --no-anonymous; --user and
  --password add one user with the same read-only rights. Passive and active data
  connections both work. It stops by itself after --idle-timeout seconds without a
  command and on SIGTERM or SIGINT.

Fault script (--faults FILE), a JSON object re-read at every login and every RETR:
    {"refuse_login": true}           every login fails with 530
    {"refuse_login": ["anonymous"]}  only these user names are refused
    {"cut": {"/pub/big.bin": 1000}}  RETR of that path sends 1000 bytes, then closes
                                     the data connection, answers 426 and closes
                                     the control connection
  Paths are the FTP paths as the server shows them, beginning with '/'.

Command log (--log FILE): one JSON line per command received:
    {"time": 1700000000.5, "session": 1, "user": "anonymous", "cmd": "RETR", "arg": "/pub/a.txt"}
  "user" is the name given with USER so far (empty before it).
"""

import argparse
import json
import logging
import os
import signal
import sys
import threading
import time

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from httpserver import loopback_address

READ_PERMISSIONS = "elr"


class State:
    faults_path = None
    log_path = None
    lock = threading.Lock()
    sessions = 0
    last_activity = time.monotonic()
    stop = False


def load_faults():
    if not State.faults_path:
        return {}
    try:
        with open(State.faults_path, "rb") as f:
            text = f.read()
    except FileNotFoundError:
        return {}
    if not text.strip():
        return {}
    try:
        script = json.loads(text.decode("utf-8"))
    except ValueError:
        sys.stderr.write("ftpserver: fault script unreadable, ignored\n")
        return {}
    return script if isinstance(script, dict) else {}


def login_refused(username):
    refused = load_faults().get("refuse_login")
    if isinstance(refused, list):
        return username in refused
    return bool(refused)


class Authorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        if login_refused(username):
            raise AuthenticationFailed("Login refused.")
        super().validate_authentication(username, password, handler)


class CutProducer:
    """Sends the first `limit` bytes of a file, then marks the transfer as cut."""

    def __init__(self, file, limit, handler):
        self.file = file
        self.remaining = limit
        self.handler = handler

    def more(self):
        if self.remaining <= 0:
            self.handler.transfer_cut = True
            return b""
        data = self.file.read(min(65536, self.remaining))
        self.remaining -= len(data)
        if not data:
            self.remaining = 0
        return data


class Handler(FTPHandler):
    use_sendfile = False
    auth_failed_timeout = 0.5
    banner = "Test FTP server ready."

    def on_connect(self):
        with State.lock:
            State.sessions += 1
            self.session_number = State.sessions
            State.last_activity = time.monotonic()
        self.transfer_cut = False

    def pre_process_command(self, line, cmd, arg):
        with State.lock:
            State.last_activity = time.monotonic()
        if State.log_path:
            entry = {"time": time.time(), "session": getattr(self, "session_number", 0),
                     "user": self.username or "", "cmd": cmd, "arg": arg}
            with State.lock:
                with open(State.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry) + "\n")
        super().pre_process_command(line, cmd, arg)

    def ftp_RETR(self, file):
        limit = load_faults().get("cut", {}).get(self.fs.fs2ftp(file))
        if limit is None:
            return super().ftp_RETR(file)
        self._restart_position = 0
        try:
            fd = self.run_as_current_user(self.fs.open, file, "rb")
        except OSError as error:
            self.respond("550 %s." % error.strerror)
            return None
        self.transfer_cut = False
        self.push_dtp_data(CutProducer(fd, int(limit), self), isproducer=True, file=fd, cmd="RETR")
        return file

    def respond(self, resp, logfun=logging.debug):
        if self.transfer_cut and resp.startswith("226"):
            self.transfer_cut = False
            super().respond("426 Connection closed; transfer aborted.", logfun)
            self.close_when_done()
            return
        super().respond(resp, logfun)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="FTP test server on 127.0.0.1")
    parser.add_argument("--root", required=True)
    parser.add_argument("--address", type=loopback_address, default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--no-anonymous", action="store_true")
    parser.add_argument("--faults")
    parser.add_argument("--log")
    parser.add_argument("--idle-timeout", type=float, default=600.0)
    args = parser.parse_args(argv)
    if not os.path.isdir(args.root):
        parser.error("--root is not a folder: %s" % args.root)
    if args.no_anonymous and not args.user:
        parser.error("--no-anonymous needs --user")
    return args


def main(argv):
    args = parse_arguments(argv)
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    State.faults_path = args.faults
    State.log_path = args.log
    root = os.path.abspath(args.root)
    authorizer = Authorizer()
    if not args.no_anonymous:
        authorizer.add_anonymous(root, perm=READ_PERMISSIONS)
    if args.user:
        authorizer.add_user(args.user, args.password, root, perm=READ_PERMISSIONS)
    Handler.authorizer = authorizer
    server = FTPServer((args.address, args.port), Handler)
    port = server.socket.getsockname()[1]

    def on_signal(signum, frame):
        State.stop = True
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.replace(temporary, args.port_file)
    print("PORT %d" % port, flush=True)
    State.last_activity = time.monotonic()
    while not State.stop:
        server.serve_forever(timeout=0.2, blocking=False, handle_exit=False)
        with State.lock:
            if time.monotonic() - State.last_activity > args.idle_timeout:
                break
    server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
