#pragma once
// Compresses one tile as libtiff writes it into a tiled image (CCITT G4, LZW
// with or without the horizontal predictor), without a file: the bytes a
// tile offset of the document points at. Each call stands alone, so tiles
// can be compressed on several threads at once.
#include <cstdint>
#include <string>

struct TileFormat {
    uint32_t tileSize = 256;
    uint16_t bits = 8, samples = 1;
    uint16_t photometric = 1, compression = 5, predictor = 1;
};

// `pixels` holds tileSize rows of tileSize x samples x bits / 8 bytes. False
// when libtiff refuses (the message in `error`).
bool encodeTile(const TileFormat& format, const uint8_t* pixels, std::string& encoded, std::string& error);
