# tests/servers/test_httpserver_hostile.py — checks the HTTP test server's hostile faults.
# A page with an enormous title, pages of chosen link texts as raw bytes, a wrong length
# on a connection kept open, many header lines, 416 to any range.
import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_httpserver import CLIENT_TIMEOUT, ServerCase, get, raw_exchange, split_response  # noqa: E402


def read_head(sock):
    """Reads up to the blank line after the headers; returns (head bytes, bytes read beyond it)."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            break
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    return head, rest


class GeneratedPagesTest(ServerCase):
    def test_title_of_exact_size_in_whole_shift_jis_characters(self):
        katakana = "タイトル".encode("shift_jis")
        for size in (0, 1, 2, 9, 10000):
            with self.subTest(size=size):
                self.fault("/t.html", {"generate": "title", "size": size})
                status, headers, body = get(self.port, "/t.html")
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "text/html")
                title = body.split(b"<TITLE>", 1)[1].split(b"</TITLE>", 1)[0]
                self.assertEqual(len(title), size)
                whole = title[:size - size % 2]
                self.assertEqual(whole, (katakana * (size // 8 + 1))[:len(whole)])
                self.assertEqual(title[len(whole):], b"x" if size % 2 else b"")
                self.assertIn(b'<A HREF="after.html">', body)

    def test_hrefs_are_sent_as_the_bytes_given(self):
        hrefs = ["../x.gif", "%2e%2e/y.gif", "\u0083\\z.gif", "C:\\w.gif"]
        self.fault("/h.html", {"generate": "hrefs", "hrefs": hrefs})
        _, _, body = get(self.port, "/h.html")
        for number, raw in enumerate([b"../x.gif", b"%2e%2e/y.gif", b"\x83\x5cz.gif", b"C:\\w.gif"]):
            self.assertIn(b'<A HREF="%s">link %d</A>' % (raw, number), body)
        self.fault("/h.html", {"generate": "hrefs", "hrefs": ["a.gif"], "tag": "img"})
        _, _, body = get(self.port, "/h.html")
        self.assertIn(b'<IMG SRC="a.gif">', body)

    def test_bad_hrefs_rule_answers_500(self):
        for rule in ({"generate": "hrefs", "hrefs": ["a"], "tag": "FRAME"},
                     {"generate": "hrefs", "hrefs": ["\u3042"]}):
            with self.subTest(rule=rule):
                self.fault("/h.html", rule)
                status, _, _ = get(self.port, "/h.html")
                self.assertEqual(status, 500)


class ConnectionFaultsTest(ServerCase):
    def test_short_length_on_a_kept_connection_leaves_the_rest_for_the_next_answer(self):
        self.fault("/dir/", {"content_length": 4, "keep_alive": True})
        with socket.create_connection(("127.0.0.1", self.port), timeout=CLIENT_TIMEOUT) as sock:
            sock.sendall(b"GET /dir/ HTTP/1.1\r\nHost: h\r\n\r\n")
            head, rest = read_head(sock)
            self.assertIn(b"Content-Length: 4", head)
            self.assertNotIn(b"Connection: close", head)
            while len(rest) < len(b"folder page"):
                rest += sock.recv(65536)
            self.assertEqual(rest, b"folder page", "the whole body follows the short length")
            sock.sendall(b"GET /dir/ HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n")
            head, _ = read_head(sock)
            self.assertTrue(head.startswith(b"HTTP/1.1 200"), "the connection still serves")
        conns = [e["conn"] for e in self.server.wait_for_entries(2)]
        self.assertEqual(len(conns), 2)
        self.assertEqual(conns[0], conns[1], "both requests on one connection")

    def test_missing_length_still_closes_with_keep_alive(self):
        self.fault("/dir/", {"content_length": None, "keep_alive": True})
        with socket.create_connection(("127.0.0.1", self.port), timeout=CLIENT_TIMEOUT) as sock:
            sock.sendall(b"GET /dir/ HTTP/1.1\r\nHost: h\r\n\r\n")
            data = b""
            while True:
                chunk = sock.recv(65536)
                if not chunk:
                    break
                data += chunk
        self.assertTrue(data.endswith(b"folder page"), "the body ends with the close")

    def test_many_header_lines(self):
        self.fault("/dir/", {"header_lines": 5000})
        data = raw_exchange(self.port, b"GET /dir/ HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n")
        status, headers, body = split_response(data)
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers["x-line-0"], "0")
        self.assertEqual(headers["x-line-4999"], "4999")
        self.assertEqual(body, b"folder page")

    def test_unsatisfiable_answers_416_with_and_without_a_range(self):
        for request_headers in ({"Range": "bytes=100-"}, {}):
            with self.subTest(headers=request_headers):
                self.fault("/data.bin", {"unsatisfiable": True})
                status, headers, body = get(self.port, "/data.bin", headers=request_headers)
                self.assertEqual(status, 416)
                self.assertEqual(headers["content-range"], "bytes */10000")
                self.assertEqual(headers["content-length"], "0")
                self.assertEqual(body, b"")


if __name__ == "__main__":
    unittest.main()
