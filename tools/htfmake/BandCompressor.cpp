#include "BandCompressor.h"

#include <algorithm>
#include <cstring>

BandCompressor::BandCompressor(std::vector<TileFormat> formats, std::vector<std::FILE*> files, unsigned threads)
{
    levels_.resize(formats.size());
    for (size_t l = 0; l < formats.size(); ++l)
        levels_[l].format = formats[l], levels_[l].file = files[l];
    threads = std::max(1u, threads);
    // Enough bands for every worker to have one while the next waits.
    maxInFlight_ = 2 * threads;
    for (unsigned t = 0; t < threads; ++t)
        workers_.emplace_back([this] { work(); });
}

BandCompressor::~BandCompressor()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

bool BandCompressor::submit(TileBand band)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return inFlight_ < maxInFlight_ || !error_.empty(); });
    if (!error_.empty())
        return false;
    ++inFlight_;
    queue_.push_back(std::move(band));
    changed_.notify_all();
    return true;
}

bool BandCompressor::finish(std::string& error)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return inFlight_ == 0 || !error_.empty(); });
    if (error_.empty())
        return true;
    error = error_;
    return false;
}

void BandCompressor::work()
{
    for (;;) {
        TileBand band;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            band = std::move(queue_.front());
            queue_.pop_front();
        }
        std::vector<std::string> tiles;
        std::string error;
        const bool ok = compress(band, tiles, error);
        band.pixels = std::vector<uint8_t>();   // the band's memory goes back before it waits its turn
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ok && error_.empty())
            error_ = error;
        if (ok && error_.empty())
            store(band, std::move(tiles));
        --inFlight_;
        changed_.notify_all();
    }
}

// Cuts the band into tiles (the parts past the image's edge black) and
// compresses each.
bool BandCompressor::compress(const TileBand& band, std::vector<std::string>& tiles, std::string& error) const
{
    const TileFormat& format = levels_[band.level].format;
    const uint32_t size = format.tileSize;
    const size_t pixelBits = size_t(format.bits) * format.samples;
    const size_t tileRowBytes = (size_t(size) * pixelBits + 7) / 8;
    std::vector<uint8_t> tile(tileRowBytes * size);
    for (uint32_t x = 0; x < band.width; x += size) {
        std::fill(tile.begin(), tile.end(), 0);
        // Tile columns start on whole bytes (the tile size is a multiple of 16).
        const size_t from = size_t(x) * pixelBits / 8;
        const size_t bytes = std::min(tileRowBytes, size_t(band.rowBytes) - from);
        for (uint32_t y = 0; y < band.rows; ++y)
            std::memcpy(&tile[size_t(y) * tileRowBytes], &band.pixels[size_t(y) * band.rowBytes + from], bytes);
        tiles.emplace_back();
        if (!encodeTile(format, tile.data(), tiles.back(), error))
            return false;
    }
    return true;
}

void BandCompressor::store(const TileBand& band, std::vector<std::string> tiles)
{
    Level& level = levels_[band.level];
    level.finished[band.index] = std::move(tiles);
    for (auto next = level.finished.find(level.nextBand); next != level.finished.end();
         next = level.finished.find(level.nextBand)) {
        for (const std::string& tile : next->second) {
            if (std::fwrite(tile.data(), 1, tile.size(), level.file) != tile.size()) {
                error_ = "cannot write the compressed tiles to the scratch file";
                return;
            }
            level.tileBytes.push_back(tile.size());
        }
        level.finished.erase(next);
        ++level.nextBand;
    }
}
