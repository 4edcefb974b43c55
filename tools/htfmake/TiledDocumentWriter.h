#pragma once
// Writes a decoded image as a tiled document for reading in parts: the image
// in tiles, optionally followed by reduced-resolution levels (each half the
// size of the one before, down to about one tile, marked as reduced images
// with NewSubfileType; in the directory chain, or in the first image's
// SubIFDs), the hotspot tag on the first image, and every
// directory and the hotspot bytes before the pixel data, so that a reader
// fetching the file's start learns the whole structure. With more than 4 GB
// it is written as BigTIFF.
//
// The first image keeps its kind and pixels: bilevel images as CCITT G4,
// grey and palette images as LZW with their palette, colour as LZW RGB.
// Reduced levels of bilevel images keep a pixel dark where any of the pixels
// it stands for is dark (thin lines stay visible), indexed images take the
// top-left pixel of each 2 x 2, colour images the average.
#include "PlainImage.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct TiledDocumentOptions {
    uint32_t tileSize = 256;    // a multiple of 16
    bool levels = false;
    bool bigTiff = false;       // BigTIFF even when classic TIFF would do
    bool subIfds = false;       // the levels in the first image's SubIFDs, not after it in the chain
};

// `scratchPath` takes the compressed tiles while the levels are written; it
// is removed afterwards. False with a message on failure (then `path` may
// hold a partial file; the caller writes to a temporary name).
bool writeTiledDocument(const PlainImage& image, const std::string& hotspotBytes, const TiledDocumentOptions& options,
                        const std::string& path, const std::string& scratchPath, std::string& error);

// The second half of the above: the tiled directories of `scratchPath`
// (the first image, then its reduced levels, in one chain) written to `path`
// with the directories, the hotspot bytes (on the first) and the tile arrays
// before the tiles, the tiles' compressed bytes copied as they are. With
// `subIfds` the reduced levels are the first image's SubIFDs, and the chain
// holds the first image alone.
bool relayoutTiledLevels(const std::string& scratchPath, const std::string& hotspotBytes, bool bigTiff,
                         const std::string& path, std::string& error, bool subIfds = false);

// The level below: half the width and height, rounded up.
bool reduceImage(const PlainImage& image, PlainImage& reduced);

// What a level's directory says, and the compressed size of each of its
// tiles in tile order.
struct TiledLevelHead {
    uint32_t width = 0, height = 0, tileSize = 0;
    uint32_t subfileType = 0;       // 0 for the first image, FILETYPE_REDUCEDIMAGE for a level
    uint16_t bits = 1, samples = 1, compression = 1, photometric = 0, predictor = 1;
    bool hasResolution = false;
    float xResolution = 0, yResolution = 0;
    uint16_t resolutionUnit = 0;    // 0: none written
    std::vector<uint16_t> colorMap; // red, green and blue, 1 << bits entries each (palette images)
    std::vector<uint64_t> tileBytes;
};

// Writes level `level`'s compressed tiles, in tile order, to `out`; false
// when they cannot be read or written.
using TileCopier = std::function<bool(size_t level, std::FILE* out)>;

// The final file: the header, every directory, the hotspot bytes (on the
// first) and the tile arrays, then the levels' tiles, the smallest level
// first, as `copyTiles` gives them. BigTIFF when asked or when classic
// TIFF's offsets cannot reach every byte.
bool writeTiledFile(const std::vector<TiledLevelHead>& heads, const std::string& hotspotBytes, bool bigTiff,
                    bool subIfds, const std::string& path, const TileCopier& copyTiles, std::string& error);
