#pragma once
// The documents a mutation campaign starts from: every image kind the reader
// converts, with libtiff's codecs, stripped and tiled (also in tile sizes
// libtiff's writer refuses), many with hotspot and clip path tags, and tiled
// documents with reduced-resolution levels (in the directory chain and in
// SubIFDs). Small, so that each open takes milliseconds.
#include <cstdint>
#include <string>
#include <vector>

struct SeedDocument {
    std::string name;
    std::vector<uint8_t> bytes;
};

// Writes each seed through `scratchPath` and returns their bytes; seeds the
// writer cannot make are left out.
std::vector<SeedDocument> makeSeedDocuments(const std::string& scratchPath);
