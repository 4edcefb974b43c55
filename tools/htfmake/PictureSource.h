#pragma once
// A picture read from the top a band of rows at a time, so that a document
// can be written from an image of any height in bounded memory.
#include <cstdint>
#include <string>
#include <vector>

// What the rows hold: 1-, 4- or 8-bit palette indices (packed, most
// significant bits first, as TIFF rows are) or 24-bit red, green, blue.
struct PictureKind {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0;               // 1, 4, 8 (indexed) or 24 (colour)
    uint32_t rowBytes = 0;           // what each row takes, at least width x bits / 8 rounded up
    std::vector<uint32_t> palette;   // RGBA words (red in the low byte) of an indexed picture
    int32_t pixelsPerMetre = 0;      // 0: not known

    bool colour() const { return bits == 24; }
};

class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual const PictureKind& kind() const = 0;
    // Decodes the next `count` rows into `rows` (`count` x rowBytes bytes, all
    // zero beforehand). False with a message when the picture cannot be read
    // on: the document would not show it.
    virtual bool readRows(uint8_t* rows, uint32_t count, std::string& error) = 0;
};
