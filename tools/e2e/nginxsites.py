# tools/e2e/nginxsites.py — runs Debian's nginx for the real-site tests.
# In the foreground with a configuration of its own, one static site per loopback address
# on port 80 (and on 443 over TLS when asked).
"""Usage:

    sites = NginxSites({"127.0.0.2": "/usr/share/doc/aptitude/html"},
                       tls={"127.0.0.2": (certfile, keyfile)})
    sites.start()          # returns once every address accepts connections
    ...                    # http://127.0.0.2/ja/index.html is served from that folder,
                           # and https://127.0.0.2/ja/index.html too
    sites.access_log("127.0.0.2"), sites.access_log("127.0.0.2", 443)
    sites.stop()           # ends the nginx process and removes its folder

A site served over TLS as well gets a server of its own on port 443 with the given
certificate, which says the pages' character set (Content-Type "text/html;
charset=utf-8", as most servers send it), while the one on port 80 says none.

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
        listen {address}:{port}{tls};
        server_name {address};
        root {root};
        autoindex off;
        access_log {prefix}/access-{address}-{port}.log plain;{extra}
    }}
"""
TLS = """
        ssl_certificate {cert};
        ssl_certificate_key {key};
        charset utf-8;"""


class NginxError(RuntimeError):
    pass


class NginxSites:
    def __init__(self, sites, tls=None):
        self.sites = dict(sites)
        self.tls = dict(tls or {})
        self.prefix = None
        self.process = None

    def config_text(self):
        servers = "".join(SERVER.format(address=a, port=80, tls="", root=r, prefix=self.prefix, extra="")
                          for a, r in self.sites.items())
        servers += "".join(SERVER.format(address=a, port=443, tls=" ssl", root=self.sites[a], prefix=self.prefix,
                                         extra=TLS.format(cert=cert, key=key)) for a, (cert, key) in self.tls.items())
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
        waiting = {(a, 80) for a in self.sites} | {(a, 443) for a in self.tls}
        while waiting:
            if self.process.poll() is not None:
                raise NginxError("nginx ended with %d: %s%s" % (self.process.returncode,
                                 self.process.stderr.read().decode("utf-8", "replace"), self.error_log()))
            if time.monotonic() > deadline:
                self.stop()
                raise NginxError("nginx did not listen on %s" % sorted(waiting))
            for place in list(waiting):
                try:
                    socket.create_connection(place, timeout=1).close()
                    waiting.discard(place)
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

    def access_log(self, address, port=80):
        """The request lines of one site's server on that port: list of (request line, status)."""
        lines = []
        try:
            with open(os.path.join(self.prefix, "access-%s-%d.log" % (address, port)), errors="replace") as f:
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
