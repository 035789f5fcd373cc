# tests/e2e/test_crawl_run.py — a crawl run seen through the window of the real parvel.exe.
# Run mode, one pass, a reservation as a second pass, idle again.
import os
import socket
import tempfile
import threading
import time
import unittest

import e2econfig
from parveldriver import Driver, fresh_settings, session_env, windows_path

ADDRESS, SEARCH, OPTIONS, LABEL, LOG = 1000, 1001, 1035, 1048, 1017


class StallingServer:
    """Accepts connections on 127.0.0.1 and never answers, so each request waits for its time-out."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.held = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.held.append(conn)

    def stop(self):
        self.sock.close()
        for conn in self.held:
            conn.close()


class CrawlRunTest(unittest.TestCase):
    def setUp(self):
        self.env = session_env(e2econfig.STATE)
        self.save = tempfile.mkdtemp(prefix="parvel-e2e-")
        fresh_settings(self.env, self.save, timeout=3000)
        self.server = StallingServer()
        self.driver = Driver(e2econfig.DRIVER, self.env)
        self.driver.start(windows_path(self.env, e2econfig.PARVEL))

    def tearDown(self):
        self.driver.kill()
        self.server.stop()

    def test_two_lines_make_one_pass_and_a_reservation_a_second(self):
        d = self.driver
        self.assertEqual(d.title(), "Parvel 1st MIX")
        self.assertEqual(d.text(SEARCH), "探索")
        base = "127.0.0.1:%d" % self.server.port
        d.set_text(ADDRESS, "http://%s/first/\nhttp://%s/second/" % (base, base))
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        # Options disabled, the label of a reservation, the address box emptied
        # by the pass and the title naming the address.
        running = (False, "追加予約(&A)", "", True)
        self.assertEqual(d.settle(lambda: (d.enabled(OPTIONS), d.text(LABEL), d.text(ADDRESS),
                                           d.title().endswith(" / Parvel 1st MIX")), running), running, d.title())
        # Typed during the first pass: the reservation of the next one.
        d.set_text(ADDRESS, "http://%s/reserved/" % base)
        d.wait_idle(60000)
        self.assertEqual(d.text(SEARCH), "探索")
        self.assertEqual(d.title(), "Parvel 1st MIX")
        self.assertEqual(d.text(LABEL), "アドレス(&A)")
        self.assertTrue(d.enabled(OPTIONS))
        lines = d.log_lines()
        urls = [l for l in lines if l.startswith("* URL-> ")]
        self.assertEqual(urls, ["* URL-> %s/first/" % base, "* URL-> %s/second/" % base,
                                "* URL-> %s/reserved/" % base], lines)
        self.assertEqual(d.close(), "0")


if __name__ == "__main__":
    unittest.main()
