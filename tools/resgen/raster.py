"""A small palette-indexed raster with the drawing operations the pictures
need: filled shapes given as point tests, outlined shapes, lines, and
pixel art stamped from text."""

import math

TRANSPARENT = -1


class Canvas:
    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [fill] * (width * height)

    def inside(self, x, y):
        return 0 <= x < self.width and 0 <= y < self.height

    def get(self, x, y):
        return self.pixels[y * self.width + x]

    def set(self, x, y, colour):
        if self.inside(x, y):
            self.pixels[y * self.width + x] = colour

    def rect(self, left, top, right, bottom, colour):
        """Fills the half-open rectangle [left, right) x [top, bottom)."""
        for y in range(top, bottom):
            for x in range(left, right):
                self.set(x, y, colour)

    def frame(self, left, top, right, bottom, colour):
        """A 1-pixel outline just inside the half-open rectangle."""
        for x in range(left, right):
            self.set(x, top, colour)
            self.set(x, bottom - 1, colour)
        for y in range(top, bottom):
            self.set(left, y, colour)
            self.set(right - 1, y, colour)

    def line(self, x0, y0, x1, y1, colour):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def mask(self, test):
        """The set of pixels whose centres pass test(x, y)."""
        return {(x, y) for y in range(self.height) for x in range(self.width) if test(x + 0.5, y + 0.5)}

    def paint(self, pixels, colour):
        for (x, y) in pixels:
            self.set(x, y, colour)

    def shape(self, test, fill, outline=None):
        """Fills a shape and, if outline is given, draws its edge pixels (those
        with a 4-neighbour outside the shape) in that colour. Returns the shape."""
        pixels = self.mask(test)
        self.paint(pixels, fill)
        if outline is not None:
            self.paint(edge(pixels), outline)
        return pixels

    def stamp(self, art, colours, left=0, top=0):
        """Copies pixel art: one string per row, one character per pixel;
        characters missing from colours (such as '.') leave the pixel alone."""
        for row, text in enumerate(art):
            for column, char in enumerate(text):
                if char in colours:
                    self.set(left + column, top + row, colours[char])

    def blit(self, other, left, top, skip=TRANSPARENT):
        for y in range(other.height):
            for x in range(other.width):
                colour = other.get(x, y)
                if colour != skip:
                    self.set(left + x, top + y, colour)


def edge(pixels):
    return {(x, y) for (x, y) in pixels
            if any(n not in pixels for n in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)))}


def grow(pixels):
    """The pixels plus their 8-neighbours."""
    return {(x + dx, y + dy) for (x, y) in pixels for dx in (-1, 0, 1) for dy in (-1, 0, 1)}


# Point tests for shapes, in continuous coordinates (pixel centres at +0.5).

def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def ring(cx, cy, r_outer, r_inner):
    return lambda x, y: r_inner * r_inner < (x - cx) ** 2 + (y - cy) ** 2 <= r_outer * r_outer


def capsule(x0, y0, x1, y1, r):
    """All points within r of the segment (x0, y0)-(x1, y1)."""
    vx, vy = x1 - x0, y1 - y0
    length2 = vx * vx + vy * vy or 1e-9

    def test(x, y):
        t = max(0.0, min(1.0, ((x - x0) * vx + (y - y0) * vy) / length2))
        px, py = x0 + t * vx - x, y0 + t * vy - y
        return px * px + py * py <= r * r
    return test


def rounded_rect(left, top, right, bottom, radius):
    """The rectangle [left, right] x [top, bottom] with quarter-circle corners."""
    def test(x, y):
        if not (left <= x <= right and top <= y <= bottom):
            return False
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return test


def polygon(points):
    """Even-odd point-in-polygon test."""
    def test(x, y):
        inside = False
        n = len(points)
        for i in range(n):
            (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                inside = not inside
        return inside
    return test


def union(*tests):
    return lambda x, y: any(t(x, y) for t in tests)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def arrow_head(tip_x, tip_y, direction, length, half_width):
    """A triangle pointing along direction (an angle in degrees, 0 = right, 90 = down)."""
    a = math.radians(direction)
    ux, uy = math.cos(a), math.sin(a)
    bx, by = tip_x - ux * length, tip_y - uy * length
    return polygon([(tip_x, tip_y), (bx - uy * half_width, by + ux * half_width), (bx + uy * half_width, by - ux * half_width)])
