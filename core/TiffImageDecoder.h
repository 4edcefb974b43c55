#pragma once
// Decodes the current image of an open TIFF handle into an ImageTarget, the
// way the viewer shows documents: bilevel, grey and palette images with one
// sample of 1, 4 or 8 bits keep their depth, indices and palette; every other
// kind goes through libtiff's RGBA interface into colour pixels.
//
// Damage is tolerated as far as it can be: a row that cannot be read stays
// black, a strip that fails twice in a row is given up, and a colour image
// whose decoding fails part way is black all over. Errors go to the
// handle's error handler.
#include <tiffio.h>

#include <cstdint>

class ImageTarget;
struct RgbColour;

enum class DecodeOutcome {
    Decoded,        // the target holds the image (perhaps partly black)
    Unsupported,    // a photometric interpretation the viewer does not show, or no row size
    TooLarge,       // larger than a row or image of the target can hold
    NoMemory,       // the target could not make room for it
};

DecodeOutcome decodeTiffImage(TIFF* tif, ImageTarget& target);

// Whether reading the current directory's tiles stays within reach of an
// image (or level) whose pixels take `imageBytes`: a tile larger than the
// image is read only as far as the image reaches, and a read buffer of
// `readBytes`, and the state of a codec that keeps some for each pixel of a
// tile row (16 bytes a pixel for the fax codecs), may exceed the image's own
// bytes by a few MiB (tiles of an ordinary size on a small image), never by
// what a damaged tile size claims.
bool tileReadFits(TIFF* tif, uint32_t tileWidth, uint64_t readBytes, uint64_t imageBytes);

// The palette of an n-level grey image (n >= 2): black to white, or white to
// black for a WhiteIsZero image.
void fillGreyRamp(RgbColour* palette, uint32_t n, uint16_t photometric);
