# tests/e2e/test_hostile.py — hostile servers and pages against the real parvel.exe.
# Broken lengths, resets, stalls, huge headers, redirect loops, wrong ranges, bad dates,
# escaping and device-named links, huge and broken pages, refusing and cutting FTP
# servers; each run checks no hang, no file outside the save folder, no corrupted file
# and the line the user sees.
import os
import shutil
import sys
import tempfile
import time
import unittest

import e2econfig
import mirrorcheck
import serverctl
from parveldriver import Driver, fresh_settings, session_env, windows_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "servers"))
import httpserver  # noqa: E402  (the generators of its pages, to compare stored files byte for byte)

ADDRESS, SEARCH = 1000, 1001
DATE_2001 = 978307200          # Mon, 01 Jan 2001 00:00:00 GMT
TIMEOUT_MS = 3000
SIZE_MISMATCH = "* サイズが合いません（中断かタイムアウト）"
TOO_LONG = "* パスが長すぎます : "
MARK = "pvx"                   # every name a hostile link tries to write contains it
DEVICES = ("con", "prn", "aux", "nul", "com1", "com9", "lpt1", "lpt9", "conin$", "conout$")


def pattern(size, seed=0):
    return bytes((i * 7 + seed) % 251 for i in range(size))


def generated(size):
    """The bytes of the server's "generate": "bytes" body."""
    return httpserver.pattern_body(size).read(0, size)


class HostileCase(unittest.TestCase):
    """One Parvel window, one HTTP server on a root of its own, a save folder inside a
    fenced folder: anything written beside the save folder is an escape."""

    settings = {}

    def setUp(self):
        self.env = session_env(e2econfig.STATE)
        self.fence = tempfile.mkdtemp(prefix="parvel-hostile-")
        self.save = os.path.join(self.fence, "save")
        self.served = os.path.join(self.fence, "served")
        self.root = os.path.join(self.served, "root")
        os.makedirs(self.save)
        os.makedirs(self.root)
        values = dict(resume="1", timeout=TIMEOUT_MS)
        values.update(self.settings)
        fresh_settings(self.env, self.save, **values)
        self.http = serverctl.start_http(self.root)
        self.servers = [self.http]
        self.began = time.time()
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(windows_path(self.env, e2econfig.PARVEL))

    def tearDown(self):
        self.driver.kill()
        for server in self.servers:
            server.stop()
        shutil.rmtree(self.fence, ignore_errors=True)

    # Serving and reading ---------------------------------------------------------
    def serve(self, path, data, epoch=DATE_2001):
        full = os.path.join(self.root, *path.lstrip("/").split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        os.utime(full, (epoch, epoch))

    def local(self, path, server=None):
        server = server or self.http
        return os.path.join(self.save, "127.0.0.1-%d" % server.port, *path.lstrip("/").split("/"))

    def stored(self, path, server=None):
        with open(self.local(path, server), "rb") as f:
            return f.read()

    def assert_stored(self, path, expected, server=None, why=""):
        """The stored file equals expected; on failure names the file, both sizes and
        the first byte that differs."""
        try:
            data = self.stored(path, server)
        except OSError as error:
            self.fail("%s not stored (%s) %s" % (path, error, why))
        if data != expected:
            first = next((i for i, (a, b) in enumerate(zip(data, expected)) if a != b), min(len(data), len(expected)))
            self.fail("%s: %d bytes stored, %d expected, first difference at %d: %r %s"
                      % (path, len(data), len(expected), first, data[max(0, first - 8):first + 24], why))

    def windows_local(self, path, server=None):
        server = server or self.http
        return windows_path(self.env, self.save) + "\\127.0.0.1-%d\\" % server.port + path.lstrip("/").replace("/", "\\")

    def crawl(self, entries, limit_s):
        """Runs one pass over the entries; fails when it does not end within limit_s."""
        d = self.driver
        d.set_text(ADDRESS, "\n".join(entries))
        began = time.monotonic()
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        try:
            d.wait_idle(int(limit_s * 1000))
        except Exception:
            try:
                self.lines = d.log_lines()
            except Exception:
                self.lines = ["(the window does not answer)"]
            self.dump()
            raise
        elapsed = time.monotonic() - began
        self.assertEqual(d.text(SEARCH), "探索", "the run ended within %d s" % limit_s)
        self.lines = d.log_lines()
        return elapsed

    # Checks shared by every run --------------------------------------------------
    def escaped_files(self):
        """Files written since the test began outside the save folder: in the fence,
        anywhere in the Wine prefix, and in /tmp itself; and any file of the mark's
        name in those places."""
        found = []
        prefix = self.env.get("WINEPREFIX", "")
        for top in (self.fence, prefix):
            for folder, _, files in os.walk(top):
                if any(folder == top or folder.startswith(top + os.sep) for top in (self.save, self.served)):
                    continue
                for name in files:
                    path = os.path.join(folder, name)
                    if MARK in name.lower():
                        found.append(path)
                    elif top == self.fence:
                        found.append(path)
        for name in os.listdir("/tmp"):
            if MARK in name.lower():
                found.append(os.path.join("/tmp", name))
        return found

    def assert_nothing_escaped(self):
        self.assertEqual(self.escaped_files(), [], "files outside the save folder")

    def assert_program_alive(self):
        self.assertEqual(self.driver.title(), "Parvel 1st MIX", "the window still answers")

    def sections(self):
        """The access log cut at its "* URL-> " lines: {entry: [lines after it]}."""
        found, current = {}, None
        for line in self.lines:
            if line.startswith("* URL-> "):
                current = found.setdefault(line[len("* URL-> "):], [])
            elif current is not None:
                current.append(line)
        return found

    def gets(self, path, server=None):
        server = server or self.http
        return [e for e in server.log_entries() if e["path"] == path and e["method"] == "GET"]

    def dump(self):
        print("\n--- log")
        for line in self.lines:
            print(repr(line))
        print("--- requests")
        for server in self.servers:
            for e in server.log_entries():
                print(server.kind, server.port, e.get("time"), e.get("path", e.get("cmd")), e.get("arg", ""),
                      e.get("range"), e.get("status"))
        print("--- stored")
        for folder, _, files in os.walk(self.save):
            for name in files:
                path = os.path.join(folder, name)
                print(os.path.relpath(path, self.save), os.path.getsize(path))


class HostileServerTest(HostileCase):
    SIZES = {"long": 8000, "short": 8000, "keep": 8000, "after": 5000, "reset": 20000, "stall": 20000,
             "header": 2000, "nan": 6000, "baddate": 6000, "future": 6000, "toother": 3000, "toftp": 3000,
             "range": 20000, "range2": 20000, "r416": 20000, "last": 3000}
    ORDER = ["long", "short", "keep", "after", "reset", "stall", "header", "nan", "baddate", "future",
             "toother", "toftp", "range", "range2", "r416", "last"]

    def data(self, name, seed=0):
        return pattern(self.SIZES[name], self.ORDER.index(name) + seed)

    def start_servers(self):
        ftp_root = os.path.join(self.served, "ftp")
        os.makedirs(os.path.join(ftp_root, "pub"))
        for name in ("f.bin", "cut.bin"):
            with open(os.path.join(ftp_root, "pub", name), "wb") as f:
                f.write(pattern(30000, 50))
        self.ftp = serverctl.start_ftp(ftp_root, faults={"cut": {"/pub/cut.bin": 5000}})
        self.refusing = serverctl.start_ftp(ftp_root, faults={"refuse_login": True})
        # The other server holds other bytes under the same paths: a file fetched
        # from the wrong server shows.
        other_root = os.path.join(self.served, "other")
        for name in self.ORDER:
            full = os.path.join(other_root, "t", name + ".bin")
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(self.data(name, 100))
        os.makedirs(os.path.join(other_root, "o"))
        with open(os.path.join(other_root, "o", "o.bin"), "wb") as f:
            f.write(pattern(4000, 99))
        self.other = serverctl.start_http(other_root)
        self.servers += [self.ftp, self.refusing, self.other]

    def store_partly(self, name, size):
        """A stored beginning of the file with the server's date: the run continues it."""
        path = self.local("/t/%s.bin" % name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(self.data(name)[:size])
        os.utime(path, (DATE_2001, DATE_2001))

    def test_transfer_faults_of_http_and_ftp_servers(self):
        self.start_servers()
        for name in self.ORDER:
            self.serve("/t/%s.bin" % name, self.data(name))
        self.http.set_faults({
            "/t/long.bin": {"content_length": 20000},
            "/t/short.bin": {"content_length": 3000},
            "/t/keep.bin": {"content_length": 3000, "keep_alive": True},
            "/t/reset.bin": {"reset_after": 5000},
            "/t/stall.bin": {"stall_at": 4000, "stall": 60},
            "/t/header.bin": {"header_filler": 10 << 20},
            "/t/nan.bin": {"content_length": "many"},
            "/t/baddate.bin": {"last_modified": "Blursday, 32 Foo 20x9 25:61:61 GMT"},
            "/t/future.bin": {"last_modified": "Fri, 31 Dec 9999 23:59:59 GMT"},
            "/t/toother.bin": {"redirect": "http://%s/o/o.bin" % self.other.host},
            "/t/toftp.bin": {"redirect": "ftp://%s/pub/f.bin" % self.ftp.host},
            "/t/range.bin": {"range": True, "content_range_start": 0},
            "/t/range2.bin": {"range": True, "content_range": "bytes 0-99/100"},
            "/t/r416.bin": {"range": True, "unsatisfiable": True},
        })
        for name in ("range", "range2", "r416"):
            self.store_partly(name, 9000)
        entries = ["http://%s/t/%s.bin" % (self.http.host, name) for name in self.ORDER]
        entries += ["ftp://%s/pub/cut.bin" % self.ftp.host, "ftp://%s/pub/f.bin" % self.refusing.host,
                    "ftp://%s/pub/f.bin" % self.ftp.host]
        elapsed = self.crawl(entries, 180)
        self.assert_program_alive()
        self.assert_nothing_escaped()
        # One stall of the 3 s time-out; everything else answers at once.
        self.assertLess(elapsed, 60, "no case hangs past the time-out")
        sections = self.sections()
        host = self.http.host

        def told(name):
            return sections["%s/t/%s.bin" % (host, name)]

        # Bodies shorter than announced, broken off or stalled: the bytes received
        # stay, the user is told, the file is recorded as visited.
        for name, kept in (("long", 8000), ("reset", 5000), ("stall", 4000)):
            with self.subTest(case=name):
                self.assert_stored("/t/%s.bin" % name, self.data(name)[:kept], why="the bytes received")
                self.assertIn(SIZE_MISMATCH, told(name))
                self.assertIn(self.windows_local("/t/%s.bin" % name), told(name))
        # A body longer than the announced 3000 bytes: the announced part, or all
        # of it with the user told; the rest left on a kept connection does not
        # leak into the next file.
        for name in ("short", "keep"):
            with self.subTest(case=name):
                stored = self.stored("/t/%s.bin" % name)
                self.assertTrue(self.data(name).startswith(stored), "a beginning of the file, nothing else")
                self.assertTrue(len(stored) == 3000 or SIZE_MISMATCH in told(name), (len(stored), told(name)))
        self.assert_stored("/t/after.bin", self.data("after"))
        self.assertEqual(told("after"), [self.windows_local("/t/after.bin")])
        # Headers the program cannot use do not keep it from the body.
        for name in ("header", "nan", "baddate", "future"):
            with self.subTest(case=name):
                self.assert_stored("/t/%s.bin" % name, self.data(name))
                self.assertIn(self.windows_local("/t/%s.bin" % name), told(name))
        self.assertNotEqual(int(os.path.getmtime(self.local("/t/baddate.bin"))), DATE_2001)
        # A redirect to another server is stored under the address asked; the files
        # after it still come from the first server.
        self.assert_stored("/t/toother.bin", pattern(4000, 99))
        for name in ("range", "range2", "r416", "last"):
            with self.subTest(case=name):
                self.assert_stored("/t/%s.bin" % name, self.data(name), why="the whole file from the first server")
        self.assertEqual(self.gets("/t/last.bin", self.other), [], "no request of the first server's files went to the other")
        # Ranges answered with a wrong range or 416: asked for and received whole.
        for name in ("range", "range2", "r416"):
            self.assertEqual([e["range"] for e in self.gets("/t/%s.bin" % name)], ["bytes=6500-", None], name)
        # FTP: a file closed mid-transfer is told and kept as far as it came; a server
        # refusing the login leaves no file; the next FTP address is fetched.
        ftp = self.local("/pub/cut.bin", self.ftp)
        self.assertIn(SIZE_MISMATCH, sections["%s/pub/cut.bin" % self.ftp.host])
        with open(ftp, "rb") as f:
            self.assertTrue(pattern(30000, 50).startswith(f.read()))
        self.assertFalse(os.path.exists(self.local("/pub/f.bin", self.refusing)))
        self.assertEqual(sections["%s/pub/f.bin" % self.refusing.host],
                         ["* %s に接続できません" % self.refusing.host], "the refused login is told")
        with open(self.local("/pub/f.bin", self.ftp), "rb") as f:
            self.assertEqual(f.read(), pattern(30000, 50))
        self.report_case_lines(sections)

    def report_case_lines(self, sections):
        """Prints what the user saw for each case (the report of the hostile run)."""
        print()
        for entry, lines in sections.items():
            print("%-40s %s" % (entry.split("/", 1)[1], " | ".join(l if not l.startswith("Z:") else "(path)" for l in lines)))

    def test_redirect_loop_ends(self):
        self.serve("/t/next.bin", pattern(3000))
        self.http.set_faults({"/t/loop.bin": {"redirect_loop": True}})
        elapsed = self.crawl(["http://%s/t/loop.bin" % self.http.host, "http://%s/t/next.bin" % self.http.host], 60)
        self.assertLess(elapsed, 30)
        self.assertEqual(self.stored("/t/next.bin"), pattern(3000))
        self.assertIn("* リダイレクトが多すぎます : %s/t/loop.bin" % self.http.host, self.lines)
        asked = [e for e in self.http.log_entries() if e["path"] == "/t/loop.bin"]
        self.assertEqual(len(asked), 11, "the first request and ten redirects")


ESCAPING_HREFS = [
    "/../../../../../pvx-a.gif",
    "/..%2f..%2f..%2f..%2fpvx-b.gif",
    "%2e%2e/%2e%2e/%2e%2e/%2e%2e/pvx-c.gif",
    "%2e%2e%2f%2e%2e%2f%2e%2e%2f%2e%2e%2fpvx-d.gif",
    "..%5c..%5c..%5c..%5cpvx-e.gif",
    "..\\..\\..\\..\\pvx-f.gif",
    "/.%2e/.%2e/.%2e/pvx-g.gif",
    "%252e%252e/%252e%252e/pvx-h.gif",
    "sub/%00/../../../../pvx-i.gif",
    "....//....//....//pvx-j.gif",
    "%43%3a%5cpvx-k.gif",
    "%5c%5c127.0.0.1%5cshare%5cpvx-l.gif",
    "%5c%5c%3f%5cC%3a%5cpvx-m.gif",
    "%5c%5c.%5cpvx-n.gif",
    "/%2fpvx-o.gif",
    "http://{host}/../../../../pvx-p.gif",
    "http://{host}/%2e%2e/%2e%2e/%2e%2e/pvx-q.gif",
    "//{host}/../../../pvx-r.gif",
    "\u0083\\..\\..\\..\\pvx-s.gif",
    "%83%5c..%5c..%5c..%5cpvx-t.gif",
    "a/b/c/../../../../../../../pvx-u.gif",
    "pvx-v.gif%3a%24DATA",
    "pvx-w.gif...",
    "pvx-x.gif%20%20",
    "C:\\pvx-y.gif",
    "file:///tmp/pvx-z.gif",
    "a" * 120 + "/" + "b" * 80 + "/pvx-long.gif",      # an address that fits, a local path that does not
]
DEVICE_HREFS = ["con.gif", "CON", "nul.txt", "NUL.gif", "aux.gif", "prn.gif", "com1.gif", "COM9.txt",
                "lpt1.gif", "LPT9.gif", "conin$.gif", "CONOUT$", "con.tar.gz", "%63on.gif", "Con%20.gif",
                "con/inside.gif", "nul/inside.gif", "aux.", "com1%20.txt"]
# Lead bytes of Shift_JIS with no trail byte, before quotes, '<', '>' and line ends,
# then a link the scanner must still find.
INVALID_SJIS = (b"<HTML><HEAD><TITLE>\x81</TITLE></HEAD><BODY>\r\n"
                b'<A HREF="\x9f">lead byte before the quote</A>\r\n'
                b'<A HREF="\x81\r\n'
                b'<IMG SRC="\xe0>\r\n' + b"\xfc" * 13 + b"\x81"
                b'<A HREF="ok.gif">ok</A>\r\n'
                b"\xff\x80\xa0\xfd\r\n</BODY></HTML>\r\n")
PAGE_SIZE = 16 << 20
LINK_COUNT = 100000
GIF_SIZE = 777


class HostilePageTest(HostileCase):
    settings = {"out_server": "1"}

    def serve_pages(self):
        index = ["esc.html", "dev.html", "big.html", "links.html", "zeros.html", "sjis.html"]
        body = b"<HTML><BODY>\r\n" + b"".join(b'<A HREF="%s">%s</A>\r\n' % (n.encode(), n.encode()) for n in index)
        self.serve("/p/index.html", body + b"</BODY></HTML>\r\n")
        self.http.set_faults({
            "/p/esc.html": {"generate": "hrefs", "hrefs": [h.format(host=self.http.host) for h in ESCAPING_HREFS]},
            "/p/dev.html": {"generate": "hrefs", "hrefs": DEVICE_HREFS},
            "/p/big.html": {"generate": "page", "size": PAGE_SIZE},
            "/p/links.html": {"generate": "links", "count": LINK_COUNT, "pattern": "q%d/p.html"},
            "/p/zeros.html": {"generate": "nul", "count": 5000},
            "/p/sjis.html": {"body_b64": __import__("base64").b64encode(INVALID_SJIS).decode()},
            "/t/title.html": {"generate": "title", "size": 10000},
            "/t/sjistitle.html": {"body_hex": "3c5449544c453e" + "81" * 9 + "fc3c" + "3c2f5449544c453e"},
            # Whatever a link asks for, a file that is no page.
            "*.gif": {"generate": "bytes", "size": GIF_SIZE},
            "*.txt": {"generate": "bytes", "size": GIF_SIZE},
            "*.gz": {"generate": "bytes", "size": GIF_SIZE},
            "*$*": {"generate": "bytes", "size": GIF_SIZE},
            "*DATA": {"generate": "bytes", "size": GIF_SIZE},
            "*.": {"generate": "bytes", "size": GIF_SIZE},
            "*%20": {"generate": "bytes", "size": GIF_SIZE},
            "* ": {"generate": "bytes", "size": GIF_SIZE},
        })

    def stored_files(self):
        found = {}
        for folder, _, files in os.walk(self.save):
            for name in files:
                path = os.path.join(folder, name)
                found[os.path.relpath(path, self.save)] = path
        return found

    def test_escaping_device_named_huge_and_broken_pages(self):
        self.serve_pages()
        # The start page at depth 0, its pages at 1; the 100,000 links of links.html
        # are pages at depth 2 and are refused, while files are followed at any depth.
        elapsed = self.crawl(["http://%s/p/index.html|1" % self.http.host,
                              "http://%s/t/title.html" % self.http.host,
                              "http://%s/t/sjistitle.html" % self.http.host], 300)
        print("\nhostile pages: %.1f s" % elapsed)
        self.assert_program_alive()
        self.assert_nothing_escaped()
        host_folder = self.local("/")
        stored = self.stored_files()
        # Every file a link reached is in the server's folder, under a name Windows
        # can hold, and whole.
        katakana = "タイトル".encode("shift_jis").decode("shift_jis")
        # Under Wine the 10,000-byte title's shortcut loses its ".LNK": its name of
        # about 250 Shift_JIS bytes is cut to the 255 bytes of a Linux file name in
        # UTF-8 (on Windows a name may hold 255 characters).
        shortcuts = [rel for rel in stored if rel.upper().endswith(".LNK") or rel.startswith(katakana)]
        files = {rel: path for rel, path in stored.items() if rel not in shortcuts and not rel.lower().endswith(".html")}
        self.assertGreaterEqual(len([r for r in files if MARK in r]), 15, sorted(files))
        for rel, path in sorted(files.items()):
            with self.subTest(file=rel):
                self.assertTrue(path.startswith(host_folder), "inside the server's folder")
                for segment in rel.split(os.sep):
                    name = segment.split(".", 1)[0].rstrip(" ").lower()
                    self.assertNotIn(name, DEVICES, "a device name")
                    self.assertFalse(segment.endswith((".", " ")), "a name Windows cuts")
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), generated(GIF_SIZE))
        devices = [rel for rel in files if "dev" not in rel and MARK not in rel and rel != os.path.join(
            "127.0.0.1-%d" % self.http.port, "p", "ok.gif")]
        self.assertGreaterEqual(len(devices), 14, "the device-named links were stored under safe names: %s" % devices)
        # Pages too big, too full of links, with NUL bytes or broken Shift_JIS, at depth
        # 1 of a crawl limited to 1: the pages their links name would be at depth 2, which
        # the rules do not fetch, so each such relative link leads to the server instead
        # ("q7/p.html" of /p/links.html becomes "http://HOST/p/q7/p.html"); the file
        # ok.gif is fetched and its link stays; what stands behind a NUL is not scanned.
        host = self.http.host
        self.assert_stored("/p/big.html", httpserver.sized_page(PAGE_SIZE))
        self.assert_stored("/p/links.html", httpserver.links_page(LINK_COUNT, "http://%s/p/q%%d/p.html" % host))
        self.assert_stored("/p/zeros.html", httpserver.nul_page(5000))
        rules = mirrorcheck.Rules("/p/", depth_limit=1, out_server=True)
        expected, _ = mirrorcheck.expected_page(INVALID_SJIS, rules, mirrorcheck.Page("http://%s/p/sjis.html" % host, 1))
        self.assert_stored("/p/sjis.html", expected)
        self.assertEqual(expected.count(b'"http://%s/p/' % host.encode()), 2, "both broken links lead to the server")
        self.assertEqual(len(self.gets("/p/ok.gif")), 1, "the link after the broken characters was found")
        self.assertEqual([e for e in self.http.log_entries() if e["path"].startswith("/p/q")], [],
                         "links above the depth limit are not fetched")
        # A title of 10,000 bytes names the start page's shortcut, cut to fit a path.
        self.assert_stored("/t/title.html", httpserver.title_page(10000))
        self.assertTrue(any(rel.startswith(katakana) for rel in shortcuts), shortcuts)
        self.assertEqual(len(shortcuts), 3, "one shortcut per start address: %s" % shortcuts)
        for rel in shortcuts:
            self.assertEqual(os.path.dirname(stored[rel]), self.save, "in the shortcut folder")
        # A link whose local path would not fit is refused with a line naming it.
        long_link = "%s/p/%s" % (self.http.host, "a" * 120)
        self.assertTrue(any(l.startswith(TOO_LONG + long_link) for l in self.lines), self.lines)
        self.assertEqual([e for e in self.http.log_entries() if "pvx-long" in e["path"]], [])


if __name__ == "__main__":
    unittest.main()
