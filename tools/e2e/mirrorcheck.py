# tools/e2e/mirrorcheck.py — reads a mirror made by parvel.exe and models its page rules.
# The links its scan finds, what the crawl's rules fetch, and the text each link of a
# stored page must have.
"""The model restates the program's rules for the links of a stored page:

- tags are read from each '<'; attribute values run to their matching quote (a quote
  left open for more than 4096 bytes ends at the tag's first '>'); attribute names
  match whole; "<!" skips to the next '>', <COMMENT> to </COMMENT>; a BASE tag becomes
  a comment ("<!--E ...-->");
- the links: A and AREA href (and a quoted window.open( address before it), IMG,
  BGSOUND, EMBED and FRAME src, BODY, TABLE, TR, TH and TD background; a link ends at
  '?', '#' or a line break; blanks around a quoted one are no part of it;
- with the setting "modern" on (the default) also: LINK href when its rel holds
  stylesheet, icon, apple-touch-icon(-precomposed), manifest or preload, SCRIPT src, and
  url(...) and @import in STYLE blocks and style attributes (files the page needs, from
  any server); IFRAME src (a frame); IMG srcset, data-src and data-srcset, SOURCE src and
  srcset, VIDEO src and poster, AUDIO and TRACK src, INPUT type=image src, OBJECT data and
  the address of a META refresh (the next level); each srcset candidate is a link of its
  own, its descriptors stay; a stored .css is scanned for url(...) and @import (comments
  and other strings passed over) and written as a page is; a tag gives at most 64 links;
- links resolve as a browser resolves them (dot segments removed, never above the
  server's root; spaces and bytes beyond ASCII asked as their escapes);
- what the rules fetch is written as the place where it is stored: a relative link
  that opens that place on disk stays, one to a folder gets "index.html", anything
  else climbs "../" once for each folder of the page's place (its host folder
  included) and names the target's place (host-PORT, folders, safe names, '%', '#',
  '?', space, quote, '&', '<', '>' escaped);
- what they do not fetch: a relative, rooted or protocol-relative link becomes the
  address on the server, an absolute one stays.

Addresses are handled as byte strings: pages may use any encoding.
"""
import collections
import os
import re

PAGE_EXTENSIONS = (b".htm", b".html", b".shtml", b".asp")
LINK_ATTRIBUTES = {b"a": b"href", b"area": b"href", b"img": b"src", b"bgsound": b"src", b"embed": b"src",
                   b"frame": b"src", b"body": b"background", b"table": b"background", b"tr": b"background",
                   b"th": b"background", b"td": b"background"}
BLANKS = b" \t\r\n\f"
QUOTE_LIMIT = 4096
TEXT_SIZE = 260
DEVICES = {b"CON", b"PRN", b"AUX", b"NUL", b"CONIN$", b"CONOUT$"} | {b"COM%d" % i for i in range(1, 10)} | {
    b"LPT%d" % i for i in range(1, 10)}
SCHEME = re.compile(rb"[A-Za-z][A-Za-z0-9+.\-]*:")


def stored_files(folder):
    """The files below `folder`, as paths with '/' relative to it."""
    found = set()
    for parent, _, files in os.walk(folder):
        for name in files:
            found.add(os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/"))
    return found


# ---- The page scan ------------------------------------------------------------------

Tag = collections.namedtuple("Tag", "name start attributes end")   # end: its '>' or the text's end
# One attribute: its name (lower case), its value (None without '='), where the value
# begins and ends, and the quote that opened it (b"" for none).
Attribute = collections.namedtuple("Attribute", "name value start end quote")
# A link as the scan takes it: the tag that holds it (b"css" in a style sheet), where its
# text stands, the text, and its kind.
Link = collections.namedtuple("Link", "tag start text kind")
# tags, links in page order, BASE tags as (start, index of their closing '>' or None), and
# the count of links not read (texts over 259 bytes, links beyond a tag's 64).
Scan = collections.namedtuple("Scan", "tags links bases unreadable")
ANGLE = re.compile(rb"[<>]")
WINDOW_OPEN_STOP = re.compile(rb"[\'\")>,]")

# Link kinds: a page or picture of the next level; a frame, a page of the page's own level;
# a file the page needs to be shown (style sheet, script, icon, what a style sheet names),
# fetched from any server.
NEXT, FRAME, NEEDED = "next", "frame", "needed"
# How an attribute's value holds its links: one address, a srcset list of candidates, the
# content of a META refresh.
URL, SRCSET, REFRESH = "url", "srcset", "refresh"
# The attributes read, as tag -> [(attribute, kind, form)]: the old table alone with
# "modern" off, more tags and attributes with it on.
OLD_ATTRIBUTES = {tag: [(attribute, FRAME if tag == b"frame" else NEXT, URL)] for tag, attribute in LINK_ATTRIBUTES.items()}
MODERN_ATTRIBUTES = dict(OLD_ATTRIBUTES)
MODERN_ATTRIBUTES.update({
    b"link": [(b"href", NEEDED, URL)], b"script": [(b"src", NEEDED, URL)], b"iframe": [(b"src", FRAME, URL)],
    b"img": [(b"src", NEXT, URL), (b"srcset", NEXT, SRCSET), (b"data-src", NEXT, URL),
             (b"data-srcset", NEXT, SRCSET)],
    b"source": [(b"src", NEXT, URL), (b"srcset", NEXT, SRCSET)], b"video": [(b"src", NEXT, URL), (b"poster", NEXT, URL)],
    b"audio": [(b"src", NEXT, URL)], b"track": [(b"src", NEXT, URL)], b"input": [(b"src", NEXT, URL)],
    b"object": [(b"data", NEXT, URL)], b"meta": [(b"content", NEXT, REFRESH)]})
# A LINK tag is read when its rel holds one of these words.
NEEDED_RELS = {b"stylesheet", b"icon", b"apple-touch-icon", b"apple-touch-icon-precomposed", b"manifest", b"preload"}
TAG_LINK_LIMIT = 64
QUOTED_STOPS, UNQUOTED_STOPS = b"?#\r\n", b" \t<>?#'\r\n"
CSS_BLANKS = b" \t\r\n\f"
REFRESH_URL = re.compile(rb"(?i)url[ \t\r\n\f]*=[ \t\r\n\f]*")
NAME_BYTES = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_"
# A quote as a style attribute may write it, around the address of url(...).
QUOTE_REFERENCES = (b"&quot;", b"&#39;", b"&#34;", b"&apos;")


def _find(text, what, start, end=None):
    """Index of what in text[start:end], or the end (the text's length) when it is not there."""
    found = text.find(what, start, len(text) if end is None else end)
    return found if found >= 0 else (len(text) if end is None else end)


def _skip_blanks(text, p):
    while p < len(text) and text[p] in BLANKS:
        p += 1
    return p


def read_attributes(text, p):
    """The attributes of a tag from p, as the program walks them, and the tag's end."""
    found, n = [], len(text)
    while True:
        q = _skip_blanks(text, p)
        while q < n and text[q] == 0x2F:
            q = _skip_blanks(text, q + 1)
        if q >= n or text[q] == 0x3E:
            return found, q
        name = q
        while q < n and text[q] not in b">=/" and text[q] not in BLANKS:
            q += 1
        q = max(q, name + 1)              # a stray '=' or quote is a name of its own
        after = _skip_blanks(text, q)
        if after >= n or text[after] != 0x3D:
            found.append(Attribute(text[name:q].lower(), None, q, q, b""))
            p = q
            continue
        v = _skip_blanks(text, after + 1)
        quote = text[v:v + 1] if text[v:v + 1] in (b'"', b"'") else b""
        if quote:
            close = text.find(quote, v + 1, v + 1 + QUOTE_LIMIT)
            end = close if close >= 0 else _find(text, b">", v + 1)
            p = end + 1 if close >= 0 else end
            v += 1
        else:
            end = v
            while end < n and text[end] != 0x3E and text[end] not in BLANKS:
                end += 1
            p = end
        found.append(Attribute(text[name:q].lower(), text[v:end], v, end, quote))


def _take(text, start, stops, end):
    """The link text from start to the first stop byte or end, closing blanks dropped;
    None when it runs over 259 bytes."""
    stop = start
    while stop < end and text[stop] not in stops:
        stop += 1
    if stop - start > TEXT_SIZE - 1:
        return None
    return text[start:stop].rstrip(b" \t")


def _value_link(text, value):
    """(start, text) of the one address of an attribute value (text None: too long)."""
    start = value.start
    if value.quote:
        while start < value.end and text[start] in b" \t":
            start += 1
    return start, _take(text, start, QUOTED_STOPS if value.quote else UNQUOTED_STOPS, value.end)


def srcset_links(text, start, end):
    """(start, text) of each candidate address of a srcset list in text[start:end]: the
    candidates stand between commas, each an address and the descriptors ("2x", "480w",
    commas inside parentheses) after the blanks that follow it."""
    found, p = [], start
    while p < end:
        while p < end and text[p] in CSS_BLANKS + b",":
            p += 1
        if p >= end:
            break
        stop = p
        while stop < end and text[stop] not in CSS_BLANKS:
            stop += 1
        address_end = stop
        while address_end > p and text[address_end - 1] == 0x2C:
            address_end -= 1              # commas closing the address end the candidate
        found.append((p, _take(text, p, QUOTED_STOPS, address_end)))
        p, depth = stop, 0
        while address_end == stop and p < end and (text[p] != 0x2C or depth > 0):
            depth += 1 if text[p] == 0x28 else -1 if text[p] == 0x29 and depth > 0 else 0
            p += 1
    return found


def refresh_link(text, value):
    """(start, text) of the address of a META refresh's content ("5; url=page.html", "5;
    page.html"), without its quotes; None when there is none."""
    p, end = value.start, value.end
    while p < end and text[p] in b"0123456789." + CSS_BLANKS:
        p += 1
    if p >= end or text[p] not in b";,":
        return None
    found = REFRESH_URL.match(text, _skip_css_blanks(text, p + 1, end), end)
    p = found.end() if found else _skip_css_blanks(text, p + 1, end)
    stop = end
    if p < end and text[p] in b"'\"":
        stop = _find(text, text[p:p + 1], p + 1, end)
        p += 1
    return (p, _take(text, p, QUOTED_STOPS, stop)) if p < stop else None


def _skip_css_blanks(text, p, end):
    while p < end and text[p] in CSS_BLANKS:
        p += 1
    return p


def _css_string_end(text, p, end):
    """The index of what closes the CSS string opened at p: its quote, its line's end, or end."""
    quote, p = text[p], p + 1
    while p < end and text[p] != quote and text[p] != 0x0A:
        p += 1
    return p


def _css_link(text, start, end):
    """(start, text) of the address in text[start:end], blanks before it dropped."""
    while start < end and text[start] in b" \t\r\n":
        start += 1
    return start, _take(text, start, QUOTED_STOPS, end)


def _css_url(text, p, end):
    """After "url(" at p: (start, text) of the address and where the text goes on."""
    p = _skip_css_blanks(text, p, end)
    reference = next((r for r in QUOTE_REFERENCES if text[p:p + len(r)].lower() == r), None)
    if reference is not None:             # url(&quot;a.png&quot;) in a style attribute
        begin = p + len(reference)
        close = text.find(reference, begin, end)
        p = close = end if close < 0 else close
    elif p < end and text[p] in b"\"'":
        begin, close = p + 1, _css_string_end(text, p, end)
        p = min(close + 1, end)
    else:
        begin = close = p
        while close < end and text[close] != 0x29 and text[close] not in CSS_BLANKS:
            close += 1
        p = close
    while p < end and text[p] not in b");}":
        p += 1
    return _css_link(text, begin, close), (p + 1 if p < end and text[p] == 0x29 else p)


def css_links(text, start, end):
    """(start, text) of every address of CSS text[start:end]: url(...), quoted or not, and
    the string or url(...) of an @import; comments and other strings are passed over."""
    found, p = [], start
    while p < end:
        if text.startswith(b"/*", p, end):
            close = text.find(b"*/", p + 2, end)
            p = end if close < 0 else close + 2
        elif text[p] in b"\"'":
            p = min(_css_string_end(text, p, end) + 1, end)
        elif text[p:p + 4].lower() == b"url(" and p + 4 <= end and (p == start or text[p - 1] not in NAME_BYTES):
            link, p = _css_url(text, p + 4, end)
            found.append(link)
        elif text[p:p + 7].lower() == b"@import" and p + 7 <= end:
            v = _skip_css_blanks(text, p + 7, end)
            p = v
            if v < end and text[v] in b"\"'":
                close = _css_string_end(text, v, end)
                found.append(_css_link(text, v + 1, close))
                p = min(close + 1, end)
            elif text[v:v + 4].lower() == b"url(" and v + 4 <= end:
                link, p = _css_url(text, v + 4, end)
                found.append(link)
        else:
            p += 1
    return found


def _tag_links(text, lower, name, attributes_start, attributes, end, modern):
    """The links of a scanned tag: a quoted window.open( address of an anchor first, then
    the value of the first attribute of each of the tag's link names (old table: the one),
    with "modern" also the addresses of its style attribute; and the count of the links
    not read: texts too long and links beyond the tag's 64."""
    wanted = (MODERN_ATTRIBUTES if modern else OLD_ATTRIBUTES).get(name, [])
    found = []                            # (start, text, kind)
    if name in (b"a", b"area"):
        call = lower.find(b"window.open", attributes_start, end)
        stop = WINDOW_OPEN_STOP.search(text, call) if call >= 0 else None
        if stop is not None and stop.start() < end and stop.group() in (b"'", b'"'):
            at = stop.start() + 1
            found.append((at, _take(text, at, b"\"' <>?#\r\n", _find(text, stop.group(), at, end)), NEXT))

    def first(attribute):
        return next((a for a in attributes if a.name == attribute and a.value is not None), None)

    def words(attribute):
        value = first(attribute)
        return set(value.value.lower().split()) if value is not None else set()

    if (name == b"link" and not NEEDED_RELS & words(b"rel") or name == b"input" and b"image" not in words(b"type")
            or name == b"meta" and b"refresh" not in words(b"http-equiv")):
        wanted = []
    values = [(first(attribute), kind, form) for attribute, kind, form in wanted]
    if modern and first(b"style") is not None:
        values.append((first(b"style"), NEEDED, b"style"))
    for value, kind, form in sorted((v for v in values if v[0] is not None), key=lambda v: v[0].start):
        if form == URL:
            found.append(_value_link(text, value) + (kind,))
        elif form == SRCSET:
            found += [link + (kind,) for link in srcset_links(text, value.start, value.end)]
        elif form == REFRESH:
            link = refresh_link(text, value)
            found += [link + (kind,)] if link is not None else []
        else:
            found += [link + (kind,) for link in css_links(text, value.start, value.end)]
    readable = [f for f in found if f[1] is not None]
    unreadable = _too_long(text, found) + max(0, len(readable) - TAG_LINK_LIMIT)
    return [Link(name, start, link, kind) for start, link, kind in readable[:TAG_LINK_LIMIT]], unreadable


def _too_long(text, found):
    """How many of the found (start, text, ...) were too long to read, those of a scheme
    that is never followed (a data: address is long by nature) aside."""
    def followed(start):
        scheme = SCHEME.match(text, start)
        return scheme is None or scheme.group().lower() in (b"http:", b"https:", b"ftp:")
    return sum(1 for f in found if f[1] is None and followed(f[0]))


def scan(data, modern=True):
    """Walks the page as the program does (up to its first NUL); with "modern" off the
    old table alone is read. Returns a Scan."""
    text = data.split(b"\0", 1)[0]
    lower = text.lower()
    n = len(text)
    tags, links, bases, unreadable = [], [], [], 0
    pos = 0
    while True:
        lt = text.find(b"<", pos)
        if lt < 0:
            break
        stop = lt + 1
        while stop < n and text[stop] not in b"-< >\r\n":
            stop += 1
        pos = lt + 1
        name = lower[lt + 1:stop]
        if stop - lt - 1 >= TEXT_SIZE - 1:
            continue                      # no tag name the program reads
        if name == b"!":
            pos = _find(text, b">", pos)
        elif name == b"comment":
            pos = _find(lower, b"</comment>", pos)
        elif name == b"base":
            close = ANGLE.search(text, pos)
            bases.append((lt, close.start() if close is not None and close.group() == b">" else None))
        else:
            attributes, pos = read_attributes(text, stop)
            tags.append(Tag(name, lt, attributes, pos))
            if not (modern and name == b"style"):
                found, lost = _tag_links(text, lower, name, stop, attributes, pos, modern)
                links += found
                unreadable += lost
            elif pos < n:                 # the style block up to its closing tag
                close = _find(lower, b"</style", pos + 1)
                found = css_links(text, pos + 1, close)
                links += [Link(b"style", start, link, NEEDED) for start, link in found if link is not None]
                unreadable += _too_long(text, found)
                pos = close - 1
        if pos < n:
            pos += 1
    return Scan(tags, links, bases, unreadable)


def scan_style_sheet(data):
    """The links of a style sheet (up to its first NUL), as a Scan without tags."""
    text = data.split(b"\0", 1)[0]
    found = css_links(text, 0, len(text))
    return Scan([], [Link(b"css", start, link, NEEDED) for start, link in found if link is not None], [],
                _too_long(text, found))


def is_style_sheet(path):
    """True for a stored file the program scans as a style sheet (by its extension)."""
    path = path.encode() if isinstance(path, str) else path
    return extension(re.split(rb"[?#]", path, 1)[0]).lower() == b".css"


# ---- Addresses ------------------------------------------------------------------------

def _lead(c):
    return 0x81 <= c <= 0x9F or 0xE0 <= c <= 0xFC


def _trail(c):
    return 0x40 <= c <= 0x7E or 0x80 <= c <= 0xFC


def extension(name):
    """The name's extension: from its last '.' behind any ':', '.', '\\', '/' or '?'."""
    for i in range(len(name) - 1, -1, -1):
        if name[i] in b":.\\/?":
            return name[i:] if name[i] == 0x2E else b""
    return b""


def remove_dot_segments(path):
    """The path (from '/') with "." and ".." segments removed, never above the root."""
    out, segments = [], path.split(b"/")[1:]
    for i, segment in enumerate(segments):
        if segment in (b".", b".."):
            if segment == b".." and out:
                out.pop()
            if i == len(segments) - 1:
                out.append(b"")
        else:
            out.append(segment)
    return b"/" + b"/".join(out)


def unescape(text):
    """%XX escapes decoded; %00 becomes '-'."""
    return re.sub(rb"%([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]) if m.group(1) != b"00" else b"-", text)


def _segments(text):
    """The text cut at each '/' or '\\' that is a character of its own (Shift_JIS)."""
    found, start, i = [], 0, 0
    while i < len(text):
        if text[i] in b"/\\":
            found.append(text[start:i])
            start = i = i + 1
        elif _lead(text[i]) and i + 1 < len(text) and _trail(text[i + 1]):
            i += 2
        else:
            i += 1
    return found + [text[start:]]


def safe_name(segment):
    """The name a segment is stored under: refused characters as '-', a device name
    with '_' behind it, closing '.' and ' ' as '-'."""
    out, i = bytearray(), 0
    while i < len(segment):
        c = segment[i]
        if _lead(c) and i + 1 < len(segment) and _trail(segment[i + 1]):
            out += segment[i:i + 2]
            i += 2
            continue
        out.append(0x2D if c < 0x20 or c in b'*"<>|?:/\\' or _lead(c) else c)
        i += 1
    name = bytes(out).split(b".", 1)[0].rstrip(b" ")
    if name.upper() in DEVICES:
        out[len(name):len(name)] = b"_"
    end = len(out)
    while end > 0 and out[end - 1] in b". ":
        out[end - 1] = 0x2D
        end -= 1
    return bytes(out)


def host_folder(host_part):
    """The folder of a host part below the save folder: ':' of a port as '-'."""
    return safe_name(unescape(host_part[8:] if host_part.startswith(b"https://") else host_part))


def stored_place(host_part, folder, file):
    """Where the address (host part without user, folder path, file name) is stored below
    the save folder, '/' between its folders; a folder's file is its index.html."""
    names = _segments(unescape(folder)) + _segments(unescape(re.split(rb"[#?]", file, 1)[0]))
    name = names.pop()
    if name in (b"", b".", b".."):
        names.append(name)
        name = b"index.html"
    parts = []
    for segment in names:
        if segment == b"..":
            parts = parts[:-1]
        elif segment not in (b"", b"."):
            parts.append(safe_name(segment))
    return b"/".join([host_folder(host_part)] + parts + [safe_name(name)])


def local_text(place):
    """A stored place written as a link: '%', '#', '?', space, quotes, '&', '<', '>' escaped."""
    out, i = bytearray(), 0
    while i < len(place):
        if _lead(place[i]) and i + 1 < len(place):
            out += place[i:i + 2]
            i += 2
            continue
        out += b"%%%02X" % place[i] if place[i] in b"%#? '\"&<>" else place[i:i + 1]
        i += 1
    return bytes(out)


def split_address(address):
    """Host part (with the https marker), folder path (from '/' to its last '/') and file name."""
    marker = 8 if address.startswith(b"https://") else 0
    slash = address.find(b"/", marker)
    if slash < 0:
        return address, b"/", b""
    last = address.rfind(b"/", slash)
    return address[:slash], address[slash:last + 1], address[last + 1:]


def without_user(host_part):
    marker = b"https://" if host_part.startswith(b"https://") else b""
    rest = host_part[len(marker):]
    return marker + rest.split(b"@", 1)[1] if b"@" in rest else host_part


def bare_host(host_part):
    """The host part without the https marker, in lower case: http and https of a host are one server."""
    return (host_part[8:] if host_part.startswith(b"https://") else host_part).lower()


class Page:
    """A stored page: the address it was fetched from ("http://host/dir/p.html", bytes
    or str) and its depth value in the crawl (0 for the start page)."""

    def __init__(self, address, depth=0):
        address = address.encode() if isinstance(address, str) else address
        secure = address.lower().startswith(b"https://")
        rest = address.split(b"://", 1)[1]
        host, self.folder, self.file = split_address(rest)
        self.host = (b"https://" if secure else b"") + host
        self.secure = secure
        self.depth = depth
        place = stored_place(self.host, self.folder, b"")
        self.place_folder = place[:place.rfind(b"/") + 1]
        self.place_depth = self.place_folder.count(b"/")


Outcome = collections.namedtuple("Outcome", "address fetched stored")
# address: the address the link resolves to (None when it is not followed at all);
# fetched: True when the rules fetch it; stored: the link's text in the stored page.

UNLIMITED = 32512                         # the depth limit of the unlimited choice
DEPTH_FTP = 32767


class Rules:
    """What a crawl fetches: pages of the start server below start_path down to
    depth_limit (None: unlimited) and files of any folder of it; other servers' files
    with out_server; FTP files with ftp; with modern (the setting "modern", on by default)
    the files pages need (style sheets, scripts, icons, what style sheets name) from any
    server, and style sheets are scanned and rewritten like pages."""

    def __init__(self, start_path, depth_limit=None, out_server=False, ftp=False, modern=True):
        self.start_path = (start_path.encode() if isinstance(start_path, str) else start_path).lower()
        self.limit = UNLIMITED if depth_limit is None else depth_limit
        self.out_server, self.ftp, self.modern = out_server, ftp, modern

    @staticmethod
    def _address_form(rest, secure):
        host = re.match(rb"[^/?#]*", rest).group()
        if secure and host.endswith(b":443") and b"@" not in host:
            rest = host[:-4] + rest[len(host):]
        return (b"https://" if secure else b"") + rest

    @staticmethod
    def _normalized(address):
        marker = 8 if address.startswith(b"https://") else 0
        slash = address.find(b"/", marker)
        if slash < 0:
            return address
        end = re.compile(rb"[?#]|$").search(address, slash).start()
        return address[:slash] + remove_dot_segments(address[slash:end]) + address[end:]

    def _written_link(self, page, link):
        """A relative link that climbs exactly to the save folder's root and names a folder
        there: the address on the page's own server when it names that server's folder,
        b"" (not followed) when it names another host's or the archives folder, else None."""
        climb = b"../" * page.place_depth
        if not link.startswith(climb) or b"/" not in link[len(climb):]:
            return None
        name, rest = link[len(climb):].split(b"/", 1)
        if name in (b".", b".."):
            return None
        if name.lower() in (bare_host(page.host), host_folder(page.host).lower()):
            return self._normalized(page.host + b"/" + rest)
        return b"" if b"." in name or b"-" in name or name.lower() == b"archives" else None

    def resolve(self, page, link):
        """The address the link names, as a browser resolves it (address form: no scheme
        but the https marker, spaces and bytes beyond ASCII as their escapes); b"" when
        it is not followed."""
        lowered = link.lower()
        if lowered.startswith((b"ftp:", b"http:", b"https:")) or link.startswith(b"/"):
            if link.startswith(b"//"):
                address = self._address_form(link[2:], page.secure)
            elif link.startswith(b"/"):
                address = page.host + link
            else:
                colon = link.index(b":")
                secure = lowered.startswith(b"https:")
                address = self._address_form(link[colon + 3:], secure) if len(link) - colon >= 3 else b""
                address = b"" if address in (b"", b"https://") else address
            address = self._normalized(address)
        else:
            address = self._written_link(page, link)
            if address is None:
                address = self._normalized(page.host + page.folder + link)
        return re.sub(rb"[ \x80-\xff]", lambda m: b"%%%02X" % m.group(0)[0], address)

    def fetched_place(self, page, address, ftp, kind=NEXT):
        """Where the rules store the address of a link of the kind when they fetch it (a
        place below the save folder), or None when they do not fetch it."""
        host, folder, file = split_address(address)
        host = without_user(host)
        page_like = file == b"" or extension(file).lower() in PAGE_EXTENSIONS
        if ftp:
            depth = DEPTH_FTP if self.ftp else None
        elif bare_host(host) != bare_host(page.host) or (page_like and not folder.lower().startswith(self.start_path)):
            depth = self.limit + 2 if self.out_server or kind == NEEDED else None
        else:
            depth = page.depth + (0 if kind == FRAME else 1)
        if depth is None:
            return None
        if file == b"":
            is_file = False
        elif extension(file):
            is_file = extension(file).lower() not in PAGE_EXTENSIONS
        elif depth == DEPTH_FTP:
            is_file = True
        else:                             # a name without extension names a folder
            if len(address) >= TEXT_SIZE:
                return None
            folder, file, is_file = folder + file + b"/", b"", False
        if not (is_file or depth == DEPTH_FTP or (depth <= self.limit and folder.lower().startswith(self.start_path))):
            return None
        return stored_place(host, folder, file)

    def outcome(self, page, link, kind=NEXT):
        """What becomes of a link of the kind of the page (its text as the scan takes it)."""
        scheme = SCHEME.match(link)
        if scheme and scheme.group().lower() not in (b"http:", b"https:", b"ftp:"):
            return Outcome(None, False, link)
        address = self.resolve(page, link)
        if address == b"" or len(address) >= TEXT_SIZE:
            return Outcome(None, False, link)
        place = self.fetched_place(page, address, link.lower().startswith(b"ftp:"), kind)
        if place is None:
            if scheme is not None:
                return Outcome(address, False, link)
            return Outcome(address, False, (b"" if address.startswith(b"https://") else b"http://") + address)
        stored = None
        if scheme is None and not link.startswith(b"/"):
            if self._leads_to(page, link, place):
                stored = link
            elif link:
                with_index = link + (b"index.html" if link.endswith(b"/") else b"/index.html")
                if len(with_index) < TEXT_SIZE and self._leads_to(page, with_index, place):
                    stored = with_index
        if stored is None:
            stored = b"../" * page.place_depth + local_text(place)
            if len(stored) >= TEXT_SIZE:
                stored = link                 # a rewrite that would not fit leaves the link
        return Outcome(address, True, stored)

    @staticmethod
    def _leads_to(page, link, place):
        """True when the relative link, followed on disk from the page's folder, opens the place."""
        joined = remove_dot_segments(b"/" + page.place_folder + link)[1:]
        if len(joined) > TEXT_SIZE - 1:
            return False
        return unescape(joined).replace(b"\\", b"/").upper() == place.replace(b"\\", b"/").upper()


def scan_file(data, path, modern=True):
    """The Scan of a stored file the program scans: a style sheet's with "modern" on, else a page's."""
    return scan_style_sheet(data) if modern and is_style_sheet(path) else scan(data, modern)


def expected_page(served, rules, page):
    """The page (or, with "modern" on, the style sheet) as the program must store it: the
    served bytes with every link written as the rules say and each BASE tag made a comment.
    Returns (bytes, [(link, outcome)])."""
    _, links, bases, _ = scan_file(served, page.file, rules.modern)
    edits = []
    outcomes = []
    for link in links:
        if link.text == b"" or link.text.startswith(b"#"):
            continue
        result = rules.outcome(page, link.text, link.kind)
        outcomes.append((link, result))
        if result.stored != link.text:
            edits.append((link.start, len(link.text), result.stored))
    for start, close in bases:
        edits.append((start + 1, 3, b"!--"))
        if close is not None:
            edits.append((close, 1, b"-->"))
    pieces, at = [], 0
    for start, length, text in sorted(edits):
        pieces += [served[at:start], text]
        at = start + length
    pieces.append(served[at:])
    return b"".join(pieces), outcomes


def first_difference(a, b):
    return next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))


def compare_rewritten_page(served, stored, rules, page):
    """Compares a stored page with the page its server sent: they must be equal but for
    exactly the link rewrites the rules call for. Returns ([(served link, stored link)]
    of every link written otherwise, in page order) and the faults."""
    expected, outcomes = expected_page(served, rules, page)
    faults = []
    if stored != expected:
        at = first_difference(stored, expected)
        faults.append("%r: stored page differs from the expected one at byte %d: stored %r, expected %r"
                      % (page.folder + page.file, at, stored[max(0, at - 40):at + 60], expected[max(0, at - 40):at + 60]))
    return [(link.text, result.stored) for link, result in outcomes if result.stored != link.text], faults


def is_local(link):
    """A link a browser resolves against the stored page's own folder."""
    return link != b"" and not link.startswith((b"#", b"/")) and SCHEME.match(link) is None


def target_of(page_path, link):
    """The mirror path a local link of the page at `page_path` leads to, escapes decoded;
    None when it climbs above the mirror."""
    parts = page_path.split("/")[:-1]
    text = unescape(link).decode("latin-1")
    for segment in text.split("/"):
        if segment == "..":
            if not parts:
                return None
            parts.pop()
        elif segment not in (".", ""):
            parts.append(segment)
    return "/".join(parts) + ("/" if text.endswith("/") or text == "" else "")


def missing_targets(folder, modern=True):
    """(page, link, target) for every local link the scan finds in a stored page (or, with
    "modern" on, style sheet) that leads to no stored file (a folder is no file); target
    None when it climbs above the mirror."""
    files = stored_files(folder)
    missing = []
    for page in sorted(files):
        if not page.lower().endswith(tuple(e.decode() for e in PAGE_EXTENSIONS)) and not (
                modern and is_style_sheet(page)):
            continue
        with open(os.path.join(folder, page), "rb") as f:
            links = scan_file(f.read(), page, modern).links
        for link in links:
            if is_local(link.text):
                target = target_of(page, link.text)
                if target not in files:
                    missing.append((page, link.text.decode("latin-1"), target))
    return missing
