# tools/e2e/browsercheck.py — opens stored pages from disk in headless Chromium.
# Pages are opened as file:// in Debian's Chromium; reports, per page, each picture's load
# state and every link target as the browser resolved it.
"""One Chromium run checks many pages: a small local page (written to a temporary
folder, never into the mirror) loads each stored page in turn in a frame, reads
the frame's pictures (loaded when complete with a natural width above 0) and the
resolved addresses of its A and AREA links, and writes the results as JSON into
its own document, which --dump-dom prints. --allow-file-access-from-files lets the
local page read the frames of other file:// pages; --virtual-time-budget lets
every load finish before the document is printed. --ignore-certificate-errors lets
an address left on a server with a test certificate load (Chromium does not read the
system's trust store), so that the check sees where it came from.
"""

import html
import json
import os
import re
import shutil
import subprocess
import tempfile
import urllib.parse

CHROMIUM = "/usr/bin/chromium"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--allow-file-access-from-files", "--ignore-certificate-errors"]

PROBE = """<!DOCTYPE html><html><body><pre id="result">pending</pre><script>
const pages = %s;
const results = [];
const frame = document.createElement("iframe");
document.body.appendChild(frame);
function visit(i) {
  if (i >= pages.length) {
    document.getElementById("result").textContent = JSON.stringify(results);
    frame.remove();
    return;
  }
  frame.onload = () => {
    const r = {page: pages[i]};
    try {
      const doc = frame.contentDocument;
      r.title = doc.title;
      r.images = Array.from(doc.images).map(im => [im.src, im.complete && im.naturalWidth > 0]);
      r.links = Array.from(doc.querySelectorAll("a[href], area[href]")).map(a => a.href);
    } catch (e) {
      r.error = String(e);
    }
    results.push(r);
    visit(i + 1);
  };
  frame.src = pages[i];
}
visit(0);
</script></body></html>
"""


def file_url(path):
    return "file://" + urllib.parse.quote(os.path.abspath(path))


def path_of_url(url):
    """The local path of a file:// address, without its query and fragment; None for other schemes."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme != "file":
        return None
    return urllib.parse.unquote(parts.path)


def inspect_pages(paths, budget_ms=20000, timeout=180):
    """Loads each stored page in Chromium; returns a list of dicts (page, title, images
    as [address, loaded], links) in the order of paths. Raises RuntimeError when the
    browser printed no result."""
    work = tempfile.mkdtemp(prefix="parvel-chromium-")
    try:
        probe = os.path.join(work, "probe.html")
        with open(probe, "w", encoding="utf-8") as f:
            f.write(PROBE % json.dumps([file_url(p) for p in paths]).replace("</", "<\\/"))
        done = subprocess.run(
            [CHROMIUM, *FLAGS, "--user-data-dir=" + os.path.join(work, "profile"),
             "--virtual-time-budget=%d" % budget_ms, "--dump-dom", file_url(probe)],
            capture_output=True, timeout=timeout, cwd=work)
        dom = done.stdout.decode("utf-8", "replace")
        found = re.search(r'<pre id="result">(.*?)</pre>', dom, re.S)
        if not found or found.group(1) == "pending":
            raise RuntimeError("Chromium printed no result (exit %d): %s" %
                               (done.returncode, done.stderr.decode("utf-8", "replace")[-2000:]))
        return json.loads(html.unescape(found.group(1)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
