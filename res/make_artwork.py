#!/usr/bin/env python3
"""Draws the program's artwork and writes it beside this script.

  bell.ico        the program icon: a grey-and-white bell, 16 colours, 32x32 and 16x16
  envelope.ico    the notice icon: a white envelope, 16 colours, 32x32 and 16x16
  background.gif  the popup panel: 176x128 GIF89a, one frame, 256-colour global
                  palette, index 255 white and transparent

Standard library only; the output is deterministic, so running it again gives the
same bytes.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# The standard 16-colour palette, in this order, as icons of this kind use it.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREY, SILVER, WHITE = 0, 8, 7, 15
TRANSPARENT = None  # a pixel left to the AND mask


# ---------------------------------------------------------------- shapes ----
# Each shape answers "is the point (u, v) inside?" for u, v in 0..1 (v downwards).

def bell_shape(u, v):
    x = u - 0.5
    # Crown loop on top.
    if 0.06 <= v < 0.16 and abs(x) <= 0.07:
        return True
    # Dome and body: the half width grows from the crown to the flared mouth.
    if 0.14 <= v < 0.74:
        t = (v - 0.14) / 0.60
        half = 0.17 + 0.10 * t + 0.12 * t ** 3
        if v < 0.26:  # round the shoulder
            k = (v - 0.14) / 0.12
            half *= (1 - (1 - k) ** 2) ** 0.5
        return abs(x) <= half
    # Lip: a band wider than the body.
    if 0.72 <= v < 0.80:
        return abs(x) <= 0.43
    # Clapper under the mouth.
    if 0.80 <= v < 0.93:
        return x * x + (v - 0.84) ** 2 <= 0.085 ** 2
    return False


def bell_shade(u, v, near_right_edge):
    """Colour of an inner pixel: white, with a grey band along the right side and a
    grey clapper for roundness."""
    if v >= 0.80 or (near_right_edge and u > 0.5 and v < 0.72):
        return SILVER
    return WHITE


def envelope_shape(u, v):
    return 0.06 <= u <= 0.94 and 0.22 <= v <= 0.78


def envelope_shade(u, v, near_right_edge):
    return WHITE


def raster(size, inside, shade, fold=None):
    """Rasterises a shape: 4x4 samples per pixel decide the coverage; covered pixels
    on the shape's border get a dark outline, the rest their shade."""
    cov = [[False] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    if inside((x + (sx + 0.5) / 4) / size, (y + (sy + 0.5) / 4) / size):
                        hits += 1
            cov[y][x] = hits >= 8
    img = [[TRANSPARENT] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if not cov[y][x]:
                continue
            edge = False
            for dy, dx in ((-1, 0), (1, 0), (0, -1), (0, 1)):
                ny, nx = y + dy, x + dx
                if not (0 <= ny < size and 0 <= nx < size) or not cov[ny][nx]:
                    edge = True
            u, v = (x + 0.5) / size, (y + 0.5) / size
            band = 3 if size >= 32 else 2
            near_right = any(x + d >= size or not cov[y][x + d] for d in range(1, band + 1))
            img[y][x] = DARK_GREY if edge else shade(u, v, near_right)
    if fold:
        fold(img, size)
    return img


def envelope_fold(img, size):
    """The flap: two lines from the top corners meeting below the middle, and two
    short ones from the bottom corners."""
    left, right = round(0.06 * size), round(0.94 * size) - 1
    top, bottom = round(0.22 * size), round(0.78 * size) - 1
    mid_x, mid_y = (left + right) / 2, top + (bottom - top) * 0.58
    steps = size * 4

    def line(x0, y0, x1, y1, colour):
        for i in range(steps + 1):
            t = i / steps
            x, y = round(x0 + (x1 - x0) * t), round(y0 + (y1 - y0) * t)
            if img[y][x] == WHITE or colour == DARK_GREY and img[y][x] is not TRANSPARENT:
                img[y][x] = colour

    line(left, top, mid_x, mid_y, DARK_GREY)
    line(right, top, mid_x, mid_y, DARK_GREY)
    if size >= 32:
        line(left, bottom, left + (right - left) * 0.36, top + (bottom - top) * 0.52, SILVER)
        line(right, bottom, right - (right - left) * 0.36, top + (bottom - top) * 0.52, SILVER)


# ------------------------------------------------------------------- ICO ----

def ico_image(img):
    """One 4-bit icon image: BITMAPINFOHEADER (double height), 16-colour table,
    XOR bitmap and AND mask, both bottom-up with rows padded to 4 bytes."""
    size = len(img)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE16)
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(xor_row)
        bits = bytearray(and_row)
        for x in range(size):
            p = img[y][x]
            index = BLACK if p is TRANSPARENT else p
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if p is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += bits
    return header + colours + bytes(xor) + bytes(mask)


def ico_file(images):
    count = len(images)
    out = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    blobs = []
    for img in images:
        blob = ico_image(img)
        size = len(img)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


# ------------------------------------------------------------------- GIF ----

GIF_W, GIF_H = 176, 128
TRANSPARENT_INDEX = 255
FRAME_OUTER, FRAME_INNER, CORNER = 128, 129, 130


def gif_palette():
    """Indexes 0..127: the panel's vertical gradient, one per row; 128..130: the
    frame; 255: white (the transparent index); the rest a grey ramp."""
    pal = []
    top, bottom = (246, 255, 255), (196, 236, 246)
    for i in range(128):
        t = i / 127
        pal.append(tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    pal.append((70, 150, 186))    # frame line
    pal.append((255, 255, 255))   # highlight just inside the frame
    pal.append((150, 200, 222))   # rounded-corner blend
    while len(pal) < 255:
        g = round((len(pal) - 131) * 255 / 124)
        pal.append((g, g, g))
    pal.append((255, 255, 255))
    return pal


def gif_pixels():
    """Row-major palette indexes: the gradient panel, a one-pixel darker frame with a
    light line inside it, corners rounded off by transparent pixels."""
    px = []
    radius = 5
    for y in range(GIF_H):
        for x in range(GIF_W):
            # Distance outside the rounded rectangle's corner circle, if in a corner.
            cx = min(max(x, radius), GIF_W - 1 - radius)
            cy = min(max(y, radius), GIF_H - 1 - radius)
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d > radius + 0.5:
                px.append(TRANSPARENT_INDEX)
            elif d > radius - 0.5 and (x != cx and y != cy):
                px.append(FRAME_OUTER if d <= radius else CORNER)
            elif x == 0 or y == 0 or x == GIF_W - 1 or y == GIF_H - 1:
                px.append(FRAME_OUTER)
            elif d > radius - 1.5 and (x != cx and y != cy):
                px.append(FRAME_INNER)
            elif x == 1 or y == 1 or x == GIF_W - 2 or y == GIF_H - 2:
                px.append(FRAME_INNER)
            else:
                px.append(y)
    return px


def lzw_encode(indexes, min_code_size=8):
    """GIF's variable-width LZW: codes from min_code_size + 1 up to 12 bits, packed
    least significant bit first; a clear code when the table is full."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    current = ()
    for k in indexes:
        grown = current + (k,)
        if grown in table:
            current = grown
            continue
        emit(table[current], width)
        if next_code < 4096:
            table[grown] = next_code
            next_code += 1
            # The decoder learns each code one step later, so it widens its reads
            # once the table has passed the current width.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        current = (k,)
    if current:
        emit(table[current], width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif_file():
    pal = gif_palette()
    data = bytearray(b"GIF89a")
    # Logical screen: global colour table of 256 entries (size field 7), 8 bits per
    # primary, background index 255.
    data += struct.pack("<HHBBB", GIF_W, GIF_H, 0x80 | 0x70 | 0x07, TRANSPARENT_INDEX, 0)
    for r, g, b in pal:
        data += bytes((r, g, b))
    # Graphic control extension: transparent colour flag, index 255.
    data += bytes((0x21, 0xF9, 4, 0x01, 0, 0, TRANSPARENT_INDEX, 0))
    # Image descriptor: whole screen, no local table, not interlaced.
    data += bytes((0x2C,)) + struct.pack("<HHHHB", 0, 0, GIF_W, GIF_H, 0)
    data += bytes((8,))
    lzw = lzw_encode(gif_pixels(), 8)
    for i in range(0, len(lzw), 255):
        chunk = lzw[i:i + 255]
        data += bytes((len(chunk),)) + chunk
    data += bytes((0,))
    data += bytes((0x3B,))
    return bytes(data)


def main():
    """make_artwork.py [OUT_DIR] writes the files (beside this script by default);
    make_artwork.py --check exits with 1 when a committed file differs from what this
    script draws."""
    check = len(sys.argv) > 1 and sys.argv[1] == "--check"
    out_dir = sys.argv[1] if len(sys.argv) > 1 and not check else HERE
    files = {
        "bell.ico": ico_file([raster(32, bell_shape, bell_shade),
                              raster(16, bell_shape, bell_shade)]),
        "envelope.ico": ico_file([raster(32, envelope_shape, envelope_shade, envelope_fold),
                                  raster(16, envelope_shape, envelope_shade, envelope_fold)]),
        "background.gif": gif_file(),
    }
    stale = []
    for name, blob in files.items():
        path = os.path.join(out_dir, name)
        if check:
            with open(path, "rb") as f:
                if f.read() != blob:
                    stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(blob)
    if stale:
        print("out of date (run res/make_artwork.py): " + ", ".join(stale))
        sys.exit(1)


if __name__ == "__main__":
    main()
