# tests/servers/test_httpserver.py — checks the HTTP test server.
# Files, ranges, dates, keep-alive, placeholders, every scripted fault, the request log
# and stopping.
import calendar
import http.client
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "servers"))
import serverctl  # noqa: E402

JULY_1999 = calendar.timegm((1999, 7, 4, 12, 0, 0))
JULY_1999_TEXT = "Sun, 04 Jul 1999 12:00:00 GMT"
CLIENT_TIMEOUT = 10


def make_root():
    """A document root with a page, a binary file, a folder page and a few typed files."""
    root = tempfile.mkdtemp(prefix="parvel-root-")
    files = {
        "index.html": b"<HTML><TITLE>top</TITLE>root page</HTML>\r\n",
        "page.html": b"<A HREF=\"http://@HOST@/x.gif\">@PORT@ @OTHER@ @UNKNOWN@ me@home</A>",
        "note.txt": b"text @HOST@\r\n",
        "dir/index.html": b"folder page",
        "~user/index.html": b"user page",
        "data.bin": bytes((i * 7) % 256 for i in range(10000)),
        "empty.bin": b"",
        "a.htm": b"x", "a.shtml": b"x", "a.asp": b"x", "a.gif": b"GIF89a", "a.jpg": b"\xff\xd8",
        "a.wav": b"RIFF", "a.mid": b"MThd", "a.zip": b"PK", "a.exe": b"MZ", "a.xyz": b"?",
        "a.css": b"x", "a.svg": b"<svg/>", "a.woff2": b"wOF2",
        "\x83\x5c.html": b"sjis name",  # Shift_JIS bytes of a katakana file name
    }
    for name, data in files.items():
        path = os.path.join(root.encode(), name.encode("latin-1"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (JULY_1999, JULY_1999))
    return root


def raw_exchange(port, request, timeout=CLIENT_TIMEOUT):
    """Sends raw request bytes and reads until the server closes. Returns the bytes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(request)
        chunks = []
        while True:
            data = sock.recv(65536)
            if not data:
                break
            chunks.append(data)
    return b"".join(chunks)


def split_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        headers[name.decode("latin-1").lower()] = value.strip().decode("latin-1")
    return lines[0].decode("latin-1"), headers, body


def get(port, path, headers=None, method="GET"):
    """One request on a new connection; returns (status, headers dict lower-cased, body)."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=CLIENT_TIMEOUT)
    try:
        conn.request(method, path, headers=headers or {})
        response = conn.getresponse()
        body = response.read()
        return response.status, {k.lower(): v for k, v in response.getheaders()}, body
    finally:
        conn.close()


def pattern(offset, length):
    return bytes((i % 251) for i in range(offset, offset + length))


class ServerCase(unittest.TestCase):
    variables = {"OTHER": "127.0.0.1:9"}
    http10 = False
    subst = True

    @classmethod
    def setUpClass(cls):
        cls.root = make_root()
        cls.server = serverctl.start_http(cls.root, variables=cls.variables, http10=cls.http10, subst=cls.subst)
        cls.port = cls.server.port

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.server.set_faults({})
        self.server.clear_log()

    def fault(self, path, rule):
        self.server.set_faults({path: rule})


class FilesTest(ServerCase):
    def test_whole_file_has_length_type_and_file_date(self):
        status, headers, body = get(self.port, "/data.bin")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-length"], "10000")
        self.assertEqual(headers["last-modified"], JULY_1999_TEXT)
        self.assertEqual(headers["accept-ranges"], "bytes")
        with open(os.path.join(self.root, "data.bin"), "rb") as f:
            self.assertEqual(body, f.read())

    def test_content_type_by_extension(self):
        cases = [("/index.html", "text/html"), ("/a.htm", "text/html"), ("/a.shtml", "text/html"),
                 ("/a.asp", "text/html"), ("/a.gif", "image/gif"), ("/a.jpg", "image/jpeg"),
                 ("/a.wav", "audio/x-wav"), ("/a.mid", "audio/midi"), ("/a.zip", "application/zip"),
                 ("/a.exe", "application/octet-stream"), ("/a.xyz", "application/octet-stream"),
                 ("/note.txt", "text/plain"), ("/dir/", "text/html"), ("/a.css", "text/css"),
                 ("/a.svg", "image/svg+xml"), ("/a.woff2", "font/woff2")]
        for path, expected in cases:
            with self.subTest(path=path):
                status, headers, _ = get(self.port, path)
                self.assertEqual((status, headers.get("content-type")), (200, expected))
                # Only fonts let pages of other servers use them.
                allowed = headers.get("access-control-allow-origin")
                self.assertEqual(allowed, "*" if path.endswith(".woff2") else None)

    def test_folders_missing_files_and_escapes(self):
        cases = [("/", 200, b"<HTML><TITLE>top</TITLE>root page</HTML>\r\n"),
                 ("/dir/", 200, b"folder page"),
                 ("/%7Euser/", 200, b"user page"),
                 ("/~user/index.html", 200, b"user page"),
                 ("/%83%5C.html", 200, b"sjis name"),
                 ("/missing.html", 404, None),
                 ("/dir/missing/", 404, None),
                 ("/../etc/passwd", 404, None),
                 ("/dir/%2e%2e/%2e%2e/etc/passwd", 404, None)]
        for path, expected_status, expected_body in cases:
            with self.subTest(path=path):
                status, _, body = get(self.port, path)
                self.assertEqual(status, expected_status)
                if expected_body is not None:
                    self.assertEqual(body, expected_body)

    def test_raw_shift_jis_path(self):
        data = raw_exchange(self.port, b"GET /\x83\x5c.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        line, _, body = split_response(data)
        self.assertEqual((line, body), ("HTTP/1.1 200 OK", b"sjis name"))

    def test_folder_without_slash_redirects(self):
        status, headers, _ = get(self.port, "/dir")
        self.assertEqual(status, 301)
        self.assertEqual(headers["location"], "http://127.0.0.1:%d/dir/" % self.port)

    def test_head_sends_headers_only(self):
        status, headers, body = get(self.port, "/data.bin", method="HEAD")
        self.assertEqual((status, headers["content-length"], body), (200, "10000", b""))

    def test_if_modified_since(self):
        cases = [(JULY_1999_TEXT, 304), ("Mon, 05 Jul 1999 12:00:00 GMT", 304),
                 ("Sat, 03 Jul 1999 12:00:00 GMT", 200), ("garbage", 200)]
        for since, expected in cases:
            with self.subTest(since=since):
                status, _, _ = get(self.port, "/index.html", {"If-Modified-Since": since})
                self.assertEqual(status, expected)


class RangeTest(ServerCase):
    def test_ranges(self):
        whole = bytes((i * 7) % 256 for i in range(10000))
        cases = [  # Range header, status, Content-Range, body slice (start, end exclusive)
            ("bytes=7500-", 206, "bytes 7500-9999/10000", (7500, 10000)),
            ("bytes=0-", 206, "bytes 0-9999/10000", (0, 10000)),
            ("bytes=100-199", 206, "bytes 100-199/10000", (100, 200)),
            ("bytes=9999-", 206, "bytes 9999-9999/10000", (9999, 10000)),
            ("bytes=9000-20000", 206, "bytes 9000-9999/10000", (9000, 10000)),
            ("bytes=-300", 206, "bytes 9700-9999/10000", (9700, 10000)),
            ("bytes=10000-", 416, "bytes */10000", None),
            ("bytes=12000-", 416, "bytes */10000", None),
            ("bytes=a-", 200, None, (0, 10000)),
            ("bytes=5-1", 200, None, (0, 10000)),
            ("bytes=0-1,5-6", 200, None, (0, 10000)),
            ("items=0-5", 200, None, (0, 10000)),
        ]
        for value, status, content_range, part in cases:
            with self.subTest(range=value):
                got_status, headers, body = get(self.port, "/data.bin", {"Range": value})
                self.assertEqual(got_status, status)
                self.assertEqual(headers.get("content-range"), content_range)
                if part is None:
                    self.assertEqual(body, b"")
                else:
                    self.assertEqual(body, whole[part[0]:part[1]])
                    self.assertEqual(headers["content-length"], str(part[1] - part[0]))

    def test_if_range_holds_only_for_the_files_date(self):
        cases = [(JULY_1999_TEXT, 206), ("Sun, 04 Jul 1999 12:00:01 GMT", 200), ('"an-etag"', 200), ("garbage", 200)]
        for if_range, expected in cases:
            with self.subTest(if_range=if_range):
                status, _, body = get(self.port, "/data.bin", {"Range": "bytes=9000-", "If-Range": if_range})
                self.assertEqual((status, len(body)), (expected, 1000 if expected == 206 else 10000))

    def test_range_of_empty_file_is_unsatisfiable(self):
        status, headers, _ = get(self.port, "/empty.bin", {"Range": "bytes=0-"})
        self.assertEqual((status, headers["content-range"]), (416, "bytes */0"))

    def test_range_applies_to_substituted_page(self):
        expected = ("<A HREF=\"http://127.0.0.1:%d/x.gif\">" % self.port).encode()
        status, headers, body = get(self.port, "/page.html", {"Range": "bytes=0-%d" % (len(expected) - 1)})
        self.assertEqual((status, body), (206, expected))


class ConnectionTest(ServerCase):
    def test_keep_alive_reuses_one_connection(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=CLIENT_TIMEOUT)
        for path in ("/index.html", "/data.bin", "/dir/"):
            conn.request("GET", path)
            response = conn.getresponse()
            response.read()
            self.assertEqual(response.status, 200)
        conn.close()
        entries = self.server.wait_for_entries(3)
        self.assertEqual(len({e["conn"] for e in entries}), 1)
        self.assertEqual([e["seq"] for e in entries], [1, 2, 3])

    def test_http10_request_is_closed_after_the_answer(self):
        data = raw_exchange(self.port, b"GET /index.html HTTP/1.0\r\n\r\n")
        line, headers, body = split_response(data)
        self.assertEqual(line, "HTTP/1.1 200 OK")
        self.assertEqual(body, b"<HTML><TITLE>top</TITLE>root page</HTML>\r\n")

    def test_connection_close_is_honoured(self):
        data = raw_exchange(self.port, b"GET /dir/ HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n")
        line, headers, body = split_response(data)
        self.assertEqual((headers["connection"], body), ("close", b"folder page"))


class PlaceholderTest(ServerCase):
    def test_placeholders_in_pages_only(self):
        _, _, body = get(self.port, "/page.html")
        self.assertEqual(body, ("<A HREF=\"http://127.0.0.1:%d/x.gif\">%d 127.0.0.1:9 @UNKNOWN@ me@home</A>"
                                % (self.port, self.port)).encode())
        _, _, body = get(self.port, "/note.txt")
        self.assertEqual(body, b"text @HOST@\r\n")

    def test_host_is_the_one_the_client_named(self):
        _, _, body = get(self.port, "/page.html", {"Host": "localhost:%d" % self.port})
        self.assertTrue(body.startswith(("<A HREF=\"http://localhost:%d/x.gif\">" % self.port).encode()), body)


class NoSubstTest(ServerCase):
    subst = False

    def test_pages_served_byte_for_byte(self):
        _, headers, body = get(self.port, "/page.html")
        self.assertEqual(body, b"<A HREF=\"http://@HOST@/x.gif\">@PORT@ @OTHER@ @UNKNOWN@ me@home</A>")


class Http10RunTest(ServerCase):
    http10 = True

    def test_every_answer_is_http10_and_closed(self):
        data = raw_exchange(self.port, b"GET /data.bin HTTP/1.1\r\nHost: h\r\nRange: bytes=9990-\r\n\r\n")
        line, headers, body = split_response(data)
        self.assertEqual(line, "HTTP/1.0 206 Partial Content")
        self.assertEqual(body, bytes((i * 7) % 256 for i in range(9990, 10000)))


class AddressTest(unittest.TestCase):
    def test_other_loopback_address_and_its_host_text(self):
        root = make_root()
        try:
            with serverctl.start_http(root, address="127.0.0.5") as server:
                self.assertEqual(server.host, "127.0.0.5:%d" % server.port)
                with socket.create_connection(("127.0.0.5", server.port), timeout=5) as conn:
                    conn.sendall(b"GET /data.bin HTTP/1.0\r\n\r\n")
                    self.assertTrue(conn.recv(64).startswith(b"HTTP/1.1 200"))
                with self.assertRaises(OSError):
                    socket.create_connection(("127.0.0.1", server.port), timeout=5).close()
        finally:
            shutil.rmtree(root, ignore_errors=True)

    def test_address_that_is_not_loopback_is_refused(self):
        root = make_root()
        try:
            for address in ("0.0.0.0", "10.0.0.1", "127.0.0", "127.0.0.300", "localhost"):
                with self.assertRaises(serverctl.ServerError, msg=address):
                    serverctl.start_http(root, address=address, start_timeout=5)
        finally:
            shutil.rmtree(root, ignore_errors=True)


class LogTest(ServerCase):
    def test_log_records_what_was_asked(self):
        get(self.port, "/data.bin?q=1", {"Range": "bytes=7500-", "Pragma": "no-cache", "Accept": "*/*"})
        self.fault("/gone.html", {"status": 404})
        get(self.port, "/gone.html")
        entries = self.server.wait_for_entries(2)
        first, second = entries
        self.assertEqual((first["method"], first["target"], first["path"], first["version"]),
                         ("GET", "/data.bin?q=1", "/data.bin", "HTTP/1.1"))
        self.assertEqual(first["range"], "bytes=7500-")
        self.assertIn(["Pragma", "no-cache"], first["headers"])
        self.assertIn(["Accept", "*/*"], first["headers"])
        self.assertEqual((first["status"], first["rule"]), (206, None))
        self.assertEqual((second["status"], second["rule"], second["range"]), (404, "/gone.html", None))
        self.assertLessEqual(first["time"], second["time"])


class FaultHeaderTest(ServerCase):
    def test_header_faults(self):
        cases = [  # rule, header, expected value (None: absent)
            ({"last_modified": None}, "last-modified", None),
            ({"last_modified": "garbage date"}, "last-modified", "garbage date"),
            ({"last_modified": "Fri, 31 Dec 9999 23:59:59 GMT"}, "last-modified", "Fri, 31 Dec 9999 23:59:59 GMT"),
            ({"last_modified_epoch": 0}, "last-modified", "Thu, 01 Jan 1970 00:00:00 GMT"),
            ({"content_type": None}, "content-type", None),
            ({"content_type": "text/html; charset=Shift_JIS"}, "content-type", "text/html; charset=Shift_JIS"),
            ({"content_length": None}, "content-length", None),
            ({"headers": {"X-Where": "@HOST@"}}, "x-where", "127.0.0.1:%d" % self.port),
            ({"chunked": True}, "transfer-encoding", "chunked"),
            ({"ignore_range": True}, "accept-ranges", None),
        ]
        for rule, header, expected in cases:
            with self.subTest(rule=rule):
                self.fault("/index.html", rule)
                status, headers, body = get(self.port, "/index.html")
                self.assertEqual(status, 200)
                self.assertEqual(headers.get(header), expected)
                self.assertEqual(body, b"<HTML><TITLE>top</TITLE>root page</HTML>\r\n")

    def test_status_faults(self):
        cases = [({"status": 404}, "HTTP/1.1 404 Not Found"),
                 ({"status": 500, "reason": "Broken"}, "HTTP/1.1 500 Broken"),
                 ({"status": 299}, "HTTP/1.1 299 Unknown"),
                 ({"status_line": "http/1.1 200 OK"}, "http/1.1 200 OK"),
                 ({"status_line": "HTTP/1.0 200 OK"}, "HTTP/1.0 200 OK"),
                 ({"http10": True}, "HTTP/1.0 200 OK")]
        for rule, expected in cases:
            with self.subTest(rule=rule):
                self.fault("/dir/", rule)
                data = raw_exchange(self.port, b"GET /dir/ HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n")
                line, _, body = split_response(data)
                self.assertEqual((line, body), (expected, b"folder page"))

    def test_content_length_faults_close_the_connection(self):
        cases = [("abc", b"folder page"), (999999, b"folder page"), (4, b"folder page"), (None, b"folder page")]
        for value, expected_body in cases:
            with self.subTest(content_length=value):
                self.fault("/dir/", {"content_length": value})
                data = raw_exchange(self.port, b"GET /dir/ HTTP/1.1\r\nHost: h\r\n\r\n")
                _, headers, body = split_response(data)
                self.assertEqual(headers.get("content-length"), None if value is None else str(value))
                self.assertEqual(headers["connection"], "close")
                self.assertEqual(body, expected_body)

    def test_enormous_header_line(self):
        size = 10 * 1024 * 1024
        self.fault("/dir/", {"header_filler": size})
        data = raw_exchange(self.port, b"GET /dir/ HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n", timeout=30)
        _, headers, body = split_response(data)
        self.assertEqual(len(headers["x-filler"]), size)
        self.assertEqual(body, b"folder page")

    def test_chunked_body_decodes(self):
        self.fault("/data.bin", {"chunked": True})
        status, headers, body = get(self.port, "/data.bin")
        self.assertEqual((status, len(body)), (200, 10000))


class FaultRangeTest(ServerCase):
    def test_ignore_range_answers_whole_file(self):
        self.fault("/data.bin", {"ignore_range": True})
        status, headers, body = get(self.port, "/data.bin", {"Range": "bytes=7500-"})
        self.assertEqual((status, len(body), headers.get("content-range")), (200, 10000, None))

    def test_wrong_content_range(self):
        cases = [({"content_range_start": 0}, "bytes 0-9999/10000"),
                 ({"content_range": "bytes 1-2/3"}, "bytes 1-2/3")]
        for rule, expected in cases:
            with self.subTest(rule=rule):
                self.fault("/data.bin", rule)
                status, headers, body = get(self.port, "/data.bin", {"Range": "bytes=7500-"})
                self.assertEqual((status, headers["content-range"], len(body)), (206, expected, 2500))

    def test_range_condition_and_times(self):
        # A status other than 200 is sent with the whole body: no range applies to it.
        self.fault("/data.bin", [{"range": True, "status": 500}, {"range": False, "times": 1, "cut_after": 3000}])
        conn_results = []
        for headers in ({}, {}, {"Range": "bytes=5000-"}):
            data = raw_exchange(self.port, b"GET /data.bin HTTP/1.1\r\nHost: h\r\nConnection: close\r\n" +
                                b"".join(b"%s: %s\r\n" % (k.encode(), v.encode()) for k, v in headers.items()) + b"\r\n")
            line, _, body = split_response(data)
            conn_results.append((line, len(body)))
        self.assertEqual(conn_results, [("HTTP/1.1 200 OK", 3000), ("HTTP/1.1 200 OK", 10000),
                                        ("HTTP/1.1 500 Internal Server Error", 10000)])

    def test_exact_key_wins_over_pattern_and_script_changes_while_running(self):
        self.server.set_faults({"/a.*": {"status": 403}, "/a.gif": {"status": 410}})
        self.assertEqual(get(self.port, "/a.gif")[0], 410)
        self.assertEqual(get(self.port, "/a.jpg")[0], 403)
        self.assertEqual(get(self.port, "/index.html")[0], 200)
        self.server.set_faults({})
        self.assertEqual(get(self.port, "/a.gif")[0], 200)

    def test_unreadable_script_answers_500(self):
        with open(self.server.faults_path, "w") as f:
            f.write("{not json")
        self.assertEqual(get(self.port, "/index.html")[0], 500)


class FaultRedirectTest(ServerCase):
    def test_redirects(self):
        cases = [({"redirect": "http://127.0.0.1:9/x.html"}, 302, "http://127.0.0.1:9/x.html"),
                 ({"redirect": "ftp://@OTHER@/f.zip", "status": 301}, 301, "ftp://127.0.0.1:9/f.zip"),
                 ({"redirect": "http://@HOST@/dir/"}, 302, "http://127.0.0.1:%d/dir/" % self.port),
                 ({"redirect_loop": True}, 302, "http://127.0.0.1:%d/loop.html?x=1" % self.port)]
        for rule, status, location in cases:
            with self.subTest(rule=rule):
                self.fault("/loop.html", rule)
                got_status, headers, _ = get(self.port, "/loop.html?x=1")
                self.assertEqual((got_status, headers["location"]), (status, location))


class FaultBodyTest(ServerCase):
    def test_generated_bodies(self):
        cases = [
            ({"generate": "page", "size": 1000000}, 1000000, b"<HTML>", b"</HTML>\r\n"),
            ({"generate": "page", "size": 10}, 10, b"<HTML><HEA", b"<HTML><HEA"),
            ({"generate": "links", "count": 500}, None, b"<HTML>", b"</HTML>\r\n"),
            ({"generate": "nul", "count": 5}, None, b"<HTML>", b"</HTML>\r\n"),
            ({"body": "ソース", "encoding": "shift_jis"}, 6, b"\x83\x5c", b"\x83\x58"),
            ({"body_hex": "00 01 ff"}, 3, b"\x00", b"\xff"),
            ({"body_b64": "QUJD"}, 3, b"A", b"C"),
        ]
        for rule, size, start, end in cases:
            with self.subTest(rule=rule):
                self.fault("/gen.html", rule)
                status, headers, body = get(self.port, "/gen.html")
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "text/html")
                self.assertEqual(headers["last-modified"], "Sat, 01 Jan 2000 00:00:00 GMT")
                if size is not None:
                    self.assertEqual(len(body), size)
                self.assertTrue(body.startswith(start) and body.endswith(end), body[:40])
        self.fault("/gen.html", {"generate": "links", "count": 500, "pattern": "d/%d.htm"})
        body = get(self.port, "/gen.html")[2]
        self.assertEqual(body.count(b"<A HREF="), 500)
        self.assertIn(b'<A HREF="d/499.htm">', body)
        self.fault("/gen.html", {"generate": "nul", "count": 5})
        body = get(self.port, "/gen.html")[2]
        self.assertIn(b"\0" * 5 + b'\r\n<A HREF="after.html">', body)

    def test_generated_bytes_with_ranges_beyond_4_gib(self):
        size = 5 * 2 ** 32
        self.fault("/huge.bin", {"generate": "bytes", "size": size})
        status, headers, body = get(self.port, "/huge.bin", {"Range": "bytes=%d-" % (size - 100000)})
        self.assertEqual((status, headers["content-range"]), (206, "bytes %d-%d/%d" % (size - 100000, size - 1, size)))
        self.assertEqual(body, pattern(size - 100000, 100000))
        status, headers, _ = get(self.port, "/huge.bin", method="HEAD")
        self.assertEqual((headers["content-type"], headers["content-length"]), ("application/octet-stream", str(size)))

    def test_file_alias(self):
        self.fault("/other.html", {"file": "dir/index.html"})
        self.assertEqual(get(self.port, "/other.html")[2], b"folder page")


class FaultTransferTest(ServerCase):
    def read_with_errors(self, path, timeout=CLIENT_TIMEOUT):
        """Reads a response on a raw socket; returns (bytes, error name or None, seconds)."""
        started = time.monotonic()
        chunks = []
        error = None
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as sock:
            sock.sendall(b"GET %s HTTP/1.1\r\nHost: h\r\n\r\n" % path.encode())
            try:
                while True:
                    data = sock.recv(65536)
                    if not data:
                        break
                    chunks.append(data)
            except ConnectionResetError:
                error = "reset"
            except socket.timeout:
                error = "timeout"
        return b"".join(chunks), error, time.monotonic() - started

    def test_cut_after_closes_mid_body(self):
        self.fault("/data.bin", {"cut_after": 1234})
        data, error, _ = self.read_with_errors("/data.bin")
        _, headers, body = split_response(data)
        self.assertEqual((error, headers["content-length"], len(body)), (None, "10000", 1234))

    def test_reset_after_resets_mid_body(self):
        self.fault("/data.bin", {"reset_after": 2000})
        data, error, _ = self.read_with_errors("/data.bin")
        # The bytes before the reset reach the reader: the server waits for them to be read.
        self.assertEqual((error, len(split_response(data)[2])), ("reset", 2000))

    def test_drop_and_reset_without_answer(self):
        for rule, expected in (({"drop": True}, None), ({"reset": True}, "reset")):
            with self.subTest(rule=rule):
                self.fault("/data.bin", rule)
                data, error, _ = self.read_with_errors("/data.bin")
                self.assertEqual((data, error), (b"", expected))

    def test_stall_in_body_and_delay(self):
        for rule in ({"stall_at": 5, "stall": 1.0}, {"delay": 1.0}):
            with self.subTest(rule=rule):
                self.fault("/dir/", dict(rule, close=True))
                data, error, seconds = self.read_with_errors("/dir/")
                self.assertIsNone(error)
                self.assertGreaterEqual(seconds, 0.9)
                self.assertEqual(split_response(data)[2], b"folder page")

    def test_stall_longer_than_client_timeout(self):
        self.fault("/data.bin", {"stall_at": 500, "stall": 5})
        data, error, seconds = self.read_with_errors("/data.bin", timeout=1.0)
        self.assertEqual(error, "timeout")
        self.assertEqual(len(split_response(data)[2]), 500)
        self.assertLess(seconds, 4)

    def test_rate_limits_speed(self):
        self.fault("/data.bin", {"rate": 20000, "close": True})
        data, error, seconds = self.read_with_errors("/data.bin")
        self.assertEqual(len(split_response(data)[2]), 10000)
        self.assertGreaterEqual(seconds, 0.4)


class LifetimeTest(unittest.TestCase):
    def setUp(self):
        self.root = make_root()

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_idle_timeout_stops_the_server(self):
        server = serverctl.start_http(self.root, idle_timeout=1)
        try:
            deadline = time.monotonic() + 10
            while server.running() and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertFalse(server.running())
            self.assertEqual(server.process.returncode, 0)
        finally:
            server.stop()

    def test_sigterm_stops_even_during_a_stall(self):
        server = serverctl.start_http(self.root, faults={"/data.bin": {"stall_at": 10, "stall": 300}})
        sock = socket.create_connection(("127.0.0.1", server.port), timeout=CLIENT_TIMEOUT)
        try:
            sock.sendall(b"GET /data.bin HTTP/1.1\r\nHost: h\r\n\r\n")
            server.wait_for_entries(1)
            started = time.monotonic()
            server.stop()
            self.assertLess(time.monotonic() - started, 4)
            self.assertEqual(server.process.returncode, 0)
            self.assertEqual(len(server.log_entries()), 1)
        finally:
            sock.close()

    def test_port_file_and_stdout(self):
        folder = tempfile.mkdtemp()
        try:
            port_file = os.path.join(folder, "port")
            import subprocess
            process = subprocess.Popen([serverctl.PYTHON, serverctl.HTTP_SCRIPT, "--root", self.root,
                                        "--port-file", port_file, "--idle-timeout", "30"],
                                       stdout=subprocess.PIPE, text=True)
            try:
                line = process.stdout.readline().strip()
                with open(port_file) as f:
                    self.assertEqual(line, "PORT %s" % f.read().strip())
                self.assertEqual(get(int(line.split()[1]), "/dir/")[2], b"folder page")
            finally:
                process.terminate()
                process.wait(10)
                process.stdout.close()
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
