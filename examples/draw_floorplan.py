#!/usr/bin/env python3
"""Draws the example document's picture, the floor plan of a small flat, and
its hotspot list.

Writes floorplan.bmp (8-bit palette BMP, 360 x 240) and floorplan.csv (the
hotspot CSV that htfmake reads) next to this script; then
    scripts/htfmake examples/floorplan.bmp examples/floorplan.csv examples/floorplan.htf
makes the document that index.html embeds. All three files are committed.
"""
import csv
import os
import struct

W, H = 360, 240
PALETTE = [
    (250, 248, 240),  # 0 paper
    (60, 60, 70),     # 1 walls
    (205, 225, 245),  # 2 living room
    (245, 215, 180),  # 3 kitchen
    (215, 240, 205),  # 4 bedroom
    (230, 215, 240),  # 5 bathroom
    (200, 200, 200),  # 6 hall
    (140, 110, 80),   # 7 furniture
]

# reference, left, top, right, bottom, colour, tooltip
ROOMS = [
    ("living", 10, 10, 200, 140, 2, "Living room, 24 m\u00b2 \u2013 south-facing"),
    ("kitchen", 200, 10, 350, 110, 3, "Kitchen with \"open\" dining corner"),
    ("bedroom", 10, 140, 160, 230, 4, "Bedroom, 14 m\u00b2"),
    ("bath", 260, 110, 350, 230, 5, "Bathroom"),
    ("hall", 160, 140, 260, 230, 6, "Hall and entrance"),
]


def main():
    px = bytearray([0]) * (W * H)

    def rect(l, t, r, b, c):
        for y in range(t, b):
            px[y * W + l:y * W + r] = bytes([c]) * (r - l)

    for _, l, t, r, b, colour, _ in ROOMS:
        rect(l, t, r, b, colour)
        rect(l, t, r, t + 3, 1), rect(l, b - 3, r, b, 1)
        rect(l, t, l + 3, b, 1), rect(r - 3, t, r, b, 1)
    # Doors: gaps in the walls between the rooms and the hall.
    for l, t, r, b in ((150, 137, 178, 143), (157, 180, 163, 208), (257, 170, 263, 198), (100, 137, 128, 143)):
        rect(l, t, r, b, 6)
    rect(40, 40, 120, 70, 7)      # sofa
    rect(30, 170, 90, 215, 7)     # bed
    rect(230, 40, 320, 60, 7)     # worktop

    stride = (W + 3) & ~3
    rows = b"".join(bytes(px[y * W:(y + 1) * W]) + b"\0" * (stride - W) for y in range(H - 1, -1, -1))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(rows), 3780, 3780, len(PALETTE), 0)
    offset = 14 + len(info) + len(table)
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "floorplan.bmp"), "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + info + table + rows)
    with open(os.path.join(here, "floorplan.csv"), "w", encoding="utf-8", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["left", "top", "right", "bottom", "reference", "tooltip"])
        for ref, l, t, r, b, _, tip in ROOMS:
            out.writerow([l, t, r, b, ref, tip])


if __name__ == "__main__":
    main()
