# tests/servers/test_httpserver_tls.py — checks the HTTP test server over TLS.
# Fetched with Python's ssl trusting the test authority, its own addresses in https,
# faults inside TLS, and handshakes that fail or stall without stopping it.
import http.client
import os
import shutil
import socket
import ssl
import sys
import tempfile
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "tools", "servers"))
sys.path.insert(0, os.path.join(here, "..", "..", "tools", "e2e"))
import serverctl  # noqa: E402
import testcerts  # noqa: E402

DATA = bytes((i * 7) % 256 for i in range(10000))
TIMEOUT = 10


class TlsServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.certs = testcerts.TestCertificates()
        cls.root = tempfile.mkdtemp(prefix="parvel-root-")
        os.makedirs(os.path.join(cls.root, "dir"))
        for name, data in (("data.bin", DATA), ("dir/index.html", b"<A HREF=\"/@HOST@/\">folder</A>")):
            with open(os.path.join(cls.root, name), "wb") as f:
                f.write(data)
        cls.server = serverctl.start_http(cls.root, tls=cls.certs.server("127.0.0.1"))
        cls.trusting = ssl.create_default_context(cafile=cls.certs.trusted.certificate)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)
        cls.certs.remove()

    def setUp(self):
        self.server.set_faults({})
        self.server.clear_log()

    def connection(self):
        return http.client.HTTPSConnection("127.0.0.1", self.server.port, timeout=TIMEOUT, context=self.trusting)

    def get(self, path, headers=None):
        conn = self.connection()
        try:
            conn.request("GET", path, headers=headers or {})
            answer = conn.getresponse()
            return answer.status, answer.getheader("Location"), answer.getheader("Content-Range"), answer.read()
        finally:
            conn.close()

    def raw(self, path):
        """The body a TLS client reads for one request until the end, and "reset" when the
        connection ended without TLS's closing message (a reset shows so)."""
        chunks, error = [], None
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=TIMEOUT) as plain:
            with self.trusting.wrap_socket(plain, server_hostname="127.0.0.1", suppress_ragged_eofs=False) as sock:
                sock.sendall(b"GET %s HTTP/1.1\r\nHost: h\r\n\r\n" % path.encode())
                try:
                    while True:
                        data = sock.recv(65536)
                        if not data:
                            break
                        chunks.append(data)
                except (ConnectionResetError, ssl.SSLEOFError):
                    error = "reset"
        return b"".join(chunks).partition(b"\r\n\r\n")[2], error

    def test_files_ranges_keep_alive_and_own_addresses_in_https(self):
        host = "127.0.0.1:%d" % self.server.port
        self.assertEqual(self.server.url("/x"), "https://%s/x" % host)
        self.server.set_faults({"/loop.html": {"redirect_loop": True}, "/away.html": {"redirect": "http://@HOST@/a"}})
        cases = [
            ("/data.bin", None, (200, None, None, DATA)),
            ("/data.bin", {"Range": "bytes=9000-"}, (206, None, "bytes 9000-9999/10000", DATA[9000:])),
            ("/dir", None, (301, "https://%s/dir/" % host, None, b"<HTML><BODY>Moved</BODY></HTML>\r\n")),
            ("/dir/", None, (200, None, None, b"<A HREF=\"/%s/\">folder</A>" % host.encode())),
            ("/loop.html", None, (302, "https://%s/loop.html" % host, None)),
            ("/away.html", None, (302, "http://%s/a" % host, None)),
        ]
        for path, headers, expected in cases:
            with self.subTest(path=path, headers=headers):
                got = self.get(path, headers)
                self.assertEqual(got[:len(expected)], expected)
        conn = self.connection()
        try:
            for _ in range(2):
                conn.request("GET", "/data.bin")
                self.assertEqual(conn.getresponse().read(), DATA)
        finally:
            conn.close()
        last = self.server.log_entries()[-2:]
        self.assertEqual([(e["conn"], e["seq"]) for e in last], [(last[0]["conn"], 1), (last[0]["conn"], 2)],
                         "two requests on one kept TLS connection")

    def test_cut_and_reset_inside_tls(self):
        for rule, expected in (({"cut_after": 1234}, (DATA[:1234], None)), ({"reset_after": 2000}, (DATA[:2000], "reset"))):
            with self.subTest(rule=rule):
                self.server.set_faults({"/data.bin": rule})
                body, error = self.raw("/data.bin")
                self.assertEqual((len(body), error), (len(expected[0]), expected[1]))
                self.assertEqual(body, expected[0])

    def test_failed_and_stalled_handshakes_hold_up_nothing(self):
        stalled = socket.create_connection(("127.0.0.1", self.server.port), timeout=TIMEOUT)
        try:
            other = ssl.create_default_context(cafile=self.certs.untrusted.certificate)
            with self.assertRaises(ssl.SSLCertVerificationError, msg="a client trusting another authority"):
                with socket.create_connection(("127.0.0.1", self.server.port), timeout=TIMEOUT) as plain:
                    other.wrap_socket(plain, server_hostname="127.0.0.1").close()
            self.assertEqual(self.get("/data.bin")[3], DATA, "served while a handshake stalls and after a failed one")
        finally:
            stalled.close()
        self.assertEqual(len(self.server.log_entries()), 1, "a failed handshake is no request")

if __name__ == "__main__":
    unittest.main()
