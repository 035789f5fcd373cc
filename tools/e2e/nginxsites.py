# tools/e2e/nginxsites.py — runs Debian's nginx in the foreground with a configuration of its own, one static site per loopback address on port 80, for the real-site tests.
"""Usage:

    sites = NginxSites({"127.0.0.2": "/usr/share/doc/aptitude/html"})
    sites.start()          # returns once every address accepts connections
    ...                    # http://127.0.0.2/ja/index.html is served from that folder
    sites.stop()           # ends the nginx process and removes its folder

The master process runs as the calling user (root on CI, port 80 needs it); the
workers run as nobody, which can read the world-readable documentation folders.
Symbolic links are followed (Debian's documentation packages link their script
files to shared folders). The access log of each site is kept in the prefix
folder and can be read with access_log(address) before stop().
"""

import os
import shutil
import socket
import subprocess
import tempfile
import time

NGINX = "/usr/sbin/nginx"

CONFIG = """daemon off;
master_process on;
worker_processes 1;
pid {prefix}/nginx.pid;
error_log {prefix}/error.log warn;
events {{ worker_connections 64; }}
http {{
    types_hash_max_size 4096;
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    client_body_temp_path {prefix}/body;
    proxy_temp_path {prefix}/proxy;
    fastcgi_temp_path {prefix}/fastcgi;
    uwsgi_temp_path {prefix}/uwsgi;
    scgi_temp_path {prefix}/scgi;
    log_format plain '$remote_addr "$request" $status $body_bytes_sent';
    sendfile on;
    keepalive_timeout 30;
{servers}
}}
"""

SERVER = """    server {{
        listen {address}:80;
        server_name {address};
        root {root};
        autoindex off;
        access_log {prefix}/access-{address}.log plain;
    }}
"""


class NginxError(RuntimeError):
    pass


class NginxSites:
    def __init__(self, sites):
        self.sites = dict(sites)
        self.prefix = None
        self.process = None

    def config_text(self):
        servers = "".join(SERVER.format(address=a, root=r, prefix=self.prefix) for a, r in self.sites.items())
        return CONFIG.format(prefix=self.prefix, servers=servers)

    def start(self, timeout=15):
        self.prefix = tempfile.mkdtemp(prefix="parvel-nginx-")
        os.chmod(self.prefix, 0o755)
        conf = os.path.join(self.prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self.config_text())
        # -e keeps start-up messages out of /var/log/nginx, which may not exist.
        self.process = subprocess.Popen(
            [NGINX, "-c", conf, "-p", self.prefix, "-e", os.path.join(self.prefix, "error.log")],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + timeout
        waiting = set(self.sites)
        while waiting:
            if self.process.poll() is not None:
                raise NginxError("nginx ended with %d: %s%s" % (self.process.returncode,
                                 self.process.stderr.read().decode("utf-8", "replace"), self.error_log()))
            if time.monotonic() > deadline:
                self.stop()
                raise NginxError("nginx did not listen on %s" % sorted(waiting))
            for address in list(waiting):
                try:
                    socket.create_connection((address, 80), timeout=1).close()
                    waiting.discard(address)
                except OSError:
                    pass
            time.sleep(0.1)
        return self

    def error_log(self):
        try:
            with open(os.path.join(self.prefix, "error.log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def access_log(self, address):
        """The request lines of one site: list of (request line, status)."""
        lines = []
        try:
            with open(os.path.join(self.prefix, "access-%s.log" % address), errors="replace") as f:
                for line in f:
                    parts = line.rstrip("\n").split('"')
                    if len(parts) >= 3:
                        lines.append((parts[1], int(parts[2].split()[0])))
        except OSError:
            pass
        return lines

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        if self.prefix:
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.prefix = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
