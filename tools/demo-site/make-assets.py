#!/usr/bin/python3
# tools/demo-site/make-assets.py — makes the binary files of the demo site.
# Pictures, sounds, a plug-in object, downloads; its outputs are kept in the repository.
"""Run once after changing a picture or sound: /usr/bin/python3 tools/demo-site/make-assets.py

Pictures are drawn with ImageMagick (/usr/bin/convert, Debian's imagemagick) and the
IPA Gothic font; the WAV, MIDI, SWF, ZIP and EXE files are written byte by byte, so
they come out the same on every run. The two web fonts of the present-day page
(hp/modern.html) are built from the letter grid below with fontTools (Debian's
python3-fonttools and python3-brotli, for WOFF2).
"""
import math
import os
import struct
import subprocess
import wave
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SITE = os.path.join(HERE, "site")
OTHER = os.path.join(HERE, "other-site")
CONVERT = "/usr/bin/convert"
FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
STRIP = ["-strip", "-define", "png:exclude-chunks=date,time"]


def out(*parts):
    path = os.path.join(*parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    return path


def convert(arguments, path):
    subprocess.run([CONVERT] + arguments + ["+set", "date:create", "+set", "date:modify", "-strip", path], check=True)


def text_picture(path, size, background, colour, text, point):
    convert(["-size", size, "xc:" + background, "-font", FONT, "-pointsize", str(point), "-fill", colour,
             "-gravity", "center", "-annotate", "+0+0", text], path)


def pictures():
    text_picture(out(SITE, "hp", "images", "logo.gif"), "200x40", "#003399", "yellow", "太郎のソフト工房", 22)
    text_picture(out(SITE, "hp", "images", "new.gif"), "32x14", "red", "white", "NEW", 11)
    convert(["-size", "64x64", "pattern:checkerboard", "-fill", "#fff0e0", "-colorize", "80%", "-colors", "8"],
            out(SITE, "hp", "images", "bg.gif"))
    convert(["-size", "32x32", "gradient:#e0ffe0-#a0d0a0", "-colors", "16"], out(SITE, "hp", "images", "tile.gif"))
    convert(["-size", "180x40", "xc:white", "-font", FONT, "-pointsize", "14",
             "-fill", "#ffcccc", "-draw", "rectangle 0,0 59,39", "-fill", "#ccffcc", "-draw", "rectangle 60,0 119,39",
             "-fill", "#ccccff", "-draw", "rectangle 120,0 179,39", "-fill", "black",
             "-annotate", "+12+25", "日記", "-annotate", "+66+25", "写真館", "-annotate", "+126+25", "リンク",
             "-colors", "16"], out(SITE, "hp", "images", "map.gif"))
    convert(["-seed", "7", "-size", "160x120", "plasma:orange-brown", "-quality", "80"],
            out(SITE, "hp", "gallery", "photos", "cat.jpg"))
    convert(["-size", "160x120", "gradient:#80b0ff-white", "-fill", "#556677",
             "-draw", "polygon 20,110 80,25 140,110", "-fill", "white", "-draw", "polygon 64,48 80,25 96,48",
             "-quality", "80"], out(SITE, "hp", "gallery", "photos", "fuji.jpg"))
    text_picture(out(OTHER, "banner.gif"), "88x31", "#660000", "white", "相互リンク", 12)
    text_picture(out(SITE, "hp", "images", "prev.gif"), "60x20", "#003399", "white", "<< 前へ", 11)
    convert(["-seed", "3", "-size", "80x60", "plasma:skyblue-white", "-colors", "32"],
            out(SITE, "hp", "images", "photo+1.gif"))


def modern_pictures():
    """The pictures of the present-day page: PNG, each named for the place it takes."""
    folder = os.path.join(SITE, "hp", "modern", "img")

    def box(name, size, colour, text="", point=12, text_colour="white"):
        width, height = size.split("x")
        arguments = ["-size", size, "xc:" + colour, "-fill", text_colour, "-font", FONT, "-pointsize", str(point),
                     "-gravity", "center", "-annotate", "+0+0", text] if text else ["-size", size, "xc:" + colour]
        convert(arguments + ["-colors", "16"] + STRIP, out(folder, name))
    box("hero-480.png", "480x120", "#1b4f72", "ようこそ (480w)", 26)
    box("hero-960.png", "960x240", "#1b4f72", "ようこそ (960w)", 52)
    box("icon-1x.png", "32x32", "#c0392b", "1x", 12)
    box("icon-2x.png", "64x64", "#c0392b", "2x", 24)
    box("placeholder.png", "120x40", "#aab7b8", "読み込み前", 12)
    box("lazy.png", "120x40", "#27ae60", "lazy", 14)
    box("lazy-2x.png", "240x80", "#27ae60", "lazy 2x", 28)
    box("wide.png", "200x50", "#8e44ad", "広い画面", 16)
    box("narrow.png", "100x50", "#8e44ad", "狭い画面", 12)
    box("poster.png", "160x90", "#2c3e50", "動画", 24)
    box("button.png", "100x30", "#e67e22", "送信", 14)
    box("badge.png", "24x24", "#f1c40f")
    box("icon-32.png", "32x32", "#16a085", "P", 20)
    box("touch-icon.png", "60x60", "#16a085", "P", 36)
    convert(["-size", "40x40", "pattern:checkerboard", "-fill", "#eaf2f8", "-colorize", "85%", "-colors", "8"] + STRIP,
            out(folder, "bg-tile.png"))
    convert(["-size", "8x200", "gradient:#fdebd0-#f5b041", "-colors", "16"] + STRIP, out(folder, "stripe.png"))
    convert(["-size", "12x12", "xc:none", "-fill", "#2e86c1", "-draw", "circle 6,6 6,1"] + STRIP,
            out(folder, "dot.png"))
    convert(["-size", "30x30", "xc:#922b21", "-fill", "#f9ebea", "-draw", "polygon 0,0 29,0 0,29"] + STRIP,
            out(folder, "corner.png"))
    convert(["-size", "16x16", "xc:#16a085", "-fill", "white", "-draw", "rectangle 5,3 10,12"],
            out(SITE, "favicon.ico"))


def japanese_pictures():
    """The pictures of the Japanese-names pages (jp/): small PNGs named in UTF-8, some
    with characters code page 932 lacks, two named apart only by such a character."""
    folder = os.path.join(SITE, "jp")
    for name, colour, text in (("日本/写真.png", "#1b4f72", "写真"), ("日本/花.png", "#c0392b", "花"),
                               ("日本/桜.png", "#e8a0b8", "桜"), ("sjis/表紙.png", "#27ae60", "表紙"),
                               ("sjis/ソフト/画面.png", "#8e44ad", "画面"), ("euc/風景.png", "#2c3e50", "風景"),
                               ("euc/資料/地図.png", "#e67e22", "地図"), ("記号/笑顔😀.png", "#f1c40f", "笑顔"),
                               ("記号/한글.png", "#16a085", "ハングル"), ("記号/波〜.png", "#2e86c1", "波 301C"),
                               ("記号/波～.png", "#922b21", "波 FF5E"), ("記号/割引50%.png", "#566573", "50%")):
        convert(["-size", "96x32", "xc:" + colour, "-fill", "white", "-font", FONT, "-pointsize", "14",
                 "-gravity", "center", "-annotate", "+0+0", text, "-colors", "16"] + STRIP, out(folder, *name.split("/")))


# Capital letters of the two web fonts on a grid of 5 x 7 cells ("#" drawn).
LETTERS = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
}


def grid_font(paths, family, cell):
    """A TrueType font of LETTERS and the space whose cells are drawn by cell(pen, x, y,
    size) in font units, saved in each (path, flavour) of paths (flavour "woff" or "woff2")."""
    from fontTools.fontBuilder import FontBuilder
    from fontTools.pens.ttGlyphPen import TTGlyphPen
    size = 100
    order = [".notdef", "space"] + ["letter" + c for c in sorted(LETTERS)]
    glyphs, metrics = {}, {}
    for name in order:
        pen = TTGlyphPen(None)
        rows = LETTERS.get(name[len("letter"):]) if name.startswith("letter") else None
        for row, line in enumerate(rows or []):
            for column, mark in enumerate(line):
                if mark == "#":
                    cell(pen, 50 + column * size, (6 - row) * size, size)
        glyphs[name] = pen.glyph()
        metrics[name] = (600, 50 if rows else 0)
    for path, flavour in paths:
        builder = FontBuilder(1000, isTTF=True)
        builder.setupGlyphOrder(order)
        builder.setupCharacterMap({32: "space", **{ord(c): "letter" + c for c in LETTERS}})
        builder.setupGlyf(glyphs)
        builder.setupHorizontalMetrics(metrics)
        builder.setupHorizontalHeader(ascent=800, descent=-200)
        builder.setupNameTable({"familyName": family, "styleName": "Regular"})
        builder.setupOS2(sTypoAscender=800, sTypoDescender=-200, usWinAscent=800, usWinDescent=200)
        builder.setupPost()
        builder.font.flavor = flavour
        builder.save(path)


def square(pen, x, y, size):
    pen.moveTo((x, y))
    pen.lineTo((x, y + size))
    pen.lineTo((x + size, y + size))
    pen.lineTo((x + size, y))
    pen.closePath()


def diamond(pen, x, y, size):
    half = size // 2
    pen.moveTo((x + half, y))
    pen.lineTo((x, y + half))
    pen.lineTo((x + half, y + size))
    pen.lineTo((x + size, y + half))
    pen.closePath()


def modern_fonts():
    fonts = os.path.join(SITE, "hp", "modern", "fonts")
    grid_font([(out(fonts, "blocky.woff2"), "woff2"), (out(fonts, "blocky.woff"), "woff")], "Blocky", square)
    grid_font([(out(OTHER, "fonts", "diamonds.woff2"), "woff2")], "Diamonds", diamond)


def clip(path):
    """The start of an MP4 file: one ftyp box and an empty mdat box (never played: the
    page asks for no preload and shows the poster)."""
    with open(path, "wb") as f:
        f.write(struct.pack(">I", 24) + b"ftypisom" + struct.pack(">I", 512) + b"isomiso2")
        f.write(struct.pack(">I", 8) + b"mdat")


def chime(path):
    rate = 8000
    frames = bytearray()
    for i in range(rate // 2):
        t = i / rate
        level = math.sin(2 * math.pi * 880 * t) * math.exp(-6 * t)
        frames.append(int(128 + 100 * level))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(1)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def midi(path):
    """A format 0 MIDI file playing a short scale."""
    events = bytearray(b"\x00\xff\x51\x03\x07\xa1\x20")          # tempo 500000 us per quarter
    for note in (60, 62, 64, 65, 67, 69, 71, 72):
        events += bytes((0x00, 0x90, note, 0x60, 0x60, 0x80, note, 0x40))
    events += b"\x00\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96))
        f.write(b"MTrk" + struct.pack(">I", len(events)) + events)


def swf(path):
    """An uncompressed Flash 4 movie of one empty frame, 120 x 40 pixels."""
    def rect(xmin, xmax, ymin, ymax):
        nbits = 15
        bits = format(nbits, "05b") + "".join(format(v, "0%db" % nbits) for v in (xmin, xmax, ymin, ymax))
        bits += "0" * (-len(bits) % 8)
        return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    body = rect(0, 120 * 20, 0, 40 * 20) + struct.pack("<HH", 12 << 8, 1)
    body += struct.pack("<H", (9 << 6) | 3) + b"\xff\xff\xcc"   # SetBackgroundColor
    body += struct.pack("<H", 1 << 6)                               # ShowFrame
    body += struct.pack("<H", 0)                                    # End
    with open(path, "wb") as f:
        f.write(b"FWS" + bytes((4,)) + struct.pack("<I", 8 + len(body)) + body)


def downloads():
    archive = out(SITE, "hp", "files", "archive.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("readme.txt", date_time=(1999, 7, 4, 12, 0, 0))
        z.writestr(info, "太郎のソフト工房 サンプル書庫\r\n".encode("cp932"))
    # A DOS program that prints a line and ends: enough for a file the crawl is told to ignore.
    # push cs; pop ds; mov dx,msg; mov ah,9; int 21h; mov ax,4C00h; int 21h; msg
    code = b"\x0e\x1f\xba\x0e\x00\xb4\x09\xcd\x21\xb8\x00\x4c\xcd\x21" + b"setup demo\r\n$"
    header = bytearray(32)
    header[0:2] = b"MZ"
    total = len(header) + len(code)
    # bytes on the last page, pages, relocations, header paragraphs, min and max
    # allocation, SS, SP, checksum, IP, CS, relocation table offset, overlay
    struct.pack_into("<13H", header, 2, total % 512, (total + 511) // 512, 0, len(header) // 16,
                     0, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x1C, 0)
    with open(out(SITE, "hp", "files", "setup.exe"), "wb") as f:
        f.write(bytes(header) + code)


def main():
    pictures()
    modern_pictures()
    japanese_pictures()
    modern_fonts()
    clip(out(SITE, "hp", "modern", "media", "clip.mp4"))
    chime(out(SITE, "hp", "sound", "chime.wav"))
    midi(out(SITE, "hp", "sound", "bgm.mid"))
    swf(out(SITE, "hp", "plugin", "clock.swf"))
    downloads()


if __name__ == "__main__":
    main()
