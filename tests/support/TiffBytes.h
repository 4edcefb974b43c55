#pragma once
// Reading a little-endian classic TIFF document's bytes in place, for tests
// that damage a directory entry of a document they wrote.
#include <cstdint>
#include <cstring>
#include <vector>

inline uint32_t tiffLong(const std::vector<uint8_t>& bytes, size_t at)
{
    uint32_t v;
    std::memcpy(&v, &bytes[at], 4);
    return v;
}

// Where the first directory's entry for `tag` starts; 0 without one.
inline size_t firstDirectoryEntry(const std::vector<uint8_t>& bytes, uint16_t tag)
{
    const uint32_t ifd = tiffLong(bytes, 4);
    uint16_t entries;
    std::memcpy(&entries, &bytes[ifd], 2);
    for (size_t e = ifd + 2; e < ifd + 2 + 12u * entries; e += 12) {
        uint16_t t;
        std::memcpy(&t, &bytes[e], 2);
        if (t == tag)
            return e;
    }
    return 0;
}
