# tests/e2e/test_fetch_run.py — fetching through the window of the real parvel.exe.
# New, unchanged, updated and continued files, a stall ended by the time-out chosen with
# "*set3", a skip during a transfer; checked on disk and in the server's request log.
import os
import shutil
import tempfile
import time
import unittest

import e2econfig
import serverctl
from parveldriver import Driver, fresh_settings, session_env, set_setting, windows_path

ADDRESS, SEARCH = 1000, 1001
DATE_2001 = 978307200      # Mon, 01 Jan 2001 00:00:00 GMT
DATE_2002 = 1009843200     # Tue, 01 Jan 2002 00:00:00 GMT
SIZE_MISMATCH = "* サイズが合いません（中断かタイムアウト）"


def pattern(size, seed=0):
    return bytes((i * 7 + seed) % 251 for i in range(size))


class FetchRunTest(unittest.TestCase):
    def setUp(self):
        self.env = session_env(e2econfig.STATE)
        self.save = tempfile.mkdtemp(prefix="parvel-fetch-")
        self.root = tempfile.mkdtemp(prefix="parvel-root-")
        fresh_settings(self.env, self.save, resume="1", timeout=3000)
        self.http = serverctl.start_http(self.root)
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(windows_path(self.env, e2econfig.PARVEL))

    def tearDown(self):
        self.driver.kill()
        self.http.stop()
        shutil.rmtree(self.save, ignore_errors=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def serve(self, path, data, epoch):
        full = os.path.join(self.root, path.lstrip("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        os.utime(full, (epoch, epoch))

    def local(self, path):
        return os.path.join(self.save, "127.0.0.1-%d" % self.http.port, *path.lstrip("/").split("/"))

    def stored(self, path):
        with open(self.local(path), "rb") as f:
            return f.read()

    def crawl(self, *paths, limit_ms=60000):
        d = self.driver
        d.set_text(ADDRESS, "\n".join(self.http.url(p) for p in paths))
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        d.wait_idle(limit_ms)

    def wait_for_log_line(self, beginning, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if any(l.startswith(beginning) for l in self.driver.log_lines()):
                return
            time.sleep(0.1)
        self.fail("no log line begins with %r: %r" % (beginning, self.driver.log_lines()))

    def gets(self, path):
        return [e for e in self.http.log_entries() if e["path"] == path and e["method"] == "GET"]

    def test_new_unchanged_updated_and_resized_files(self):
        self.serve("/u/data.bin", pattern(6000), DATE_2001)
        self.crawl("/u/data.bin")
        self.assertEqual(self.stored("/u/data.bin"), pattern(6000))
        self.assertEqual(int(os.path.getmtime(self.local("/u/data.bin"))), DATE_2001, "the server's date")
        port = self.http.port
        self.assertIn("* 127.0.0.1:%d はレジューム可能" % port, self.driver.log_lines())

        # Other bytes under the same date and size: the stored file is left alone.
        self.serve("/u/data.bin", pattern(6000, 1), DATE_2001)
        self.crawl("/u/data.bin")
        self.assertEqual(self.stored("/u/data.bin"), pattern(6000), "an unchanged file is not fetched again")

        # A newer date on the server: fetched again.
        self.serve("/u/data.bin", pattern(6000, 2), DATE_2002)
        self.crawl("/u/data.bin")
        self.assertEqual(self.stored("/u/data.bin"), pattern(6000, 2))
        self.assertEqual(int(os.path.getmtime(self.local("/u/data.bin"))), DATE_2002)

        # Same date, a larger size: the stored file looks like its beginning
        # and is continued, but the overlap differs, so it is fetched whole.
        self.serve("/u/data.bin", pattern(7000, 3), DATE_2002)
        self.crawl("/u/data.bin")
        self.assertEqual(self.stored("/u/data.bin"), pattern(7000, 3))
        # With a copy stored, each run first asks for its last 2500 bytes and on
        # while the server's file has the copy's date: an unchanged file leaves
        # 2500 bytes unread, an updated one comes whole in the same answer.
        self.assertEqual([(e["range"], e["status"]) for e in self.gets("/u/data.bin")],
                         [(None, 200), ("bytes=3500-", 206), ("bytes=3500-", 200), ("bytes=3500-", 206),
                          (None, 200)])

    def test_broken_transfer_is_reported_then_continued_with_a_range(self):
        self.serve("/c/big.bin", pattern(200000), DATE_2001)
        self.http.set_faults({"/c/big.bin": {"times": 1, "cut_after": 120000}})
        self.crawl("/c/big.bin")
        self.assertEqual(self.stored("/c/big.bin"), pattern(120000), "the bytes received stay")
        self.assertIn(SIZE_MISMATCH, self.driver.log_lines(), "the user is told the file is incomplete")
        self.assertEqual(int(os.path.getmtime(self.local("/c/big.bin"))), DATE_2001,
                         "a resumable server's date, so that the next run continues it")
        self.crawl("/c/big.bin")
        self.assertEqual(self.stored("/c/big.bin"), pattern(200000))
        ranges = [(e["range"], e["status"]) for e in self.gets("/c/big.bin")]
        self.assertEqual(ranges[0], (None, 200), ranges)
        self.assertEqual(ranges[-1], ("bytes=%d-" % (120000 - 2500), 206),
                         "continued from 2500 bytes before the stored end")

    def test_stall_is_ended_by_the_time_out_chosen_with_set3(self):
        d = self.driver
        set_setting(self.env, "timeout", 60000)
        d.set_text(ADDRESS, "*set30")
        d.click(SEARCH)
        self.wait_for_log_line("* 動作変更 : タイムアウト時間")
        self.serve("/s/data.bin", pattern(30000), DATE_2001)
        self.http.set_faults({"/s/data.bin": {"stall_at": 8000, "stall": 60}})
        began = time.monotonic()
        self.crawl("/s/data.bin")
        elapsed = time.monotonic() - began
        self.assertLess(elapsed, 30, "ended by the 3 s time-out, not by the server's 60 s stall")
        self.assertIn(SIZE_MISMATCH, d.log_lines())
        self.assertEqual(self.stored("/s/data.bin"), pattern(8000), "the bytes received stay")

    def test_skip_during_a_transfer_goes_on_with_the_next_address(self):
        d = self.driver
        self.serve("/k/slow.bin", pattern(400000), DATE_2001)
        self.serve("/k/next.bin", pattern(3000), DATE_2001)
        self.http.set_faults({"/k/slow.bin": {"rate": 40000}})
        d.set_text(ADDRESS, self.http.url("/k/slow.bin") + "\n" + self.http.url("/k/next.bin"))
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.local("/k/slow.bin")) and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(1.0)
        d.click(SEARCH)
        d.wait_idle(60000)
        self.assertLess(len(self.stored("/k/slow.bin")), 400000, "the skipped transfer was broken off")
        self.assertEqual(self.stored("/k/next.bin"), pattern(3000), "the run went on after the skip")


if __name__ == "__main__":
    unittest.main()
