#!/usr/bin/env python3
"""Writes the module's cursors and bitmaps into resources/.

    resgen.py [--out DIR] [--check] [--preview DIR]

--check compares what would be written with the files in place and fails
if any differs (the committed files must be this script's output).
--preview also writes enlarged PNG pictures of everything into DIR.
--web DIR writes the pictures of the browser element instead: the ten
toolbar buttons and the element's own full screen button as PNG data
addresses in a module (htf-pictures.js, in toolbar order, full screen last:
the element shows them without a request) and the lens frame (lens.png,
transparent outside the frame and inside its view)."""

import argparse
import base64
import os
import sys

sys.dont_write_bytecode = True   # keep the source folder clean

import pictures as p  # noqa: E402
from imagefiles import bmp_bytes, cur_bytes, png_bytes  # noqa: E402
from raster import TRANSPARENT  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUT = os.path.normpath(os.path.join(HERE, '..', '..', 'resources'))

# (file name, picture, how it is written). Cursor hot spots are the points
# the pointer acts at: the lens centre and the index finger's tip.
CURSORS = [
    ('magnifier.cur', p.magnifier_cursor, (8, 8)),
    ('openhand.cur', p.open_hand_cursor, (12, 1)),
    ('pointhand.cur', p.pointing_hand_cursor, (12, 1)),
    ('globehand.cur', p.globe_hand_cursor, (13, 3)),
]
BITMAPS = [
    ('lensframe.bmp', p.lens_frame, p.STANDARD, 4),
    ('lensmask.bmp', p.lens_mask, p.MONO, 1),
    ('viewmask.bmp', p.view_mask, p.MONO, 1),
    ('toolbar.bmp', p.toolbar, p.STANDARD, 4),
    ('toolbox.bmp', p.toolbox, p.STANDARD, 4),
]


def build():
    """Every output file: name -> (bytes, canvas, palette, hot spot or None)."""
    files = {}
    for name, draw, hotspot in CURSORS:
        canvas = draw()
        files[name] = (cur_bytes(canvas, p.STANDARD, hotspot), canvas, p.STANDARD, hotspot)
    for name, draw, palette, bits in BITMAPS:
        canvas = draw()
        files[name] = (bmp_bytes(canvas, palette, bits), canvas, palette, None)
    return files


def preview(canvas, palette, hotspot, scale):
    """An enlarged PNG. Cursors are shown over a light and a dark half with a
    red dot on the hot spot, so both the picture and its outline show."""
    def rgb_at(x, y):
        sx, sy = x // scale, y // scale
        colour = canvas.get(sx, sy)
        if hotspot and (sx, sy) == tuple(hotspot) and x % scale in (scale // 2 - 1, scale // 2) \
                and y % scale in (scale // 2 - 1, scale // 2):
            return (255, 0, 0)
        if colour == TRANSPARENT:
            return (230, 230, 200) if sx < canvas.width // 2 else (40, 60, 90)
        return palette[colour]
    return png_bytes(canvas.width * scale, canvas.height * scale, rgb_at)


def write_web(directory):
    """The browser element's pictures, cut from the same drawings."""
    os.makedirs(directory, exist_ok=True)
    # Transparent around each picture, so that it stands on whatever colour
    # the page gives the toolbar; on the module's grey it is the module's.
    strip = p.toolbar(TRANSPARENT)

    def pixel(index):
        if index == TRANSPARENT:
            return p.STANDARD[p.BACKGROUND] + (0,)
        return p.STANDARD[index] + (255,)

    def data_address(colour_at):
        return 'data:image/png;base64,' + base64.b64encode(
            png_bytes(p.CELL, p.CELL, colour_at, alpha=True)).decode('ascii')
    pictures = []
    for i in range(10):
        def button(x, y, left=i * p.CELL):
            return pixel(strip.get(left + x, y))
        pictures.append(data_address(button))
    # The element's own eleventh button, full screen, drawn the same way.
    screen = p.full_screen(TRANSPARENT)
    pictures.append(data_address(lambda x, y: pixel(screen.get(x, y))))
    with open(os.path.join(directory, 'htf-pictures.js'), 'w') as f:
        f.write('// The toolbar\'s eleven pictures, in toolbar order (full screen last), as PNG\n'
                '// data addresses (written by tools/resgen/resgen.py --web).\n'
                'export const TOOLBAR_PICTURES = Object.freeze([\n')
        f.writelines("  '%s',\n" % picture for picture in pictures)
        f.write(']);\n')
    frame, lens, view = p.lens_frame(), p.lens_mask(), p.view_mask()

    def lens_pixel(x, y):
        opaque = lens.get(x, y) == 1 and view.get(x, y) == 0
        return p.STANDARD[frame.get(x, y)] + ((255,) if opaque else (0,))
    with open(os.path.join(directory, 'lens.png'), 'wb') as f:
        f.write(png_bytes(p.LENS_WIDTH, p.LENS_HEIGHT, lens_pixel, alpha=True))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--out', default=DEFAULT_OUT)
    parser.add_argument('--check', action='store_true')
    parser.add_argument('--preview')
    parser.add_argument('--web')
    args = parser.parse_args()
    if args.web:
        write_web(args.web)
        return 0

    files = build()
    if not args.check:
        os.makedirs(args.out, exist_ok=True)
    stale = []
    for name, (data, canvas, palette, hotspot) in files.items():
        path = os.path.join(args.out, name)
        if args.check:
            try:
                with open(path, 'rb') as f:
                    if f.read() != data:
                        stale.append(name)
            except OSError:
                stale.append(name)
        else:
            with open(path, 'wb') as f:
                f.write(data)
        if args.preview:
            os.makedirs(args.preview, exist_ok=True)
            scale = 8 if canvas.width <= 32 else (2 if canvas.width > 200 and canvas.height > 100 else 4)
            with open(os.path.join(args.preview, os.path.splitext(name)[0] + '.png'), 'wb') as f:
                f.write(preview(canvas, palette, hotspot, scale))
    if stale:
        print('out of date: ' + ', '.join(stale) + ' (run scripts/resources)', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
