# tests/e2e/test_start_list.py — a start list through the window of the real parvel.exe.
# "*R", an entry with ';' patterns and a '|' depth, attempts with their numbers, and a stop
# request after which the remaining entries are logged but not fetched.
import os
import shutil
import tempfile
import time
import unittest

import e2econfig
import serverctl
from parveldriver import Driver, fresh_settings, session_env, windows_path

ADDRESS, SEARCH, STATUS, RETRY, HANGUP, POWEROFF = 1000, 1001, 1004, 1038, 1029, 1037
STOPPING = "中止処理をしています……"

PAGE = b"""<html><head><title>a</title></head><body>
<img src="pic.gif"><img src="pic.jpg">
<a href="deeper.html">deeper</a>
</body></html>
"""


class StartListTest(unittest.TestCase):
    def setUp(self):
        self.env = session_env(e2econfig.STATE)
        self.save = tempfile.mkdtemp(prefix="parvel-list-")
        self.root = tempfile.mkdtemp(prefix="parvel-root-")
        fresh_settings(self.env, self.save, retry=3, timeout=3000)
        for path, data in (("a/index.html", PAGE), ("a/pic.gif", b"GIF89a" + bytes(40)),
                           ("a/pic.jpg", b"\xff\xd8" + bytes(40)), ("a/deeper.html", b"<html></html>"),
                           ("fail/x.bin", bytes(100)), ("stall/s.bin", bytes(50000)),
                           ("b/index.html", b"<html></html>"), ("c/index.html", b"<html></html>")):
            full = os.path.join(self.root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        self.http = serverctl.start_http(self.root, faults={
            "/fail/x.bin": {"delay": 20},
            "/stall/s.bin": {"stall_at": 0, "stall": 60},
        })
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(windows_path(self.env, e2econfig.PARVEL))

    def tearDown(self):
        self.driver.kill()
        self.http.stop()
        shutil.rmtree(self.save, ignore_errors=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def requested(self, prefix):
        return [e for e in self.http.log_entries() if e["path"].startswith(prefix)]

    def local(self, path):
        return os.path.join(self.save, "127.0.0.1-%d" % self.http.port, *path.split("/"))

    def test_entry_words_options_attempts_and_a_stop(self):
        d = self.driver
        host = self.http.host
        entries = ["*R", "http://%s/a/;*.gif|0" % host, "%s/fail/x.bin" % host,
                   "http://%s/stall/s.bin" % host, "http://%s/b/" % host, "%s/c/" % host]
        self.assertFalse(d.checked(RETRY))
        d.set_text(ADDRESS, "\n".join(entries))
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)

        # The status line names every attempt but the first and the last.
        statuses = set()
        deadline = time.monotonic() + 60
        while not self.requested("/stall/") and time.monotonic() < deadline:
            statuses.add(d.text(STATUS))
            time.sleep(0.05)
        self.assertTrue(self.requested("/stall/"), "the run reached the stalling entry")
        tries = sorted(s for s in statuses if "回目" in s)
        self.assertEqual(tries, ["ダウンロード中. . . x.bin\n(1 回目)"], statuses)
        self.assertIn("ダウンロード中. . .x.bin", statuses, "attempts 0 and 32760 show no number")
        self.assertEqual(len(self.requested("/fail/")), 3, "attempts 0, 1 and the last, each ended by the time-out")

        # Skip, then stop: the stalled transfer ends, the rest is only logged.
        d.click(SEARCH)
        d.wait_caption("中止", 10000)
        d.click(SEARCH)
        deadline = time.monotonic() + 10
        while d.title() != STOPPING and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(d.title(), STOPPING)
        d.wait_idle(60000)

        lines = d.log_lines()
        self.assertIn("* Retry on.", lines)
        self.assertTrue(d.checked(RETRY), "*R checks the retry box")
        self.assertFalse(d.checked(HANGUP))
        self.assertFalse(d.checked(POWEROFF))
        urls = [l for l in lines if l.startswith("* URL-> ")]
        self.assertEqual(urls, ["* URL-> " + e.replace("http://", "") for e in entries[1:]], lines)
        self.assertEqual(self.requested("/b/") + self.requested("/c/"), [], "entries after the stop are not fetched")

        # ';*.gif' replaced the ignore patterns and '|0' kept the crawl at the start page's level.
        self.assertTrue(os.path.exists(self.local("a/index.html")), (lines, self.requested("/a/")))
        self.assertTrue(os.path.exists(self.local("a/pic.jpg")))
        self.assertFalse(os.path.exists(self.local("a/pic.gif")))
        self.assertFalse(os.path.exists(self.local("a/deeper.html")))
        self.assertEqual(self.requested("/a/pic.gif"), [])
        self.assertFalse(os.path.exists(self.local("fail/x.bin")), "no attempt began a transfer")


if __name__ == "__main__":
    unittest.main()
