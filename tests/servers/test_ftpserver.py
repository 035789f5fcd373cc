# tests/servers/test_ftpserver.py — checks the FTP test server with ftplib.
# Logins, listing, retrieval in both data modes, refused logins, a cut transfer, the
# command log and stopping.
import ftplib
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "servers"))
import serverctl  # noqa: E402

CLIENT_TIMEOUT = 10
BIG = bytes((i * 13) % 256 for i in range(300000))


def make_root():
    root = tempfile.mkdtemp(prefix="parvel-ftproot-")
    os.makedirs(os.path.join(root, "pub"))
    with open(os.path.join(root, "pub", "readme.txt"), "wb") as f:
        f.write(b"read me\r\n")
    with open(os.path.join(root, "pub", "big.bin"), "wb") as f:
        f.write(BIG)
    return root


def retrieve(ftp, path):
    chunks = []
    ftp.retrbinary("RETR " + path, chunks.append)
    return b"".join(chunks)


class FtpCase(unittest.TestCase):
    server_options = {}

    @classmethod
    def setUpClass(cls):
        cls.root = make_root()
        cls.server = serverctl.start_ftp(cls.root, **cls.server_options)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.server.set_faults({})
        self.server.clear_log()

    def connect(self, user="anonymous", password="guest@", passive=True):
        ftp = ftplib.FTP(timeout=CLIENT_TIMEOUT)
        ftp.connect("127.0.0.1", self.server.port)
        ftp.login(user, password)
        ftp.set_pasv(passive)
        self.addCleanup(ftp.close)
        return ftp


class AnonymousAndUserTest(FtpCase):
    server_options = {"user": "taro", "password": "himitsu"}

    def test_anonymous_list_and_retrieve_in_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                ftp = self.connect(passive=passive)
                self.assertEqual(sorted(ftp.nlst("/pub")), ["big.bin", "readme.txt"])
                ftp.voidcmd("TYPE I")
                self.assertEqual(ftp.size("/pub/big.bin"), len(BIG))
                self.assertEqual(retrieve(ftp, "/pub/readme.txt"), b"read me\r\n")
                self.assertEqual(retrieve(ftp, "/pub/big.bin"), BIG)
                listing = []
                ftp.retrlines("LIST /pub", listing.append)
                self.assertEqual(len(listing), 2)

    def test_user_login_and_wrong_password(self):
        ftp = self.connect("taro", "himitsu")
        self.assertEqual(retrieve(ftp, "/pub/readme.txt"), b"read me\r\n")
        bad = ftplib.FTP(timeout=CLIENT_TIMEOUT)
        self.addCleanup(bad.close)
        bad.connect("127.0.0.1", self.server.port)
        with self.assertRaises(ftplib.error_perm) as caught:
            bad.login("taro", "wrong")
        self.assertTrue(str(caught.exception).startswith("530"))

    def test_read_only(self):
        ftp = self.connect()
        with self.assertRaises(ftplib.error_perm):
            ftp.mkd("/pub/new")
        self.assertFalse(os.path.exists(os.path.join(self.root, "pub", "new")))

    def test_missing_file(self):
        ftp = self.connect()
        with self.assertRaises(ftplib.error_perm) as caught:
            retrieve(ftp, "/pub/none.bin")
        self.assertTrue(str(caught.exception).startswith("550"))

    def test_refused_logins(self):
        cases = [(True, "anonymous", "x@", True), (True, "taro", "himitsu", True),
                 (["anonymous"], "anonymous", "x@", True), (["anonymous"], "taro", "himitsu", False)]
        for refuse, user, password, refused in cases:
            with self.subTest(refuse=refuse, user=user):
                self.server.set_faults({"refuse_login": refuse})
                ftp = ftplib.FTP(timeout=CLIENT_TIMEOUT)
                self.addCleanup(ftp.close)
                ftp.connect("127.0.0.1", self.server.port)
                if refused:
                    with self.assertRaises(ftplib.error_perm) as caught:
                        ftp.login(user, password)
                    self.assertTrue(str(caught.exception).startswith("530"))
                else:
                    ftp.login(user, password)

    def test_cut_transfer_closes_mid_file(self):
        self.server.set_faults({"cut": {"/pub/big.bin": 100000}})
        ftp = self.connect()
        chunks = []
        with self.assertRaises(ftplib.error_temp) as caught:
            ftp.retrbinary("RETR /pub/big.bin", chunks.append)
        self.assertTrue(str(caught.exception).startswith("426"))
        self.assertEqual(b"".join(chunks), BIG[:100000])
        with self.assertRaises((EOFError, OSError, ftplib.Error)):
            ftp.voidcmd("NOOP")
        self.assertEqual(retrieve(self.connect(), "/pub/readme.txt"), b"read me\r\n")

    def test_command_log(self):
        ftp = self.connect("taro", "himitsu")
        retrieve(ftp, "/pub/readme.txt")
        ftp.quit()
        entries = self.server.wait_for_entries(1)
        commands = [(e["cmd"], e["arg"]) for e in entries]
        self.assertIn(("USER", "taro"), commands)
        self.assertIn(("PASS", "himitsu"), commands)
        self.assertIn(("RETR", "/pub/readme.txt"), commands)
        retr = [e for e in entries if e["cmd"] == "RETR"][0]
        self.assertEqual(retr["user"], "taro")


class NoAnonymousTest(FtpCase):
    server_options = {"user": "taro", "password": "pw", "anonymous": False}

    def test_anonymous_is_refused(self):
        ftp = ftplib.FTP(timeout=CLIENT_TIMEOUT)
        self.addCleanup(ftp.close)
        ftp.connect("127.0.0.1", self.server.port)
        with self.assertRaises(ftplib.error_perm):
            ftp.login()
        self.assertEqual(retrieve(self.connect("taro", "pw"), "/pub/readme.txt"), b"read me\r\n")


class FtpLifetimeTest(unittest.TestCase):
    def setUp(self):
        self.root = make_root()

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_idle_timeout_and_sigterm(self):
        idle = serverctl.start_ftp(self.root, idle_timeout=1)
        busy = serverctl.start_ftp(self.root)
        try:
            deadline = time.monotonic() + 10
            while idle.running() and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertFalse(idle.running())
            self.assertTrue(busy.running())
            started = time.monotonic()
            busy.stop()
            self.assertLess(time.monotonic() - started, 4)
            self.assertEqual(busy.process.returncode, 0)
        finally:
            idle.stop()
            busy.stop()


if __name__ == "__main__":
    unittest.main()
