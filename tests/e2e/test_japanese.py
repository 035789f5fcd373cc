# tests/e2e/test_japanese.py — the demo site's Japanese names crawled by the real parvel.exe.
# A start address typed in Japanese; each name as requested, stored, logged and rewritten, the
# stored pages opened from disk in Chromium, and an unchanged second run.
import collections
import os
import posixpath
import re
import shutil
import sys
import tempfile
import unittest
import urllib.parse

import browsercheck
import e2econfig
import mirrorcheck
from parveldriver import Driver, fresh_settings, session_env, windows_path
from test_demo_crawl import ADDRESS, DEPTH_RADIO, SEARCH

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "demo-site"))
import serve  # noqa: E402

START = "jp/日本語.html"
# Each page with the encoding its links are written in.
PAGES = {START: "utf-8", "jp/日本/紹介.html": "utf-8", "jp/sjis/目次.html": "cp932", "jp/euc/目次.html": "euc_jp"}
# Each link: the page, the link as the page writes it (in the page's encoding), and the
# name it is stored under (below the host folder; what code page 932 cannot hold, and
# '%', as the escapes of its UTF-8 bytes).
LINKS = [
    (START, "%E6%97%A5%E6%9C%AC/%E5%86%99%E7%9C%9F.png", "jp/日本/写真.png"),
    (START, "日本/花.png", "jp/日本/花.png"),
    (START, "日本/紹介.html", "jp/日本/紹介.html"),
    (START, "sjis/目次.html", "jp/sjis/目次.html"),
    (START, "euc/目次.html", "jp/euc/目次.html"),
    (START, "記号/笑顔😀.png", "jp/記号/笑顔%F0%9F%98%80.png"),
    (START, "記号/한글.png", "jp/記号/%ED%95%9C%EA%B8%80.png"),
    (START, "記号/波〜.png", "jp/記号/波%E3%80%9C.png"),
    (START, "記号/波～.png", "jp/記号/波～.png"),
    (START, "記号/割引50%25.png", "jp/記号/割引50%25.png"),
    ("jp/日本/紹介.html", "桜.png", "jp/日本/桜.png"),
    ("jp/sjis/目次.html", "表紙.png", "jp/sjis/表紙.png"),
    ("jp/sjis/目次.html", "ソフト/画面.png", "jp/sjis/ソフト/画面.png"),
    ("jp/euc/目次.html", "風景.png", "jp/euc/風景.png"),
    ("jp/euc/目次.html", "資料/地図.png", "jp/euc/資料/地図.png"),
]
# The server's path of each page: each is linked (or typed) in UTF-8.
PAGE_PATHS = {page: "/" + urllib.parse.quote(page) for page in PAGES}
LINK = re.compile(rb'\s(?:src|href)="([^"]*)"')


def escaped(data):
    """The bytes beyond ASCII of a link as %XX escapes: what the crawl sends for it."""
    return "".join(chr(b) if b < 0x80 else "%%%02X" % b for b in data)


def requested(page, link):
    """The path the crawl asks for: the link's bytes in its page's encoding, escaped."""
    return urllib.parse.urljoin(PAGE_PATHS[page], escaped(link.encode(PAGES[page])))


def sent(path):
    """The bytes of a path the server logged (its text is the bytes read as ISO-8859-1)."""
    return urllib.parse.unquote_to_bytes(path.encode("latin-1"))


def as_browsed(data, encoding):
    """The text of a link of a stored page as a browser reads it from disk: the page's
    characters, then the escapes as UTF-8."""
    return urllib.parse.unquote_to_bytes(data.decode(encoding, "replace")).decode("utf-8", "replace")


class JapaneseNamesTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.env = session_env(e2econfig.STATE)
        cls.demo = serve.start_demo(idle_timeout=300)
        cls.folder = cls.demo.main.host.replace(":", "-")

    @classmethod
    def tearDownClass(cls):
        cls.demo.stop()

    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="parvel-japanese-")
        self.save = os.path.join(self.top, "save")
        os.makedirs(self.save)

    def tearDown(self):
        shutil.rmtree(self.top, ignore_errors=True)

    def crawl(self):
        """One unlimited run from the start address typed in Japanese; returns the log
        lines and the paths the server was asked for, with their counts."""
        for server in (self.demo.main, self.demo.other, self.demo.ported):
            server.clear_log()
        shortcuts = os.path.join(self.top, "shortcuts")
        os.makedirs(shortcuts, exist_ok=True)
        fresh_settings(self.env, self.save, out_server="0", shortcut=windows_path(self.env, shortcuts))
        driver = Driver(e2econfig.DRIVER, self.env)
        try:
            driver.start(windows_path(self.env, e2econfig.PARVEL))
            driver.press(DEPTH_RADIO[None])
            driver.set_text(ADDRESS, "http://%s/%s" % (self.demo.main.host, START))
            driver.click(SEARCH)
            driver.wait_caption("ｽｷｯﾌﾟ", 30000)
            driver.wait_idle(240000)
            lines = driver.log_lines()
            self.assertEqual(driver.close(), "0")
        finally:
            driver.kill()
        asked = collections.Counter(e["path"] for s in (self.demo.main, self.demo.other, self.demo.ported)
                                    for e in s.log_entries())
        return lines, asked

    def snapshot(self):
        """Bytes and inode change time of every stored file (a file written again, even
        with the same bytes, gets a new change time)."""
        result = {}
        for path in mirrorcheck.stored_files(self.save):
            with open(os.path.join(self.save, path), "rb") as f:
                result[path] = (f.read(), os.stat(os.path.join(self.save, path)).st_ctime_ns)
        return result

    def rewritten(self):
        """{(page, link as served): its text in the stored page}, pairing the links of
        each stored page with those of the served one in order."""
        found = {}
        for page in PAGES:
            served = [link for p, link, _ in LINKS if p == page]
            try:
                with open(os.path.join(self.save, self.folder, page), "rb") as f:
                    stored = LINK.findall(f.read())
            except OSError:
                stored = []
            for link, text in zip(served, stored):
                found[(page, link)] = text
        return found

    def test_names_requested_stored_logged_rewritten_browsed_and_a_second_run(self):
        lines, asked = self.crawl()
        wanted = collections.Counter([requested(START, START.split("/")[-1])] +
                                     [requested(page, link) for page, link, _ in LINKS])
        stored_names = {self.folder + "/" + p for p in [START] + [s for _, _, s in LINKS]}
        rewritten = self.rewritten()
        print("\nper link: page encoding | as linked | as requested | as stored | as rewritten")
        by_bytes = {}
        for path in asked:
            by_bytes.setdefault(sent(path), []).append(path if path.isascii() else "raw " + escaped(sent(path)))
        for page, link, stored in LINKS:
            ask = by_bytes.get(sent(requested(page, link)), ["(not asked)"])
            text = rewritten.get((page, link))
            print("%s | %s | %s | %s | %s" % (PAGES[page], link, " ".join(ask), stored,
                                              "(none)" if text is None else text.decode(PAGES[page], "replace")))

        with self.subTest("each address asked for once, with the bytes its page writes, escaped"):
            self.assertEqual({sent(p): n for p, n in asked.items()}, {sent(p): n for p, n in wanted.items()},
                             "\n".join(lines))
            self.assertEqual([p for p in asked if not p.isascii()], [])
        with self.subTest("stored under Japanese names, escapes for what code page 932 lacks"):
            self.assertEqual(mirrorcheck.stored_files(self.save), stored_names, "\n".join(lines))
        with self.subTest("the access log names the stored paths in Japanese"):
            base = windows_path(self.env, self.save) + "\\"
            self.assertEqual(sorted(p for p in stored_names if base + p.replace("/", "\\") not in lines), [],
                             "\n".join(lines))
        with self.subTest("each link of a stored page leads to its stored file as a browser reads it"):
            faults = []
            for page, link, stored in LINKS:
                text = rewritten.get((page, link))
                actual = None if text is None else posixpath.normpath(
                    posixpath.join(self.folder, posixpath.dirname(page), as_browsed(text, PAGES[page])))
                expected = self.folder + "/" + stored
                if actual != expected:
                    faults.append((page, link, expected, actual))
            self.assertEqual(faults, [])
        with self.subTest("Chromium opens every stored page from disk, every picture and link"):
            faults = []
            results = browsercheck.inspect_pages([os.path.join(self.save, self.folder, p) for p in PAGES])
            for result in results:
                for address, loaded in result.get("images", []):
                    if not loaded or browsercheck.path_of_url(address) is None:
                        faults.append((result["page"], "picture", address))
                for address in result.get("links", []):
                    local = browsercheck.path_of_url(address)
                    if local is None or not os.path.isfile(local):
                        faults.append((result["page"], "link", address))
                if "error" in result:
                    faults.append((result["page"], result["error"]))
            self.assertEqual((len(results), faults), (len(PAGES), []))

        # Unchanged second run: nothing new, no file asked for twice, every file keeps
        # its bytes and only pages may be written back.
        before = self.snapshot()
        lines, asked = self.crawl()
        after = self.snapshot()
        with self.subTest("second run"):
            self.assertEqual({p: v[0] for p, v in after.items()}, {p: v[0] for p, v in before.items()})
            self.assertEqual(sorted(p for p in after if after[p][1] != before[p][1] and not p.endswith(".html")), [],
                             "\n".join(lines))
            known = {sent(p) for p in wanted}
            self.assertEqual({p: n for p, n in asked.items() if n > 1 or sent(p) not in known}, {}, "\n".join(lines))


if __name__ == "__main__":
    unittest.main()
