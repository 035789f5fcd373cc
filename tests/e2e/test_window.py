# tests/e2e/test_window.py — the window of the real parvel.exe as its user meets it.
# The first-run message, the start-up log, Enter, Escape and the three presses of a run,
# start arguments, a Search with nothing to fetch, the power-off notice, the options menu.
import os
import re
import shutil
import tempfile
import time
import unittest

import e2econfig
import serverctl
from parveldriver import (Driver, clear_settings, fresh_settings, get_setting, session_env, set_setting,
                          window_screenshot, windows_path, wine)
from test_crawl_run import StallingServer

ADDRESS, SEARCH, STATUS, LOG, DEPTH_UNLIMITED, IGNORE, OPTIONS, RETRY = 1000, 1001, 1004, 1017, 1021, 1026, 1035, 1038
HANGUP, POWEROFF = 1029, 1037
VK_RETURN, VK_ESCAPE, VK_DOWN = 0x0D, 0x1B, 0x28
STOPPING = "中止処理をしています……"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Parvel"
FIRST_RUN_TITLE = "Parvel インストール"
FIRST_RUN_TEXT = ("QEXを、このフォルダにインストールします。\n[OK]を押すとwindowsに登録して、いつでもアンインストールできる"
                  "状態にします。\nバージョンアップする時は、このフォルダに解凍して上書きしてください。\n\n★ 今後、この表示はありません。\n")


def startup_log(save, shortcuts, kilobytes):
    return ["* ﾀﾞｳﾝﾛｰﾄﾞしたデータの保存先", save, "* ｼｮｰﾄｶｯﾄの保存先", shortcuts,
            "* ダウンロード合計 %dKバイト" % kilobytes, "-" * 40,
            "ダブルクリックでファイルやフォルダを開くことができます。", "サポートページ(ダブルクリックで開きます)",
            "http://parvel.example.jp/support/"]


def wait_until(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def has_dialog(d):
    """True while the program shows a dialog besides its main window."""
    try:
        d.dialog()
        return True
    except Exception:
        return False


class WindowCase(unittest.TestCase):
    def setUp(self):
        self.env = session_env(e2econfig.STATE)
        self.top = tempfile.mkdtemp(prefix="parvel-window-")
        self.drivers = []

    def tearDown(self):
        for driver in self.drivers:
            driver.kill()
        shutil.rmtree(self.top, ignore_errors=True)

    def driver(self):
        driver = Driver(e2econfig.DRIVER, self.env)
        self.drivers.append(driver)
        return driver

    def start(self, argument=""):
        """Starts the program; returns its driver once the main window shows."""
        d = self.driver()
        self.assertEqual(d.start(windows_path(self.env, e2econfig.PARVEL), argument), "")
        return d


class StartUpTest(WindowCase):
    def test_first_run_message_shows_on_the_first_start_only(self):
        clear_settings(self.env)
        d = self.driver()
        answer = d.start(windows_path(self.env, e2econfig.PARVEL))
        self.assertTrue(answer.startswith("message "), answer)
        self.assertEqual(d.dialog(), [FIRST_RUN_TITLE, FIRST_RUN_TEXT])
        d.answer(1)
        self.assertEqual(d.wait_window(), "")
        self.assertEqual(get_setting(self.env, "start"), 2)
        # The setup engine, started without waiting, registers the uninstall entry.
        self.assertTrue(wait_until(lambda: self.uninstall_entry() is not None, 30), "the setup engine registered it")
        script = windows_path(self.env, os.path.join(os.path.dirname(e2econfig.PARVEL), "qexinst.inf"))
        command = "rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 " + script
        self.assertIn(command.encode("cp932"), self.uninstall_entry())
        self.assertEqual(d.title(), "Parvel 1st MIX")
        self.assertEqual(d.close(), "0")
        self.start().close()
        # Any other value of "start" shows it again.
        set_setting(self.env, "start", 1)
        d = self.driver()
        self.assertTrue(d.start(windows_path(self.env, e2econfig.PARVEL)).startswith("message "))
        d.answer(1)
        self.assertEqual(d.wait_window(), "")
        d.close()
        # The uninstall entry's command removes what the installation added.
        wine(self.env, *command.split(" "), timeout=60)
        self.assertTrue(wait_until(lambda: self.uninstall_entry() is None, 30), "the uninstall removed the entry")
        self.assertIsNone(get_setting(self.env, "start"), "and the settings")

    def uninstall_entry(self):
        done = wine(self.env, "reg", "query", UNINSTALL_KEY, "/v", "UninstallString")
        return done.stdout if done.returncode == 0 else None

    def test_start_up_log_with_an_empty_key_and_with_stored_settings(self):
        clear_settings(self.env)
        set_setting(self.env, "start", 2)
        d = self.start()
        # No folder set: folders under the user's Documents.
        user = [u for u in os.listdir(os.path.join(self.env["WINEPREFIX"], "drive_c", "users")) if u != "Public"][0]
        documents = "C:\\users\\%s\\Documents\\Parvel" % user
        self.assertEqual(d.log_lines(), startup_log(documents, documents + "\\ショートカット", 0))
        self.assertEqual(d.title(), "Parvel 1st MIX")
        self.assertTrue(d.checked(DEPTH_UNLIMITED))
        self.assertFalse(d.checked(RETRY))
        self.assertEqual((d.text(ADDRESS), d.text(IGNORE)), ("", ""))
        self.assertEqual(d.text(STATUS), "アドレスをいれて[探索]ボタンを押してください")
        d.close()
        set_setting(self.env, "folder", r"C:\保存")
        set_setting(self.env, "shortcut", r"C:\リンク")
        set_setting(self.env, "PURL", "http://example.jp/a/")
        set_setting(self.env, "IGNORE", "*.GIF")
        set_setting(self.env, "rewre", 1)
        for total, kilobytes in ((1023, 0), (1024, 1), (4294967295, 4194303)):
            with self.subTest(total=total):
                set_setting(self.env, "DLSIZE", total)
                d = self.start()
                self.assertEqual(d.log_lines(), startup_log(r"C:\保存", r"C:\リンク", kilobytes))
                self.assertEqual((d.text(ADDRESS), d.text(IGNORE)), ("http://example.jp/a/", "*.GIF"))
                self.assertTrue(d.checked(RETRY))
                d.close()


class KeysAndPressesTest(WindowCase):
    def setUp(self):
        super().setUp()
        self.server = StallingServer()
        fresh_settings(self.env, self.top, timeout=3000)

    def tearDown(self):
        super().tearDown()
        self.server.stop()

    def addresses(self, *paths):
        return "\n".join("http://127.0.0.1:%d/%s" % (self.server.port, p) for p in paths)

    def test_enter_searches_escape_never_closes_and_three_presses_skip_stop_and_do_nothing(self):
        d = self.start()
        d.key(VK_ESCAPE)
        time.sleep(1)
        self.assertTrue(d.alive(), "Escape does not close the idle window")
        d.set_text(ADDRESS, self.addresses("a", "b", "c", "d"))
        d.focus(ADDRESS)
        d.key(VK_RETURN)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        d.key(VK_ESCAPE)
        time.sleep(0.5)
        self.assertTrue(d.alive(), "Escape does not close the window during a run")
        window_screenshot(self.env, d, os.path.join(e2econfig.ARTEFACTS, "window-during-run.png"))
        # Enter during a run is a press of the button: it asks to skip.
        d.focus(ADDRESS)
        d.key(VK_RETURN)
        d.wait_caption("中止", 10000)
        self.assertNotEqual(d.title(), STOPPING)
        d.click(SEARCH)
        self.assertTrue(wait_until(lambda: d.title() == STOPPING), d.title())
        d.click(SEARCH)
        time.sleep(0.5)
        self.assertEqual(d.title(), STOPPING, "a third press changes nothing")
        d.wait_idle(60000)
        urls = [line for line in d.log_lines() if line.startswith("* URL-> ")]
        self.assertEqual(len(urls), 4, "the stopped run still names every entry")
        window_screenshot(self.env, d, os.path.join(e2econfig.ARTEFACTS, "window-after-run.png"))
        self.assertEqual(d.close(), "0")

    def test_the_close_box_ends_the_program_during_a_run(self):
        d = self.start()
        d.set_text(ADDRESS, self.addresses("a"))
        d.click(SEARCH)
        d.wait_caption("ｽｷｯﾌﾟ", 20000)
        self.assertEqual(d.close(), "0")


class StartArgumentTest(WindowCase):
    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.top, "site")
        for name in ("one.txt", "two.txt", "three.txt"):
            os.makedirs(self.root, exist_ok=True)
            with open(os.path.join(self.root, name), "wb") as f:
                f.write(name.encode() * 10)
        self.http = serverctl.start_http(self.root)
        self.save = os.path.join(self.top, "save")
        os.makedirs(self.save)
        fresh_settings(self.env, self.save, timeout=3000)
        self.files = os.path.join(self.top, "start files with spaces")
        os.makedirs(self.files)

    def tearDown(self):
        self.http.stop()
        super().tearDown()

    def stored(self):
        folder = os.path.join(self.save, "127.0.0.1-%d" % self.http.port)
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def run_with_argument(self, argument):
        d = self.start(argument)
        self.assertTrue(wait_until(lambda: self.http.log_entries(), 20), "the run starts by itself")
        d.wait_idle(60000)
        d.close()

    def write(self, name, data):
        path = os.path.join(self.files, name)
        with open(path, "wb") as f:
            f.write(data)
        return windows_path(self.env, path)

    def test_quoted_start_list_file_with_spaces_in_its_path(self):
        path = self.write("my list.txt", ("%s\r\n%s\r\n" % (self.http.url("/one.txt"), self.http.url("/two.txt"))).encode())
        self.run_with_argument('"%s"' % path)
        self.assertEqual(self.stored(), ["one.txt", "two.txt"])

    def test_internet_shortcut_in_capitals(self):
        path = self.write("SITE.URL", b"[InternetShortcut]\r\nURL=" + self.http.url("/three.txt").encode() + b"\r\n")
        self.run_with_argument('"%s"' % path)
        self.assertEqual(self.stored(), ["three.txt"])


class EndOfRunTest(WindowCase):
    """Hang-up and power-off: under Wine a power-off ends every program of the
    session, so a window still open shows that none was made."""

    def setUp(self):
        super().setUp()
        fresh_settings(self.env, self.top, timeout=3000)

    def test_a_search_with_nothing_to_fetch_keeps_the_log_and_switches_nothing_off(self):
        d = self.start()
        d.press(HANGUP)
        d.press(POWEROFF)
        self.assertTrue(wait_until(lambda: d.checked(POWEROFF) and d.checked(HANGUP)))
        lines = d.log_lines()
        d.set_text(ADDRESS, " \n*P\n")
        d.click(SEARCH)
        self.assertTrue(wait_until(lambda: len(d.log_lines()) > len(lines)), "one line says why")
        time.sleep(2)
        self.assertEqual(d.log_lines(), lines + ["* アドレスがないので探索しません"])
        self.assertFalse(has_dialog(d), "no power-off notice")
        self.assertTrue(d.alive())
        self.assertEqual((d.title(), d.text(SEARCH)), ("Parvel 1st MIX", "探索"))
        self.assertEqual(d.close(), "0")

    def test_the_power_off_notice_counts_down_and_its_button_keeps_the_computer_on(self):
        d = self.start()
        d.press(POWEROFF)
        self.assertTrue(wait_until(lambda: d.checked(POWEROFF)))
        d.set_text(ADDRESS, "http://127.0.0.1:9/")
        d.click(SEARCH)
        self.assertTrue(wait_until(lambda: has_dialog(d), 60), "the notice shows when the run ends")
        shown = time.monotonic()
        title, text = d.dialog()
        self.assertEqual(title, "電源OFF - Parvel 1st MIX")
        match = re.fullmatch(r"探索が終わりました。\n(\d+) 秒後にコンピュータの電源を切ります。", text)
        self.assertTrue(match and 0 < int(match.group(1)) <= 30, text)
        self.assertTrue(wait_until(lambda: d.dialog()[1] != text, 5), "it counts down")
        window_screenshot(self.env, d, os.path.join(e2econfig.ARTEFACTS, "power-off-notice.png"))
        d.answer(2)
        self.assertEqual(d.log_lines()[-1], "* 電源OFFを取り消しました")
        # Past the end of the countdown the program still runs: nothing was switched off.
        time.sleep(max(0, shown + int(match.group(1)) + 3 - time.monotonic()))
        self.assertTrue(d.alive())
        self.assertFalse(has_dialog(d))
        self.assertEqual(d.close(), "0")


class OptionsMenuTest(WindowCase):
    def setUp(self):
        super().setUp()
        fresh_settings(self.env, self.top)

    def choose(self, d, item):
        """Opens the options menu and picks its item-th command (separators
        not counted): 1 resume, 2 to 5 the presets, 6 cache, 7 other servers,
        8 FTP, 9 certificate errors, 10 style sheets and new tags, 11 save
        folder, 12 shortcut folder; 0 dismisses the menu."""
        d.press(OPTIONS)
        self.assertTrue(wait_until(d.menu_open), "the menu opens")
        for _ in range(item):
            d.key(VK_DOWN)
        d.key(VK_RETURN if item else VK_ESCAPE)
        self.assertTrue(wait_until(lambda: not d.menu_open()), "the menu closes")
        time.sleep(0.3)

    def test_flag_toggles_are_stored_at_once(self):
        d = self.start()
        # The style-sheet item is on until switched off: its first choice stores "0".
        for item, name, first in ((1, "resume", "1"), (6, "cache", "1"), (7, "out_server", "1"), (8, "ftp", "1"),
                                  (9, "cert", "1"), (10, "modern", "0")):
            with self.subTest(name=name):
                self.assertIsNone(get_setting(self.env, name))
                self.choose(d, item)
                self.assertEqual(get_setting(self.env, name), first)
                self.choose(d, item)
                self.assertEqual(get_setting(self.env, name), "1" if first == "0" else "0")
        # A value other than 1 shows no check mark, so choosing it stores "1".
        set_setting(self.env, "cache", "2")
        self.choose(d, 6)
        self.assertEqual(get_setting(self.env, "cache"), "1")
        d.close()

    def test_presets_replace_the_ignore_box_and_dismissing_changes_nothing(self):
        d = self.start()
        d.set_text(IGNORE, "*.TXT")
        for item, text in ((2, "*.EXE *.ZIP *.LZH"), (3, "INDEX.*"), (4, "*.GIF *.JPG *.JPEG"),
                           (5, "*.GIF *.JPG *.JPEG *.EXE *.ZIP *.LZH *.CGI *.PL")):
            with self.subTest(item=item):
                self.choose(d, item)
                self.assertEqual(d.text(IGNORE), text)
        self.assertIsNone(get_setting(self.env, "IGNORE"), "stored only at the next Search")
        self.choose(d, 0)
        self.assertEqual(d.text(IGNORE), "*.GIF *.JPG *.JPEG *.EXE *.ZIP *.LZH *.CGI *.PL")
        self.assertIsNone(get_setting(self.env, "resume"))
        d.close()

    def test_cancelled_folder_browser_changes_nothing(self):
        d = self.start()
        lines = d.log_lines()
        for item in (11, 12):
            with self.subTest(item=item):
                d.press(OPTIONS)
                self.assertTrue(wait_until(d.menu_open))
                for _ in range(item):
                    d.key(VK_DOWN)
                d.key(VK_RETURN)
                self.assertTrue(wait_until(lambda: has_dialog(d), 20), "the folder browser opens")
                d.answer(2)
                self.assertTrue(wait_until(lambda: not has_dialog(d), 20))
        self.assertEqual(d.log_lines(), lines)
        self.assertEqual(get_setting(self.env, "folder"), windows_path(self.env, self.top))
        d.close()


if __name__ == "__main__":
    unittest.main()
