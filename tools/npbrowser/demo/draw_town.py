#!/usr/bin/env python3
"""Draws the demo document's picture, a small town plan, and its hotspot list.

Writes town.bmp (8-bit palette BMP, 560 x 360) and town-hotspots.csv (the
hotspot CSV that htfmake reads: UTF-8, header row
left,top,right,bottom,reference,tooltip) next to this script. htfmake turns
the two into town.htf.
Run it again after changing the plan; both outputs are committed.
"""
import csv
import os
import struct

W, H = 560, 360
PALETTE = [
    (226, 232, 200),  # 0 ground
    (150, 150, 150),  # 1 street
    (90, 150, 220),   # 2 river
    (40, 40, 40),     # 3 outline and text
    (120, 190, 100),  # 4 park lawn
    (40, 120, 50),    # 5 trees
    (235, 190, 120),  # 6 town hall
    (200, 160, 220),  # 7 library
    (240, 150, 130),  # 8 museum
    (170, 200, 235),  # 9 station
    (250, 225, 110),  # 10 market
    (255, 255, 255),  # 11 street marking / bridge
    (180, 140, 100),  # 12 harbour quay
]

FONT = {  # 5 x 7 capitals, rows top first
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'B': ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'H': ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    'I': ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'W': ["10001", "10001", "10001", "10101", "10101", "11011", "10001"],
    'Y': ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    ' ': ["00000"] * 7,
}

# reference, left, top, right, bottom, colour, label, tooltip
BUILDINGS = [
    ("815", 200, 40, 330, 120, 6, "TOWN HALL", "Town hall \u2013 open Monday to Friday, 8:00\u201317:00"),
    ("816", 40, 40, 160, 120, 7, "LIBRARY", "Public library \u2013 42 000 books"),
    ("817", 370, 40, 520, 120, 8, "MUSEUM", "Town museum \u2013 old maps and ship models"),
    ("818", 40, 170, 160, 250, 9, "STATION", "Railway station \u2013 trains every 20 minutes"),
    ("819", 200, 170, 330, 250, 10, "MARKET", "Market square \u2013 Saturdays 7:00\u201313:00"),
    ("820", 370, 170, 520, 250, 4, "PARK", "Riverside park with playground"),
]


class Picture:
    def __init__(self):
        self.px = bytearray(W * H)

    def rect(self, l, t, r, b, c):
        for y in range(max(0, t), min(H, b)):
            self.px[y * W + max(0, l): y * W + min(W, r)] = bytes([c]) * (min(W, r) - max(0, l))

    def frame(self, l, t, r, b, c, w=2):
        self.rect(l, t, r, t + w, c)
        self.rect(l, b - w, r, b, c)
        self.rect(l, t, l + w, b, c)
        self.rect(r - w, t, r, b, c)

    def disc(self, cx, cy, rad, c):
        for y in range(cy - rad, cy + rad + 1):
            for x in range(cx - rad, cx + rad + 1):
                if 0 <= x < W and 0 <= y < H and (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad:
                    self.px[y * W + x] = c

    def text(self, cx, cy, s, c, scale=2):
        width = (6 * len(s) - 1) * scale
        x0, y0 = cx - width // 2, cy - 7 * scale // 2
        for i, ch in enumerate(s):
            for row, bits in enumerate(FONT[ch]):
                for col, bit in enumerate(bits):
                    if bit == '1':
                        x = x0 + (6 * i + col) * scale
                        y = y0 + row * scale
                        self.rect(x, y, x + scale, y + scale, c)


def draw():
    p = Picture()
    p.rect(0, 0, W, H, 0)
    # The river along the bottom, a quay on its bank and a bridge.
    p.rect(0, 300, W, H, 2)
    p.rect(0, 292, W, 300, 12)
    # Streets between the blocks, with centre markings.
    for top in (135, 265):
        p.rect(0, top, W, top + 22, 1)
        for x in range(6, W, 24):
            p.rect(x, top + 10, x + 12, top + 12, 11)
    for left in (170, 340, 530):
        p.rect(left, 0, left + 22, 292, 1)
    p.rect(340, 287, 362, H, 11)      # the bridge
    p.frame(340, 287, 362, H, 3, 1)
    for ref, l, t, r, b, colour, label, _ in BUILDINGS:
        p.rect(l, t, r, b, colour)
        if label == "PARK":
            for (x, y) in ((395, 195), (430, 225), (470, 190), (500, 228), (385, 232)):
                p.disc(x, y, 9, 5)
        p.frame(l, t, r, b, 3)
        p.text((l + r) // 2, (t + b) // 2, label, 3)
    return p


def write_bmp(path, p):
    stride = (W + 3) & ~3
    rows = b"".join(bytes(p.px[y * W:(y + 1) * W]) + b"\0" * (stride - W) for y in range(H - 1, -1, -1))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(rows), 2835, 2835, len(PALETTE), 0)
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + table + rows)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "town.bmp"), draw())
    with open(os.path.join(here, "town-hotspots.csv"), "w", encoding="utf-8", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["left", "top", "right", "bottom", "reference", "tooltip"])
        for ref, l, t, r, b, _, _, tip in BUILDINGS:
            out.writerow([l, t, r, b, ref, tip])


if __name__ == "__main__":
    main()
