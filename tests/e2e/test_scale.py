# tests/e2e/test_scale.py — scale through the real parvel.exe: many files, a long page chain.
# Crawled at unlimited depth, every file checked, with time, memory and threads printed
# next to wget's; the full sizes (10,000 files, 10,000 pages) only with PARVEL_LONG_TESTS=1.
import os
import shutil
import sys
import tempfile
import unittest

import e2econfig
import serverctl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "bench"))
import scale  # noqa: E402

LONG = os.environ.get("PARVEL_LONG_TESTS") == "1"
SITE_FILES = 10000 if LONG else 300
CHAIN_PAGES = 10000 if LONG else 100
WORKER_LEVELS = 8  # the levels of a chain one fetch worker takes (engine/engine_internal.h)
LIMIT_S = 4 * 3600 if LONG else 600
FAILURE_LINES = ("* サイズが合いません", "* パスが長すぎます")


class ScaleTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="parvel-scale-")
        self.root = os.path.join(self.work, "root")
        self.expected = scale.make_site(self.root, SITE_FILES)
        scale.make_chain(self.root, CHAIN_PAGES)
        self.http = serverctl.start_http(self.root)

    def tearDown(self):
        self.http.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def crawl(self, name, path):
        rows = scale.run_case(e2econfig.PARVEL, e2econfig.DRIVER, e2econfig.STATE, self.work, name,
                              self.http.url(path), [100], LIMIT_S)
        print()
        scale.print_table(name, SITE_FILES if name == "site" else CHAIN_PAGES, rows)
        (_, wget), (_, parvel) = rows
        self.assertEqual([l for l in parvel.log if l.startswith(FAILURE_LINES)], [])
        return parvel, wget

    def local(self, save, path):
        return os.path.join(save, "127.0.0.1-%d" % self.http.port, *path.lstrip("/").split("/"))

    def test_site_of_many_files_is_stored_whole(self):
        parvel, wget = self.crawl("site", "/s/index.html")
        self.assertEqual(wget.files, SITE_FILES, "wget saw the whole site")
        self.assertEqual(parvel.files, SITE_FILES, "every page and file stored once")
        wrong = []
        for path, data in self.expected.items():
            try:
                with open(self.local(parvel.save, path), "rb") as f:
                    if f.read() != data:
                        wrong.append(path)
            except OSError:
                wrong.append(path)
        self.assertEqual(wrong[:10], [], "%d files missing or different" % len(wrong))
        pages = [l for l in parvel.log if not l.startswith("*") and l.lower().endswith(".html")]
        self.assertEqual(len(pages), SITE_FILES - len(self.expected), "one log line per stored page")

    def test_chain_of_pages_is_followed_to_its_end(self):
        parvel, wget = self.crawl("chain", "/c/0.html")
        self.assertEqual(wget.files, CHAIN_PAGES)
        self.assertEqual(parvel.files, CHAIN_PAGES)
        last = self.local(parvel.save, "/c/%d.html" % (CHAIN_PAGES - 1))
        self.assertTrue(os.path.exists(last), "the last page of the chain")
        # A fetch worker per WORKER_LEVELS levels of the chain waits, not one per page:
        # under Wine each thread holds four open files, and the machine's limit on them
        # would end the chain (scale.wine_thread_ceiling).
        self.assertLessEqual(parvel.threads, CHAIN_PAGES // WORKER_LEVELS + 20, "a waiting fetch worker per levels")


if __name__ == "__main__":
    unittest.main()
