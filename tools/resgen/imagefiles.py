"""Writers for the file formats the resource compiler takes (BMP, CUR) and for
PNG previews. Pictures are Canvas objects of palette indices; a cursor marks
its transparent pixels with TRANSPARENT."""

import struct
import zlib

from raster import TRANSPARENT


def _info_header(width, height, bit_count, image_size):
    # BITMAPINFOHEADER; biClrUsed 0 means the full table of 2**bit_count
    # entries follows, which is what the module's resource loader expects.
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bit_count, 0, image_size, 2835, 2835, 0, 0)


def _colour_table(palette, bit_count):
    count = 1 << bit_count
    if len(palette) != count:
        raise ValueError('a %d-bit picture needs %d colours, got %d' % (bit_count, count, len(palette)))
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)


def _packed_rows(canvas, bit_count, index_of):
    """Pixel rows bottom row first, each padded to a multiple of 4 bytes."""
    stride = ((canvas.width * bit_count + 31) // 32) * 4
    per_byte = 8 // bit_count
    out = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(canvas.width):
            value = index_of(canvas.get(x, y))
            if not 0 <= value < (1 << bit_count):
                raise ValueError('colour index %r does not fit %d bits' % (value, bit_count))
            shift = (per_byte - 1 - x % per_byte) * bit_count
            row[x // per_byte] |= value << shift
        out += row
    return bytes(out)


def bmp_bytes(canvas, palette, bit_count):
    """A BMP file (file header, information header, colour table, pixels)."""
    bits = _packed_rows(canvas, bit_count, lambda c: c)
    table = _colour_table(palette, bit_count)
    offset = 14 + 40 + len(table)
    file_header = struct.pack('<2sIHHI', b'BM', offset + len(bits), 0, 0, offset)
    return file_header + _info_header(canvas.width, canvas.height, bit_count, len(bits)) + table + bits


def cur_bytes(canvas, palette, hotspot):
    """A CUR file with one 4-bit image and its AND mask. Transparent pixels
    get mask bit 1 and colour 0 (black), so the screen shows through them
    unchanged; every other pixel gets mask bit 0 and its colour."""
    if palette[0] != (0, 0, 0):
        raise ValueError('colour 0 of a cursor must be black')
    xor_bits = _packed_rows(canvas, 4, lambda c: 0 if c == TRANSPARENT else c)
    and_bits = _packed_rows(canvas, 1, lambda c: 1 if c == TRANSPARENT else 0)
    table = _colour_table(palette, 4)
    # The image header describes the XOR and AND bitmaps stacked: twice the height.
    image = _info_header(canvas.width, canvas.height * 2, 4, len(xor_bits) + len(and_bits)) + table + xor_bits + and_bits
    directory = struct.pack('<HHH', 0, 2, 1)
    entry = struct.pack('<BBBBHHII', canvas.width, canvas.height, 16, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


def _png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)


def png_bytes(width, height, rgb_at, alpha=False):
    """An 8-bit RGB PNG; rgb_at(x, y) gives each pixel's (r, g, b), or with
    alpha its (r, g, b, a)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw += bytes(rgb_at(x, y))
    header = struct.pack('>IIBBBBB', width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + _png_chunk(b'IHDR', header) + _png_chunk(b'IDAT', zlib.compress(bytes(raw), 9))
            + _png_chunk(b'IEND', b''))
