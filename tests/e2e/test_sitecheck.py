# tests/e2e/test_sitecheck.py — the mirror checks of the real-site tests on small made-up sites: each check reports the fault it is there for (a changed byte, a missing or extra file, a stray file) and the wget comparison gives each kind of difference its reason.
import os
import shutil
import tempfile
import unittest

import browsercheck
import sitecheck

HOST = "127.0.0.9"


def write(root, path, data):
    full = os.path.join(root, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


INDEX = (b'<html><head><link rel="stylesheet" href="s.css"></head><body>\n'
         b'<a href="a.html">a</a> <img src="pic.png"> <img src="http://127.0.0.9/art/logo.png">\n'
         b'<a href="http://other.example/page.html">out</a> <a href="mailto:x@y">m</a>\n'
         b'<img src="http://other.example/wiki/Name"> <a href="http://127.0.0.9/doc/b.html">b</a>\n'
         b'</body></html>\n')
REWRITTEN = (INDEX.replace(b"http://127.0.0.9/art/logo.png", b"../../127.0.0.9/art/logo.png")
             .replace(b"http://other.example/wiki/Name", b"../../other.example/wiki/Name")
             .replace(b"http://127.0.0.9/doc/b.html", b"../../127.0.0.9/doc/b.html"))
SERVER = {"/doc/index.html": INDEX, "/doc/a.html": b'<html><img src="deep.png"></html>',
          "/doc/deep.png": b"\x89PNG4", "/doc/b.html": b"<html>b</html>",
          "/doc/pic.png": b"\x89PNG1", "/art/logo.png": b"\x89PNG2", "/doc/s.css": b"body{background:url(bg.png)}",
          "/doc/bg.png": b"\x89PNG3"}
STORED = ["/doc/index.html", "/doc/a.html", "/doc/deep.png", "/doc/b.html", "/doc/pic.png", "/art/logo.png"]


class SiteCheckTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="parvel-sitecheck-")
        self.root = os.path.join(self.dir, "server")
        self.save = os.path.join(self.dir, "mirror")
        for path, data in SERVER.items():
            write(self.root, path, data)
        for path in STORED:
            write(os.path.join(self.save, HOST), path, REWRITTEN if path == "/doc/index.html" else SERVER[path])
        self.site = sitecheck.Site(HOST, self.root, "/doc/index.html")
        self.mirror = sitecheck.Mirror(self.save, self.site)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def faults(self):
        return sitecheck.check_mirror(self.site, self.mirror).faults

    def test_a_faithful_mirror_passes_and_counts_its_links(self):
        report = sitecheck.check_mirror(self.site, self.mirror)
        self.assertEqual(report.faults, [])
        self.assertEqual(report.rewritten, 3, "own-host picture, other server's file, own-host page")
        self.assertEqual(report.links_checked, 5, "a.html, pic.png, logo.png, b.html and a.html's deep.png")
        self.assertEqual(self.mirror.stray_files(), [])

    def test_each_kind_of_damage_is_reported(self):
        cases = [
            ("a changed byte in a picture", lambda top: write(top, "/doc/pic.png", b"\x89PNG9"),
             "differs from the server's file"),
            ("a changed byte in a page", lambda top: write(top, "/doc/index.html", REWRITTEN.replace(b"<body>", b"<bodY>")),
             "outside the rewritten links"),
            ("a link left absolute", lambda top: write(top, "/doc/index.html", INDEX), "outside the rewritten links"),
            ("a followed picture missing", lambda top: os.remove(os.path.join(top, "doc", "pic.png")), "which is not stored"),
            ("a rewritten picture missing", lambda top: os.remove(os.path.join(top, "art", "logo.png")), "which is not stored"),
            ("a file the server lacks", lambda top: write(top, "/doc/extra.html", b"x"), "has no file on the server"),
        ]
        for name, damage, expected in cases:
            with self.subTest(name):
                self.tearDown()
                self.setUp()
                damage(os.path.join(self.save, HOST))
                faults = self.faults()
                found = [f for f in faults if expected in f]
                self.assertEqual(len(found), 1, "case %r: expected one fault with %r, got %r" % (name, expected, faults))

    def test_a_file_outside_the_host_folder_is_stray(self):
        write(self.save, "/elsewhere/x.bin", b"1")
        self.assertEqual(self.mirror.stray_files(), [b"elsewhere/x.bin"])

    def test_expected_rewrites_follow_the_link_rules(self):
        site = sitecheck.Site("host", self.root, "/a/index.html")
        cases = [
            (b"http://host/x/y.gif", b"../../../host/x/y.gif"),
            (b"/x/y.gif", b"../../../host/x/y.gif"),
            (b"http://host/a/b/c.html?q=1", b"../../../host/a/b/c.html"),
            (b"http://host/a/b/", b"../../../host/a/b/"),
            (b"http://host/other/p.html", None),
            (b"http://other/p.html", None),
            (b"http://other/z.jpg", b"../../../other/z.jpg"),
            (b"http://other/wiki/Name", b"../../../other/wiki/Name"),
            (b"https://host/x.gif", b"../../../host/x.gif"),
            (b"//host/a/b/c.html", b"../../../host/a/b/c.html"),
            (b"https://other/p.html", None),
            (b"//other/z.jpg", b"../../../other/z.jpg"),
            (b"c.html", None),
        ]
        for value, expected in cases:
            got = sitecheck.expected_rewrite(site, b"/a/b/page.html", value)
            self.assertEqual(got[0] if got else None, expected, "link %r" % value)

    def test_wget_differences_get_their_reasons(self):
        self.maxDiff = None
        parvel = set(p.encode() for p in STORED)
        wget = {b"/doc/index.html", b"/doc/a.html", b"/doc/deep.png", b"/doc/b.html", b"/doc/pic.png", b"/doc/s.css", b"/doc/bg.png"}
        comparison = sitecheck.compare_with_wget(self.site, parvel, wget)
        self.assertEqual(comparison["reasons"], {
            ("parvel", sitecheck.REASON_OUTSIDE): [b"/art/logo.png"],
            ("wget", sitecheck.REASON_NOT_SCANNED): [b"/doc/bg.png", b"/doc/s.css"],
        })
        self.assertEqual(comparison["unexplained"], [])
        # A page that a scanned link names and that only wget stored has no reason;
        # the picture that only this page names follows from it.
        comparison = sitecheck.compare_with_wget(self.site, parvel - {b"/doc/a.html", b"/doc/deep.png"}, wget)
        self.assertEqual([(side, path) for side, path, _ in comparison["unexplained"]], [("wget", b"/doc/a.html")])
        self.assertEqual(comparison["reasons"][("wget", sitecheck.REASON_FOLLOW_ON)], [b"/doc/deep.png"])


GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00"
       b",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")


@unittest.skipUnless(os.path.exists(browsercheck.CHROMIUM), "needs Debian's chromium (tools/setup-machine.sh)")
class BrowserCheckTest(unittest.TestCase):
    def test_pictures_that_load_and_that_do_not_and_resolved_links(self):
        folder = tempfile.mkdtemp(prefix="parvel-browser-")
        try:
            write(folder, "/d/p.html", b'<html><title>t</title><img src="ok.gif"><img src="../gone.gif">'
                                       b'<a href="sub/x.html?q#f">x</a><a href="mailto:a@b">m</a></html>')
            write(folder, "/d/ok.gif", GIF)
            write(folder, "/d/q.html", b"<html><title>second</title></html>")
            first, second = browsercheck.inspect_pages([os.path.join(folder, "d", "p.html"),
                                                        os.path.join(folder, "d", "q.html")])
            url = browsercheck.file_url(folder)
            self.assertEqual(first["images"], [[url + "/d/ok.gif", True], [url + "/gone.gif", False]])
            self.assertEqual(first["links"], [url + "/d/sub/x.html?q#f", "mailto:a@b"])
            self.assertEqual(browsercheck.path_of_url(first["links"][0]), os.path.join(folder, "d", "sub", "x.html"))
            self.assertEqual(second["title"], "second")
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
