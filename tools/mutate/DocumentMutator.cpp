#include "DocumentMutator.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kHotspotTag = 33577;

uint32_t readLe(const std::vector<uint8_t>& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

void writeLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes && at + i < b.size(); ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void appendLe(std::vector<uint8_t>& b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// The first directory of a little-endian classic TIFF, when it lies inside
// the file.
struct Directory {
    bool found = false;
    size_t offset = 0;
    uint32_t entries = 0;   // whole entries inside the file
    size_t entryAt(uint32_t i) const { return offset + 2 + 12 * size_t(i); }
};

Directory directoryAt(const std::vector<uint8_t>& b, size_t offset)
{
    Directory d;
    d.offset = offset;
    if (offset + 2 > b.size())
        return d;
    const uint32_t declared = readLe(b, d.offset, 2);
    d.entries = uint32_t(std::min<size_t>(declared, (b.size() - d.offset - 2) / 12));
    d.found = d.entries > 0;
    return d;
}

bool classicLittleEndian(const std::vector<uint8_t>& b)
{
    return b.size() >= 8 && b[0] == 'I' && b[1] == 'I' && readLe(b, 2, 2) == 42;
}

Directory findDirectory(const std::vector<uint8_t>& b)
{
    return classicLittleEndian(b) ? directoryAt(b, readLe(b, 4, 4)) : Directory{};
}

int findEntry(const std::vector<uint8_t>& b, const Directory& d, uint16_t tag)
{
    for (uint32_t i = 0; i < d.entries; ++i)
        if (readLe(b, d.entryAt(i), 2) == tag)
            return int(i);
    return -1;
}

// Every directory of the document that lies in the file: the chain (reduced
// images follow the first one there) and the first image's SubIFDs.
std::vector<Directory> allDirectories(const std::vector<uint8_t>& b)
{
    std::vector<Directory> found;
    Directory d = findDirectory(b);
    while (d.found && found.size() < 16) {
        const bool seen = std::any_of(found.begin(), found.end(), [&](const Directory& x) { return x.offset == d.offset; });
        if (seen)
            break;
        found.push_back(d);
        const uint32_t next = readLe(b, d.entryAt(d.entries), 4);
        if (next == 0)
            break;
        d = directoryAt(b, next);
    }
    const int sub = found.empty() ? -1 : findEntry(b, found.front(), 330);
    if (sub >= 0) {
        const size_t at = found.front().entryAt(uint32_t(sub));
        const uint32_t count = std::min<uint32_t>(readLe(b, at + 4, 4), 16);
        const size_t values = count == 1 ? at + 8 : readLe(b, at + 8, 4);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t offset = readLe(b, values + 4 * size_t(i), 4);
            const Directory s = offset ? directoryAt(b, offset) : Directory{};
            if (s.found)
                found.push_back(s);
        }
    }
    return found;
}

// The directory a structural mutation changes: the first, or in a document
// with reduced levels one of the others half the time.
Directory pickDirectory(const std::vector<uint8_t>& b, MutationRandom& r)
{
    const std::vector<Directory> all = allDirectories(b);
    if (all.empty())
        return Directory{};
    if (all.size() == 1 || r.chance(50))
        return all.front();
    return all[1 + r.below(uint32_t(all.size() - 1))];
}

uint32_t interestingValue(MutationRandom& r, uint32_t current, size_t fileSize)
{
    static const uint32_t values[] = {0, 1, 2, 3, 7, 8, 15, 16, 17, 255, 256, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                      46341, 65535 * 3, 0x3FFFFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    switch (r.below(4)) {
    case 0: return values[r.below(sizeof values / sizeof values[0])];
    case 1: return current + r.below(5) - 2;
    case 2: return uint32_t(fileSize) - r.below(16);
    default: return r.next();
    }
}

void flipBits(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const uint32_t flips = 1 + r.below(8);
    const Directory d = pickDirectory(b, r);
    for (uint32_t i = 0; i < flips; ++i) {
        // Two flips in three land in the header or the directory, where one
        // bit changes the most.
        size_t at;
        if (d.found && r.below(3))
            at = d.offset + r.below(uint32_t(2 + 12 * d.entries));
        else if (r.chance(10))
            at = r.below(8);
        else
            at = r.below(uint32_t(b.size()));
        if (at < b.size())
            b[at] ^= uint8_t(1u << r.below(8));
    }
    log += "flip " + std::to_string(flips) + " bits; ";
}

void overwriteRun(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const size_t at = r.below(uint32_t(b.size()));
    const size_t length = std::min<size_t>(1 + r.below(64), b.size() - at);
    const uint32_t kind = r.below(4);
    const uint8_t fill = kind == 0 ? 0x00 : kind == 1 ? 0xFF : uint8_t(r.next());
    for (size_t i = 0; i < length; ++i)
        b[at + i] = kind == 3 ? uint8_t(r.next()) : fill;
    log += "overwrite " + std::to_string(length) + " bytes at " + std::to_string(at) + "; ";
}

void damageEntry(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const Directory d = pickDirectory(b, r);
    if (!d.found)
        return overwriteRun(b, r, log);
    const uint32_t i = r.below(d.entries);
    const size_t at = d.entryAt(i);
    const uint32_t tag = readLe(b, at, 2);
    switch (r.below(4)) {
    case 0: {
        static const uint16_t tags[] = {0, 254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 284, 320, 322, 323,
                                        324, 325, 338, 339, 530, 532, 33576, 33577, 65535};
        const uint16_t to = r.chance(70) ? tags[r.below(sizeof tags / sizeof tags[0])] : uint16_t(r.next());
        writeLe(b, at, to, 2);
        log += "entry " + std::to_string(tag) + " tag to " + std::to_string(to) + "; ";
        break;
    }
    case 1: {
        const uint16_t type = uint16_t(r.chance(80) ? r.below(19) : r.next());
        writeLe(b, at + 2, type, 2);
        log += "entry " + std::to_string(tag) + " type to " + std::to_string(type) + "; ";
        break;
    }
    case 2: {
        const uint32_t count = interestingValue(r, readLe(b, at + 4, 4), b.size());
        writeLe(b, at + 4, count, 4);
        log += "entry " + std::to_string(tag) + " count to " + std::to_string(count) + "; ";
        break;
    }
    default: {
        const uint32_t value = interestingValue(r, readLe(b, at + 8, 4), b.size());
        writeLe(b, at + 8, value, 4);
        log += "entry " + std::to_string(tag) + " value or offset to " + std::to_string(value) + "; ";
        break;
    }
    }
}

void damageStructure(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const Directory d = pickDirectory(b, r);
    if (!d.found)
        return flipBits(b, r, log);
    switch (r.below(4)) {
    case 0: {
        static const uint32_t counts[] = {0, 1, 0xFFFF, 0x8000};
        const uint32_t n = r.chance(50) ? counts[r.below(4)] : d.entries + r.below(5) - 2;
        writeLe(b, d.offset, n, 2);
        log += "directory entry count to " + std::to_string(n & 0xFFFF) + "; ";
        break;
    }
    case 1: {
        const size_t next = d.entryAt(d.entries);
        const uint32_t to = r.chance(50) ? uint32_t(d.offset) : interestingValue(r, 0, b.size());
        writeLe(b, next, to, 4);
        log += "next directory to " + std::to_string(to) + "; ";
        break;
    }
    case 2: {
        const uint32_t to = interestingValue(r, uint32_t(d.offset), b.size());
        writeLe(b, 4, to, 4);
        log += "first directory to " + std::to_string(to) + "; ";
        break;
    }
    default: {
        const uint16_t version = r.chance(50) ? 43 : uint16_t(r.next());
        writeLe(b, 2, version, 2);
        if (version == 43)   // BigTIFF header fields
            writeLe(b, 4, r.chance(50) ? 8 : uint32_t(r.next()), 4);
        log += "version to " + std::to_string(version) + "; ";
        break;
    }
    }
}

void truncate(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const size_t length = r.chance(50) ? r.below(uint32_t(b.size())) : b.size() - 1 - r.below(uint32_t(std::min<size_t>(b.size(), 64)));
    b.resize(length);
    log += "cut to " + std::to_string(length) + " bytes; ";
}

void hugeSize(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const Directory d = pickDirectory(b, r);
    static const uint16_t tags[] = {256, 257, 258, 277, 278, 279, 322, 323, 325};
    static const uint32_t sizes[] = {0, 0xFFFF, 0x10000, 46341, 65536 * 2, 100000, 0x7FFFFFFF, 0x80000000,
                                     0xFFFFFFFF, 13000 * 18000u, 50000000};
    const uint32_t value = sizes[r.below(sizeof sizes / sizeof sizes[0])];
    if (d.found && r.chance(25)) {
        // Millions of rows in one strip of a few bytes.
        for (uint16_t rowsTag : {uint16_t(257), uint16_t(278)}) {
            const int e = findEntry(b, d, rowsTag);
            if (e >= 0 && readLe(b, d.entryAt(uint32_t(e)) + 4, 4) == 1) {
                writeLe(b, d.entryAt(uint32_t(e)) + 2, 4, 2);
                writeLe(b, d.entryAt(uint32_t(e)) + 8, value, 4);
            }
        }
        log += "image length and rows per strip to " + std::to_string(value) + "; ";
        return;
    }
    const uint16_t tag = tags[r.below(sizeof tags / sizeof tags[0])];
    const int i = d.found ? findEntry(b, d, tag) : -1;
    if (i < 0)
        return damageEntry(b, r, log);
    const size_t at = d.entryAt(uint32_t(i));
    if (readLe(b, at + 4, 4) == 1) {
        writeLe(b, at + 2, 4, 2);   // LONG, so that the whole value fits
        writeLe(b, at + 8, value, 4);
    } else {
        const uint32_t offset = readLe(b, at + 8, 4);
        const int width = readLe(b, at + 2, 2) == 3 ? 2 : 4;
        writeLe(b, offset, value, width);   // the first of several values
    }
    log += "tag " + std::to_string(tag) + " to " + std::to_string(value) + "; ";
}

// A hotspot stream with lengths and counts drawn from the edges of what the
// reader accepts.
std::vector<uint8_t> damagedHotspotStream(MutationRandom& r)
{
    std::vector<uint8_t> s = {'Q', 'E', 'L', 'H', 'T', 'F'};
    auto narrow = [&](uint32_t n, char c) {
        appendLe(s, n, 4);
        for (uint32_t i = 0; i < std::min<uint32_t>(n, 1200); ++i)
            s.push_back(uint8_t(r.chance(3) ? 0 : c));
    };
    static const uint32_t lengths[] = {0, 1, 99, 100, 101, 999, 1000, 1001, 0x7FFFFFFF, 0xFFFFFFFF};
    narrow(r.chance(80) ? 3 : lengths[r.below(10)], '1');
    if (s.size() >= 13)
        s[10] = '1', s[11] = '.', s[12] = '0';
    static const int32_t counts[] = {-1, 0, 1, 2, 5, 1000, 0x7FFFFFFF, int32_t(0x80000000)};
    appendLe(s, uint32_t(counts[r.below(8)]), 4);
    const uint32_t records = r.below(6);
    for (uint32_t k = 0; k < records; ++k) {
        if (r.chance(90)) {
            appendLe(s, 2, 4);
            s.push_back('G'), s.push_back('M');
        } else {
            narrow(lengths[r.below(10)], 'G');
        }
        narrow(r.chance(70) ? r.below(12) : lengths[r.below(10)], 'r');
        narrow(r.chance(70) ? r.below(12) : lengths[r.below(10)], 'i');
        narrow(r.chance(70) ? 2 * r.below(12) + r.below(2) : lengths[r.below(10)], 't');
        for (int e = 0; e < 4; ++e)
            appendLe(s, r.chance(70) ? r.below(1000) : r.next(), 4);
    }
    if (r.chance(30))
        s.resize(r.below(uint32_t(s.size()) + 1));
    return s;
}

void hotspotBytes(std::vector<uint8_t>& b, MutationRandom& r, std::string& log)
{
    const Directory d = findDirectory(b);
    const int i = d.found ? findEntry(b, d, kHotspotTag) : -1;
    if (i < 0)
        return damageEntry(b, r, log);
    std::vector<uint8_t> bytes;
    if (r.chance(30)) {
        bytes.resize(r.below(4096));
        for (auto& byte : bytes)
            byte = uint8_t(r.next());
        log += "random hotspot bytes (" + std::to_string(bytes.size()) + "); ";
    } else {
        bytes = damagedHotspotStream(r);
        log += "damaged hotspot stream (" + std::to_string(bytes.size()) + " bytes); ";
    }
    if (b.size() % 2)
        b.push_back(0);
    const size_t at = d.entryAt(uint32_t(i));
    writeLe(b, at + 2, 7, 2);   // UNDEFINED
    writeLe(b, at + 4, uint32_t(bytes.size()), 4);
    if (bytes.size() <= 4) {
        uint32_t inline_ = 0;
        for (size_t k = 0; k < bytes.size(); ++k)
            inline_ |= uint32_t(bytes[k]) << (8 * k);
        writeLe(b, at + 8, inline_, 4);
    } else {
        writeLe(b, at + 8, uint32_t(b.size()), 4);
        b.insert(b.end(), bytes.begin(), bytes.end());
    }
}

} // namespace

uint32_t MutationRandom::next()
{
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return uint32_t((z ^ (z >> 31)) >> 16);
}

std::vector<uint8_t> mutateDocument(const std::vector<uint8_t>& document, MutationRandom& random,
                                    std::string& description)
{
    std::vector<uint8_t> b = document;
    description.clear();
    const uint32_t rounds = 1 + random.below(3);
    for (uint32_t k = 0; k < rounds && !b.empty(); ++k) {
        switch (random.below(8)) {
        case 0: flipBits(b, random, description); break;
        case 1: overwriteRun(b, random, description); break;
        case 2: damageEntry(b, random, description); break;
        case 3: damageEntry(b, random, description); break;
        case 4: damageStructure(b, random, description); break;
        case 5: hugeSize(b, random, description); break;
        case 6: hotspotBytes(b, random, description); break;
        default: truncate(b, random, description); break;
        }
    }
    return b;
}
