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
#include <memory>

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

// The same decoding a band of rows at a time, top first, so that the rows of
// a striped image can be shown (or its later strips fetched) while the rest
// is still to come. begin() sizes the target and sets its palette;
// decodeTo() goes on from the last row decoded. A tiled indexed image is
// decoded whole at the first decodeTo().
class TiffRowDecoder {
public:
    TiffRowDecoder();
    ~TiffRowDecoder();
    TiffRowDecoder(const TiffRowDecoder&) = delete;
    TiffRowDecoder& operator=(const TiffRowDecoder&) = delete;

    // Decoded: the rows can be decoded (even if it is all black); any other
    // outcome leaves nothing to decode.
    DecodeOutcome begin(TIFF* tif, ImageTarget& target);
    // Decodes the rows from rowsDone() up to `endRow` (exclusive; a kind
    // that skips the rest of a damaged strip may stop past it). Returns
    // rowsDone(). The handle must have the image's directory current; after
    // it read another directory, call reattach() first.
    uint32_t decodeTo(uint32_t endRow);
    // The handle read something else in between (another directory, or
    // this image's rows apart): its state is set up again for this image
    // (which must be current again), from the start of the strip it was in.
    // False, and nothing more is decoded, when the current directory's
    // geometry is not the one begin() sized the target and buffers for.
    bool reattach();
    // Ends the decoding and frees its buffers (the target is kept).
    void end();
    uint32_t rowsDone() const;
    uint32_t height() const;
    // A colour image whose decoding failed part way is black all over, the
    // rows decoded before included.
    bool cleared() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The palette of an n-level grey image (n >= 2): black to white, or white to
// black for a WhiteIsZero image.
void fillGreyRamp(RgbColour* palette, uint32_t n, uint16_t photometric);
