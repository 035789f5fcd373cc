#!/usr/bin/python3
# tools/demo.py — the main job: crawls the demo site with parvel.exe under Wine.
# Or the given addresses; shows the window, prints the mirrored tree, saves screenshots.
"""Usage: /usr/bin/python3 tools/demo.py BUILD_DIR [--dpi N] [ADDRESS...]   (tools/demo.sh builds first)

Everything the run makes goes to BUILD_DIR/demo/: the Wine session (wine/), the mirror
(mirror/), the start page shortcuts (shortcuts/), and the two screenshots
screenshot-run.png (during the crawl) and screenshot-idle.png (after it).
--dpi N runs the program at N dots per inch (96 is 100 %, 144 is 150 %, 192 is 200 %).
"""
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "e2e"))
sys.path.insert(0, os.path.join(HERE, "servers"))
sys.path.insert(0, os.path.join(HERE, "demo-site"))
import parveldriver  # noqa: E402
import serve  # noqa: E402

ADDRESS, SEARCH = 1000, 1001
SESSION = os.path.join(TOP, "cmake", "wine-session.sh")
# A crawl of addresses from outside may take long; the demo site takes seconds.
LONGEST_RUN_MS = 6 * 60 * 60 * 1000


def print_tree(folder):
    """One line per file of the mirror: its size and its path below the folder."""
    count = 0
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(files):
            full = os.path.join(parent, name)
            print("%10d  %s" % (os.path.getsize(full), os.path.relpath(full, folder)))
            count += 1
    print("%d files" % count)


def wait_for_log_lines(driver, count, ms):
    """Waits until the access log holds `count` lines or the run has ended."""
    deadline = time.monotonic() + ms / 1000
    while time.monotonic() < deadline:
        if len(driver.log_lines()) >= count or driver.text(SEARCH) == "探索":
            return
        time.sleep(0.05)


def crawl(env, build, out, addresses):
    mirror, shortcuts = os.path.join(out, "mirror"), os.path.join(out, "shortcuts")
    for folder in (mirror, shortcuts):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    parveldriver.fresh_settings(env, mirror)
    parveldriver.set_setting(env, "shortcut", parveldriver.windows_path(env, shortcuts))
    driver = parveldriver.Driver(os.path.join(build, "tools", "driver", "driver.exe"), env)
    try:
        driver.start(parveldriver.windows_path(env, os.path.join(build, "app", "parvel.exe")))
        driver.set_text(ADDRESS, "\n".join(addresses))
        driver.click(SEARCH)
        driver.wait_caption("ｽｷｯﾌﾟ", 30000)
        # The screenshot of the run is taken once the first fetches show in the
        # access log, which the run started empty.
        wait_for_log_lines(driver, 8, 30000)
        parveldriver.window_screenshot(env, driver, os.path.join(out, "screenshot-run.png"))
        driver.wait_idle(LONGEST_RUN_MS)
        time.sleep(0.5)
        parveldriver.window_screenshot(env, driver, os.path.join(out, "screenshot-idle.png"))
        print("== access log")
        for line in driver.log_lines():
            print(line)
        driver.close()
    finally:
        driver.kill()
    print("== mirror: %s" % mirror)
    print_tree(mirror)
    print("== shortcuts: %s" % shortcuts)
    print_tree(shortcuts)
    print("== screenshots: %s, %s" % (os.path.join(out, "screenshot-run.png"), os.path.join(out, "screenshot-idle.png")))


def set_dpi(env, dpi):
    """Sets the session's screen resolution (both places Wine reads it from) and
    restarts the Wine server, so that the next program starts with it."""
    for key in (r"HKCU\Control Panel\Desktop",
                r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
        parveldriver.wine(env, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    subprocess.run(["wineserver", "-k"], env=env, check=False)
    subprocess.run(["wineserver", "-w"], env=env, check=False)


def main(argv):
    if not argv:
        print(__doc__)
        return 2
    build, addresses, dpi = os.path.abspath(argv[0]), argv[1:], None
    if addresses[:1] == ["--dpi"] and len(addresses) >= 2:
        dpi, addresses = int(addresses[1]), addresses[2:]
    out = os.path.join(build, "demo")
    state = os.path.join(out, "wine")
    os.makedirs(out, exist_ok=True)
    subprocess.run([SESSION, "stop", state], check=False)
    subprocess.run([SESSION, "start", state], check=True)
    demo = None
    try:
        env = parveldriver.session_env(state)
        if dpi is not None:
            set_dpi(env, dpi)
        if not addresses:
            demo = serve.start_demo()
            addresses = [demo.start_url]
            print("== demo site: %s (other server %s, FTP %s)" % (demo.start_url, demo.other.host, demo.ftp.host))
        crawl(env, build, out, addresses)
    finally:
        if demo is not None:
            demo.stop()
        subprocess.run([SESSION, "stop", state], check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
