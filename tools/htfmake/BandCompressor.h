#pragma once
// Compresses bands of tile rows on worker threads while the caller decodes
// and reduces the next ones, and appends each level's compressed tiles to
// that level's scratch file in tile order, whatever order the workers finish
// in. At most a few bands wait or are being compressed at once, so memory
// stays bounded: submit() waits for room.
#include "TileEncoder.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One band: `rows` rows of a level (at most a tile high), `rowBytes` each.
struct TileBand {
    size_t level = 0;
    uint32_t index = 0;                  // the band's place in its level, from 0
    uint32_t width = 0, rows = 0, rowBytes = 0;
    std::vector<uint8_t> pixels;
};

class BandCompressor {
public:
    // `files[level]` takes the level's tiles (kept open by the caller).
    BandCompressor(std::vector<TileFormat> formats, std::vector<std::FILE*> files, unsigned threads);
    ~BandCompressor();
    BandCompressor(const BandCompressor&) = delete;
    BandCompressor& operator=(const BandCompressor&) = delete;

    // Queues the band (waits while too many are in flight); false once a
    // band failed.
    bool submit(TileBand band);
    // Waits for every band; false with the first failure's message.
    bool finish(std::string& error);
    // The compressed size of each tile of a level, in tile order.
    const std::vector<uint64_t>& tileBytes(size_t level) const { return levels_[level].tileBytes; }

private:
    struct Level {
        TileFormat format;
        std::FILE* file = nullptr;
        uint32_t nextBand = 0;                                    // the band to append next
        std::map<uint32_t, std::vector<std::string>> finished;   // bands done, waiting for their turn
        std::vector<uint64_t> tileBytes;
    };

    void work();
    bool compress(const TileBand& band, std::vector<std::string>& tiles, std::string& error) const;
    void store(const TileBand& band, std::vector<std::string> tiles);   // with the lock held

    std::vector<Level> levels_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TileBand> queue_;
    size_t inFlight_ = 0, maxInFlight_ = 0;
    bool stopping_ = false;
    std::string error_;
    std::vector<std::thread> workers_;
};
