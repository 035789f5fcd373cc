# tests/e2e/test_demo_crawl.py — the demo site crawled by the real parvel.exe at each depth.
# With the other-server and FTP options off and on: the stored files, every stored page
# as the link rules write it, the offline links on disk and in Chromium, the start page
# shortcut and an unchanged second run.
import os
import shutil
import sys
import tempfile
import unittest
import urllib.request

import browsercheck
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
          "hp/profile.html", "hp/jis.html", "hp/popup.html", "hp/mends.html", "hp/images/prev.gif",
          "hp/images/photo+1.gif"}
# Two links below: the July diary (from the diary index and from August) and its sound.
LEVEL2 = {"hp/diary/1999/july.html", "hp/sound/chime.wav"}
EVERYTHING = START | LEVEL1 | LEVEL2


class DemoCrawlTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = session_env(e2econfig.STATE)
        cls.demo = serve.start_demo(idle_timeout=300)
        servers = (cls.demo.main, cls.demo.other, cls.demo.ftp, cls.demo.ported)
        cls.main, cls.other, cls.ftp, cls.ported = (s.host.replace(":", "-") for s in servers)
        names = ("MAIN", "OTHER", "FTP", "PORTED")
        cls.hosts = {name: s.host.encode() for name, s in zip(names, servers)}
        cls.hosts.update({name + "_FOLDER": s.host.replace(":", "-").encode() for name, s in zip(names, servers)})

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

    def assert_pages_as_the_rules_write_them(self, rules, changes):
        """Every stored page of the main server is the served page but for exactly the link
        rewrites the rules call for; `changes` lists, for some pages, the (served, stored)
        links expected to differ, with MAIN, OTHER, FTP, PORTED standing for the servers'
        hosts and MAIN_FOLDER, OTHER_FOLDER, ... for their folders."""
        pages = sorted(p for p in self.stored() if p.startswith(self.main + "/") and p.endswith(".html"))
        self.assertGreater(len(pages), 10)
        for stored_path in pages:
            path = stored_path.split("/", 1)[1]
            with self.subTest(page=path):
                address = self.demo.main.url("/" + path[:-len("index.html")] if path == "hp/index.html" else "/" + path)
                with open(os.path.join(self.save, stored_path), "rb") as f:
                    stored = f.read()
                rewritten, faults = mirrorcheck.compare_rewritten_page(self.served(path), stored, rules,
                                                                       mirrorcheck.Page(address))
                self.assertEqual(faults, [])
                if path in changes:
                    expected = [tuple(self.with_hosts(t) for t in change) for change in changes[path]]
                    self.assertEqual(rewritten, expected, "the links written otherwise than served")

    def with_hosts(self, text):
        for name in sorted(self.hosts, key=len, reverse=True):
            text = text.replace(name.encode(), self.hosts[name])
        return text

    def assert_offline_in_browser(self):
        """Every stored page of the main server opened from disk in Chromium: each picture
        loads from the mirror, each local link opens a stored file (no folder listing)."""
        if not os.path.exists(browsercheck.CHROMIUM) and not os.environ.get("CI"):
            print("\nno Chromium (tools/setup-machine.sh installs it): the pages were not opened in a browser")
            return
        pages = sorted(os.path.join(self.save, p) for p in self.stored() if p.startswith(self.main + "/")
                       and p.endswith(".html"))
        faults, local_links = [], 0
        results = browsercheck.inspect_pages(pages)
        self.assertEqual(len(results), len(pages))
        for result in results:
            for address, loaded in result.get("images", []):
                if not loaded or browsercheck.path_of_url(address) is None:
                    faults.append("%s: picture %s %s" % (result["page"], address,
                                                         "from a server" if loaded else "not loaded"))
            for address in result.get("links", []):
                local = browsercheck.path_of_url(address)
                if local is not None:
                    local_links += 1
                    if not os.path.isfile(local) or not local.startswith(self.save + os.sep):
                        faults.append("%s: link %s opens no stored file" % (result["page"], address))
            if "error" in result:
                faults.append("%s: %s" % (result["page"], result["error"]))
        self.assertEqual(faults, [])
        self.assertGreater(local_links, 20)

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
        # The other server gives its picture (not its page); FTP gives its file; the main
        # site named with a port is another server, which gives its picture too.
        self.assertEqual(stored, self.on_main(EVERYTHING) | {self.other + "/banner.gif", self.ftp + "/pub/readme.txt",
                                                              self.ported + "/hp/images/logo.gif"}, lines)
        self.assertEqual(sorted(os.listdir(self.top)), ["save", "shortcuts"], "nothing is written beside the save folder")
        # What the crawl fetched leads to its stored file; the pages outside the start
        # folder and the other server's page lead to the servers.
        self.assertEqual(mirrorcheck.missing_targets(self.save), [], "local links that lead to no stored file")
        self.assert_pages_as_the_rules_write_them(mirrorcheck.Rules("/hp/", out_server=True, ftp=True), {
            "hp/index.html": [(b"http://MAIN/hp/links.html", b"../../MAIN_FOLDER/hp/links.html"),
                              (b"/hp/images/new.gif", b"../../MAIN_FOLDER/hp/images/new.gif"),
                              (b"http://MAIN/hp/profile.html", b"../../MAIN_FOLDER/hp/profile.html"),
                              (b"http://OTHER/banner.gif", b"../../OTHER_FOLDER/banner.gif"), (b"/", b"http://MAIN/")],
            "hp/links.html": [(b"ftp://FTP/pub/readme.txt", b"../../FTP_FOLDER/pub/readme.txt"),
                              (b"../other/outside.html", b"http://MAIN/other/outside.html"),
                              (b"/other/outside.html", b"http://MAIN/other/outside.html")],
            "hp/mends.html": [(b"diary/", b"diary/index.html"), (b"../hp/", b"../hp/index.html"),
                              (b"http://PORTED/hp/images/logo.gif", b"../../PORTED_FOLDER/hp/images/logo.gif")],
            "hp/diary/1999/august.html": [(b"http://MAIN/hp/images/new.gif", b"../../../../MAIN_FOLDER/hp/images/new.gif"),
                                          (b"http://MAIN/hp/", b"../../../../MAIN_FOLDER/hp/index.html")],
            "hp/diary/1999/july.html": [(b"/hp/gallery/photos/fuji.jpg",
                                         b"../../../../MAIN_FOLDER/hp/gallery/photos/fuji.jpg")],
            "hp/gallery/index.html": []})
        self.assert_offline_in_browser()
        # The shortcut is named by the start page's TITLE, not by its SVG picture's <title>.
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
        # Absolute links to what is not fetched stay as they are; relative and rooted
        # ones lead to the server.
        self.assert_pages_as_the_rules_write_them(mirrorcheck.Rules("/hp/"), {
            "hp/index.html": [(b"http://MAIN/hp/links.html", b"../../MAIN_FOLDER/hp/links.html"),
                              (b"/hp/images/new.gif", b"../../MAIN_FOLDER/hp/images/new.gif"),
                              (b"http://MAIN/hp/profile.html", b"../../MAIN_FOLDER/hp/profile.html"),
                              (b"/", b"http://MAIN/")],
            "hp/links.html": [(b"../other/outside.html", b"http://MAIN/other/outside.html"),
                              (b"/other/outside.html", b"http://MAIN/other/outside.html")],
            "hp/mends.html": [(b"diary/", b"diary/index.html"), (b"../hp/", b"../hp/index.html")]})
        self.assertEqual(mirrorcheck.missing_targets(self.save), [], "local links that lead to no stored file")


if __name__ == "__main__":
    unittest.main()
