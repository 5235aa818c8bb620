#!/usr/bin/python3
"""Draws the program's skin: the PNG resources 101-137 and icon 119.

Run with Debian's python3 and python3-pil; the fonts come from
fonts-wqy-microhei. Writes res/png/<id>.png and res/program.ico, byte for
byte the same on every run (no time or text chunks).

    /usr/bin/python3 tools/artwork/make_artwork.py [--out DIR]
    /usr/bin/python3 tools/artwork/make_artwork.py --check

--check draws everything again in memory and compares it with the files in
res/, and checks that each PNG is 8-bit RGBA at its listed size; it exits
nonzero on any difference.
"""
import argparse
import io
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

FONT_FILE = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
SS = 4  # supersampling factor for shapes

# Palette: slate title bands, light bodies, one blue accent.
INK = (33, 43, 54)
TITLE_TOP = (52, 73, 94)
TITLE_BOTTOM = (38, 55, 72)
BORDER = (30, 42, 56)
BODY = (250, 251, 253)
FOOTER = (233, 240, 248)
FOOTER_LINE = (214, 223, 234)
BLUE = (47, 128, 237)
BLUE_LIGHT = (86, 156, 245)
BLUE_DARK = (30, 100, 200)
GREY_TEXT = (102, 102, 102)
ORANGE = (245, 145, 35)
RED = (232, 17, 35)


def font(size):
    return ImageFont.truetype(FONT_FILE, size)


def blank(w, h, colour=(0, 0, 0, 0)):
    return Image.new("RGBA", (w, h), colour)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def vgradient(w, h, top, bottom):
    img = blank(w, h)
    d = ImageDraw.Draw(img)
    for y in range(h):
        d.line([(0, y), (w - 1, y)], fill=mix(top, bottom, y / max(1, h - 1)) + (255,))
    return img


def mask_from(w, h, draw_fn):
    """An anti-aliased mask: draw_fn(draw, scale) paints white shapes."""
    big = Image.new("L", (w * SS, h * SS), 0)
    draw_fn(ImageDraw.Draw(big), SS)
    return big.resize((w, h), Image.LANCZOS)


def paste_fill(img, fill, mask, box=(0, 0)):
    layer = fill if isinstance(fill, Image.Image) else blank(mask.width, mask.height, fill + (255,))
    img.alpha_composite(Image.composite(layer, blank(mask.width, mask.height), mask), box)


def text_centred(img, box, text, size, colour, dy=0, stroke=0):
    d = ImageDraw.Draw(img)
    x0, y0, x1, y1 = box
    d.text(((x0 + x1) / 2, (y0 + y1) / 2 + dy), text, font=font(size), fill=colour + (255,), anchor="mm",
           stroke_width=stroke, stroke_fill=colour + (255,))


def octagon(w, h, cut, s):
    return [(cut * s, 0), ((w - cut) * s, 0), (w * s, cut * s), (w * s, (h - cut) * s), ((w - cut) * s, h * s),
            (cut * s, h * s), (0, (h - cut) * s), (0, cut * s)]


def strip(frames):
    w = sum(f.width for f in frames)
    out = blank(w, frames[0].height)
    x = 0
    for f in frames:
        out.alpha_composite(f, (x, 0))
        x += f.width
    return out


# ---- buttons -----------------------------------------------------------------

def rounded_button(w, h, label, size, top, bottom, border, text_colour, pressed=False, stroke=0, radius=4):
    img = blank(w, h)
    outer = mask_from(w, h, lambda d, s: d.rounded_rectangle([0, 0, w * s - 1, h * s - 1], radius * s, fill=255))
    paste_fill(img, border, outer)
    inner = mask_from(w, h, lambda d, s: d.rounded_rectangle([s, s, (w - 1) * s - 1, (h - 1) * s - 1],
                                                             (radius - 1) * s, fill=255))
    paste_fill(img, vgradient(w, h, top, bottom), inner)
    text_centred(img, (0, 0, w, h), label, size, text_colour, dy=1 if pressed else 0, stroke=stroke)
    return img


def prompt_button(label, primary):
    w, h = 78, 30
    if primary:
        looks = [(BLUE_LIGHT, BLUE, BLUE_DARK), (mix(BLUE_LIGHT, (255, 255, 255), .25), BLUE_LIGHT, BLUE),
                 (BLUE_DARK, BLUE, BLUE_DARK)]
        text = (255, 255, 255)
    else:
        looks = [((255, 255, 255), (236, 240, 245), (190, 199, 210)), ((255, 255, 255), (245, 248, 252), BLUE_LIGHT),
                 ((226, 231, 238), (240, 243, 247), (160, 170, 184))]
        text = INK
    return strip([rounded_button(w, h, label, 13, t, b, br, text, pressed=(i == 2))
                  for i, (t, b, br) in enumerate(looks)])


def big_button(label, base):
    light = mix(base, (255, 255, 255), .28)
    dark = mix(base, (0, 0, 0), .22)
    looks = [(light, base, dark), (mix(light, (255, 255, 255), .2), light, base), (dark, base, dark)]
    return strip([rounded_button(135, 40, label, 17, t, b, br, (255, 255, 255), pressed=(i == 2), radius=6)
                  for i, (t, b, br) in enumerate(looks)])


def caption_button(glyph):
    frames = []
    for state in range(3):
        img = blank(19, 20)
        if state:
            bg = (RED if glyph == "close" else (255, 255, 255))
            alpha = 255 if glyph == "close" else (60 if state == 1 else 100)
            if glyph == "close" and state == 2:
                bg = mix(RED, (0, 0, 0), .25)
            m = mask_from(19, 20, lambda d, s: d.rounded_rectangle([0, 0, 19 * s - 1, 20 * s - 1], 3 * s, fill=255))
            layer = blank(19, 20, bg + (alpha,))
            img.alpha_composite(Image.composite(layer, blank(19, 20), m))
        white = (255, 255, 255)
        if glyph == "close":
            m = mask_from(19, 20, lambda d, s: (d.line([(5.5 * s, 6 * s), (13.5 * s, 14 * s)], fill=255, width=int(1.6 * s)),
                                                d.line([(13.5 * s, 6 * s), (5.5 * s, 14 * s)], fill=255, width=int(1.6 * s))))
        elif glyph == "min":
            m = mask_from(19, 20, lambda d, s: d.rectangle([5 * s, 12 * s, 14 * s, 13.5 * s], fill=255))
        else:
            m = mask_from(19, 20, lambda d, s: [d.ellipse([(x - 1.2) * s, 8.8 * s, (x + 1.2) * s, 11.2 * s], fill=255)
                                                for x in (5.5, 9.5, 13.5)])
        paste_fill(img, white, m)
        frames.append(img)
    return strip(frames)


def check_box():
    frames = []
    looks = [  # (border, fill, tick)
        ((150, 160, 172), (255, 255, 255), None), (BLUE, (255, 255, 255), None), (BLUE_DARK, (220, 233, 250), None),
        ((190, 195, 200), (235, 237, 240), None), (BLUE, BLUE, (255, 255, 255)), (BLUE_LIGHT, BLUE_LIGHT, (255, 255, 255)),
        (BLUE_DARK, BLUE_DARK, (255, 255, 255)), ((190, 195, 200), (215, 219, 224), (150, 155, 162)),
        (BLUE, (255, 255, 255), "mixed")]
    for border, fill, tick in looks:
        img = blank(14, 14)
        paste_fill(img, border, mask_from(14, 14, lambda d, s: d.rounded_rectangle([0, 0, 14 * s - 1, 14 * s - 1], 3 * s, fill=255)))
        paste_fill(img, fill, mask_from(14, 14, lambda d, s: d.rounded_rectangle([s, s, 13 * s - 1, 13 * s - 1], 2 * s, fill=255)))
        if tick == "mixed":
            paste_fill(img, BLUE, mask_from(14, 14, lambda d, s: d.rectangle([4 * s, 4 * s, 10 * s - 1, 10 * s - 1], fill=255)))
        elif tick:
            paste_fill(img, tick, mask_from(14, 14, lambda d, s: d.line([(3.5 * s, 7 * s), (6 * s, 9.8 * s), (10.8 * s, 4.2 * s)],
                                                                       fill=255, width=int(1.7 * s), joint="curve")))
        frames.append(img)
    return strip(frames)


def progress_bar(fill):
    w, h = 419, 17
    img = blank(w, h)
    pill = lambda inset: mask_from(w, h, lambda d, s: d.rounded_rectangle(
        [inset * s, inset * s, (w - inset) * s - 1, (h - inset) * s - 1], (8.5 - inset) * s, fill=255))
    if fill:
        paste_fill(img, BLUE_DARK, pill(0))
        paste_fill(img, vgradient(w, h, (120, 180, 250), (40, 118, 225)), pill(1))
    else:
        # Dark enough that the white percentage text reads on it.
        paste_fill(img, (118, 131, 147), pill(0))
        paste_fill(img, vgradient(w, h, (140, 153, 168), (166, 178, 192)), pill(1))
    return img


# ---- windows -----------------------------------------------------------------

def shaped_window(w, h, shape, title_h, footer_y=None, frame=0):
    """A window picture: body inside the polygon `shape` (at scale 1), title band
    above title_h, optional tinted footer from footer_y, one-pixel border."""
    outline = mask_from(w, h, lambda d, s: d.polygon([(x * s, y * s) for x, y in shape], fill=255))
    img = blank(w, h)
    paste_fill(img, BORDER, outline)
    inner_shape = shrink(shape, 1)
    inner = mask_from(w, h, lambda d, s: d.polygon([(x * s, y * s) for x, y in inner_shape], fill=255))
    body = blank(w, h, BODY + (255,))
    band = vgradient(w, title_h, TITLE_TOP, TITLE_BOTTOM)
    body.paste(band, (0, 0))
    if frame:
        d = ImageDraw.Draw(body)
        for i in range(frame):
            d.rectangle([i, i, w - 1 - i, h - 1 - i], outline=mix(TITLE_BOTTOM, BORDER, i / frame) + (255,))
    if footer_y is not None:
        d = ImageDraw.Draw(body)
        d.rectangle([0, footer_y, w, h], fill=FOOTER + (255,))
        d.line([(0, footer_y), (w, footer_y)], fill=FOOTER_LINE + (255,))
    paste_fill(img, body, inner)
    return img


def shrink(points, by):
    """Moves every vertex of a convex polygon `by` pixels towards its centre
    along both axes (good enough for the cut-corner shapes used here)."""
    cx = sum(p[0] for p in points) / len(points)
    cy = sum(p[1] for p in points) / len(points)
    return [(x + (by if x < cx else -by), y + (by if y < cy else -by)) for x, y in points]


def prompt_background():
    w, h = 404, 201
    return shaped_window(w, h, octagon(w, h, 9, 1), 48, footer_y=146)


def window_frame():
    w, h = 404, 201
    return shaped_window(w, h, octagon(w, h, 9, 1), 48, frame=4)


def download_background():
    w, h = 680, 420
    # The window's region: a raised tab at the top left, three cut corners.
    shape = [(0, 0), (286, 0), (295, 10), (671, 10), (679, 19), (679, 411), (671, 419), (8, 419), (0, 411)]
    img = shaped_window(w, h, [(x + (1 if x >= 679 else 0), y + (1 if y >= 419 else 0)) for x, y in shape], 52,
                        footer_y=384)
    d = ImageDraw.Draw(img)
    # Frame of the web area (20, 56)-(660, 301).
    d.rectangle([19, 55, 660, 301], outline=FOOTER_LINE + (255,))
    d.line([(20, 309), (660, 309)], fill=(236, 240, 245, 255))
    # A small mark in the tab, left of the title.
    mark = mask_from(w, h, lambda dd, s: dd.rounded_rectangle([20 * s, 18 * s, 44 * s, 42 * s], 5 * s, fill=255))
    paste_fill(img, BLUE, mark)
    arrow = mask_from(w, h, lambda dd, s: (dd.rectangle([30.5 * s, 23 * s, 33.5 * s, 32 * s], fill=255),
                                           dd.polygon([(26 * s, 30 * s), (38 * s, 30 * s), (32 * s, 37 * s)], fill=255)))
    paste_fill(img, (255, 255, 255), arrow)
    return img


def web_standby():
    w, h = 640, 245
    img = vgradient(w, h, (236, 244, 253), (213, 229, 248))
    circles = mask_from(w, h, lambda d, s: [d.ellipse([(x - r) * s, (y - r) * s, (x + r) * s, (y + r) * s], fill=255)
                                            for x, y, r in ((560, 40, 90), (80, 230, 70), (610, 220, 40))])
    img.alpha_composite(Image.composite(blank(w, h, (255, 255, 255, 90)), blank(w, h), circles))
    logo = mask_from(w, h, lambda d, s: d.rounded_rectangle([288 * s, 52 * s, 352 * s, 116 * s], 14 * s, fill=255))
    paste_fill(img, BLUE, logo)
    arrow = mask_from(w, h, lambda d, s: (d.rectangle([314 * s, 66 * s, 326 * s, 92 * s], fill=255),
                                          d.polygon([(302 * s, 88 * s), (338 * s, 88 * s), (320 * s, 106 * s)], fill=255)))
    paste_fill(img, (255, 255, 255), arrow)
    text_centred(img, (0, 128, w, 160), "Brenva网游戏下载器", 22, INK)
    text_centred(img, (0, 166, w, 190), "游戏下载中，精彩内容稍后呈现", 14, (90, 104, 120))
    return img


def warning_icon():
    img = blank(24, 24)
    paste_fill(img, ORANGE, mask_from(24, 24, lambda d, s: d.ellipse([1 * s, 1 * s, 23 * s - 1, 23 * s - 1], fill=255)))
    mark = mask_from(24, 24, lambda d, s: (d.rounded_rectangle([10.6 * s, 5 * s, 13.4 * s, 14.5 * s], 1.4 * s, fill=255),
                                           d.ellipse([10.4 * s, 16 * s, 13.6 * s, 19.2 * s], fill=255)))
    paste_fill(img, (255, 255, 255), mark)
    return img


def small_picture(w, h, kind):
    img = blank(w, h)
    if kind == "folder":
        paste_fill(img, (240, 180, 60), mask_from(w, h, lambda d, s: (
            d.rounded_rectangle([1 * s, 3 * s, 9 * s, 8 * s], 1.5 * s, fill=255),
            d.rounded_rectangle([1 * s, 5 * s, (w - 1) * s, (h - 2) * s], 2 * s, fill=255))))
    elif kind == "info":
        paste_fill(img, BLUE, mask_from(w, h, lambda d, s: d.ellipse([0, 0, w * s - 1, h * s - 1], fill=255)))
        paste_fill(img, (255, 255, 255), mask_from(w, h, lambda d, s: (
            d.ellipse([6.8 * s, 2.8 * s, 9.2 * s, 5.2 * s], fill=255), d.rectangle([7 * s, 6.5 * s, 9 * s, 12 * s], fill=255))))
    return img


def logo_picture(w, h):
    img = blank(w, h)
    paste_fill(img, vgradient(w, h, BLUE_LIGHT, BLUE_DARK),
               mask_from(w, h, lambda d, s: d.rounded_rectangle([0, 0, w * s - 1, h * s - 1], 10 * s, fill=255)))
    text_centred(img, (0, 0, w, h), "Brenva", 18, (255, 255, 255), stroke=0)
    return img


def banner(w, h):
    img = blank(w, h)
    paste_fill(img, vgradient(w, h, (255, 247, 230), (252, 232, 196)),
               mask_from(w, h, lambda d, s: d.rounded_rectangle([0, 0, w * s - 1, h * s - 1], 4 * s, fill=255)))
    text_centred(img, (0, 0, w, h), "免费领取特权卡 · 激活码", 13, (170, 95, 10))
    return img


def panel(w, h):
    img = blank(w, h)
    paste_fill(img, FOOTER_LINE, mask_from(w, h, lambda d, s: d.rounded_rectangle([0, 0, w * s - 1, h * s - 1], 6 * s, fill=255)))
    paste_fill(img, vgradient(w, h, (255, 255, 255), (243, 247, 252)),
               mask_from(w, h, lambda d, s: d.rounded_rectangle([s, s, (w - 1) * s - 1, (h - 1) * s - 1], 5 * s, fill=255)))
    band = vgradient(w, 30, TITLE_TOP, TITLE_BOTTOM)
    top = mask_from(w, 30, lambda d, s: d.rounded_rectangle([s, s, (w - 1) * s - 1, 40 * s], 5 * s, fill=255))
    img.alpha_composite(Image.composite(band, blank(w, 30), top))
    text_centred(img, (0, 0, w, 30), "下载提示", 13, (255, 255, 255))
    return img


def program_icon():
    sizes = [48, 32, 16]
    images = []
    for n in sizes:
        img = blank(n, n)
        paste_fill(img, vgradient(n, n, BLUE_LIGHT, BLUE_DARK),
                   mask_from(n, n, lambda d, s: d.rounded_rectangle([0, 0, n * s - 1, n * s - 1], n * s // 5, fill=255)))
        k = n / 48
        paste_fill(img, (255, 255, 255), mask_from(n, n, lambda d, s: (
            d.rectangle([20 * k * s, 9 * k * s, 28 * k * s, 26 * k * s], fill=255),
            d.polygon([(11 * k * s, 24 * k * s), (37 * k * s, 24 * k * s), (24 * k * s, 37 * k * s)], fill=255),
            d.rectangle([11 * k * s, 39 * k * s, 37 * k * s, 42 * k * s], fill=255))))
        images.append(img)
    return images


PICTURES = {
    101: window_frame,
    102: lambda: caption_button("close"),
    103: lambda: progress_bar(True),
    104: lambda: progress_bar(False),
    105: download_background,
    106: lambda: big_button("继续", BLUE),
    107: lambda: big_button("暂停", (120, 134, 152)),
    110: check_box,
    111: lambda: logo_picture(88, 67),
    112: warning_icon,
    113: lambda: banner(228, 29),
    114: lambda: big_button("下载", BLUE),
    115: lambda: caption_button("min"),
    116: lambda: caption_button("dots"),
    117: lambda: big_button("安装", (39, 174, 96)),
    118: lambda: big_button("重新下载", BLUE),
    120: lambda: panel(330, 156),
    123: web_standby,
    124: lambda: small_picture(20, 19, "folder"),
    125: prompt_background,
    126: lambda: prompt_button("关闭", False),
    127: lambda: prompt_button("更改目录", True),
    128: lambda: prompt_button("下载", True),
    129: lambda: prompt_button("重新下载", True),
    130: lambda: prompt_button("重试", True),
    131: lambda: prompt_button("确定", True),
    132: lambda: prompt_button("取消", False),
    134: lambda: prompt_button("继续", True),
    135: lambda: prompt_button("立即安装", True),
    136: lambda: prompt_button("反馈", True),
    137: lambda: small_picture(16, 15, "info"),
}

SIZES = {101: (404, 201), 102: (57, 20), 103: (419, 17), 104: (419, 17), 105: (680, 420), 106: (405, 40),
         107: (405, 40), 110: (126, 14), 111: (88, 67), 112: (24, 24), 113: (228, 29), 114: (405, 40),
         115: (57, 20), 116: (57, 20), 117: (405, 40), 118: (405, 40), 120: (330, 156), 123: (640, 245),
         124: (20, 19), 125: (404, 201), 137: (16, 15)}
SIZES.update({i: (234, 30) for i in range(126, 137) if i != 133})


def encode_png(img):
    buf = io.BytesIO()
    img.save(buf, "PNG", optimize=False, compress_level=9)
    return buf.getvalue()


def encode_icon(images):
    buf = io.BytesIO()
    images[0].save(buf, "ICO", sizes=[(i.width, i.height) for i in images], append_images=images[1:])
    return buf.getvalue()


def render():
    """Every output file as {relative path: bytes}."""
    files = {}
    for rid, make in sorted(PICTURES.items()):
        img = make()
        if img.size != SIZES[rid]:
            raise SystemExit(f"picture {rid} is {img.size}, expected {SIZES[rid]}")
        files[os.path.join("png", f"{rid}.png")] = encode_png(img)
    files["program.ico"] = encode_icon(program_icon())
    return files


def png_header(data):
    """(width, height, bit depth, colour type) from a PNG's IHDR chunk."""
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">IIBB", data[16:26])


def check(res_dir, files):
    problems = []
    for rel, data in files.items():
        path = os.path.join(res_dir, rel)
        try:
            with open(path, "rb") as f:
                stored = f.read()
        except OSError:
            problems.append(f"{rel}: missing")
            continue
        if stored != data:
            problems.append(f"{rel}: differs from what the generator draws")
        if rel.endswith(".png"):
            rid = int(os.path.basename(rel)[:-4])
            header = png_header(stored)
            if header != SIZES[rid] + (8, 6):
                problems.append(f"{rel}: header {header}, expected {SIZES[rid]} 8-bit RGBA")
    for problem in problems:
        print(problem)
    print(f"{len(files)} files checked, {len(problems)} problems")
    return not problems


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(root, "res"))
    parser.add_argument("--check", action="store_true", help="compare with the files in res/ instead of writing")
    args = parser.parse_args()
    files = render()
    if args.check:
        sys.exit(0 if check(args.out, files) else 1)
    for rel, data in files.items():
        path = os.path.join(args.out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
