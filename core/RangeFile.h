#pragma once
// A document read in byte ranges from somewhere slow (HTTP range requests in
// the browser's worker, or bytes in memory): libtiff reads it through client
// procedures, and what has been fetched is kept in a block cache, so that the
// directories, the hotspot bytes and each tile are fetched once. Missing
// neighbouring blocks are fetched in one source read, a sequential read
// reads further ahead each time (up to 4 MiB); prefetch() merges the
// byte ranges of several tiles into as few reads as their gaps allow.
#include "PrivateTiffTags.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// Where the bytes come from.
class ByteRangeSource {
public:
    virtual ~ByteRangeSource() = default;
    // Fills `out` with the `length` bytes at `offset` (always within the
    // file); false when they cannot all be had.
    virtual bool read(uint64_t offset, size_t length, uint8_t* out) = 0;
};

class RangeFile {
public:
    static constexpr size_t kBlockBytes = size_t(16) << 10;
    // Ranges closer than this are fetched as one (the bytes between cost less
    // than another round trip).
    static constexpr uint64_t kMergeGap = uint64_t(64) << 10;
    // The farthest a sequential read reads ahead, in blocks (4 MiB).
    static constexpr uint64_t kMaxReadAheadBlocks = 256;

    RangeFile(ByteRangeSource& source, uint64_t size, size_t cacheBytes = size_t(32) << 20);
    RangeFile(const RangeFile&) = delete;
    RangeFile& operator=(const RangeFile&) = delete;

    // Copies up to `length` bytes at `offset` (fewer at the end of the file);
    // -1 when the source failed.
    int64_t read(uint64_t offset, void* out, size_t length);
    // Fetches the ranges (offset, length) ahead of their reads.
    bool prefetch(std::vector<std::pair<uint64_t, uint64_t>> ranges);
    // Takes `length` bytes at `offset` that the caller fetched itself (a
    // streamed download of many strips): the whole blocks among them are
    // cached (and counted as fetched), so that reading them costs no source
    // read. Blocks already cached are kept as they are.
    void supply(uint64_t offset, const uint8_t* bytes, size_t length);
    // Drops the cached blocks that lie wholly within [begin, end): bytes that
    // were read and will not be read again.
    void forget(uint64_t begin, uint64_t end);
    size_t cachedBytes() const { return cached_; }

    uint64_t size() const { return size_; }
    uint64_t bytesFetched() const { return fetched_; }
    uint32_t sourceReads() const { return reads_; }
    bool failed() const { return failed_; }

    // libtiff's client procedures over this file (read-only, not mapped).
    TiffClientProcs clientProcs();

private:
    struct Block {
        std::vector<uint8_t> bytes;
        uint64_t lastUse = 0;
    };
    bool ensureBlocks(uint64_t first, uint64_t last);
    void evict();

    static tmsize_t readProc(thandle_t, void*, tmsize_t);
    static tmsize_t writeProc(thandle_t, void*, tmsize_t);
    static toff_t seekProc(thandle_t, toff_t, int);
    static int closeProc(thandle_t);
    static toff_t sizeProc(thandle_t);
    static int mapProc(thandle_t, void**, toff_t*);
    static void unmapProc(thandle_t, void*, toff_t);

    ByteRangeSource& source_;
    uint64_t size_;
    size_t cacheBytes_;
    size_t cached_ = 0;
    std::map<uint64_t, Block> blocks_;   // by block number
    uint64_t clock_ = 0;
    uint64_t position_ = 0;
    uint64_t lastEnd_ = UINT64_MAX;   // where the last source read ended
    uint64_t readAhead_ = 0;          // blocks the next sequential read adds
    uint64_t fetched_ = 0;
    uint32_t reads_ = 0;
    bool failed_ = false;
};
