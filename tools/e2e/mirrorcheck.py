# tools/e2e/mirrorcheck.py — reads a mirror made by parvel.exe: its files, the links of its stored pages, which of those links lead to no stored file, and how a stored page differs from the served one.
import os
import re

PAGE_EXTENSIONS = (".htm", ".html", ".shtml", ".asp")
# The attributes that carry links in the pages the program follows, and the
# window.open( target of an onClick.
LINK = re.compile(rb"""(?i)\b(?:href|src|background)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+))""")
WINDOW_OPEN = re.compile(rb"""(?i)window\.open\(\s*['"]([^'"]+)""")
COMMENT = re.compile(rb"<!--.*?-->", re.S)
SCHEME = re.compile(rb"^[A-Za-z][A-Za-z0-9+.-]*:")
SERVER_PREFIX = re.compile(rb"^(?:[A-Za-z][A-Za-z0-9+.-]*:)?//")
BASE = re.compile(rb"(?i)<BAS(E[^<>]*)>")


def stored_files(folder):
    """The files below `folder`, as paths with '/' relative to it."""
    found = set()
    for parent, _, files in os.walk(folder):
        for name in files:
            found.add(os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/"))
    return found


def links_of(page):
    """The link texts of a page (bytes), outside comments, in page order."""
    text = COMMENT.sub(b"", page)
    links = [next(g for g in m.groups() if g is not None) for m in LINK.finditer(text)]
    return links + WINDOW_OPEN.findall(text)


def is_local(link):
    """A link a browser resolves against the stored page's own folder."""
    return link != b"" and not link.startswith((b"#", b"/")) and SCHEME.match(link) is None


def target_of(page_path, link):
    """The mirror path a local link of the page at `page_path` leads to: the query
    and fragment dropped, a folder taken as its stored index.html, and ':' of a
    port as '-', as in the host folder names."""
    text = re.split(rb"[?#]", link, 1)[0].decode("latin-1")
    parts = page_path.split("/")[:-1]
    for segment in text.split("/"):
        if segment == "..":
            if not parts:
                return None
            parts.pop()
        elif segment not in (".", ""):
            parts.append(segment.replace(":", "-"))
    if text.endswith("/") or text == "":
        parts.append("index.html")
    return "/".join(parts)


def missing_targets(folder):
    """(page, link, target) for every local link of a stored page whose target
    is not stored; target None when the link climbs above the mirror."""
    files = stored_files(folder)
    missing = []
    for page in sorted(files):
        if not page.lower().endswith(PAGE_EXTENSIONS):
            continue
        with open(os.path.join(folder, page), "rb") as f:
            data = f.read()
        for link in links_of(data):
            if not is_local(link):
                continue
            target = target_of(page, link)
            if target not in files:
                missing.append((page, link.decode("latin-1"), target))
    return missing


def rewritten_form(link, host):
    """The local path, below the save folder, of what an absolute link names: the server
    and path of "scheme://server/path" and of a protocol-relative "//server/path", the
    page's own host before a path from '/'. None for a relative link."""
    server = SERVER_PREFIX.match(link)
    if server:
        return link[server.end():]
    if link.startswith(b"/"):
        return host + link
    return None


def compare_rewritten_page(served, stored, page_path, host):
    """Compares a stored page with the page its server sent: the same bytes but for links
    rewritten into the local path of what they named, "../" for each folder of the page's
    path (the host's folder included) before rewritten_form(); a BASE tag is stored as a
    comment of its own (<!--E HREF=...-->). page_path is the page's path on its server
    ("hp/index.html"), host its host as links write it. Returns (the served texts of the
    rewritten links in page order, faults)."""
    served = BASE.sub(rb"<!--\1-->", served)
    faults = []
    if LINK.sub(b"LINK", stored) != LINK.sub(b"LINK", served):
        faults.append("%s: the stored page differs from the served one outside its links" % page_path)
    climb = b"../" * (page_path.count("/") + 1)
    rewritten = []
    for was, now in zip(links_of(served), links_of(stored)):
        if was == now:
            continue
        form = rewritten_form(was, host)
        expected = None if form is None else climb + form
        if now != expected:
            faults.append("%s: link %r stored as %r, expected %r" % (page_path, was, now, expected))
        rewritten.append(was)
    return rewritten, faults
