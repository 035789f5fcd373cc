# tests/e2e/test_sitecheck.py — the real-site tests' mirror checks on small made-up sites.
# Each check reports the fault it is there for (a changed byte, a missing or extra file,
# a stray file) and the wget comparison gives each kind of difference its reason.
import os
import shutil
import tempfile
import unittest

import browsercheck
import mirrorcheck
import sitecheck

HOST = "127.0.0.9"


def write(root, path, data):
    full = os.path.join(root, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


INDEX = (b'<html><head><link rel="stylesheet" href="s.css"><link rel="next" href="n.html"></head><body>\n'
         b'<a href="a.html">a</a> <img src="pic.png"> <img src="http://127.0.0.9/art/logo.png">\n'
         b'<a href="http://other.example/page.html">out</a> <a href="mailto:x@y">m</a>\n'
         b'<img src="http://other.example/wiki/Name"> <a href="http://127.0.0.9/doc/b.html">b</a>\n'
         b'<a href="../outside.html">o</a> <a href="/outside.html">o</a> <a href="sub/">s</a>\n'
         b'<img alt="<< back" title="a > b" src="/doc/pic.png">\n'
         b'</body></html>\n')
# Pictures and pages the crawl fetches lead to their stored files; relative and rooted
# links to a page outside the start folder lead to the server; another server's links stay.
REWRITES = [(b'"http://127.0.0.9/art/logo.png"', b'"../../127.0.0.9/art/logo.png"'),
            (b'"http://127.0.0.9/doc/b.html"', b'"../../127.0.0.9/doc/b.html"'),
            (b'"../outside.html"', b'"http://127.0.0.9/outside.html"'), (b'"/outside.html"', b'"http://127.0.0.9/outside.html"'),
            (b'"sub/"', b'"sub/index.html"'), (b'"/doc/pic.png"', b'"../../127.0.0.9/doc/pic.png"')]
REWRITTEN = INDEX
for served_link, stored_link in REWRITES:
    REWRITTEN = REWRITTEN.replace(served_link, stored_link)
# The style sheet's relative link stays, its rooted one leads to the stored file.
CSS = b"body{background:url(bg.png)} /* url(no.png) */ p{background:url('/art/p.png')}"
CSS_REWRITTEN = CSS.replace(b"/art/p.png", b"../../127.0.0.9/art/p.png")
SERVER = {"/doc/index.html": INDEX, "/doc/a.html": b'<html><img src="deep.png"></html>',
          "/doc/deep.png": b"\x89PNG4", "/doc/b.html": b"<html>b</html>", "/doc/sub/index.html": b"<html>s</html>",
          "/doc/pic.png": b"\x89PNG1", "/art/logo.png": b"\x89PNG2", "/doc/s.css": CSS, "/art/p.png": b"\x89PNG5",
          "/doc/bg.png": b"\x89PNG3", "/outside.html": b"<html>o</html>", "/doc/n.html": b"<html>n</html>"}
STORED = ["/doc/index.html", "/doc/a.html", "/doc/deep.png", "/doc/b.html", "/doc/sub/index.html", "/doc/pic.png",
          "/art/logo.png", "/doc/s.css", "/doc/bg.png", "/art/p.png"]
# What a crawl with "modern" off stores: no style sheet, nothing it names.
STORED_OLD = STORED[:-3]


class SiteCheckTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="parvel-sitecheck-")
        self.root = os.path.join(self.dir, "server")
        self.save = os.path.join(self.dir, "mirror")
        for path, data in SERVER.items():
            write(self.root, path, data)
        for path in STORED:
            write(os.path.join(self.save, HOST), path, {"/doc/index.html": REWRITTEN, "/doc/s.css": CSS_REWRITTEN}.get(
                path, SERVER[path]))
        self.site = sitecheck.Site(HOST, self.root, "/doc/index.html")
        self.mirror = sitecheck.Mirror(self.save, self.site)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def faults(self):
        return sitecheck.check_mirror(self.site, self.mirror).faults

    def test_a_faithful_mirror_passes_and_counts_its_links(self):
        # Written as stored places: logo.png, b.html, sub/, /doc/pic.png (and with "modern"
        # the style sheet's /art/p.png); followed: a.html, pic.png twice, logo.png, b.html,
        # sub/ and a.html's deep.png (and s.css, bg.png, p.png); to the server: the outside
        # page twice (both written absolute), other.example's page and file.
        for modern, counts in ((True, (5, 10, 2, 2, 2, 0)), (False, (4, 7, 2, 2, 2, 0))):
            with self.subTest(modern=modern):
                if not modern:
                    for path in set(STORED) - set(STORED_OLD):
                        os.remove(os.path.join(self.save, HOST, path.lstrip("/")))
                report = sitecheck.check_mirror(self.site, self.mirror, modern)
                self.assertEqual(report.faults, [])
                self.assertEqual((report.rewritten_local, report.links_checked, report.to_own_server,
                                  report.made_absolute, report.to_other_servers, report.not_offline), counts)
        self.assertEqual(self.mirror.stray_files(), [])

    def test_each_kind_of_damage_is_reported(self):
        cases = [
            ("a changed byte in a picture", lambda top: write(top, "/doc/pic.png", b"\x89PNG9"),
             "differs from the server's file"),
            ("a changed byte in a page", lambda top: write(top, "/doc/index.html", REWRITTEN.replace(b"<body>", b"<bodY>")),
             "outside the rewritten links"),
            ("a link left absolute", lambda top: write(top, "/doc/index.html", INDEX), "outside the rewritten links"),
            ("a link to a page not fetched left relative",
             lambda top: write(top, "/doc/index.html", REWRITTEN.replace(*REWRITES[2][::-1])), "outside the rewritten links"),
            ("a folder link left without its index.html",
             lambda top: write(top, "/doc/index.html", REWRITTEN.replace(*REWRITES[4][::-1])), "outside the rewritten links"),
            ("a followed picture missing", lambda top: os.remove(os.path.join(top, "doc", "deep.png")),
             "which is not a stored file"),
            ("a rewritten picture missing", lambda top: os.remove(os.path.join(top, "art", "logo.png")),
             "which is not a stored file"),
            ("a followed folder's page missing", lambda top: os.remove(os.path.join(top, "doc", "sub", "index.html")),
             "which is not a stored file"),
            ("a file the server lacks", lambda top: write(top, "/doc/extra.html", b"x"), "has no file on the server"),
            ("a style sheet stored as served", lambda top: write(top, "/doc/s.css", CSS), "outside the rewritten links"),
            ("a picture of the style sheet missing", lambda top: os.remove(os.path.join(top, "doc", "bg.png")),
             "which is not a stored file"),
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

    def test_the_link_model_writes_each_link_as_the_rules_say(self):
        # A page at host/a/b/ of a crawl of /a/: (rules, link, address, stored text).
        unlimited, ftp_on = mirrorcheck.Rules("/a/"), mirrorcheck.Rules("/a/", ftp=True)
        out_server, depth_1 = mirrorcheck.Rules("/a/", out_server=True), mirrorcheck.Rules("/a/", depth_limit=1)
        cases = [
            (unlimited, b"http://host/x/y.gif", b"host/x/y.gif", b"../../../host/x/y.gif"),
            (unlimited, b"/x/y.gif", b"host/x/y.gif", b"../../../host/x/y.gif"),
            (unlimited, b"http://host/a/b/", b"host/a/b/", b"../../../host/a/b/index.html"),
            (unlimited, b"http://host/a/b", b"host/a/b", b"../../../host/a/b/index.html"),
            (unlimited, b"http://host/other/p.html", b"host/other/p.html", b"http://host/other/p.html"),
            (unlimited, b"/other/p.html", b"host/other/p.html", b"http://host/other/p.html"),
            (unlimited, b"//host/other/p.html", b"host/other/p.html", b"http://host/other/p.html"),
            (unlimited, b"../../x.html", b"host/x.html", b"http://host/x.html"),
            (unlimited, b"http://other/z.jpg", b"other/z.jpg", b"http://other/z.jpg"),
            (unlimited, b"//other/z.jpg", b"other/z.jpg", b"http://other/z.jpg"),
            (unlimited, b"ftp://ftp.host/f.zip", b"ftp.host/f.zip", b"ftp://ftp.host/f.zip"),
            (ftp_on, b"ftp://ftp.host/f.zip", b"ftp.host/f.zip", b"../../../ftp.host/f.zip"),
            (out_server, b"http://other/z.jpg", b"other/z.jpg", b"../../../other/z.jpg"),
            (out_server, b"http://host:8080/x.gif", b"host:8080/x.gif", b"../../../host-8080/x.gif"),
            (out_server, b"http://other/p.html", b"other/p.html", b"http://other/p.html"),
            (unlimited, b"c.html", b"host/a/b/c.html", b"c.html"),
            (unlimited, b"./d/../e.html", b"host/a/b/e.html", b"./d/../e.html"),
            (unlimited, b"sub/", b"host/a/b/sub/", b"sub/index.html"),
            (unlimited, b"sub", b"host/a/b/sub", b"sub/index.html"),
            (unlimited, b"../", b"host/a/", b"../index.html"),
            (unlimited, b"../../../../y.gif", b"host/y.gif", b"../../../host/y.gif"),
            (unlimited, b"photo+1.png", b"host/a/b/photo+1.png", b"photo+1.png"),
            (unlimited, b"my page.html", b"host/a/b/my%20page.html", b"my page.html"),
            (unlimited, b"http://u:p@host/x.gif", b"u:p@host/x.gif", b"../../../host/x.gif"),
            (unlimited, b"con.gif", b"host/a/b/con.gif", b"../../../host/a/b/con_.gif"),
            (unlimited, b"http://host/a/100%25.gif", b"host/a/100%25.gif", b"../../../host/a/100%25.gif"),
            (unlimited, b"https://host/x.gif", b"https://host/x.gif", b"../../../host/x.gif"),
            (unlimited, b"../../../host/x/y.gif", b"host/x/y.gif", b"../../../host/x/y.gif"),
            (unlimited, b"../../../other.example/z.jpg", None, b"../../../other.example/z.jpg"),
            (unlimited, b"../../../archives/t.zip", None, b"../../../archives/t.zip"),
            (unlimited, b"../../../images/a.gif", b"host/images/a.gif", b"../../../host/images/a.gif"),
            (unlimited, b"mailto:a@b", None, b"mailto:a@b"),
            (depth_1, b"c.html", b"host/a/b/c.html", b"http://host/a/b/c.html"),
            (depth_1, b"x.gif", b"host/a/b/x.gif", b"x.gif"),
        ]
        page = mirrorcheck.Page("http://host/a/b/page.html", depth=1)
        for rules, link, address, stored in cases:
            got = rules.outcome(page, link)
            self.assertEqual((got.address, got.stored), (address, stored), "link %r" % link)
        # What a page needs comes from any server; a frame is a page of the page's own level.
        needed, frame = mirrorcheck.NEEDED, mirrorcheck.FRAME
        for rules, link, kind, stored in ((unlimited, b"http://cdn/s.css", needed, b"../../../cdn/s.css"),
                                          (unlimited, b"//cdn/f.woff", needed, b"../../../cdn/f.woff"),
                                          (unlimited, b"/x/s.js", needed, b"../../../host/x/s.js"),
                                          (unlimited, b"http://cdn/p.html", needed, b"http://cdn/p.html"),
                                          (depth_1, b"c.html", frame, b"c.html")):
            got = rules.outcome(page, link, kind)
            self.assertEqual(got.stored, stored, "link %r of kind %s" % (link, kind))
        secure = mirrorcheck.Page("https://host/a/b/")
        for link, stored in ((b"c.html", b"c.html"), (b"//cdn/x.gif", b"https://cdn/x.gif"),
                             (b"https://Host:443/a/", b"../../../Host/a/index.html"), (b"../../x.html", b"https://host/x.html")):
            self.assertEqual(unlimited.outcome(secure, link).stored, stored, "link %r of an https page" % link)
        root = mirrorcheck.Page("http://host/")
        for link, stored in ((b"../images/a.gif", b"../host/images/a.gif"), (b"..", b"http://host/")):
            self.assertEqual(unlimited.outcome(root, link).stored, stored, "link %r of the root page" % link)

    def test_the_scan_takes_the_links_the_program_takes(self):
        # (page, links with "modern" on, links with it off when they differ)
        cases = [
            (b"<img alt=\"<< \x91\x4f\x82\xd6\" title=\"a > b\" src=\"prev.gif\">", [b"prev.gif"], None),
            (b"<img alt='src' lowsrc='l.gif' srcset='a.png 2x' data-src=d.gif src=' a b.gif '>",
             [b"a.png", b"d.gif", b"a b.gif"], [b"a b.gif"]),
            (b"<a href='dir/page.html?x=1#top' onclick=\"window.open('w.html','n')\">", [b"w.html", b"dir/page.html"],
             None),
            (b"<p title=\"a > b\"><a href=a\"b.html>", [b'a"b.html'], None),
            (b"<img alt=\"" + b"x" * 4100 + b"\" src=a.gif>rest<img src=b.gif>", [b"b.gif"], None),
            (b"<img alt=\"" + b"x" * 4000 + b"\" src=a.gif>", [b"a.gif"], None),
            (b"<!-- a > b --><COMMENT><img src=x.gif></COMMENT><iframe src=i.html><td background=t.gif>",
             [b"i.html", b"t.gif"], [b"t.gif"]),
            (b"<img src='" + b"x" * 260 + b"'><img src=\"" + b"x" * 259 + b"\">", [b"x" * 259], None),
            (b"<link rel='Alternate StyleSheet' href=a.css><link rel=next href=n.html><link rel='shortcut icon' "
             b"href=/f.ico><script src=s.js?v=1></script><input type=image src=i.gif><input src=t.gif>",
             [b"a.css", b"/f.ico", b"s.js", b"i.gif"], []),
            (b"<img srcset=' a.png 1x,b.png?v=2 2x, c.png, d.png 480w'><source srcset=s.webp><video poster=p.jpg "
             b"src=v.mp4><object data=o.svg>", [b"a.png", b"b.png", b"c.png", b"d.png", b"s.webp", b"p.jpg", b"v.mp4",
                                                 b"o.svg"], []),
            (b"<meta http-equiv=Refresh content=\"5; URL='r.html'\"><meta name=x content=\"url=no.html\">",
             [b"r.html"], []),
            (b"<p style=\"background:url( 'bg.png' )\"><style>/* url(c.png) */ @import \"i.css\"; a{content:\"url(s)\"}"
             b" b{background:url(d.png#x)} i{src:url(data:font/woff;x)}</style>", [b"bg.png", b"i.css", b"d.png",
                                                                              b"data:font/woff;x"], []),
        ]
        for page, modern, old in cases:
            for on, expected in ((True, modern), (False, modern if old is None else old)):
                links = mirrorcheck.scan(page, on).links
                self.assertEqual([l.text for l in links], expected, "page %r, modern %s" % (page[:70], on))
                for link in links:
                    self.assertEqual(page[link.start:link.start + len(link.text)], link.text,
                                     "where %r stands" % link.text)
        sheet = b"@import url(\"a.css\");@import 'b.css' screen;/* url(c.png) */x{background:URL(d.png)}y{content:'url(e)'}"
        self.assertEqual([l.text for l in mirrorcheck.scan_style_sheet(sheet).links], [b"a.css", b"b.css", b"d.png"])
        many = b"<img srcset='" + b", ".join(b"%d.png" % i for i in range(70)) + b"'><a href='" + b"x" * 300 + b"'>"
        self.assertEqual((len(mirrorcheck.scan(many).links), mirrorcheck.scan(many).unreadable), (64, 7),
                         "64 links of a tag read, the rest and a text over 259 bytes counted")
        stored, _ = mirrorcheck.expected_page(b"<BASE HREF='http://h/d/'><a href=/d/x.html>", mirrorcheck.Rules("/d/"),
                                              mirrorcheck.Page("http://h/d/"))
        self.assertEqual(stored, b"<!--E HREF='http://h/d/'--><a href=../../h/d/x.html>")

    def test_wget_differences_get_their_reasons(self):
        self.maxDiff = None
        parvel = set(p.encode() for p in STORED)
        wget = {b"/doc/index.html", b"/doc/a.html", b"/doc/deep.png", b"/doc/b.html", b"/doc/sub/index.html",
                b"/doc/pic.png", b"/doc/s.css", b"/doc/bg.png", b"/doc/n.html"}
        for modern, parvel_stored, reasons in (
                (True, parvel, {("parvel", sitecheck.REASON_OUTSIDE): [b"/art/logo.png", b"/art/p.png"],
                                ("wget", sitecheck.REASON_LINK_REL): [b"/doc/n.html"]}),
                (False, set(p.encode() for p in STORED_OLD),
                 {("parvel", sitecheck.REASON_OUTSIDE): [b"/art/logo.png"],
                  ("wget", sitecheck.REASON_NOT_SCANNED): [b"/doc/bg.png", b"/doc/n.html", b"/doc/s.css"]})):
            comparison = sitecheck.compare_with_wget(self.site, parvel_stored, wget, modern)
            self.assertEqual((comparison["reasons"], comparison["unexplained"]), (reasons, []), "modern %s" % modern)
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
