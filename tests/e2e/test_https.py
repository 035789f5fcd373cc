# tests/e2e/test_https.py — https through the window of the real parvel.exe.
# A site crawled at each depth from an https start address, its https and
# protocol-relative links rewritten, http and https pages of one host mixed, a redirect
# from http to https, untrusted certificates refused or accepted with "cert", a cut
# transfer continued with a range, and an unchanged second run; checked on disk and in
# the servers' request logs.
import os
import shutil
import tempfile
import unittest

import e2econfig
import mirrorcheck
import serverctl
import testcerts
from parveldriver import Driver, fresh_settings, session_env, set_setting, windows_path

ADDRESS, SEARCH, DEPTH_RADIO = 1000, 1001, {0: 1018, 1: 1019, 2: 1020, None: 1021}
# One host served over http (port 80) and https (443) from one folder, as a real site
# is: both schemes store into the host's one folder. Two servers whose certificates
# Wine cannot trust: one from an authority nobody trusts, one from the trusted
# authority but for another address.
HOST, UNTRUSTED, MISNAMED = "127.0.0.51", "127.0.0.52", "127.0.0.53"
REFUSED = "* 証明書を確認できません : %s"
IGNORED = "* 証明書の誤りを無視しました : %s"
MOVED = "* 転送先 : %s"
SIZE_MISMATCH = "* サイズが合いません（中断かタイムアウト）"
DATE_2001 = 978307200      # Mon, 01 Jan 2001 00:00:00 GMT


def page(*tags):
    return ("<html><head><title>t</title></head><body>\n%s\n</body></html>\n" % "\n".join(tags)).replace(
        "HOST", HOST).encode()


def picture(number):
    return b"GIF89a" + bytes([number]) * (200 + number)


# The https site below /s/, level by level from its start page /s/: at depth 0 the
# start page with its pictures and the file its link names; each level down the pages
# linked from the level above, with their pictures. Its pages link by relative paths,
# paths from '/', https:// addresses and protocol-relative //HOST/ addresses.
SITE = {
    "s/index.html": page('<body background="pic/bg.gif">', '<img src="pic/top.gif">',
                         '<img src="//HOST/s/pic/proto.gif">', '<a href="a.html">a</a>',
                         '<a href="https://HOST/s/sub/b.html">b</a>', '<a href="files/data.zip">zip</a>',
                         '<a href="https://HOST/outside/x.html">outside the start folder</a>'),
    "s/a.html": page('<img src="https://HOST/s/pic/a.gif">', '<a href="sub/deep.html">deep</a>'),
    "s/sub/b.html": page('<img src="../pic/b.gif">', '<img src="/s/sub/b2.gif">',
                         '<a href="//HOST/s/sub/deep.html">deep</a>'),
    "s/sub/deep.html": page('<img src="deep.gif">', '<a href="deeper.html">deeper</a>'),
    "s/sub/deeper.html": page('<img src="https://HOST/s/pic/deeper.gif">'),
    "outside/x.html": page("not followed"),
}
LEVELS = [
    {"s/index.html", "s/pic/bg.gif", "s/pic/top.gif", "s/pic/proto.gif", "s/files/data.zip"},
    {"s/a.html", "s/pic/a.gif", "s/sub/b.html", "s/pic/b.gif", "s/sub/b2.gif"},
    {"s/sub/deep.html", "s/sub/deep.gif"},
    {"s/sub/deeper.html", "s/pic/deeper.gif"},
]
# The links each stored page has rewritten, in page order.
REWRITTEN = {
    "s/index.html": [b"//HOST/s/pic/proto.gif", b"https://HOST/s/sub/b.html"],
    "s/a.html": [b"https://HOST/s/pic/a.gif"],
    "s/sub/b.html": [b"/s/sub/b2.gif", b"//HOST/s/sub/deep.html"],
    "s/sub/deep.html": [],
    "s/sub/deeper.html": [b"https://HOST/s/pic/deeper.gif"],
}
# http pages linking https pictures and pages, and the reverse; a picture named
# over both schemes; a start address that redirects from http to https.
MIXED = {
    "m/index.html": page('<img src="https://HOST/m/tls.gif">', '<img src="http://HOST/m/both.gif">',
                         '<img src="https://HOST/m/both.gif">', '<a href="https://HOST/m/page.html">p</a>'),
    "m/page.html": page('<img src="http://HOST/m/plain.gif">', '<img src="rel.gif">'),
    "n/index.html": page('<img src="http://HOST/n/plain.gif">', '<a href="http://HOST/n/page.html">p</a>'),
    "n/page.html": page('<img src="https://HOST/n/tls.gif">', '<img src="rel.gif">'),
    "r/index.html": page('<img src="x.gif">', '<a href="next.html">next</a>'),
    "r/next.html": page('<img src="/r/y.gif">'),
}
# Which server each file of MIXED is asked of: the scheme its link (or the page
# holding a relative link) names.
OVER_HTTP = {"/m/", "/m/plain.gif", "/n/plain.gif", "/n/page.html", "/n/rel.gif", "/r/"}
OVER_HTTPS = {"/m/tls.gif", "/m/page.html", "/m/rel.gif", "/n/", "/n/tls.gif", "/r/", "/r/x.gif",
              "/r/next.html", "/r/y.gif"}
UNTRUSTED_SITE = {"u/index.html": page('<img src="pic.gif">'), "u/pic.gif": picture(90)}


def missing_prerequisites():
    if os.geteuid() != 0:
        return "root (ports 80 and 443, the system's trust store)"
    if not testcerts.can_install():
        return "update-ca-certificates"
    return None


class HttpsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = missing_prerequisites()
        if missing:
            # CI runs as root with everything installed by tools/setup-machine.sh.
            if os.environ.get("CI"):
                raise AssertionError("missing on CI: " + missing)
            raise unittest.SkipTest("missing: " + missing)
        # Installed before any parvel.exe starts: Wine reads the trust store when a process starts.
        cls.certs = testcerts.shared()
        cls.top = tempfile.mkdtemp(prefix="parvel-https-")
        cls.root = os.path.join(cls.top, "root")
        cls.files = dict(SITE)
        cls.files.update(MIXED)
        named = {p.lstrip("/") for p in set().union(*LEVELS, OVER_HTTP, OVER_HTTPS, {"m/both.gif", "t/ok.gif"})}
        for number, path in enumerate(sorted(p for p in named if p.endswith((".gif", ".zip")))):
            cls.files[path] = picture(number)
        cls.files["c/big.bin"] = bytes((i * 7) % 251 for i in range(200000))
        for root, files in ((cls.root, cls.files), (os.path.join(cls.top, "untrusted"), UNTRUSTED_SITE)):
            for path, data in files.items():
                full = os.path.join(root, *path.split("/"))
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "wb") as f:
                    f.write(data)
                os.utime(full, (DATE_2001, DATE_2001))
        cls.servers = []
        try:
            cls.plain = cls.serve(cls.root, HOST, 80)
            cls.tls = cls.serve(cls.root, HOST, 443, cls.certs.server(HOST))
            untrusted_root = os.path.join(cls.top, "untrusted")
            cls.serve(untrusted_root, UNTRUSTED, 443, cls.certs.server(UNTRUSTED, trusted=False))
            cls.serve(untrusted_root, MISNAMED, 443, cls.certs.server(MISNAMED, name="127.0.0.54"))
        except serverctl.ServerError:
            cls.tearDownClass()
            raise

    @classmethod
    def serve(cls, root, address, port, tls=None):
        server = serverctl.start_http(root, address=address, port=port, tls=tls, subst=False, idle_timeout=600)
        cls.servers.append(server)
        return server

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers:
            server.stop()
        shutil.rmtree(cls.top, ignore_errors=True)

    def setUp(self):
        self.env = session_env(e2econfig.STATE)
        self.save = os.path.join(self.top, "save")
        self.shortcuts = os.path.join(self.top, "shortcuts")
        for folder in (self.save, self.shortcuts):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
        for server in self.servers:
            server.set_faults({})
            server.clear_log()
        self.driver = None

    def tearDown(self):
        if self.driver is not None:
            self.driver.kill()

    def start_program(self, **settings):
        fresh_settings(self.env, self.save, resume="1", timeout=3000, out_server="0", ftp="0",
                       shortcut=windows_path(self.env, self.shortcuts), **settings)
        program = windows_path(self.env, e2econfig.PARVEL)
        if self.driver is not None:
            self.assertEqual(self.driver.close(), "0")
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(program)

    def crawl(self, entries, depth=None):
        """One run of the entries at the depth (None: unlimited); returns its access log."""
        d = self.driver
        d.press(DEPTH_RADIO[depth])
        d.set_text(ADDRESS, "\n".join(entries))
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        d.wait_idle(120000)
        return d.log_lines()

    def stored(self):
        return mirrorcheck.stored_files(self.save)

    def read(self, path):
        with open(os.path.join(self.save, *path.split("/")), "rb") as f:
            return f.read()

    def asked(self, server):
        """(method, path, status, range) of every request the server logged."""
        return [(e["method"], e["path"], e["status"], e["range"]) for e in server.log_entries()]

    def assert_files_as_served(self, paths, host=HOST, files=None):
        """Each stored file of the host's folder holds the served bytes; a page, apart from its rewritten links."""
        files = files or self.files
        for path in sorted(paths):
            with self.subTest(file=path):
                stored = self.read("%s/%s" % (host, path))
                if path.endswith(".html"):
                    # Each entry starts in the page's first folder; a page's scheme only
                    # matters for links to what is not fetched, which these pages name absolutely.
                    rules = mirrorcheck.Rules("/%s/" % path.split("/")[0])
                    rewritten, faults = mirrorcheck.compare_rewritten_page(
                        files[path], stored, rules, mirrorcheck.Page("https://%s/%s" % (host, path)))
                    self.assertEqual(faults, [])
                    if path in REWRITTEN:
                        self.assertEqual([was for was, _ in rewritten],
                                         [l.replace(b"HOST", host.encode()) for l in REWRITTEN[path]])
                else:
                    self.assertEqual(stored, files[path], "stored bytes differ from the served ones")

    def test_depths_offline_links_and_an_unchanged_second_run(self):
        self.start_program()
        start = "https://%s/s/" % HOST
        for depth, count in ((0, 1), (1, 2), (2, 3), (None, 4)):
            with self.subTest(depth=depth):
                shutil.rmtree(self.save)
                os.makedirs(self.save)
                lines = self.crawl([start], depth)
                expected = {"%s/%s" % (HOST, p) for p in set().union(*LEVELS[:count])}
                self.assertEqual(self.stored(), expected, lines)
                self.assertEqual(lines[0], "* URL-> " + start)
        self.assert_files_as_served(set().union(*LEVELS))
        self.assertEqual(mirrorcheck.missing_targets(self.save), [], "every local link leads to a stored file")
        self.assertEqual(self.asked(self.plain), [], "an https crawl asks nothing over http")
        self.assertEqual(len(os.listdir(self.shortcuts)), 1, "a shortcut to the start page")

        # The same crawl again over the unchanged site: through the stored pages it
        # reaches every file again, once each, but takes no file other than a page
        # (which was rewritten, so its size differs from the server's) again. The
        # server now holds other bytes under the same dates and sizes: a file taken
        # again would show them.
        before = {p: os.stat(os.path.join(self.save, p)).st_ctime_ns for p in self.stored()}
        files = sorted(p for p in set().union(*LEVELS) if not p.endswith(".html"))
        for path in files:
            full = os.path.join(self.root, *path.split("/"))
            with open(full, "wb") as f:
                f.write(bytes(len(self.files[path])))
            os.utime(full, (DATE_2001, DATE_2001))
        self.tls.clear_log()
        lines = self.crawl([start])
        self.assertEqual(self.stored(), set(before), lines)
        self.assert_files_as_served(set().union(*LEVELS))
        written = sorted(p for p in before if not p.endswith(".html")
                         and os.stat(os.path.join(self.save, p)).st_ctime_ns != before[p])
        self.assertEqual(written, [], "files written again")
        asked = sorted(a[1] for a in self.asked(self.tls))
        self.assertEqual(asked, sorted("/" + p.replace("index.html", "") for p in set().union(*LEVELS)),
                         "each file asked for once, the start page by its folder")

    def test_http_and_https_of_one_host_and_a_redirect_from_http_to_https(self):
        self.plain.set_faults({"/r/": {"redirect": "https://%s/r/" % HOST, "status": 301}})
        self.start_program()
        entries = ["http://%s/m/" % HOST, "https://%s/n/" % HOST, "http://%s/r/" % HOST]
        lines = self.crawl(entries)
        self.assertEqual([l for l in lines if l.startswith("* ") and not l.endswith("はレジューム可能")],
                         ["* URL-> %s/m/" % HOST, "* URL-> https://%s/n/" % HOST, "* URL-> %s/r/" % HOST,
                          MOVED % ("https://%s/r/" % HOST)])
        paths = {p.lstrip("/") for p in OVER_HTTP | OVER_HTTPS | {"m/both.gif"}}
        stored = {("%s/%s" % (HOST, p + "index.html" if p.endswith("/") else p)) for p in paths}
        self.assertEqual(self.stored(), stored, "one folder tree for both schemes; the redirected start page "
                         "at the address asked for")
        self.assert_files_as_served({p.split("/", 1)[1] for p in stored})
        for server, expected in ((self.plain, OVER_HTTP), (self.tls, OVER_HTTPS)):
            with self.subTest(scheme=server.scheme):
                gets = sorted(a[1] for a in self.asked(server) if a[0] == "GET" and a[1] != "/m/both.gif")
                self.assertEqual(gets, sorted(expected))
        both = [(s.scheme, a) for s in (self.plain, self.tls) for a in self.asked(s) if a[1] == "/m/both.gif"]
        self.assertEqual(len(both), 1, "a file named over http and https is fetched once: %r" % both)

    def test_untrusted_certificates_are_refused_or_accepted_with_the_cert_setting(self):
        entries = ["https://%s/u/" % UNTRUSTED, "https://%s/u/pic.gif" % UNTRUSTED, "https://%s/u/" % MISNAMED,
                   "https://%s/t/ok.gif" % HOST]
        bad = {UNTRUSTED, MISNAMED}
        self.start_program()
        lines = self.crawl(entries, 0)
        for host in sorted(bad):
            with self.subTest(host=host, cert=None):
                self.assertEqual(lines.count(REFUSED % host), 1, lines)
        self.assertEqual(self.stored(), {HOST + "/t/ok.gif"}, "nothing of the refused servers; the run went on")
        self.assertEqual([l for l in lines if l.startswith(IGNORED.split(" : ")[0])], [], "nothing accepted")

        self.start_program(cert="1")
        lines = self.crawl(entries, 0)
        for host in sorted(bad):
            with self.subTest(host=host, cert="1"):
                self.assertEqual(lines.count(IGNORED % host), 1, lines)
                self.assertNotIn(REFUSED % host, lines)
        self.assertEqual(self.stored(), {HOST + "/t/ok.gif"} | {"%s/%s" % (h, p) for h in bad for p in UNTRUSTED_SITE})
        for host in sorted(bad):
            self.assert_files_as_served(UNTRUSTED_SITE, host, UNTRUSTED_SITE)

    def test_cut_transfer_is_continued_with_a_range(self):
        self.tls.set_faults({"/c/big.bin": {"times": 1, "cut_after": 120000}})
        self.start_program()
        url = "https://%s/c/big.bin" % HOST
        lines = self.crawl([url], 0)
        self.assertIn(SIZE_MISMATCH, lines)
        self.assertEqual(self.read(HOST + "/c/big.bin"), self.files["c/big.bin"][:120000], "the bytes received stay")
        self.crawl([url], 0)
        self.assertEqual(self.read(HOST + "/c/big.bin"), self.files["c/big.bin"])
        ranges = [(a[3], a[2]) for a in self.asked(self.tls) if a[0] == "GET"]
        self.assertEqual((ranges[0], ranges[-1]), ((None, 200), ("bytes=%d-" % (120000 - 2500), 206)),
                         "continued from 2500 bytes before the stored end: %r" % ranges)


if __name__ == "__main__":
    unittest.main()
