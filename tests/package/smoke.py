# tests/package/smoke.py — the release ZIP as a user meets it, in a fresh Wine prefix.
# Once unpacked, its parvel.exe shows the first-run message and then the main window.
# Usage: smoke.py CPACK CPACK_CONFIG DRIVER_EXE WINE_STATE
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "e2e"))
from parveldriver import Driver, session_env  # noqa: E402

ENTRIES = {"parvel.exe", "qex.bmp", "qexinst.inf", "readme.txt"}


def make_package(cpack, config, folder):
    subprocess.run([cpack, "--config", config, "-B", folder], check=True, capture_output=True, timeout=300)
    zips = [name for name in os.listdir(folder) if name.endswith("-win64.zip")]
    if len(zips) != 1:
        sys.exit("cpack made %r, not one ZIP" % zips)
    return os.path.join(folder, zips[0])


def check_entries(package):
    """The entries: one folder named like the ZIP, ASCII names, the read-me in
    UTF-8 with a byte-order mark."""
    with zipfile.ZipFile(package) as z:
        names = [info.filename for info in z.infolist() if not info.is_dir()]
        top = os.path.basename(package)[:-len(".zip")]
        problems = [n for n in names if not n.isascii() or not n.startswith(top + "/")]
        if problems or {n.split("/")[-1] for n in names} != ENTRIES:
            sys.exit("entries of %s: %r" % (package, names))
        if not z.read(top + "/readme.txt").startswith(b"\xef\xbb\xbf"):
            sys.exit("readme.txt has no byte-order mark")
    return top


def first_start(driver_exe, env, exe):
    driver = Driver(driver_exe, env)
    try:
        answer = driver.start(exe)
        if not answer.startswith("message ") or driver.dialog()[0] != "Parvel インストール":
            sys.exit("no first-run message: %r" % answer)
        driver.answer(1)
        if driver.wait_window() != "" or driver.title() != "Parvel 1st MIX":
            sys.exit("no main window after the first-run message")
        if driver.close() != "0":
            sys.exit("the program did not end with 0")
    finally:
        driver.kill()


def main():
    cpack, config, driver_exe, state = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="parvel-package-")
    env = dict(session_env(state), WINEPREFIX=os.path.join(work, "prefix"))
    try:
        package = make_package(cpack, config, os.path.join(work, "out"))
        top = check_entries(package)
        subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=300)
        folder = os.path.join(env["WINEPREFIX"], "drive_c", "Tools")
        with zipfile.ZipFile(package) as z:
            z.extractall(folder)
        first_start(driver_exe, env, "C:\\Tools\\%s\\parvel.exe" % top)
        print("%s: %d bytes, first start shows the message and the window" % (
            os.path.basename(package), os.path.getsize(package)))
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
