# tools/e2e/sitecheck.py — checks parvel.exe's mirror of a real site, and against wget's.
# Checked against the server's files and compared with a wget mirror of the same site,
# with a reason for every file only one of them stored.
"""The checks follow the program's documented crawl rules, restated here once:

- tags scanned: A and AREA href, IMG, BGSOUND, EMBED and FRAME src, and the
  background of BODY, TABLE, TR, TD and TH; with the setting "modern" on (the
  default) also the tags and attributes mirrorcheck lists (LINK href of a style sheet,
  icon, manifest or preload, SCRIPT src, IFRAME src, srcset, media, OBJECT data, META
  refresh, url(...) and @import of STYLE blocks, style attributes and .css files); other
  LINK tags (rel next, prev, index ...) are not followed;
- what a page needs (its style sheets, scripts, icons and what style sheets name) is
  fetched from any folder and any server; a stored .css is written as a page is;
- links with a scheme other than http, https or ftp (mailto, javascript) are dropped;
  https is handled as http: http://host and https://host are one server, stored in one
  folder, and a protocol-relative link (//host/x) names host on the page's scheme;
- a page is an address whose file name is empty or ends in .htm, .html,
  .shtml or .asp; a file name without an extension is taken as a folder;
- pages are followed on the start server below the start folder only; other
  (non-page) files are fetched from any folder of the start server;
- the links of a stored page are written as mirrorcheck models them: what the rules
  fetch leads to its stored file, relative and rooted links to what they do not fetch
  lead to the server, absolute links to it stay; the real-site crawls run with
  out_server and ftp off, so no file of another server is fetched;
- pages are read as Shift_JIS text, character by character, but a byte in the
  lead-byte range never takes a '<' (or any byte that cannot end a character)
  along, so every tag of a UTF-8 or EUC-JP page is scanned too.

Paths are handled as byte strings throughout: the sites may use any encoding.
"""

import bisect
import collections
import os
import re
import subprocess
import urllib.parse

import mirrorcheck

PAGE_EXTENSIONS = (b".htm", b".html", b".shtml", b".asp")

# An http or https address, or a protocol-relative one: its server and its path.
ON_A_SERVER = re.compile(rb"(?i)(?:https?:)?//([^/]*)(/.*)?$")


def is_page_name(path):
    """True when the program takes the address path for a page (or a folder)."""
    name = path.rsplit(b"/", 1)[-1]
    if name == b"":
        return True
    dot = name.rfind(b".")
    return dot < 0 or name[dot:].lower() in PAGE_EXTENSIONS


def link_text(value):
    """The part of an attribute value that the program takes as the link: without the
    blanks around it, up to '?', '#' or a line break."""
    return re.split(rb"[?#\r\n]", value.strip(b" \t"), 1)[0].rstrip(b" \t")


def has_other_scheme(value):
    scheme = re.match(rb"([A-Za-z][A-Za-z0-9+.-]*):", value)
    return scheme is not None and scheme.group(1).lower() not in (b"http", b"https", b"ftp")


class Link:
    """One link value of a page: where it stands (byte offsets of the value) and what holds it."""

    def __init__(self, tag, attribute, value, start):
        self.tag, self.attribute, self.value, self.start = tag, attribute, value, start


def page_links(data):
    """Every href, src, background and data value of the page's tags (walked as the
    program walks them), with its offset."""
    return [Link(tag.name, a.name, a.value, a.start) for tag in mirrorcheck.scan(data).tags for a in tag.attributes
            if a.name in (b"href", b"src", b"background", b"data") and a.value is not None]


class Site:
    """The server side: the site's folder served at http://host/ (or https://host/), and the start page."""

    def __init__(self, host, root, start, scheme="http"):
        self.scheme = scheme
        self.host = host.encode()
        self.root = root
        self.start = start.encode()              # e.g. b"/ja/index.html"
        self.start_folder = self.start[:self.start.rfind(b"/") + 1]

    def files(self):
        """Server paths (b"/ja/x.html") of every file nginx serves, symbolic links followed."""
        found = {}
        for folder, _, names in os.walk(self.root, followlinks=True):
            for name in names:
                full = os.path.join(folder, name)
                if os.path.isfile(full):
                    found[b"/" + os.path.relpath(full, self.root).encode()] = full
        return found

    def file_of(self, path):
        """The server file answering the address path, or None (a folder answers with its index.html)."""
        if path.endswith(b"/"):
            path += b"index.html"
        full = os.path.join(self.root.encode(), urllib.parse.unquote_to_bytes(path).lstrip(b"/"))
        return full if os.path.isfile(full) else None

    def rules(self, modern=True):
        """The rules of the real-site crawls: unlimited depth, out_server and ftp off."""
        return mirrorcheck.Rules(self.start_folder, modern=modern)

    def page(self, path):
        """The mirrorcheck page of the server path."""
        return mirrorcheck.Page(b"%s://%s%s" % (self.scheme.encode(), self.host, path))


def resolve(page_path, value, host):
    """The server path a relative or own-host link of the page at page_path names, or None for another server."""
    text = link_text(value)
    own = ON_A_SERVER.match(text)
    if own:
        if own.group(1).lower() != host:
            return None
        text = own.group(2) or b"/"
    elif re.match(rb"(?i)ftp://", text):
        return None
    joined = urllib.parse.urljoin(b"http://h" + page_path, text)
    return urllib.parse.urlsplit(joined).path or b"/"


class Mirror:
    """The program's save folder after a crawl of one site."""

    def __init__(self, save_folder, site):
        self.save = save_folder.encode() if isinstance(save_folder, str) else save_folder
        self.site = site
        self.top = os.path.join(self.save, site.host)

    def files(self):
        """Server paths of every stored file of the site's host folder."""
        found = {}
        for folder, _, names in os.walk(self.top):
            for name in names:
                full = os.path.join(folder, name)
                found[b"/" + os.path.relpath(full, self.top)] = full
        return found

    def stray_files(self, allowed_tops=()):
        """Files of the save folder outside the site's host folder (and the allowed folders)."""
        stray = []
        for folder, _, names in os.walk(self.save):
            for name in names:
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, self.save)
                top = rel.split(b"/", 1)[0]
                if top != self.site.host and top not in allowed_tops:
                    stray.append(rel)
        return stray

    def local_target(self, page_path, value):
        """Where a link of a stored page leads on disk, as a browser opening the file would resolve it."""
        text = link_text(value)
        if text.startswith(b"//"):
            return None                   # another server, as a browser would take it
        base = b"file://" + urllib.parse.quote_from_bytes(os.path.join(self.top, page_path.lstrip(b"/")), safe=b"/").encode()
        joined = urllib.parse.urljoin(base, text)
        if not joined.startswith(b"file://"):
            return None
        return os.path.normpath(urllib.parse.unquote_to_bytes(urllib.parse.urlsplit(joined).path))

    def server_path_of(self, local):
        """The server path whose copy the local file is, or None when it lies outside the host folder."""
        rel = os.path.relpath(local, self.top)
        if rel.startswith(b".."):
            return None
        path = b"/" + (b"" if rel == b"." else rel)
        return path + b"/" if os.path.isdir(local) or local.endswith(b"/") else path


class MirrorReport:
    """Results of the mirror checks of one site: lists of faults and of notes, and counts."""

    def __init__(self):
        self.faults = []
        self.dangling_on_server = []
        self.rewritten_local = 0          # links written as a stored file's place
        self.links_checked = 0            # followed links checked on disk
        self.not_offline = 0              # followed links to a file the server has that lead to no stored file
        self.to_own_server = 0            # links not followed that lead to the site's own server
        self.made_absolute = 0            # of those, written from relative or rooted links
        self.to_other_servers = 0         # links not followed that lead to another server
        self.followed = {}                # page path -> local files its followed links lead to
        self.left_to_server = {}          # page path -> addresses (browser form) of its links not followed


def browser_form(address):
    """An http(s) address as a browser compares it: scheme and host in lower case, the
    default port dropped, the path's escapes decoded."""
    text = address.decode("latin-1") if isinstance(address, bytes) else address
    parts = urllib.parse.urlsplit(text)
    host = parts.netloc.lower()
    default = {"http": ":80", "https": ":443"}.get(parts.scheme.lower())
    if default and host.endswith(default):
        host = host[:-len(default)]
    return parts.scheme.lower(), host, urllib.parse.unquote(parts.path or "/")


def check_mirror(site, mirror, modern=True):
    """Checks every stored file: it has a file on the server, it equals that file (a page,
    and with "modern" on a style sheet: but for exactly the link rewrites the rules call
    for), and each link the program follows from a stored page or style sheet leads to a
    stored file. Files outside the host folder: Mirror.stray_files."""
    report = MirrorReport()
    server = site.files()
    stored = mirror.files()
    rules = site.rules(modern)
    for path, full in sorted(stored.items()):
        original_file = server.get(path)
        if original_file is None:
            report.faults.append("stored file %r has no file on the server" % path)
            continue
        with open(full, "rb") as f:
            copy = f.read()
        with open(original_file, "rb") as f:
            original = f.read()
        if not path.lower().endswith(PAGE_EXTENSIONS) and not (modern and mirrorcheck.is_style_sheet(path)):
            if copy != original:
                report.faults.append("%r differs from the server's file (%d bytes stored, %d served)"
                                     % (path, len(copy), len(original)))
            continue
        outcomes = compare_page(site, rules, path, original, copy, report)
        check_followed_links(site, mirror, path, copy, outcomes, report, modern)
    return report


def compare_page(site, rules, path, original, copy, report):
    """The stored page must equal the server's page with the rewrites the rules call for;
    returns the outcome of each of its links."""
    expected, outcomes = mirrorcheck.expected_page(original, rules, site.page(path))
    if copy != expected:
        at = mirrorcheck.first_difference(copy, expected)
        report.faults.append("page %r differs from the server's page outside the rewritten links at byte %d: "
                             "stored %r, expected %r" % (path, at, copy[max(0, at - 40):at + 60],
                                                         expected[max(0, at - 40):at + 60]))
    return outcomes


def check_followed_links(site, mirror, path, copy, outcomes, report, modern=True):
    """Every link of the stored page that the rules fetch leads to a stored file (not a
    folder), unless the server has no such file either; every other link leads to a server."""
    followed = report.followed.setdefault(path, set())
    left = report.left_to_server.setdefault(path, set())
    scanned = [l for l in mirrorcheck.scan_file(copy, path, modern).links if l.text != b"" and not l.text.startswith(b"#")]
    if len(scanned) != len(outcomes):
        report.faults.append("page %r: %d links stored, %d served" % (path, len(scanned), len(outcomes)))
        return
    for stored, (served, outcome) in zip(scanned, outcomes):
        if outcome.address is None:
            continue
        if not outcome.fetched:
            on_server = mirrorcheck.split_address(mirrorcheck.without_user(outcome.address))[0]
            if mirrorcheck.bare_host(on_server) == mirrorcheck.bare_host(site.host):
                report.to_own_server += 1
                report.made_absolute += stored.text != served.text
            else:
                report.to_other_servers += 1
            left.add(browser_form(stored.text))
            continue
        report.rewritten_local += stored.text != served.text
        _, folder, file = mirrorcheck.split_address(outcome.address)
        if file and not mirrorcheck.extension(file):
            folder, file = folder + file + b"/", b""      # a name without extension is a folder
        report.links_checked += 1
        if site.file_of(folder + file) is None:
            report.dangling_on_server.append((path, stored.text))
            continue
        local = mirror.local_target(path, stored.text)
        if local is not None:
            followed.add(local)
        if local is None or not os.path.isfile(local):
            report.not_offline += 1
            report.faults.append("page %r: followed link %r leads to %r, which is not a stored file"
                                 % (path, stored.text, local))


def run_wget(start_url, folder, options=(), timeout=600):
    """Mirrors the site with Debian's wget (with the further options, such as
    --ca-certificate=FILE); returns the completed process. --page-requisites lets wget,
    like the program, take what a page needs to be shown from outside the start folder,
    which --no-parent alone keeps it from."""
    os.makedirs(folder, exist_ok=True)
    return subprocess.run(["wget", "--mirror", "--page-requisites", "--convert-links", "--no-parent", "-nv",
                           "-e", "robots=off", "--no-proxy", *options, start_url], cwd=folder, capture_output=True,
                          timeout=timeout)


def stored_paths(top):
    found = set()
    for folder, _, names in os.walk(top):
        for name in names:
            found.add(b"/" + os.path.relpath(os.path.join(folder, name), top))
    return found


# One reference to a server path: the file that names it, the tag (b"css" in a style sheet,
# b"style" in a STYLE block) and attribute that hold it, and whether the program reads it.
Reference = collections.namedtuple("Reference", "holder tag attribute read")


def referrers(site, modern=True):
    """For every server path: the References to it in the server's own files. What the
    program's scan reads (mirrorcheck, with "modern" on or off) is read; the further href,
    src, background and data values, the addresses of STYLE blocks, style attributes and
    style sheets (which wget reads) are not."""
    refs = collections.defaultdict(list)

    def add(path, value, tag, attribute, read):
        if not has_other_scheme(value) and not value.startswith(b"#"):
            target = resolve(path, value, site.host)
            if target is not None:
                refs[target].append(Reference(path, tag, attribute, read))

    for path, full in site.files().items():
        with open(full, "rb") as f:
            data = f.read()
        if path.lower().endswith(PAGE_EXTENSIONS):
            read = mirrorcheck.scan(data, modern).links
            for link in read:
                add(path, link.text, link.tag, link.kind, True)
            others = [] if modern else [l for l in mirrorcheck.scan(data).links if l.kind == mirrorcheck.NEEDED]
            for link in others:
                add(path, link.text, link.tag, b"url", False)
            starts = sorted(link.start for link in read)
            for link in page_links(data):
                at = bisect.bisect_left(starts, link.start)
                if at == len(starts) or starts[at] > link.start + len(link.value):
                    add(path, link.value, link.tag, link.attribute, False)
        elif mirrorcheck.is_style_sheet(path):
            for link in mirrorcheck.scan_style_sheet(data).links:
                add(path, link.text, b"css", b"url", modern)
    return refs


REASON_NOT_SCANNED = "named only by LINK/SCRIPT tags or style sheets, which Parvel does not scan with \"modern\" off"
REASON_LINK_REL = "named only by LINK tags of a rel Parvel does not follow (next, prev, index, search ...)"
REASON_NOT_READ = "named only by tags or attributes Parvel does not read"
REASON_OUTSIDE = "a non-page file outside the start folder: Parvel fetches pictures and files from any folder, wget --no-parent does not"
REASON_FOLLOW_ON = "named only by files that the other one alone stored"
REASON_EXTENSIONLESS = "a link without a file extension: Parvel takes it for a folder (and asks for FOLDER/)"


def explain(site, path, mine, theirs, refs, parvel_side, modern=True):
    """Why a file stored by one crawler only (mine) is missing from the other's (theirs)."""
    holders = [r for r in refs.get(path, []) if r.holder in mine and r.holder != path]
    if not holders:
        return None
    read = [r for r in holders if r.read]
    if parvel_side:
        if read and not path.startswith(site.start_folder) and not is_page_name(path):
            return REASON_OUTSIDE
        if all(r.holder not in theirs for r in holders):
            return REASON_FOLLOW_ON
        return None
    if not read:
        if not modern:
            return REASON_NOT_SCANNED
        return REASON_LINK_REL if all(r.tag == b"link" for r in holders) else REASON_NOT_READ
    if all(r.holder not in theirs for r in read):
        return REASON_FOLLOW_ON
    name = path.rsplit(b"/", 1)[-1]
    if b"." not in name:
        return REASON_EXTENSIONLESS
    return None


def compare_with_wget(site, parvel_paths, wget_paths, modern=True):
    """Per-site figures and the reason for each file only one crawler stored. Returns a dict
    with the counts, the explained differences grouped by reason and the unexplained ones."""
    refs = referrers(site, modern)
    only_parvel = sorted(parvel_paths - wget_paths)
    only_wget = sorted(wget_paths - parvel_paths)
    reasons = collections.defaultdict(list)
    unexplained = []
    for side, paths, mine, theirs in (("parvel", only_parvel, parvel_paths, wget_paths),
                                      ("wget", only_wget, wget_paths, parvel_paths)):
        for path in paths:
            reason = explain(site, path, mine, theirs, refs, side == "parvel", modern)
            if reason is None:
                unexplained.append((side, path, refs.get(path, [])[:3]))
            else:
                reasons[(side, reason)].append(path)
    return {"parvel": len(parvel_paths), "wget": len(wget_paths), "both": len(parvel_paths & wget_paths),
            "only_parvel": only_parvel, "only_wget": only_wget, "reasons": dict(reasons),
            "unexplained": unexplained}


# What a stored copy cannot do from disk: a browser refuses module scripts, fetch() and
# XMLHttpRequest (also through jQuery) to file:// addresses.
OFFLINE_LIMITS = [(re.compile(rb"""(?i)<script[^>]*\stype\s*=\s*["']?module"""), "a module script"),
                  (re.compile(rb"\bfetch\s*\("), "fetch()"), (re.compile(rb"\bXMLHttpRequest\b"), "XMLHttpRequest"),
                  (re.compile(rb"(?:\$|jQuery)\.(?:ajax|get|getJSON|post|load)\s*\("), "jQuery's XMLHttpRequest calls"),
                  (re.compile(rb"\bimport\s*\("), "import()")]


def offline_limits(mirror):
    """(server path, what) for each stored page or script that uses what only works from a server."""
    found = []
    for path, full in sorted(mirror.files().items()):
        if path.lower().endswith(PAGE_EXTENSIONS + (b".js", b".mjs")):
            with open(full, "rb") as f:
                data = f.read()
            uses = [what for pattern, what in OFFLINE_LIMITS if pattern.search(data)]
            if uses:
                found.append((path, ", ".join(uses)))
    return found


def format_comparison(name, site, comparison, mirror_report):
    out = ["== %s: %s://%s%s (served from %s)" % (name, site.scheme, site.host.decode(), site.start.decode(), site.root),
           "   files stored: Parvel %d, wget %d, both %d; only Parvel %d, only wget %d"
           % (comparison["parvel"], comparison["wget"], comparison["both"], len(comparison["only_parvel"]),
              len(comparison["only_wget"])),
           "   followed links checked %d (written as stored places %d), followed links that do not resolve offline %d, "
           "links the server cannot answer either %d" % (mirror_report.links_checked, mirror_report.rewritten_local,
                                                         mirror_report.not_offline, len(mirror_report.dangling_on_server)),
           "   links left to the server (not followed): %d to its own server (%d written from relative or rooted links), "
           "%d to other servers" % (mirror_report.to_own_server, mirror_report.made_absolute,
                                    mirror_report.to_other_servers)]
    for (side, reason), paths in sorted(comparison["reasons"].items()):
        shown = ", ".join(p.decode("utf-8", "replace") for p in paths[:6])
        more = " ..." if len(paths) > 6 else ""
        out.append("   only %s, %d: %s: %s%s" % (side, len(paths), reason, shown, more))
    for side, path, refs in comparison["unexplained"]:
        out.append("   only %s, UNEXPLAINED: %s (named by %r)" % (side, path.decode("utf-8", "replace"), refs))
    for page, value in mirror_report.dangling_on_server[:5]:
        out.append("   link the server has no file for: %s in %s" % (value.decode("utf-8", "replace"),
                                                                     page.decode("utf-8", "replace")))
    for fault in mirror_report.faults:
        out.append("   FAULT: " + fault)
    return "\n".join(out)
