# tests/e2e/test_demo_crawl.py — the demo site crawled by the real parvel.exe at each depth, with the other-server and FTP options off and on: the stored files, the rewritten pages, the offline links, the start page shortcut and an unchanged second run.
import os
import shutil
import sys
import tempfile
import unittest
import urllib.request

import e2econfig
import mirrorcheck
from parveldriver import Driver, fresh_settings, session_env, windows_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "demo-site"))
import serve  # noqa: E402

ADDRESS, SEARCH, DEPTH_RADIO = 1000, 1001, {0: 1018, 1: 1019, 2: 1020, None: 1021}
TITLE = "ようこそ！太郎のソフト工房へ"

# Depth 0: the start page with its pictures, sound and plug-in, and the files
# (not pages) its links name, which pass one level below the limit.
START = {"hp/index.html", "hp/images/bg.gif", "hp/sound/bgm.mid", "hp/images/logo.gif", "hp/images/map.gif",
         "hp/images/new.gif", "hp/images/tile.gif", "hp/plugin/clock.swf", "hp/files/setup.exe",
         "hp/files/archive.zip"}
# Pages one link below the start page, with their frames and pictures.
LEVEL1 = {"hp/frames.html", "hp/menu.html", "hp/main.html", "hp/diary/index.html", "hp/diary/1999/august.html",
          "hp/gallery/index.html", "hp/gallery/photos/cat.jpg", "hp/gallery/photos/fuji.jpg", "hp/links.html",
          "hp/profile.html", "hp/jis.html", "hp/popup.html"}
# Two links below: the July diary (from the diary index and from August) and its sound.
LEVEL2 = {"hp/diary/1999/july.html", "hp/sound/chime.wav"}
EVERYTHING = START | LEVEL1 | LEVEL2


class DemoCrawlTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = session_env(e2econfig.STATE)
        cls.demo = serve.start_demo(idle_timeout=300)
        cls.main, cls.other, cls.ftp = (s.host.replace(":", "-") for s in (cls.demo.main, cls.demo.other, cls.demo.ftp))

    @classmethod
    def tearDownClass(cls):
        cls.demo.stop()

    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="parvel-demo-")
        self.save = os.path.join(self.top, "save")
        self.shortcuts = os.path.join(self.top, "shortcuts")
        os.makedirs(self.save)
        os.makedirs(self.shortcuts)

    def tearDown(self):
        shutil.rmtree(self.top, ignore_errors=True)

    def crawl(self, depth, out_server="0", ftp="0"):
        """One run of the start page at `depth` (None: unlimited); returns the log."""
        fresh_settings(self.env, self.save, out_server=out_server, ftp=ftp,
                       shortcut=windows_path(self.env, self.shortcuts))
        driver = Driver(e2econfig.DRIVER, self.env)
        try:
            driver.start(windows_path(self.env, e2econfig.PARVEL))
            driver.press(DEPTH_RADIO[depth])
            driver.set_text(ADDRESS, self.demo.start_url)
            driver.click(SEARCH)
            driver.wait_caption("ｽｷｯﾌﾟ", 30000)
            driver.wait_idle(240000)
            lines = driver.log_lines()
            self.assertEqual(driver.close(), "0")
            return lines
        finally:
            driver.kill()

    def stored(self):
        return mirrorcheck.stored_files(self.save)

    def on_main(self, paths):
        return {"%s/%s" % (self.main, p) for p in paths}

    def served(self, path):
        with urllib.request.urlopen(self.demo.main.url("/" + path), timeout=10) as answer:
            return answer.read()

    def assert_only_links_rewritten(self, path):
        """The stored page is the served page but for its rewritten links; returns those."""
        stored = open(os.path.join(self.save, self.main, path), "rb").read()
        rewritten, faults = mirrorcheck.compare_rewritten_page(self.served(path), stored, path,
                                                               self.demo.main.host.encode())
        self.assertEqual(faults, [])
        return rewritten

    def test_each_depth_stores_its_levels_of_the_start_folder(self):
        for depth, expected in ((0, START), (1, START | LEVEL1), (2, EVERYTHING), (None, EVERYTHING)):
            with self.subTest(depth=depth):
                shutil.rmtree(self.save)
                os.makedirs(self.save)
                self.crawl(depth)
                self.assertEqual(self.stored(), self.on_main(expected))

    def test_unlimited_run_with_other_servers_and_ftp_browses_offline_and_a_second_run_fetches_nothing(self):
        lines = self.crawl(None, out_server="1", ftp="1")
        stored = self.stored()
        # The other server gives its picture (not its page); FTP gives its file.
        self.assertEqual(stored, self.on_main(EVERYTHING) | {self.other + "/banner.gif", self.ftp + "/pub/readme.txt"},
                         lines)
        self.assertEqual(sorted(os.listdir(self.top)), ["save", "shortcuts"], "nothing is written beside the save folder")
        # Every local link of a stored page leads to a stored file, but for the
        # two that name pages outside the start folder /hp/, which are not followed.
        missing = [(page, link) for page, link, _ in mirrorcheck.missing_targets(self.save)]
        self.assertEqual(missing, [(self.main + "/hp/links.html", "../other/outside.html")])
        rewritten = self.assert_only_links_rewritten("hp/index.html")
        main = self.demo.main.host.encode()
        self.assertEqual(rewritten, [b"http://%s/hp/links.html" % main, b"/hp/images/new.gif",
                                     b"http://%s/hp/profile.html" % main, b"http://%s/banner.gif" % self.demo.other.host.encode()])
        self.assertEqual(self.assert_only_links_rewritten("hp/links.html"),
                         [b"ftp://%s/pub/readme.txt" % self.demo.ftp.host.encode()])
        for page in ("hp/diary/1999/august.html", "hp/diary/1999/july.html", "hp/gallery/index.html"):
            self.assert_only_links_rewritten(page)
        self.assertEqual(os.listdir(self.shortcuts), [TITLE + ".LNK"])
        with open(os.path.join(self.shortcuts, TITLE + ".LNK"), "rb") as f:
            link = f.read()
        start_page = windows_path(self.env, os.path.join(self.save, self.main, "hp", "index.html"))
        self.assertIn(start_page.encode("cp932"), link, "the shortcut leads to the stored start page")

        # Second run over the unchanged site: the crawl reaches every file again
        # through the stored, rewritten pages; no picture, sound or download is
        # written again (its change time stays), and every file keeps its bytes.
        # Pages are written back after each scan, and a rewritten page, whose
        # size no longer matches the server's, is fetched and rewritten anew.
        before = self.contents_and_change_times()
        self.demo.main.clear_log()
        lines = self.crawl(None, out_server="1", ftp="1")
        after = self.contents_and_change_times()
        self.assertEqual({p: v[0] for p, v in after.items()}, {p: v[0] for p, v in before.items()})
        written = {p for p in after if after[p][1] != before[p][1]}
        self.assertEqual({p for p in written if not p.endswith(".html")}, set(), lines)
        asked = sorted(e["path"] for e in self.demo.main.log_entries())
        expected = sorted("/hp/" if p == "hp/index.html" else "/" + p for p in EVERYTHING)
        self.assertEqual(asked, expected, "each file is asked for once, the start page by its folder")

    def contents_and_change_times(self):
        """Bytes and inode change time of every stored file: a file written
        again, even with the same bytes and dates, gets a new change time."""
        result = {}
        for path in self.stored():
            full = os.path.join(self.save, path)
            with open(full, "rb") as f:
                result[path] = (f.read(), os.stat(full).st_ctime_ns)
        return result

    def test_links_to_other_servers_and_ftp_stay_unfetched_when_their_options_are_off(self):
        self.crawl(None)
        self.assertEqual(self.stored(), self.on_main(EVERYTHING))
        links = open(os.path.join(self.save, self.main, "hp", "links.html"), "rb").read()
        self.assertIn(b'HREF="ftp://%s/pub/readme.txt"' % self.demo.ftp.host.encode(), links)
        self.assertIn(b'HREF="http://%s/index.html"' % self.demo.other.host.encode(), links)
        # A picture of another server is rewritten all the same (it would be
        # stored there with the option on); its file is not fetched.
        index = open(os.path.join(self.save, self.main, "hp", "index.html"), "rb").read()
        self.assertIn(b'SRC="../../%s/banner.gif"' % self.demo.other.host.encode(), index)


if __name__ == "__main__":
    unittest.main()
