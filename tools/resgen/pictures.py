"""The module's pictures: four cursors, the three magnifier lens bitmaps, the
toolbar strip and the control's toolbox bitmap."""

from raster import (TRANSPARENT, Canvas, capsule, disc, edge, ellipse, grow, minus, ring,
                    rounded_rect, union)

# The 16 standard colours, in their usual order.
STANDARD = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

MONO = [(0, 0, 0), (255, 255, 255)]

# Characters of the pixel art.
ART = {'K': BLACK, 'R': MAROON, 'G': GREEN, 'O': OLIVE, 'N': NAVY, 'P': PURPLE, 'T': TEAL, 'S': SILVER,
       'D': GREY, 'r': RED, 'L': LIME, 'Y': YELLOW, 'B': BLUE, 'M': FUCHSIA, 'C': AQUA, 'W': WHITE}

CURSOR_SIZE = 32
LENS_WIDTH, LENS_HEIGHT = 238, 171
CELL = 24
BACKGROUND = SILVER

# ---------------------------------------------------------------------------
# Cursors (32 x 32; '.' is transparent)

POINTING_HAND = [
    "...........KKK..................",
    "..........KWWWK.................",
    "..........KWWWK.................",
    "..........KWWWK.................",
    "..........KWWWK.................",
    "..........KWWWK.................",
    "..........KWWWK.................",
    "..........KWWWKKKK..............",
    "..........KWWWKWWWKKKK..........",
    "..........KWWWKWWWKWWWKKKK......",
    "..........KWWWKWWWKWWWKWWWK.....",
    "..........KWWWKWWWKWWWKWWWK.....",
    "..KKK.....KWWWKWWWKWWWKWWWK.....",
    ".KWWWK....KWWWWWWWWWWWWWWWK.....",
    ".KWWWWK...KWWWWWWWWWWWWWWWK.....",
    "..KWWWWK..KWWWWWWWWWWWWWWWK.....",
    "...KWWWWK.KWWWWWWWWWWWWWWWK.....",
    "....KWWWWKKWWWWWWWWWWWWWWWK.....",
    ".....KWWWWWWWWWWWWWWWWWWWWK.....",
    "......KWWWWWWWWWWWWWWWWWWWK.....",
    ".......KWWWWWWWWWWWWWWWWWWK.....",
    "........KWWWWWWWWWWWWWWWWK......",
    ".........KWWWWWWWWWWWWWWK.......",
    "..........KWWWWWWWWWWWWWK.......",
    "..........KKKKKKKKKKKKKKK.......",
    "..........KPPPPPPPPPPPPPK.......",
    "..........KPPPPPPPPPPPPPK.......",
    "..........KPPPPPPPPPPPPPK.......",
    "..........KKKKKKKKKKKKKKK.......",
]

OPEN_HAND = [
    "...........KKK..................",
    "..........KWWWKKKK..............",
    "..........KWWWKWWWK.............",
    ".......KKKKWWWKWWWK.............",
    "......KWWWKWWWKWWWK.............",
    "......KWWWKWWWKWWWKKK...........",
    "......KWWWKWWWKWWWKWWK..........",
    "......KWWWKWWWKWWWKWWK..........",
    "......KWWWKWWWKWWWKWWK..........",
    "......KWWWKWWWKWWWKWWK..........",
    "......KWWWKWWWKWWWKWWK..........",
    "......KWWWKWWWKWWWKWWK..........",
    ".KK...KWWWKWWWKWWWKWWK..........",
    "KWWK..KWWWKWWWKWWWKWWK..........",
    "KWWWK.KWWWWWWWWWWWWWWK..........",
    ".KWWWKKWWWWWWWWWWWWWWK..........",
    "..KWWWKWWWWWWWWWWWWWWK..........",
    "..KWWWWWWWWWWWWWWWWWWK..........",
    "...KWWWWWWWWWWWWWWWWWK..........",
    "....KWWWWWWWWWWWWWWWWK..........",
    ".....KWWWWWWWWWWWWWWK...........",
    "......KWWWWWWWWWWWWWK...........",
    "......KKKKKKKKKKKKKKK...........",
    "......KBBBBBBBBBBBBBK...........",
    "......KBBBBBBBBBBBBBK...........",
    "......KBBBBBBBBBBBBBK...........",
    "......KBBBBBBBBBBBBBK...........",
    "......KKKKKKKKKKKKKKK...........",
]


def _cursor_canvas():
    return Canvas(CURSOR_SIZE, CURSOR_SIZE, TRANSPARENT)


def magnifier_cursor():
    c = _cursor_canvas()
    cx = cy = 8.5   # the centre of pixel (8, 8), the hot spot
    c.shape(capsule(14.5, 14.5, 22.5, 22.5, 2.6), MAROON, BLACK)
    c.shape(ring(cx, cy, 7.9, 4.9), SILVER, BLACK)
    c.paint({(4, 6), (4, 7), (5, 5), (6, 4), (7, 4)}, WHITE)   # glint on the glass
    return c


def open_hand_cursor():
    c = _cursor_canvas()
    c.stamp(OPEN_HAND, ART)
    return c


def pointing_hand_cursor():
    c = _cursor_canvas()
    c.stamp(POINTING_HAND, ART)
    return c


def globe_hand_cursor():
    c = _cursor_canvas()
    globe = c.shape(disc(22.5, 9.5, 9.0), AQUA, BLACK)
    inside = globe - edge(globe)
    land = [ellipse(19.0, 5.0, 4.5, 2.8), ellipse(27.5, 10.0, 3.2, 5.0), ellipse(21.0, 12.5, 3.5, 2.4)]
    c.paint(c.mask(union(*land)) & inside, GREEN)
    c.paint(c.mask(ellipse(22.5, 9.5, 4.0, 9.0)) - c.mask(ellipse(22.5, 9.5, 3.0, 8.0)) & inside, TEAL)
    c.stamp(POINTING_HAND, ART, 1, 2)
    return c


# ---------------------------------------------------------------------------
# Magnifier lens (238 x 171): the frame picture and its two masks

# The frame, its shadow and the viewing area inside it, as point tests. The
# viewing area is centred on the pointer's place in the lens, (116, 80).
LENS_FRAME_SHAPE = rounded_rect(0, 0, 232, 165, 24)
LENS_SHADOW_SHAPE = rounded_rect(6, 6, 238, 171, 24)
LENS_VIEW_SHAPE = rounded_rect(12, 12, 220, 151, 14)


def lens_frame():
    c = Canvas(LENS_WIDTH, LENS_HEIGHT, WHITE)
    frame = c.mask(LENS_FRAME_SHAPE)
    view = c.mask(LENS_VIEW_SHAPE)
    c.paint(c.mask(LENS_SHADOW_SHAPE) - frame, GREY)
    c.paint(frame - view, NAVY)
    # A lighter band along the middle of the frame gives it some relief.
    band = c.mask(minus(rounded_rect(3, 3, 229, 162, 21), rounded_rect(5, 5, 227, 160, 19)))
    c.paint(band & frame, BLUE)
    c.paint(edge(frame), BLACK)
    c.paint(grow(view) - view, BLACK)
    return c


def lens_mask():
    c = Canvas(LENS_WIDTH, LENS_HEIGHT, 0)
    c.paint(c.mask(union(LENS_FRAME_SHAPE, LENS_SHADOW_SHAPE)), 1)
    return c


def view_mask():
    c = Canvas(LENS_WIDTH, LENS_HEIGHT, 0)
    c.paint(c.mask(LENS_VIEW_SHAPE), 1)
    return c


# ---------------------------------------------------------------------------
# Toolbar strip: ten 24 x 24 pictures on light grey

ARROW = [
    "K..........",
    "KK.........",
    "KWK........",
    "KWWK.......",
    "KWWWK......",
    "KWWWWK.....",
    "KWWWWWK....",
    "KWWWWWWK...",
    "KWWWWWWWK..",
    "KWWWWWWWWK.",
    "KWWWWWKKKKK",
    "KWWKWWK....",
    "KWK.KWWK...",
    "KK..KWWK...",
    "K....KWWK..",
    ".....KWWK..",
    "......KK...",
]

SMALL_HAND = [
    ".......KK.......",
    "....KKKWWKKK....",
    "...KWWKWWKWWK...",
    "...KWWKWWKWWKK..",
    "...KWWKWWKWWKWK.",
    "...KWWKWWKWWKWK.",
    "...KWWKWWKWWKWK.",
    "...KWWKWWKWWKWK.",
    "KK.KWWKWWKWWKWK.",
    "KWKKWWWWWWWWWWK.",
    "KWWKWWWWWWWWWWK.",
    ".KWWWWWWWWWWWWK.",
    "..KWWWWWWWWWWWK.",
    "...KWWWWWWWWWK..",
    "....KWWWWWWWWK..",
    "....KKKKKKKKKK..",
    "....KBBBBBBBBK..",
    "....KBBBBBBBBK..",
    "....KKKKKKKKKK..",
]

ONE = [
    "..KK..",
    ".KKK..",
    "KKKK..",
    "..KK..",
    "..KK..",
    "..KK..",
    "..KK..",
    "..KK..",
    "..KK..",
    "..KK..",
    "KKKKKK",
    "KKKKKK",
]

COLON = [
    "KK",
    "KK",
]

# Arrows inside the window pictures, drawn in the 16 x 13 client area.
FOUR_ARROWS = [
    "KKKK........KKKK",
    "KKK..........KKK",
    "KK.K........K.KK",
    "K...K......K...K",
    ".....K....K.....",
    "................",
    "................",
    "................",
    ".....K....K.....",
    "K...K......K...K",
    "KK.K........K.KK",
    "KKK..........KKK",
    "KKKK........KKKK",
]

VERTICAL_ARROW = [
    "................",
    ".......KK.......",
    "......KKKK......",
    ".....KKKKKK.....",
    "....KKKKKKKK....",
    ".......KK.......",
    ".......KK.......",
    ".......KK.......",
    "....KKKKKKKK....",
    ".....KKKKKK.....",
    "......KKKK......",
    ".......KK.......",
    "................",
]

HORIZONTAL_ARROW = [
    "................",
    "................",
    "................",
    "...K........K...",
    "..KK........KK..",
    ".KKK........KKK.",
    "KKKKKKKKKKKKKKKK",
    "KKKKKKKKKKKKKKKK",
    ".KKK........KKK.",
    "..KK........KK..",
    "...K........K...",
    "................",
    "................",
]


def _magnifier(c, left, sign=None):
    """A magnifying glass in the cell at left; sign is '+', '-' or None."""
    cx, cy = left + 9.5, 9.5
    c.shape(capsule(left + 14.5, 14.5, left + 20.5, 20.5, 2.2), MAROON, BLACK)
    c.shape(disc(cx, cy, 7.6), WHITE, BLACK)
    c.paint(c.mask(ring(cx, cy, 6.6, 5.6)), GREY)
    c.paint({(left + 6, 7), (left + 6, 6), (left + 7, 5)}, AQUA)
    if sign:
        c.rect(left + 6, 9, left + 14, 11, BLUE)
        if sign == '+':
            c.rect(left + 9, 6, left + 11, 14, BLUE)


def _window(c, left, arrows):
    """A small window (title bar and client area) with arrow art inside."""
    c.rect(left + 2, 3, left + 22, 22, WHITE)
    c.rect(left + 2, 3, left + 22, 7, NAVY)
    c.frame(left + 2, 3, left + 22, 22, BLACK)
    c.rect(left + 18, 4, left + 21, 6, SILVER)   # a button in the title bar
    c.stamp(arrows, {'K': BLUE}, left + 4, 8)


def _printer(c, left):
    c.rect(left + 7, 2, left + 18, 11, WHITE)         # the sheet going in
    c.frame(left + 7, 2, left + 18, 11, BLACK)
    for y in (4, 6, 8):
        c.rect(left + 9, y, left + 16, y + 1, GREY)
    c.shape(rounded_rect(left + 2, 10, left + 22, 19, 1.5), SILVER, BLACK)
    c.rect(left + 3, 11, left + 21, 12, WHITE)        # light on the top edge
    c.rect(left + 5, 15, left + 19, 16, BLACK)        # the output slot
    c.rect(left + 17, 12, left + 19, 13, LIME)        # power light
    c.rect(left + 6, 16, left + 18, 22, WHITE)        # the printed sheet
    c.frame(left + 6, 15, left + 18, 22, BLACK)
    c.rect(left + 8, 18, left + 16, 19, GREY)


def toolbar(background=BACKGROUND):
    """The ten buttons' pictures side by side on `background` (TRANSPARENT:
    the pixels no picture covers are left so)."""
    c = Canvas(10 * CELL, CELL, background)
    c.stamp(ARROW, ART, 0 * CELL + 7, 3)
    _magnifier(c, 1 * CELL, '+')
    _magnifier(c, 2 * CELL, '-')
    _magnifier(c, 3 * CELL)
    c.stamp(SMALL_HAND, ART, 4 * CELL + 5, 2)
    _window(c, 5 * CELL, FOUR_ARROWS)
    _window(c, 6 * CELL, VERTICAL_ARROW)
    _window(c, 7 * CELL, HORIZONTAL_ARROW)
    c.stamp(ONE, ART, 8 * CELL + 3, 6)
    c.stamp(COLON, ART, 8 * CELL + 11, 9)
    c.stamp(COLON, ART, 8 * CELL + 11, 14)
    c.stamp(ONE, ART, 8 * CELL + 15, 6)
    _printer(c, 9 * CELL)
    return c


# The browser element's eleventh button, full screen: a monitor whose
# screen shows a corner mark in each of its corners, on `background`
# (TRANSPARENT: the pixels the picture does not cover are left so).
def full_screen(background=BACKGROUND):
    c = Canvas(CELL, CELL, background)
    c.rect(1, 2, 23, 18, BLACK)                   # the monitor's frame
    c.rect(3, 4, 21, 16, WHITE)                   # its screen
    for right in (False, True):
        for bottom in (False, True):
            x = 15 if right else 5                # the horizontal arm, 4 long
            y = 13 if bottom else 6
            c.rect(x, y, x + 4, y + 1, BLUE)
            vx = 18 if right else 5               # the vertical arm, 3 long
            vy = 11 if bottom else 6
            c.rect(vx, vy, vx + 1, vy + 3, BLUE)
    c.rect(10, 18, 14, 20, GREY)                  # the stand
    c.rect(6, 20, 18, 22, BLACK)                  # and its foot
    return c


# ---------------------------------------------------------------------------
# Toolbox bitmap of the control: a document with a hotspot rectangle

TOOLBOX = [
    "..KKKKKKKK......",
    "..KWWWWWWKK.....",
    "..KWDDDDWKWK....",
    "..KWWWWWWKWWK...",
    "..KWDDDDWKKKKK..",
    "..KWWWWWWWWWWK..",
    "..KWrrrrrrrrWK..",
    "..KWrCCCCCCrWK..",
    "..KWrCGGCCCrWK..",
    "..KWrGGGGGGrWK..",
    "..KWrrrrrrrrWK..",
    "..KWWWWWWWWWWK..",
    "..KWDDDDDDDWWK..",
    "..KWWWWWWWWWWK..",
    "..KWDDDDDWWWWK..",
    "..KKKKKKKKKKKK..",
]


def toolbox():
    c = Canvas(16, 16, BACKGROUND)
    c.stamp(TOOLBOX, ART)
    return c
