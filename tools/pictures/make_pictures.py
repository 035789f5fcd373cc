#!/usr/bin/python3
# tools/pictures/make_pictures.py — draws the program's pictures into resources/.
# Icons 101, 103, 105, 120 and the busy-animation strip qex.bmp.
"""Draws every picture of the program with a small anti-aliased rasteriser.

Standard library only. Run it from anywhere:  /usr/bin/python3 tools/pictures/make_pictures.py
It writes, into the resources/ folder beside tools/:
  app.ico     icon 101: a globe with a green down arrow (window and animation fallback)
  wait.ico    icon 103: the globe with a clock (waiting)
  done.ico    icon 105: a page with a green check mark (finished)
  folder.ico  icon 120: a yellow folder
  qex.bmp     the busy-animation strip, 24-bit, 32x32 frames side by side:
              frames 0..3 a turning globe with a falling orange arrow,
              the last frame the idle picture (still globe, green arrow)
Every icon holds a 16x16 and a 32x32 image, 32 bits with alpha.
"""

import math
import os
import struct

SUBSAMPLES = 4  # per axis: 16 samples per pixel


class Canvas:
    """Premultiplied RGBA pixels, floats 0..1, row 0 at the top."""

    def __init__(self, width, height, background=None):
        self.width = width
        self.height = height
        self.pixels = [[(0.0, 0.0, 0.0, 0.0) for _ in range(width)] for _ in range(height)]
        if background:
            for y in range(height):
                for x in range(width):
                    r, g, b = background(x + 0.5, y + 0.5)
                    self.pixels[y][x] = (r, g, b, 1.0)

    def draw(self, paint, box=None):
        """Composites a layer over the canvas. paint(x, y) gives (r, g, b, a) or None
        at a point in pixel coordinates; every pixel averages SUBSAMPLES^2 points."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        n = SUBSAMPLES
        for py in range(y0, y1):
            for px in range(x0, x1):
                sr = sg = sb = sa = 0.0
                for j in range(n):
                    for i in range(n):
                        c = paint(px + (i + 0.5) / n, py + (j + 0.5) / n)
                        if c:
                            r, g, b, a = c
                            sr += r * a
                            sg += g * a
                            sb += b * a
                            sa += a
                if sa == 0.0:
                    continue
                k = 1.0 / (n * n)
                sr, sg, sb, sa = sr * k, sg * k, sb * k, sa * k
                dr, dg, db, da = self.pixels[py][px]
                self.pixels[py][px] = (sr + dr * (1 - sa), sg + dg * (1 - sa),
                                       sb + db * (1 - sa), sa + da * (1 - sa))

    def rgba8(self, x, y):
        """Straight (not premultiplied) 8-bit colour of a pixel."""
        r, g, b, a = self.pixels[y][x]
        if a <= 0.0:
            return 0, 0, 0, 0
        return (to8(r / a), to8(g / a), to8(b / a), to8(a))


def to8(v):
    return max(0, min(255, int(round(v * 255))))


def rgb(r, g, b):
    return (r / 255.0, g / 255.0, b / 255.0)


def mix(c1, c2, t):
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def opaque(c, a=1.0):
    return (c[0], c[1], c[2], a)


# ---------------------------------------------------------------- shapes

def inside_polygon(points, x, y):
    hit = False
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        if (ay > y) != (by > y):
            cross = ax + (y - ay) * (bx - ax) / (by - ay)
            if x < cross:
                hit = not hit
    return hit


def distance_to_segment(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    qx, qy = ax + t * dx, ay + t * dy
    return math.hypot(x - qx, y - qy)


def distance_to_outline(points, x, y):
    n = len(points)
    return min(distance_to_segment(x, y, *points[i], *points[(i + 1) % n]) for i in range(n))


def polygon_layer(points, fill, outline, width):
    """A filled polygon with an outline drawn inside its edge. fill(x, y) gives a colour."""
    def paint(x, y):
        if not inside_polygon(points, x, y):
            return None
        if width > 0 and distance_to_outline(points, x, y) < width:
            return opaque(outline)
        return opaque(fill(x, y))
    return paint


def polygon_box(points, margin=1.0):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return (min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin)


def vertical_gradient(top_colour, bottom_colour, top, bottom):
    def fill(_x, y):
        t = max(0.0, min(1.0, (y - top) / max(1e-6, bottom - top)))
        return mix(top_colour, bottom_colour, t)
    return fill


def polyline_layer(points, width, colour):
    """A thick polyline with round joins."""
    half = width / 2.0

    def paint(x, y):
        for i in range(len(points) - 1):
            if distance_to_segment(x, y, *points[i], *points[i + 1]) < half:
                return opaque(colour)
        return None
    return paint


def disc_layer(cx, cy, radius, colour, ring_colour=None, ring=0.0):
    def paint(x, y):
        d = math.hypot(x - cx, y - cy)
        if d >= radius:
            return None
        if ring_colour and d > radius - ring:
            return opaque(ring_colour)
        return opaque(colour)
    return paint


def shadow_layer(cx, cy, rx, ry, strength):
    """A soft elliptic shadow on the ground."""
    def paint(x, y):
        d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
        if d >= 1.0:
            return None
        return (0.0, 0.0, 0.0, strength * (1.0 - d))
    return paint


# ---------------------------------------------------------------- globe

# Land masses as unions of spherical caps: (latitude, longitude, angular radius), degrees.
LAND = [
    # a large northern continent
    (50, -100, 22), (40, -85, 18), (30, -105, 14), (60, -70, 14), (20, -95, 8),
    # a southern continent below it
    (-5, -60, 16), (-20, -58, 14), (-35, -66, 9),
    # a wide continent in the east
    (50, 20, 14), (55, 60, 20), (45, 95, 22), (30, 80, 12), (25, 105, 10),
    # a continent across the equator
    (10, 15, 16), (-5, 25, 16), (-22, 25, 11),
    # an island continent
    (-25, 135, 12),
]


def angular_distance(lat1, lon1, lat2, lon2):
    p1, p2 = math.radians(lat1), math.radians(lat2)
    dl = math.radians(lon2 - lon1)
    c = math.sin(p1) * math.sin(p2) + math.cos(p1) * math.cos(p2) * math.cos(dl)
    return math.degrees(math.acos(max(-1.0, min(1.0, c))))


def is_land(lat, lon):
    return any(angular_distance(lat, lon, la, lo) < r * 1.3 for la, lo, r in LAND)


OCEAN_LIGHT = rgb(90, 170, 255)
OCEAN_DARK = rgb(10, 50, 140)
LAND_LIGHT = rgb(120, 210, 90)
LAND_DARK = rgb(25, 95, 35)
RIM = rgb(10, 35, 90)


def globe_layer(cx, cy, radius, turn, grid=True):
    """A lit globe turned by `turn` degrees of longitude, tilted towards the viewer."""
    tilt = math.radians(20)
    light = (-0.55, -0.65, 0.52)  # from the upper left, x right, y down, z to the viewer
    ll = math.sqrt(sum(c * c for c in light))
    light = tuple(c / ll for c in light)
    rim = 1.6 / radius  # about 0.8 pixel of dark edge

    def paint(x, y):
        nx, ny = (x - cx) / radius, (y - cy) / radius
        d2 = nx * nx + ny * ny
        if d2 >= 1.0:
            return None
        nz = math.sqrt(1.0 - d2)
        # undo the tilt (rotation about the x axis) to get globe coordinates
        gy = ny * math.cos(tilt) + nz * math.sin(tilt)
        gz = -ny * math.sin(tilt) + nz * math.cos(tilt)
        lat = -math.degrees(math.asin(max(-1.0, min(1.0, gy))))
        lon = math.degrees(math.atan2(nx, gz)) + turn
        lon = (lon + 180.0) % 360.0 - 180.0
        lit = max(0.0, nx * light[0] + ny * light[1] + nz * light[2])
        shade = 0.3 + 0.7 * lit
        if is_land(lat, lon):
            colour = mix(LAND_DARK, LAND_LIGHT, shade)
        else:
            colour = mix(OCEAN_DARK, OCEAN_LIGHT, shade)
        if grid:
            # faint meridians every 45 degrees and parallels every 30 degrees
            cos_lat = max(0.2, math.cos(math.radians(lat)))
            width = 2.2 * 45.0 / (radius * 1.2)
            m = abs(((lon + 22.5) % 45.0) - 22.5) * cos_lat
            p = abs(((lat + 15.0) % 30.0) - 15.0)
            if m < width * 0.5 or p < width * 0.5:
                colour = mix(colour, (1.0, 1.0, 1.0), 0.28 * (0.4 + 0.6 * nz))
        # a small highlight and a dark rim
        shine = max(0.0, nx * light[0] + ny * light[1] + nz * light[2]) ** 24
        colour = mix(colour, (1.0, 1.0, 1.0), 0.7 * shine)
        if 1.0 - math.sqrt(d2) < rim:
            colour = mix(colour, RIM, 0.8)
        return opaque(colour)
    return paint


def globe_box(cx, cy, radius):
    return (cx - radius - 1, cy - radius - 1, cx + radius + 1, cy + radius + 1)


# ---------------------------------------------------------------- symbols

def down_arrow_points(cx, top, width, height):
    """A down arrow: shaft half as wide as the head, head 45 % of the height."""
    shaft = width * 0.46
    head_top = top + height * 0.55
    bottom = top + height
    return [(cx - shaft / 2, top), (cx + shaft / 2, top), (cx + shaft / 2, head_top),
            (cx + width / 2, head_top), (cx, bottom), (cx - width / 2, head_top),
            (cx - shaft / 2, head_top)]


def draw_down_arrow(canvas, cx, top, width, height, light, dark, outline, line):
    points = down_arrow_points(cx, top, width, height)
    fill = vertical_gradient(light, dark, top, top + height)
    canvas.draw(polygon_layer(points, fill, outline, line), polygon_box(points))


GREEN_LIGHT = rgb(130, 235, 90)
GREEN_DARK = rgb(20, 150, 40)
GREEN_LINE = rgb(10, 80, 20)
ORANGE_LIGHT = rgb(255, 215, 80)
ORANGE_DARK = rgb(240, 120, 20)
ORANGE_LINE = rgb(130, 55, 0)


def draw_clock(canvas, cx, cy, radius, line):
    canvas.draw(disc_layer(cx, cy, radius, rgb(255, 252, 235), rgb(120, 70, 0), line),
                globe_box(cx, cy, radius))
    hand = max(1.0, line)
    canvas.draw(polyline_layer([(cx, cy - radius * 0.62), (cx, cy), (cx + radius * 0.5, cy + radius * 0.15)],
                               hand, rgb(40, 40, 40)), globe_box(cx, cy, radius))


def draw_check(canvas, points, width):
    box = polygon_box(points, width)
    canvas.draw(polyline_layer(points, width + 1.6 * (width / 3.0), rgb(10, 80, 20)), box)
    canvas.draw(polyline_layer(points, width, rgb(40, 190, 50)), box)


def draw_page(canvas, left, top, right, bottom, fold, line):
    points = [(left, top), (right - fold, top), (right, top + fold), (right, bottom), (left, bottom)]
    canvas.draw(polygon_layer(points, vertical_gradient(rgb(255, 255, 255), rgb(225, 232, 245), top, bottom),
                              rgb(90, 100, 120), line), polygon_box(points))
    corner = [(right - fold, top), (right, top + fold), (right - fold, top + fold)]
    canvas.draw(polygon_layer(corner, lambda x, y: rgb(200, 210, 230), rgb(90, 100, 120), line * 0.8),
                polygon_box(corner))


def draw_folder(canvas, s, line):
    """A yellow folder filling an s x s square."""
    back = [(0.06 * s, 0.16 * s), (0.40 * s, 0.16 * s), (0.48 * s, 0.26 * s), (0.94 * s, 0.26 * s),
            (0.94 * s, 0.86 * s), (0.06 * s, 0.86 * s)]
    canvas.draw(polygon_layer(back, vertical_gradient(rgb(240, 180, 50), rgb(200, 130, 20), 0.16 * s, 0.86 * s),
                              rgb(120, 70, 0), line), polygon_box(back))
    sheet = [(0.16 * s, 0.30 * s), (0.84 * s, 0.30 * s), (0.84 * s, 0.60 * s), (0.16 * s, 0.60 * s)]
    canvas.draw(polygon_layer(sheet, lambda x, y: rgb(255, 255, 255), rgb(150, 150, 150), line * 0.7),
                polygon_box(sheet))
    front = [(0.16 * s, 0.40 * s), (0.99 * s, 0.40 * s), (0.90 * s, 0.86 * s), (0.06 * s, 0.86 * s)]
    canvas.draw(polygon_layer(front, vertical_gradient(rgb(255, 230, 120), rgb(245, 185, 45), 0.40 * s, 0.86 * s),
                              rgb(120, 70, 0), line), polygon_box(front))


# ---------------------------------------------------------------- pictures

def picture_main(s):
    c = Canvas(s, s)
    line = s / 24.0
    r = s * 0.40
    c.draw(globe_layer(s * 0.43, s * 0.45, r, 0, grid=s >= 24), globe_box(s * 0.43, s * 0.45, r))
    draw_down_arrow(c, s * 0.74, s * 0.40, s * 0.46, s * 0.58, GREEN_LIGHT, GREEN_DARK, GREEN_LINE, line)
    return c


def picture_wait(s):
    c = Canvas(s, s)
    line = s / 24.0
    r = s * 0.40
    c.draw(globe_layer(s * 0.43, s * 0.45, r, 40, grid=s >= 24), globe_box(s * 0.43, s * 0.45, r))
    draw_clock(c, s * 0.70, s * 0.70, s * 0.28, max(1.0, s / 16.0))
    return c


def picture_done(s):
    c = Canvas(s, s)
    line = s / 24.0
    draw_page(c, s * 0.16, s * 0.05, s * 0.78, s * 0.95, s * 0.20, line)
    for k in range(3):
        y = s * (0.36 + 0.14 * k)
        c.draw(polyline_layer([(s * 0.27, y), (s * 0.64, y)], max(1.0, s / 20.0), rgb(150, 165, 190)))
    draw_check(c, [(s * 0.40, s * 0.62), (s * 0.58, s * 0.82), (s * 0.94, s * 0.30)], s * 0.12)
    return c


def picture_folder(s):
    c = Canvas(s, s)
    draw_folder(c, s, s / 24.0)
    return c


# ---------------------------------------------------------------- animation strip

FRAME = 32
BUSY_FRAMES = 4


def frame_background(_x, y):
    return mix(rgb(225, 238, 252), rgb(250, 252, 255), y / FRAME)


def picture_frame(index, idle):
    """One 32x32 frame: a globe with an arrow. Busy frames turn the globe a quarter
    each and move the orange arrow down; the idle frame stands still, arrow green.
    The picture keeps inside the top-left 30x30 pixels: the sunken animation
    control is 32x32 with its edge, so the last two columns and rows stay hidden."""
    c = Canvas(FRAME, FRAME, frame_background)
    c.draw(shadow_layer(14.5, 27.8, 10.5, 1.8, 0.25))
    turn = 0 if idle else index * (360.0 / BUSY_FRAMES)
    c.draw(globe_layer(14.0, 13.8, 12.5, turn), globe_box(14.0, 13.8, 12.5))
    if idle:
        draw_down_arrow(c, 23.0, 10.5, 13.0, 18.0, GREEN_LIGHT, GREEN_DARK, GREEN_LINE, 1.2)
    else:
        top = 2.0 + index * 3.0
        draw_down_arrow(c, 23.0, top, 13.0, 18.0, ORANGE_LIGHT, ORANGE_DARK, ORANGE_LINE, 1.2)
    return c


# ---------------------------------------------------------------- file formats

def icon_image(canvas):
    """One icon image: BITMAPINFOHEADER (double height), 32-bit BGRA rows bottom-up, AND mask."""
    w, h = canvas.width, canvas.height
    mask_row = ((w + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, w * h * 4 + mask_row * h, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(w):
            r, g, b, a = canvas.rgba8(x, y)
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def icon_file(canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.width % 256, c.height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def bmp_file(canvas):
    """A 24-bit BMP: 14-byte file header, 40-byte info header, pixels bottom-up, no colour table."""
    w, h = canvas.width, canvas.height
    row = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b, _ = canvas.rgba8(x, y)
            line += bytes((b, g, r))
        line += bytes(row - len(line))
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return head + info + bytes(pixels)


def strip(frames):
    out = Canvas(FRAME * len(frames), FRAME)
    for k, f in enumerate(frames):
        for y in range(FRAME):
            out.pixels[y][k * FRAME:(k + 1) * FRAME] = f.pixels[y]
    return out


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)
    print('wrote', path, len(data), 'bytes')


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'resources')
    out = os.path.normpath(out)
    for name, draw in (('app.ico', picture_main), ('wait.ico', picture_wait),
                       ('done.ico', picture_done), ('folder.ico', picture_folder)):
        write(os.path.join(out, name), icon_file([draw(16), draw(32)]))
    frames = [picture_frame(k, False) for k in range(BUSY_FRAMES)] + [picture_frame(BUSY_FRAMES, True)]
    write(os.path.join(out, 'qex.bmp'), bmp_file(strip(frames)))


if __name__ == '__main__':
    main()
