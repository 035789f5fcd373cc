# tests/e2e/test_big_file.py — a 5 GiB file through the real parvel.exe, cut and continued.
# Only with PARVEL_LONG_TESTS=1: the stored copy takes 5 GiB of disk and minutes to write.
import os
import shutil
import tempfile
import time
import unittest

import e2econfig
import serverctl
from parveldriver import Driver, fresh_settings, read_settings, session_env, windows_path

LONG = os.environ.get("PARVEL_LONG_TESTS") == "1"
ADDRESS, SEARCH = 1000, 1001
DATE_2001 = 978307200
GIB = 1 << 30
SIZE = 5 * GIB
CUT = 4 * GIB + GIB // 2 + 12345  # the first transfer ends here, past 32 bits
# Non-zero marks of 16 bytes (the rest of the file is zero, a hole on disk): across
# 2 GiB and 4 GiB, past 4 GiB, across the start of the continued range and the cut, at the end.
MARKS = [0, 2 * GIB - 8, 4 * GIB - 8, 4 * GIB + 100000, CUT - 2500 - 8, CUT - 8, SIZE - 16]
SIZE_MISMATCH = "* サイズが合いません（中断かタイムアウト）"


def mark(position):
    return bytes((position // 8 + i * 37) % 255 + 1 for i in range(16))


def make_sparse_file(path):
    with open(path, "wb") as f:
        f.truncate(SIZE)
        for position in MARKS:
            f.seek(position)
            f.write(mark(position))
    os.utime(path, (DATE_2001, DATE_2001))


def first_difference(a_path, b_path, chunk=16 << 20):
    """The first offset where the two files differ, None when they are equal byte for byte."""
    with open(a_path, "rb") as a, open(b_path, "rb") as b:
        offset = 0
        while True:
            x, y = a.read(chunk), b.read(chunk)
            if x != y:
                return offset + next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
            if not x:
                return None
            offset += len(x)


@unittest.skipUnless(LONG, "long run: set PARVEL_LONG_TESTS=1 (tools/test-all.sh --long)")
class BigFileTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="parvel-big-")
        if shutil.disk_usage(self.work).free < SIZE + 2 * GIB:
            shutil.rmtree(self.work)
            self.skipTest("less than 7 GiB free under %s" % self.work)
        self.root = os.path.join(self.work, "root")
        self.save = os.path.join(self.work, "save")
        os.makedirs(os.path.join(self.root, "big"))
        os.makedirs(self.save)
        self.served = os.path.join(self.root, "big", "five.bin")
        make_sparse_file(self.served)
        self.env = session_env(e2econfig.STATE)
        fresh_settings(self.env, self.save, resume="1", timeout=60000)
        self.http = serverctl.start_http(self.root)
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(windows_path(self.env, e2econfig.PARVEL))

    def tearDown(self):
        self.driver.kill()
        self.http.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def local(self):
        return os.path.join(self.save, "127.0.0.1-%d" % self.http.port, "big", "five.bin")

    def crawl(self, limit_s):
        began = time.monotonic()
        self.driver.set_text(ADDRESS, self.http.url("/big/five.bin"))
        self.driver.click(SEARCH)
        self.driver.wait_caption("ｽｷｯﾌﾟ", 20000)
        self.driver.wait_idle(limit_s * 1000)
        return time.monotonic() - began

    def gets(self):
        return [(e["range"], e["status"]) for e in self.http.log_entries() if e["method"] == "GET"]

    def test_five_gib_file_is_cut_past_4_gib_then_continued_with_a_range(self):
        self.http.set_faults({"/big/five.bin": {"times": 1, "cut_after": CUT}})
        first = self.crawl(3600)
        self.assertEqual(os.path.getsize(self.local()), CUT, "the bytes received stay")
        self.assertIn(SIZE_MISMATCH, self.driver.log_lines())
        self.assertEqual(self.gets(), [(None, 200)])
        # The rest, 0.5 GiB, at the first transfer's rate with room to spare.
        second = self.crawl(max(600, int(3 * first * (SIZE - CUT) / CUT)))
        # One request, asking for the rest at once: its answer gives the size
        # and date and continues the file (no whole-file request is left unread).
        self.assertEqual(self.gets()[1:], [("bytes=%d-" % (CUT - 2500), 206)])
        began = time.monotonic()
        self.assertEqual(os.path.getsize(self.local()), SIZE)
        self.assertIsNone(first_difference(self.local(), self.served), "equal byte for byte")
        compared = time.monotonic() - began
        self.assertEqual(int(os.path.getmtime(self.local())), DATE_2001, "the server's date")
        self.assertNotIn(SIZE_MISMATCH, self.driver.log_lines())
        print("\n5 GiB: %.0f s to the cut (%.0f MB/s), %.0f s continued (%.0f MB/s), %.0f s to compare"
              % (first, CUT / first / 1e6, second, (SIZE - CUT) / second / 1e6, compared))

        # The download total counts both transfers (2500 bytes of overlap twice) past
        # 32 bits: "DLSIZE" holds its low bits, "DLSIZEH" the rest, and the next start shows it.
        total = SIZE + 2500
        settings = {k.lower(): v for k, v in read_settings(self.env).items()}
        self.assertEqual((settings.get("dlsize"), settings.get("dlsizeh")), (total & 0xFFFFFFFF, total >> 32))
        self.driver.kill()
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(windows_path(self.env, e2econfig.PARVEL))
        self.assertIn("* ダウンロード合計 %dKバイト" % (total // 1024), self.driver.log_lines())


if __name__ == "__main__":
    unittest.main()
