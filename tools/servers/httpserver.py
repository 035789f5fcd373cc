#!/usr/bin/python3
# tools/servers/httpserver.py — the HTTP/1.1 test server, plain or over TLS.
# Serves a folder with ranges, dates and keep-alive, plays scripted faults per path and
# logs every request.
"""HTTP/1.1 test server for the downloader's tests and demos (Python 3 standard library only).

Command line
  /usr/bin/python3 tools/servers/httpserver.py --root DIR [--address 127.0.0.1] [--port 0] [--port-file F]
      [--faults FILE] [--log FILE] [--idle-timeout 600] [--http10]
      [--var NAME=VALUE ...] [--no-subst] [--decode-names] [--tls-cert CERT --tls-key KEY] [--verbose]

  Listens on one loopback address only (--address, 127.0.0.1 by default). With --port 0 (the default) the system picks the port;
  the server then prints "PORT n" on stdout and, with --port-file, writes n to that
  file (atomically, by renaming a temporary file). It stops by itself after
  --idle-timeout seconds without a request, and on SIGTERM or SIGINT.

  With --tls-cert and --tls-key (PEM files) every connection is TLS (https): the
  handshake is made in the connection's own thread, so a client that stalls in it or
  rejects the certificate holds up no other; a failed handshake is no request and is
  not logged. Everything below works the same inside TLS; the addresses the server
  makes itself (the 301 of a folder, "redirect_loop") say https.

Normal behaviour
  - GET and HEAD. Responses say "HTTP/1.1" and keep the connection alive unless the
    client asks otherwise (--http10: every response says "HTTP/1.0" and the
    connection is closed after it).
  - The path (without query, %-escapes decoded to bytes) names a file under --root;
    "/dir/" serves dir/index.html; "/dir" naming a folder answers 301 to "/dir/";
    a missing file, or a path that climbs out of the root, answers 404.
  - --decode-names: a path whose bytes name no file is read as Shift_JIS, then as
    EUC-JP, and served from the file of that name in UTF-8, so one file stored under
    its UTF-8 name answers the escapes of each encoding a page may link it in.
  - Headers: Date, Server, Last-Modified (the file's mtime, RFC 1123 GMT),
    Content-Length, Content-Type by extension (text/html for .htm .html .shtml .asp,
    exactly that text without a charset), Accept-Ranges: bytes; for a font file
    (.woff .woff2 .ttf .otf) also Access-Control-Allow-Origin: *.
  - Range "bytes=N-", "bytes=N-M" and "bytes=-K" answer 206 with
    "Content-Range: bytes S-E/TOTAL"; a start at or past the end answers 416 with
    "Content-Range: bytes */TOTAL". A Range of any other form is ignored (200), and so
    is one whose If-Range is not the Last-Modified date sent (an entity tag never is).
  - If-Modified-Since not older than the file's mtime answers 304 (no fault active).
  - Placeholders: in served pages (.htm .html .shtml .asp) and in the texts of a
    fault rule (body, redirect, headers) "@HOST@" becomes the Host header of the
    request (the address the client used, e.g. 127.0.0.1:40123), "@PORT@" this
    server's port, and "@NAME@" the value given with --var NAME=VALUE (names are
    capital letters, digits and '_'). Unknown placeholders stay as they are.
    --no-subst serves every file byte for byte.

Request log (--log FILE)
  One JSON object per line, written when the request has been read and its answer
  planned (before any scripted delay), flushed at once:
    {"time": 1700000000.123, "conn": 3, "seq": 1, "client_port": 51234,
     "method": "GET", "target": "/a/b.html?x=1", "path": "/a/b.html",
     "version": "HTTP/1.1", "headers": [["Host", "127.0.0.1:40123"], ...],
     "range": "bytes=100-" or null, "status": 206, "rule": "/a/b.html" or null}
  "conn" numbers the TCP connections, "seq" the requests on one connection (so a
  test can see keep-alive reuse). Texts are the bytes received read as ISO-8859-1.

Fault script (--faults FILE)
  A JSON object, re-read at every request (a test may rewrite it while the server
  runs; write it to a temporary name and rename it over the old one). Keys are
  request paths as sent, without the query: an exact key wins, otherwise the first
  key containing '*' or '?' that matches as a shell pattern (fnmatch, case-sensitive).
  The value is a rule object or a list of rule objects; the first rule whose
  conditions hold applies. An unreadable script answers every request with 500.

  Conditions of a rule:
    "times": N        the rule applies to the first N requests it matches only
    "range": true     only requests with a Range header; false: only without one
  Content (instead of the file at the path):
    "file": "rel/path"             serve another file of the root
    "body": "text", "encoding": "shift_jis" (default utf-8)
    "body_hex": "48 54", "body_b64": "..."
    "generate": "links", "count": N, "pattern": "p%d.html"   a page of N links
    "generate": "page", "size": N  an HTML page of exactly N bytes
    "generate": "bytes", "size": N byte i is i % 251 (produced lazily: any size)
    "generate": "nul", "count": N  a page with N NUL bytes before a link to after.html
    "generate": "title", "size": N a page whose TITLE text is N bytes: Shift_JIS
                                   katakana (2 bytes each), an odd N ends with 'x'
    "generate": "hrefs", "hrefs": ["../x.gif", ...], "tag": "A"
                                   a page linking each text: <A HREF="..."> (or
                                   <IMG SRC="..."> with "tag": "IMG"); each text is
                                   sent as ISO-8859-1: the JSON text "\\u0083\\\\"
                                   gives the bytes 83 5C
    Generated and inline bodies get Content-Type text/html ("bytes": application/
    octet-stream) and Last-Modified Sat, 01 Jan 2000 00:00:00 GMT unless set below.
  Status line and headers:
    "status": 404, "reason": "Not Found"   any status (the file's content is the body;
                                           no Range handling for a status other than 200)
    "status_line": "http/1.1 200 OK"       the status line verbatim
    "http10": true                         answer "HTTP/1.0" and close
    "last_modified": null | "any text"     no header, or that exact value
    "last_modified_epoch": 946684800       that time in RFC 1123 form
    "content_type": null | "text"          no header, or that value
    "content_length": null | N | "text"    no header (body ends with the close), or
                                           that value whatever the body (connection
                                           closed after the body)
    "keep_alive": true                     keep the connection open after a
                                           content_length fault: a client that trusts
                                           a short length reads the rest of the body
                                           as the start of its next answer
    "chunked": true                        Transfer-Encoding: chunked, no length
    "headers": {"Name": "value"}           extra headers (placeholders apply)
    "header_filler": N                     one header line "X-Filler: aaa..." of N bytes
    "header_lines": N                      N header lines "X-Line-i: i"
    "close": true                          Connection: close after this response
  Ranges:
    "ignore_range": true                   200 with the whole body, no Accept-Ranges
    "content_range": "bytes 0-9/10"        Content-Range verbatim
    "content_range_start": N               Content-Range names start N (the body is
                                           still the bytes asked for)
    "unsatisfiable": true                  416 with "Content-Range: bytes */SIZE" and
                                           an empty body, whatever the Range asked
  Redirects:
    "redirect": "http://@HOST@/x.html"     302 (or "status") with that Location;
                                           any scheme, e.g. ftp://@FTP@/f.zip
    "redirect_loop": true                  302 to the same address
  Timing and connection faults:
    "delay": S                  wait S seconds before the status line
    "stall_at": N, "stall": S   wait S seconds once N body bytes are sent (0: right
                                after the headers; no wait if the body is shorter)
    "rate": B                   send the body at about B bytes per second
    "cut_after": N              send N body bytes, then close the connection
    "reset_after": N            send N body bytes, then reset the connection (RST)
    "drop": true                close the connection without any answer
    "reset": true               reset the connection without any answer
"""

import argparse
import base64
import email.utils
import fcntl
import fnmatch
import json
import os
import re
import signal
import socket
import ssl
import struct
import sys
import termios
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PAGE_EXTENSIONS = (b".htm", b".html", b".shtml", b".asp")
CONTENT_TYPES = {
    b".htm": "text/html", b".html": "text/html", b".shtml": "text/html", b".asp": "text/html",
    b".txt": "text/plain", b".css": "text/css", b".js": "application/x-javascript",
    b".gif": "image/gif", b".jpg": "image/jpeg", b".jpeg": "image/jpeg", b".png": "image/png",
    b".bmp": "image/bmp", b".ico": "image/x-icon", b".xbm": "image/x-xbitmap",
    b".wav": "audio/x-wav", b".mid": "audio/midi", b".midi": "audio/midi",
    b".au": "audio/basic", b".mp3": "audio/mpeg", b".ra": "audio/x-pn-realaudio",
    b".swf": "application/x-shockwave-flash", b".zip": "application/zip",
    b".lzh": "application/x-lzh", b".exe": "application/octet-stream",
    b".pdf": "application/pdf", b".mpg": "video/mpeg", b".avi": "video/x-msvideo",
    b".svg": "image/svg+xml", b".webp": "image/webp", b".woff": "font/woff", b".woff2": "font/woff2",
    b".ttf": "font/ttf", b".otf": "font/otf", b".mp4": "video/mp4", b".webm": "video/webm",
    b".vtt": "text/vtt", b".json": "application/json", b".webmanifest": "application/manifest+json",
}
# Fonts are fetched by browsers with CORS: a page of another server may use them only
# when the answer allows any origin, as font servers on the web do.
CORS_EXTENSIONS = (b".woff", b".woff2", b".ttf", b".otf")
DEFAULT_CONTENT_TYPE = "application/octet-stream"
GENERATED_EPOCH = 946684800          # Sat, 01 Jan 2000 00:00:00 GMT
CHUNK = 65536
# Seconds a client is given to read what it has received before a reset.
READ_GRACE = 1.5
# Seconds a TLS client is given for its handshake.
HANDSHAKE_TIMEOUT = 10
PLACEHOLDER = re.compile(rb"@([A-Z][A-Z0-9_]*)@")


class Settings:
    """Run-wide options and the state shared by the handler threads."""
    root = b""
    faults_path = None
    log_path = None
    http10 = False
    subst = True
    decode_names = False
    verbose = False
    variables = {}
    address = "127.0.0.1"
    port = 0
    scheme = "http"
    tls = None                   # the ssl.SSLContext of a TLS server
    stop = threading.Event()
    lock = threading.Lock()
    rule_counts = {}
    connections = 0
    active_requests = 0
    last_activity = time.monotonic()


def http_date(epoch):
    return email.utils.formatdate(epoch, usegmt=True)


def content_type_for(name):
    return CONTENT_TYPES.get(os.path.splitext(name.lower())[1], DEFAULT_CONTENT_TYPE)


def is_page_name(name):
    return name.lower().endswith(PAGE_EXTENSIONS)


def substitute(data, host):
    """Replaces @HOST@, @PORT@ and @NAME@ placeholders in bytes."""
    values = dict(Settings.variables)
    values["HOST"] = host
    values["PORT"] = str(Settings.port)

    def replace(match):
        name = match.group(1).decode("ascii")
        if name in values:
            return values[name].encode("latin-1", "replace")
        return match.group(0)
    return PLACEHOLDER.sub(replace, data)


def substitute_text(text, host):
    return substitute(text.encode("latin-1", "replace"), host).decode("latin-1")


# --- bodies: a size and a reader of (offset, length) -------------------------------

class Body:
    def __init__(self, size, reader):
        self.size = size
        self.read = reader


def bytes_body(data):
    return Body(len(data), lambda offset, length: data[offset:offset + length])


def file_body(path, size):
    def reader(offset, length):
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read(length)
    return Body(size, reader)


_PATTERN_BLOCK = bytes(range(251)) * 262      # 65762 bytes, a whole number of periods


def pattern_body(size):
    def reader(offset, length):
        out = bytearray()
        while length > 0:
            start = offset % 251
            part = _PATTERN_BLOCK[start:start + min(length, CHUNK)]
            out += part
            offset += len(part)
            length -= len(part)
        return bytes(out)
    return Body(size, reader)


def links_page(count, pattern):
    lines = [b"<HTML><HEAD><TITLE>links</TITLE></HEAD><BODY>\r\n"]
    for i in range(count):
        target = (pattern % i).encode("latin-1")
        lines.append(b'<A HREF="%s">link %d</A><BR>\r\n' % (target, i))
    lines.append(b"</BODY></HTML>\r\n")
    return b"".join(lines)


def sized_page(size):
    head = b"<HTML><HEAD><TITLE>big page</TITLE></HEAD><BODY>\r\n"
    tail = b"</BODY></HTML>\r\n"
    if size <= len(head) + len(tail):
        return (head + tail)[:size]
    line = b"<P>0123456789 abcdefghijklmnopqrstuvwxyz filler text of a big page</P>\r\n"
    fill = size - len(head) - len(tail)
    return head + (line * (fill // len(line) + 1))[:fill] + tail


def nul_page(count):
    return (b"<HTML><HEAD><TITLE>nul</TITLE></HEAD><BODY>before<BR>\r\n" + b"\0" * count +
            b'\r\n<A HREF="after.html">after</A></BODY></HTML>\r\n')


TITLE_KATAKANA = "タイトル".encode("shift_jis")


def title_page(size):
    text = (TITLE_KATAKANA * (size // len(TITLE_KATAKANA) + 1))[:size - size % 2]
    if size % 2:
        text += b"x"
    return (b"<HTML><HEAD><TITLE>" + text + b"</TITLE></HEAD><BODY>\r\n"
            b'<A HREF="after.html">after</A></BODY></HTML>\r\n')


def hrefs_page(hrefs, tag):
    attribute = {"A": "HREF", "IMG": "SRC"}.get(tag.upper())
    if attribute is None:
        raise ValueError("hrefs: tag must be A or IMG, not %r" % tag)
    lines = [b"<HTML><HEAD><TITLE>hrefs</TITLE></HEAD><BODY>\r\n"]
    for number, href in enumerate(hrefs):
        text = href.encode("latin-1")
        if attribute == "HREF":
            lines.append(b'<A HREF="%s">link %d</A><BR>\r\n' % (text, number))
        else:
            lines.append(b'<IMG SRC="%s"><BR>\r\n' % text)
    lines.append(b"</BODY></HTML>\r\n")
    return b"".join(lines)


def rule_body(rule, host):
    """The body a rule gives instead of the file, or None. Returns (Body, type)."""
    kind = rule.get("generate")
    if kind == "links":
        return bytes_body(links_page(int(rule.get("count", 10)), rule.get("pattern", "p%d.html"))), "text/html"
    if kind == "page":
        return bytes_body(sized_page(int(rule["size"]))), "text/html"
    if kind == "bytes":
        return pattern_body(int(rule["size"])), DEFAULT_CONTENT_TYPE
    if kind == "nul":
        return bytes_body(nul_page(int(rule.get("count", 16)))), "text/html"
    if kind == "title":
        return bytes_body(title_page(int(rule["size"]))), "text/html"
    if kind == "hrefs":
        return bytes_body(hrefs_page(list(rule["hrefs"]), str(rule.get("tag", "A")))), "text/html"
    if kind is not None:
        raise ValueError("unknown generate kind %r" % kind)
    if "body" in rule:
        data = rule["body"].encode(rule.get("encoding", "utf-8"))
    elif "body_hex" in rule:
        data = bytes.fromhex(rule["body_hex"])
    elif "body_b64" in rule:
        data = base64.b64decode(rule["body_b64"])
    else:
        return None
    if Settings.subst:
        data = substitute(data, host)
    return bytes_body(data), "text/html"


def utf8_twin(path):
    """The path read as Shift_JIS, else as EUC-JP, in UTF-8, when a file or folder has
    that name; else the path itself."""
    for encoding in ("cp932", "euc_jp"):
        try:
            twin = path.decode(encoding).encode("utf-8")
        except UnicodeDecodeError:
            continue
        if twin != path and os.path.exists(twin):
            return twin
    return path


# --- fault script --------------------------------------------------------------------

def load_faults():
    """The fault script as a dict; {} without one. Raises ValueError when unreadable."""
    if not Settings.faults_path:
        return {}
    try:
        with open(Settings.faults_path, "rb") as f:
            text = f.read()
    except FileNotFoundError:
        return {}
    if not text.strip():
        return {}
    script = json.loads(text.decode("utf-8"))
    if not isinstance(script, dict):
        raise ValueError("the fault script is not a JSON object")
    return script


def find_rule(script, path, has_range):
    """The rule that applies to this request and its key, or (None, None)."""
    keys = [path] if path in script else []
    keys += [k for k in script if k != path and ("*" in k or "?" in k) and fnmatch.fnmatchcase(path, k)]
    for key in keys:
        rules = script[key]
        if isinstance(rules, dict):
            rules = [rules]
        for index, rule in enumerate(rules):
            if "range" in rule and bool(rule["range"]) != has_range:
                continue
            if "times" in rule:
                count_key = (key, index, json.dumps(rule, sort_keys=True))
                with Settings.lock:
                    used = Settings.rule_counts.get(count_key, 0)
                    if used >= int(rule["times"]):
                        continue
                    Settings.rule_counts[count_key] = used + 1
            return rule, key
    return None, None


# --- ranges ----------------------------------------------------------------------------

RANGE_FORM = re.compile(r"^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$", re.IGNORECASE)


def parse_range(value, size):
    """(start, end) inclusive, "unsatisfiable", or None when the header is not a usable single range."""
    match = RANGE_FORM.match(value)
    if not match:
        return None
    first, last = match.group(1), match.group(2)
    if first == "" and last == "":
        return None
    if first == "":
        suffix = int(last)
        if suffix == 0:
            return "unsatisfiable"
        return (max(0, size - suffix), size - 1) if size > 0 else "unsatisfiable"
    start = int(first)
    end = int(last) if last != "" else size - 1
    if last != "" and end < start:
        return None
    if start >= size:
        return "unsatisfiable"
    return start, min(end, size - 1)


# --- the request handler -----------------------------------------------------------

class Plan:
    """What to send for one request."""
    def __init__(self):
        self.status = 200
        self.reason = None
        self.status_line = None
        self.version = "HTTP/1.1"
        self.headers = []
        self.body = None
        self.offset = 0
        self.length = 0
        self.close = False
        self.rule = {}
        self.rule_key = None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestHTTPd/1.0"
    sys_version = ""
    timeout = 60
    # The head and the body are separate writes: without TCP_NODELAY the body of a
    # small answer on a kept connection waits for the client's delayed ACK (40 ms).
    disable_nagle_algorithm = True

    def setup(self):
        super().setup()
        with Settings.lock:
            Settings.connections += 1
            self.conn_number = Settings.connections
        self.seq = 0

    def log_message(self, format, *args):
        if Settings.verbose:
            sys.stderr.write("%s - %s\n" % (self.address_string(), format % args))

    def do_GET(self):
        self.serve(send_body=True)

    def do_HEAD(self):
        self.serve(send_body=False)

    # Planning ------------------------------------------------------------------
    def request_host(self):
        host = (self.headers.get("Host") or "").strip()
        return host or "%s:%d" % (Settings.address, Settings.port)

    def make_plan(self):
        plan = Plan()
        target = self.path
        path = target.split("?", 1)[0].split("#", 1)[0]
        has_range = self.headers.get("Range") is not None
        try:
            script = load_faults()
            rule, key = find_rule(script, path, has_range)
        except (ValueError, OSError) as error:
            return self.error_plan(plan, 500, "fault script unreadable: %s" % error)
        plan.rule = rule or {}
        plan.rule_key = key
        rule = plan.rule
        host = self.request_host()

        if Settings.http10 or rule.get("http10"):
            plan.version = "HTTP/1.0"
            plan.close = True
        if self.close_connection or rule.get("close"):
            plan.close = True
        if rule.get("drop") or rule.get("reset"):
            return plan

        if rule.get("redirect") is not None or rule.get("redirect_loop"):
            if rule.get("redirect_loop"):
                location = "%s://%s%s" % (Settings.scheme, host, target)
            else:
                location = substitute_text(rule["redirect"], host) if Settings.subst else rule["redirect"]
            plan.status = int(rule.get("status", 302))
            body = b"<HTML><BODY>Moved to <A HREF=\"%s\">here</A></BODY></HTML>\r\n" % location.encode("latin-1", "replace")
            plan.body = bytes_body(body)
            plan.headers.append(("Location", location))
            self.finish_plan(plan, "text/html", GENERATED_EPOCH, allow_range=False)
            return plan

        try:
            generated = rule_body(rule, host)
        except (ValueError, KeyError, TypeError, LookupError) as error:
            return self.error_plan(plan, 500, "bad fault rule: %s" % error)
        if generated is not None:
            plan.body, ctype = generated
            mtime = GENERATED_EPOCH
        else:
            relative = rule.get("file")
            url_path = ("/" + relative) if relative is not None else path
            found = self.locate_file(url_path)
            if isinstance(found, int):
                if found == 301:
                    plan.status = 301
                    location = "%s://%s%s/" % (Settings.scheme, host, path)
                    plan.headers.append(("Location", location))
                    plan.body = bytes_body(b"<HTML><BODY>Moved</BODY></HTML>\r\n")
                    self.finish_plan(plan, "text/html", GENERATED_EPOCH, allow_range=False)
                    return plan
                return self.error_plan(plan, 404, "Not Found", keep_rule=True)
            file_path, size, mtime = found
            ctype = content_type_for(file_path)
            if file_path.lower().endswith(CORS_EXTENSIONS):
                plan.headers.append(("Access-Control-Allow-Origin", "*"))
            if Settings.subst and is_page_name(file_path):
                with open(file_path, "rb") as f:
                    plan.body = bytes_body(substitute(f.read(), host))
            else:
                plan.body = file_body(file_path, size)

        if "status" in rule:
            plan.status = int(rule["status"])
        self.finish_plan(plan, ctype, mtime, allow_range=(plan.status == 200))
        return plan

    def locate_file(self, url_path):
        """(file path, size, mtime) for a URL path, 404 when there is none, 301 for a folder without '/'."""
        raw = urllib.parse.unquote_to_bytes(url_path.encode("latin-1", "replace"))
        parts = [p for p in raw.split(b"/") if p not in (b"", b".")]
        # A 0x5C byte is the second byte of Shift_JIS characters such as "\x83\x5c" and no
        # separator on this system, so it is allowed in a name; NUL and ".." are not.
        if b".." in parts or any(b"\0" in p for p in parts):
            return 404
        full = os.path.join(Settings.root, *parts) if parts else Settings.root
        if Settings.decode_names and not os.path.exists(full):
            full = utf8_twin(full)
        if os.path.isdir(full):
            if not raw.endswith(b"/"):
                return 301
            full = os.path.join(full, b"index.html")
        try:
            info = os.stat(full)
        except OSError:
            return 404
        if not os.path.isfile(full):
            return 404
        return full, info.st_size, int(info.st_mtime)

    def error_plan(self, plan, status, message, keep_rule=False):
        if not keep_rule:
            plan.rule = {}
        plan.status = status
        plan.body = bytes_body(("<HTML><BODY>%d %s</BODY></HTML>\r\n" % (status, message)).encode("latin-1", "replace"))
        self.finish_plan(plan, "text/html", None, allow_range=False)
        return plan

    def finish_plan(self, plan, ctype, mtime, allow_range):
        """Chooses the part of the body to send and builds the header list."""
        rule = plan.rule
        size = plan.body.size
        plan.offset, plan.length = 0, size
        content_range = None
        range_value = self.headers.get("Range")
        if rule.get("unsatisfiable"):
            plan.status = 416
            plan.length = 0
            content_range = "bytes */%d" % size
        elif (allow_range and range_value is not None and not rule.get("ignore_range")
                and self.range_holds(rule, mtime)):
            wanted = parse_range(range_value, size)
            if wanted == "unsatisfiable":
                plan.status = 416
                plan.length = 0
                content_range = "bytes */%d" % size
            elif wanted is not None:
                start, end = wanted
                plan.status = 206
                plan.offset, plan.length = start, end - start + 1
                shown = int(rule.get("content_range_start", start))
                content_range = "bytes %d-%d/%d" % (shown, end, size)
        if "content_range" in rule:
            content_range = rule["content_range"]

        faked_date = "last_modified" in rule or "last_modified_epoch" in rule
        if (plan.status == 200 and mtime is not None and not faked_date and not rule
                and range_value is None and self.not_modified_since(mtime)):
            plan.status = 304
            plan.length = 0

        headers = [("Date", http_date(time.time())), ("Server", self.server_version)]
        if "last_modified" in rule:
            if rule["last_modified"] is not None:
                headers.append(("Last-Modified", str(rule["last_modified"])))
        elif "last_modified_epoch" in rule:
            headers.append(("Last-Modified", http_date(float(rule["last_modified_epoch"]))))
        elif mtime is not None:
            headers.append(("Last-Modified", http_date(mtime)))
        if not rule.get("ignore_range") and allow_range:
            headers.append(("Accept-Ranges", "bytes"))
        if content_range is not None:
            headers.append(("Content-Range", content_range))
        if "content_type" in rule:
            if rule["content_type"] is not None:
                headers.append(("Content-Type", str(rule["content_type"])))
        else:
            headers.append(("Content-Type", ctype))
        no_body_status = plan.status in (204, 304) or 100 <= plan.status < 200
        if rule.get("chunked"):
            headers.append(("Transfer-Encoding", "chunked"))
        elif "content_length" in rule:
            if rule["content_length"] is not None:
                headers.append(("Content-Length", str(rule["content_length"])))
            plan.close = not (rule.get("keep_alive") and rule["content_length"] is not None)
        elif not no_body_status:
            headers.append(("Content-Length", str(plan.length)))
        host = self.request_host()
        for name, value in (rule.get("headers") or {}).items():
            headers.append((name, substitute_text(str(value), host) if Settings.subst else str(value)))
        if "header_filler" in rule:
            headers.append(("X-Filler", "a" * int(rule["header_filler"])))
        for number in range(int(rule.get("header_lines", 0))):
            headers.append(("X-Line-%d" % number, str(number)))
        for key in ("cut_after", "reset_after"):
            if key in rule:
                plan.close = True
        if plan.version == "HTTP/1.1" and plan.close:
            headers.append(("Connection", "close"))
        elif plan.version == "HTTP/1.1" and self.request_version == "HTTP/1.0":
            headers.append(("Connection", "keep-alive"))
        if no_body_status:
            plan.length = 0
        plan.headers = headers + plan.headers
        if "status_line" in rule:
            plan.status_line = rule["status_line"]

    def range_holds(self, rule, mtime):
        """True without If-Range, or when it names the date Last-Modified gives."""
        value = self.headers.get("If-Range")
        if value is None:
            return True
        if "last_modified" in rule:
            sent = rule["last_modified"]
        elif "last_modified_epoch" in rule:
            sent = http_date(float(rule["last_modified_epoch"]))
        else:
            sent = http_date(mtime) if mtime is not None else None
        try:
            return sent is not None and (email.utils.parsedate_to_datetime(value) ==
                                         email.utils.parsedate_to_datetime(sent))
        except (TypeError, ValueError, IndexError, OverflowError):
            return False

    def not_modified_since(self, mtime):
        value = self.headers.get("If-Modified-Since")
        if not value:
            return False
        try:
            since = email.utils.parsedate_to_datetime(value).timestamp()
        except (TypeError, ValueError, IndexError, OverflowError):
            return False
        return mtime <= since

    # Sending -------------------------------------------------------------------
    def serve(self, send_body):
        with Settings.lock:
            Settings.active_requests += 1
            Settings.last_activity = time.monotonic()
        self.seq += 1
        try:
            plan = self.make_plan()
            self.write_log(plan)
            self.send_plan(plan, send_body)
        except (OSError, ValueError):
            self.close_connection = True
        finally:
            with Settings.lock:
                Settings.active_requests -= 1
                Settings.last_activity = time.monotonic()

    def write_log(self, plan):
        if not Settings.log_path:
            return
        entry = {
            "time": time.time(), "conn": self.conn_number, "seq": self.seq,
            "client_port": self.client_address[1], "method": self.command,
            "target": self.path, "path": self.path.split("?", 1)[0],
            "version": self.request_version,
            "headers": [[k, v] for k, v in self.headers.items()],
            "range": self.headers.get("Range"),
            "status": None if (plan.rule.get("drop") or plan.rule.get("reset")) else plan.status,
            "rule": plan.rule_key,
        }
        line = json.dumps(entry) + "\n"
        with Settings.lock:
            with open(Settings.log_path, "a", encoding="utf-8") as f:
                f.write(line)
                f.flush()

    def wait(self, seconds):
        """Sleeps, but wakes at once when the server is stopping. Returns False then."""
        return not Settings.stop.wait(max(0.0, float(seconds)))

    def let_client_read(self):
        """Waits until the client has acknowledged every byte sent, then a further
        READ_GRACE seconds: a reset discards what the client has received but not
        yet read, so a reset sent at once would make the bytes sent before it
        arrive or not by chance."""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and unacknowledged_bytes(self.connection) > 0:
            if not self.wait(0.01):
                return
        self.wait(READ_GRACE)

    def reset_connection(self):
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.wfile.close()
        self.rfile.close()
        self.connection.close()
        self.close_connection = True

    def send_plan(self, plan, send_body):
        rule = plan.rule
        if "delay" in rule and not self.wait(rule["delay"]):
            self.close_connection = True
            return
        if rule.get("reset"):
            self.reset_connection()
            return
        if rule.get("drop"):
            self.close_connection = True
            return
        line = plan.status_line
        if line is None:
            reason = plan.reason or rule.get("reason") or self.responses.get(plan.status, ("Unknown",))[0]
            line = "%s %d %s" % (plan.version, plan.status, reason)
        head = [line] + ["%s: %s" % (name, value) for name, value in plan.headers]
        self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1", "replace"))
        if send_body:
            self.send_body(plan)
        self.wfile.flush()
        if plan.close:
            self.close_connection = True

    def send_body(self, plan):
        rule = plan.rule
        chunked = bool(rule.get("chunked"))
        limit = plan.length
        cut = rule.get("cut_after", rule.get("reset_after"))
        if cut is not None:
            limit = min(limit, int(cut))
        stall_at = int(rule.get("stall_at", 0)) if "stall" in rule else None
        rate = float(rule.get("rate", 0))
        piece = CHUNK if rate <= 0 else max(1, min(CHUNK, int(rate / 10)))
        sent = 0
        while True:
            if stall_at is not None and sent >= stall_at:
                if not self.wait(rule["stall"]):
                    self.close_connection = True
                    return
                stall_at = None
            if sent >= limit:
                break
            step = limit - sent
            if stall_at is not None and stall_at > sent:
                step = min(step, stall_at - sent)
            step = min(step, piece)
            data = plan.body.read(plan.offset + sent, step)
            if not data:
                break
            if chunked:
                data = b"%x\r\n%s\r\n" % (len(data), data)
            self.wfile.write(data)
            sent += step
            if rate > 0 and not self.wait(step / rate):
                self.close_connection = True
                return
        if "reset_after" in rule:
            self.wfile.flush()
            self.let_client_read()
            self.reset_connection()
            return
        if "cut_after" in rule:
            self.close_connection = True
            return
        if chunked:
            self.wfile.write(b"0\r\n\r\n")


def unacknowledged_bytes(connection):
    """Bytes of the socket's send queue the peer has not acknowledged yet."""
    try:
        return struct.unpack("i", fcntl.ioctl(connection.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
    except OSError:
        return 0


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def finish_request(self, request, client_address):
        """Runs in the connection's thread: a TLS server makes the handshake here."""
        if Settings.tls is None:
            super().finish_request(request, client_address)
            return
        request.settimeout(HANDSHAKE_TIMEOUT)
        try:
            secure = Settings.tls.wrap_socket(request, server_side=True)
        except (OSError, ValueError) as error:
            if Settings.verbose:
                sys.stderr.write("%s - TLS handshake failed: %s\n" % (client_address[0], error))
            return
        try:
            super().finish_request(secure, client_address)
        except OSError:
            pass
        finally:
            # The plain socket gave its descriptor to the TLS one, which is closed here.
            self.shutdown_request(secure)


def watch_idle(server, idle_timeout):
    """Stops the server after idle_timeout seconds without a request."""
    while not Settings.stop.wait(0.5):
        with Settings.lock:
            idle = Settings.active_requests == 0 and time.monotonic() - Settings.last_activity > idle_timeout
        if idle:
            Settings.stop.set()
    server.shutdown()


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="HTTP/1.1 test server on 127.0.0.1")
    parser.add_argument("--root", required=True, help="document root folder")
    parser.add_argument("--address", type=loopback_address, default="127.0.0.1", help="loopback address to listen on")
    parser.add_argument("--port", type=int, default=0, help="port (0: chosen by the system)")
    parser.add_argument("--port-file", help="file that receives the port number")
    parser.add_argument("--faults", help="JSON fault script, re-read at every request")
    parser.add_argument("--log", help="file that receives one JSON line per request")
    parser.add_argument("--idle-timeout", type=float, default=600.0, help="seconds without a request before the server stops")
    parser.add_argument("--http10", action="store_true", help="answer every request with HTTP/1.0 and close")
    parser.add_argument("--var", action="append", default=[], metavar="NAME=VALUE", help="placeholder @NAME@ in served pages")
    parser.add_argument("--no-subst", action="store_true", help="serve pages byte for byte, no placeholders")
    parser.add_argument("--decode-names", action="store_true",
                        help="serve a Shift_JIS or EUC-JP path missing on disk from its UTF-8 name")
    parser.add_argument("--tls-cert", help="PEM certificate (chain): serve https")
    parser.add_argument("--tls-key", help="PEM private key of --tls-cert")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    args = parser.parse_args(argv)
    if bool(args.tls_cert) != bool(args.tls_key):
        parser.error("--tls-cert and --tls-key go together")
    for item in args.var:
        name, sep, _ = item.partition("=")
        if not sep or not re.fullmatch(r"[A-Z][A-Z0-9_]*", name):
            parser.error("--var wants NAME=VALUE with NAME in capital letters, digits and '_': %r" % item)
    if not os.path.isdir(args.root):
        parser.error("--root is not a folder: %s" % args.root)
    return args


def write_port_file(path, port):
    temporary = path + ".tmp"
    with open(temporary, "w") as f:
        f.write("%d\n" % port)
    os.replace(temporary, path)


def loopback_address(text):
    """An --address value: an IPv4 loopback address (127.x.y.z), never another interface."""
    parts = text.split(".")
    if len(parts) != 4 or parts[0] != "127" or not all(p.isdigit() and int(p) < 256 for p in parts):
        raise argparse.ArgumentTypeError("not a loopback address: %s" % text)
    return text


def main(argv):
    args = parse_arguments(argv)
    Settings.root = os.fsencode(os.path.abspath(args.root))
    Settings.faults_path = args.faults
    Settings.log_path = args.log
    Settings.http10 = args.http10
    Settings.subst = not args.no_subst
    Settings.decode_names = args.decode_names
    Settings.verbose = args.verbose
    Settings.variables = dict(item.split("=", 1) for item in args.var)
    Settings.address = args.address
    if args.tls_cert:
        Settings.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        Settings.tls.load_cert_chain(args.tls_cert, args.tls_key)
        Settings.scheme = "https"
    server = Server((args.address, args.port), Handler)
    Settings.port = server.server_address[1]
    Settings.last_activity = time.monotonic()

    def on_signal(signum, frame):
        Settings.stop.set()
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    watcher = threading.Thread(target=watch_idle, args=(server, args.idle_timeout), daemon=True)
    watcher.start()
    if args.port_file:
        write_port_file(args.port_file, Settings.port)
    print("PORT %d" % Settings.port, flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
