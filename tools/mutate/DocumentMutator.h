#pragma once
// Mutations of TIFF documents for the reader's mutation campaign: bit flips,
// byte runs, damaged directory entries (tag, type, count, value or offset) of
// the first directory or of a reduced level's (in the chain or a SubIFD),
// damaged entry counts, chains and header, truncation, huge image and strip sizes,
// and random or damaged hotspot stream bytes in tag 33577. Plain C++; the
// structural mutations understand little-endian classic TIFF and fall back to
// byte mutations on anything else.
#include <cstdint>
#include <string>
#include <vector>

// A small deterministic generator, so that a campaign can be repeated from
// its seed.
class MutationRandom {
public:
    explicit MutationRandom(uint64_t seed) : state_(seed) {}
    uint32_t next();
    uint32_t below(uint32_t n) { return n ? next() % n : 0; }
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

// Applies one to three mutations to `document`; `description` lists them.
std::vector<uint8_t> mutateDocument(const std::vector<uint8_t>& document, MutationRandom& random,
                                    std::string& description);
