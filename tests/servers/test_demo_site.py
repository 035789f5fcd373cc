# tests/servers/test_demo_site.py — checks the demo site and serving it.
# Page encodings, that every link leads to a file that exists, the features it is meant
# to show, and serving it with all three servers.
import ftplib
import glob
import http.client
import os
import re
import sys
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO = os.path.join(HERE, "..", "..", "tools", "demo-site")
sys.path.insert(0, DEMO)
import serve  # noqa: E402

SITE = os.path.join(DEMO, "site")
OTHER_SITE = os.path.join(DEMO, "other-site")
FTP_ROOT = os.path.join(DEMO, "ftp-root")
CODECS = {"Shift_JIS": "cp932", "EUC-JP": "euc_jp", "ISO-2022-JP": "iso2022_jp", "UTF-8": "utf-8"}
LINK = re.compile(r"""(?i)\b(?:href|src|background)\s?=\s*["']?([^"'\s>]+)""")
WINDOW_OPEN = re.compile(r"""(?i)window\.open\(\s*['"]([^'"]+)""")
COMMENT = re.compile(r"<!--.*?-->", re.S)


def pages():
    found = glob.glob(os.path.join(DEMO, "**", "*.html"), recursive=True)
    return sorted(os.path.relpath(p, DEMO) for p in found)


def read_page(relative):
    with open(os.path.join(DEMO, relative), "rb") as f:
        data = f.read()
    # <META charset=...>, quoted or not, or in an http-equiv Content-Type; a
    # UTF-8 byte-order mark alone declares UTF-8.
    declared = re.search(rb"""(?i)<META[^>]*?charset=["']?([A-Za-z0-9_-]+)""", data)
    if declared is None and not data.startswith(b"\xef\xbb\xbf"):
        raise AssertionError("%s declares no charset" % relative)
    charset = declared.group(1).decode("ascii") if declared else "UTF-8"
    codec = {name.lower(): codec for name, codec in CODECS.items()}[charset.lower()]
    return data, charset, data.decode(codec)


def links_of(text):
    text = COMMENT.sub("", text)
    return LINK.findall(text) + WINDOW_OPEN.findall(text)


def target_file(page, link):
    """The file a link of a page leads to, or None for links outside the demo servers."""
    link = urllib.parse.unquote(re.split(r"[?#]", link)[0])  # as the server reads the path
    if re.match(r"(?i)(mailto|javascript|https|data|about|blob):", link):
        return None
    roots = {"@HOST@": SITE, "@OTHER@": OTHER_SITE, "@FTP@": FTP_ROOT, "@PORTED@": SITE}
    match = re.match(r"(?i)(?:http|ftp)://(@[A-Z]+@)(/.*)$", link)
    if match:
        root, path = roots[match.group(1)], match.group(2)
    elif re.match(r"(?i)[a-z]+:", link):
        raise AssertionError("%s links to an outside address %s" % (page, link))
    elif link.startswith("/"):
        root = SITE if page.startswith("site" + os.sep) else OTHER_SITE
        path = link
    else:
        folder = os.path.dirname(os.path.join(DEMO, page))
        path = os.path.normpath(os.path.join(folder, link))
        root = None
    if root is not None:
        path = os.path.join(root, path.lstrip("/"))
    if path.endswith("/") or os.path.isdir(path):
        path = os.path.join(path, "index.html")
    return os.path.normpath(path)


class DemoFilesTest(unittest.TestCase):
    def test_pages_decode_in_their_declared_charset_and_have_titles(self):
        charsets = set()
        for page in pages():
            with self.subTest(page=page):
                data, charset, text = read_page(page)
                charsets.add(charset)
                self.assertRegex(text, r"(?is)<TITLE>[^<]+</TITLE>")
                self.assertIn(b"\r\n", data)
                if charset == "ISO-2022-JP":
                    self.assertTrue(all(b < 0x80 for b in data))
                    self.assertIn(b"\x1b$B", data)
        self.assertEqual(charsets, set(CODECS))

    def test_every_link_leads_to_an_existing_file(self):
        for page in pages():
            _, _, text = read_page(page)
            for link in links_of(text):
                with self.subTest(page=page, link=link):
                    target = target_file(page, link)
                    if target is not None:
                        self.assertTrue(os.path.isfile(target), "%s -> %s" % (link, target))

    def test_the_site_shows_every_feature(self):
        texts = {page: read_page(page)[2] for page in pages()}
        everything = "\n".join(texts.values())
        features = {
            "frames": r"<FRAMESET[^>]*>\s*<FRAME SRC=",
            "body background": r"<BODY BACKGROUND=",
            "table or cell background": r"<T[ADHR][^>]* BACKGROUND=",
            "background sound": r"<BGSOUND SRC=\"[^\"]+\.mid\"",
            "embedded sound": r"<EMBED SRC=\"[^\"]+\.wav\"",
            "embedded object": r"<EMBED SRC=\"[^\"]+\.swf\"",
            "image map": r"<AREA [^>]*HREF=",
            "window.open": r"window\.open\('[^']+\.html'",
            "program to ignore": r"HREF=\"[^\"]+\.exe\"",
            "archive to ignore": r"HREF=\"[^\"]+\.zip\"",
            "mailto": r"HREF=\"mailto:",
            "javascript": r"HREF=\"javascript:",
            "other server page": r"HREF=\"http://@OTHER@/[^\"]+\.html\"",
            "other server picture": r"SRC=\"http://@OTHER@/[^\"]+\.gif\"",
            "ftp link": r"HREF=\"ftp://@FTP@/",
            "absolute link with host": r"HREF=\"http://@HOST@/hp/",
            "absolute path": r"SRC=\"/hp/",
            "outside the start folder": r"HREF=\"\.\./other/outside\.html\"",
            "query": r"HREF=\"[^\"]+\.html\?[^\"]+\"",
            "fragment": r"HREF=\"[^\"]+\.html#[^\"]+\"",
            "base tag": r"<BASE HREF=",
            "comment hiding a link": r"<!--[^>]*<A HREF=\"secret\.html\">",
            "half-width katakana": "[\uff61-\uff9f]",
            "quoted < and > before a link": r"<img alt=\"<< [^\"]*\" title=\"a > b\" src=\"images/prev\.gif\">",
            "folder links": r"HREF=\"diary/\"[\s\S]*HREF=\"\.\./hp/\"",
            "main site named with a port": r"SRC=\"http://@PORTED@/hp/images/",
            "picture named with a plus": r"SRC=\"images/photo\+1\.gif\"",
        }
        for name, expression in features.items():
            with self.subTest(feature=name):
                self.assertIsNotNone(re.search(expression, everything), "no page matches %r" % expression)
        # The start page holds an inline SVG whose own <title> comes after the page's.
        start = texts[os.path.join("site", "hp", "index.html")]
        self.assertRegex(start, r"(?s)<TITLE>[^<]+</TITLE>.*<BODY.*<svg[^>]*><title>[^<]+</title>")
        self.assertTrue(os.path.isfile(os.path.join(SITE, "hp", "diary", "1999", "july.html")))
        self.assertFalse(os.path.exists(os.path.join(SITE, "hp", "secret.html")))

    def test_binary_assets_have_their_formats(self):
        signatures = {".gif": (b"GIF89a", b"GIF87a"), ".jpg": (b"\xff\xd8\xff",), ".wav": (b"RIFF",),
                      ".mid": (b"MThd",), ".swf": (b"FWS",), ".zip": (b"PK\x03\x04",), ".exe": (b"MZ",)}
        seen = set()
        for path in glob.glob(os.path.join(DEMO, "**", "*.*"), recursive=True):
            extension = os.path.splitext(path)[1].lower()
            if extension in signatures:
                seen.add(extension)
                with self.subTest(path=path), open(path, "rb") as f:
                    self.assertTrue(f.read(8).startswith(signatures[extension]))
        self.assertEqual(seen, set(signatures))


class DemoServersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.demo = serve.start_demo(idle_timeout=120)

    @classmethod
    def tearDownClass(cls):
        cls.demo.stop()

    def get(self, server, path):
        conn = http.client.HTTPConnection(server.address, server.port, timeout=10)
        try:
            conn.request("GET", path)
            response = conn.getresponse()
            return response.status, response.getheader("Content-Type"), response.read()
        finally:
            conn.close()

    def test_start_page_has_the_run_time_addresses(self):
        self.assertEqual(self.demo.start_url, "http://%s/hp/" % self.demo.main.host)
        status, ctype, body = self.get(self.demo.main, "/hp/")
        self.assertEqual((status, ctype), (200, "text/html"))
        text = body.decode("cp932")
        self.assertIn("http://%s/hp/links.html" % self.demo.main.host, text)
        self.assertIn("http://%s/banner.gif" % self.demo.other.host, text)
        mends = self.get(self.demo.main, "/hp/mends.html")[2].decode("cp932")
        self.assertIn("http://%s/hp/images/logo.gif" % self.demo.ported.host, mends)
        self.assertEqual(self.get(self.demo.ported, "/hp/images/logo.gif")[:2], (200, "image/gif"))
        self.assertNotIn("@HOST@", text)
        self.assertNotIn("@OTHER@", text)
        links = self.get(self.demo.main, "/hp/links.html")[2].decode("cp932")
        self.assertIn("ftp://%s/pub/readme.txt" % self.demo.ftp.host, links)

    def test_servers_sit_on_their_own_addresses_or_all_on_127_0_0_1(self):
        servers = (self.demo.main, self.demo.other, self.demo.ftp, self.demo.ported)
        addresses = [server.host for server in servers]
        if os.geteuid() == 0:
            self.assertEqual(addresses, ["127.0.0.21", "127.0.0.22", "127.0.0.23", "127.0.0.21:8080"])
            self.assertEqual(self.demo.start_url, "http://127.0.0.21/hp/")
        else:
            self.assertEqual([server.address for server in servers], ["127.0.0.1"] * 4)
        shared = serve.start_demo(idle_timeout=60, own_addresses=False)
        try:
            servers = (shared.main, shared.other, shared.ftp, shared.ported)
            self.assertEqual([s.address for s in servers], ["127.0.0.1"] * 4)
            self.assertEqual(shared.start_url, "http://127.0.0.1:%d/hp/" % shared.main.port)
            self.assertEqual(self.get(shared.main, "/hp/")[0], 200)
        finally:
            shared.stop()

    def test_other_server_and_ftp_serve_their_files(self):
        status, ctype, body = self.get(self.demo.other, "/banner.gif")
        self.assertEqual((status, ctype, body[:6]), (200, "image/gif", b"GIF89a"))
        ftp = ftplib.FTP(timeout=10)
        try:
            ftp.connect(self.demo.ftp.address, self.demo.ftp.port)
            ftp.login()
            chunks = []
            ftp.retrbinary("RETR /pub/readme.txt", chunks.append)
        finally:
            ftp.close()
        with open(os.path.join(FTP_ROOT, "pub", "readme.txt"), "rb") as f:
            self.assertEqual(b"".join(chunks), f.read())


if __name__ == "__main__":
    unittest.main()
