#include "RangeFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

RangeFile::RangeFile(ByteRangeSource& source, uint64_t size, size_t cacheBytes)
    : source_(source), size_(size), cacheBytes_(std::max(cacheBytes, kBlockBytes * 4))
{
}

bool RangeFile::ensureBlocks(uint64_t first, uint64_t last)
{
    for (uint64_t block = first; block <= last;) {
        auto found = blocks_.find(block);
        if (found != blocks_.end()) {
            found->second.lastUse = ++clock_;
            ++block;
            continue;
        }
        // A run of missing blocks, fetched in one read. A run that goes on
        // where the last read ended is part of a sequential read (a striped
        // image decoded whole): it reads ahead, twice as far each time.
        const bool sequential = block * kBlockBytes == lastEnd_;
        readAhead_ = sequential ? std::min<uint64_t>({readAhead_ * 2, kMaxReadAheadBlocks, cacheBytes_ / 4 / kBlockBytes}) : 0;
        const uint64_t lastBlock = (size_ - 1) / kBlockBytes;
        const uint64_t wanted = std::min(lastBlock, std::max(last, block + readAhead_));
        uint64_t end = block;
        while (end + 1 <= wanted && blocks_.find(end + 1) == blocks_.end())
            ++end;
        const uint64_t from = block * kBlockBytes;
        const uint64_t to = std::min(size_, (end + 1) * kBlockBytes);
        if (from >= to)
            return false;
        std::vector<uint8_t> bytes;
        try {
            bytes.resize(size_t(to - from));
        } catch (...) {
            return false;
        }
        ++reads_;
        if (!source_.read(from, bytes.size(), bytes.data())) {
            failed_ = true;
            return false;
        }
        fetched_ += bytes.size();
        lastEnd_ = to;
        if (!sequential)
            readAhead_ = 2;
        for (uint64_t b = block; b <= end; ++b) {
            const size_t at = size_t((b - block) * kBlockBytes);
            const size_t n = std::min(kBlockBytes, bytes.size() - at);
            Block& stored = blocks_[b];
            stored.bytes.assign(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + n));
            stored.lastUse = ++clock_;
            cached_ += n;
        }
        block = end + 1;
    }
    return true;
}

// Drops the least recently used blocks while the cache is over its budget.
void RangeFile::evict()
{
    while (cached_ > cacheBytes_ && blocks_.size() > 1) {
        auto oldest = blocks_.begin();
        for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        }
        cached_ -= oldest->second.bytes.size();
        blocks_.erase(oldest);
    }
}

int64_t RangeFile::read(uint64_t offset, void* out, size_t length)
{
    if (offset >= size_ || length == 0)
        return 0;
    const uint64_t n = std::min<uint64_t>(length, size_ - offset);
    // Larger than the cache: straight from the source, not through it.
    if (n > cacheBytes_ / 2) {
        ++reads_;
        if (!source_.read(offset, size_t(n), static_cast<uint8_t*>(out))) {
            failed_ = true;
            return -1;
        }
        fetched_ += n;
        return int64_t(n);
    }
    const uint64_t first = offset / kBlockBytes, last = (offset + n - 1) / kBlockBytes;
    if (!ensureBlocks(first, last))
        return -1;
    auto* to = static_cast<uint8_t*>(out);
    uint64_t at = offset;
    while (at < offset + n) {
        const Block& block = blocks_[at / kBlockBytes];
        const size_t within = size_t(at % kBlockBytes);
        if (within >= block.bytes.size())
            return -1;
        const size_t take = size_t(std::min<uint64_t>(block.bytes.size() - within, offset + n - at));
        std::memcpy(to, block.bytes.data() + within, take);
        to += take;
        at += take;
    }
    evict();
    return int64_t(n);
}

bool RangeFile::prefetch(std::vector<std::pair<uint64_t, uint64_t>> ranges)
{
    ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                                [this](const std::pair<uint64_t, uint64_t>& r) {
                                    return r.second == 0 || r.first >= size_ || r.second > size_ - r.first;
                                }),
                 ranges.end());
    std::sort(ranges.begin(), ranges.end());
    uint64_t budget = cacheBytes_ / 2;   // what is fetched ahead must stay until it is read
    for (size_t i = 0; i < ranges.size();) {
        uint64_t from = ranges[i].first, to = ranges[i].first + ranges[i].second;
        size_t j = i + 1;
        while (j < ranges.size() && ranges[j].first <= to + kMergeGap) {
            to = std::max(to, ranges[j].first + ranges[j].second);
            ++j;
        }
        if (to - from > budget)
            break;
        budget -= to - from;
        if (!ensureBlocks(from / kBlockBytes, (to - 1) / kBlockBytes))
            return false;
        i = j;
    }
    return true;
}

void RangeFile::supply(uint64_t offset, const uint8_t* bytes, size_t length)
{
    if (offset >= size_)
        return;
    const uint64_t end = std::min<uint64_t>(size_, offset + length);
    // The blocks that start within the bytes and end within them (or at the
    // end of the file).
    for (uint64_t block = (offset + kBlockBytes - 1) / kBlockBytes; block * kBlockBytes < end; ++block) {
        const uint64_t from = block * kBlockBytes, to = std::min(size_, from + kBlockBytes);
        if (to > end)
            break;
        if (blocks_.count(block))
            continue;
        std::vector<uint8_t> copy(bytes + (from - offset), bytes + (to - offset));
        Block& stored = blocks_[block];
        stored.bytes.swap(copy);
        stored.lastUse = ++clock_;
        cached_ += stored.bytes.size();
        fetched_ += stored.bytes.size();
    }
    evict();
}

void RangeFile::forget(uint64_t begin, uint64_t end)
{
    auto it = blocks_.lower_bound((begin + kBlockBytes - 1) / kBlockBytes);
    while (it != blocks_.end() && it->first * kBlockBytes + it->second.bytes.size() <= end) {
        cached_ -= it->second.bytes.size();
        it = blocks_.erase(it);
    }
}

TiffClientProcs RangeFile::clientProcs()
{
    TiffClientProcs procs;
    procs.client = this;
    procs.read = readProc;
    procs.write = writeProc;
    procs.seek = seekProc;
    procs.close = closeProc;
    procs.size = sizeProc;
    procs.map = mapProc;
    procs.unmap = unmapProc;
    return procs;
}

tmsize_t RangeFile::readProc(thandle_t handle, void* buffer, tmsize_t count)
{
    auto* file = static_cast<RangeFile*>(handle);
    if (count <= 0)
        return 0;
    const int64_t n = file->read(file->position_, buffer, size_t(count));
    if (n < 0)
        return -1;
    file->position_ += uint64_t(n);
    return tmsize_t(n);
}

tmsize_t RangeFile::writeProc(thandle_t, void*, tmsize_t)
{
    return 0;   // documents are only read
}

toff_t RangeFile::seekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<RangeFile*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = file->position_;
    else if (whence == SEEK_END)
        base = file->size_;
    // libtiff passes negative moves as wrapped unsigned offsets.
    const uint64_t target = base + uint64_t(offset);
    if (whence != SEEK_SET && uint64_t(offset) > ~uint64_t(0) / 2 && target > base)
        return toff_t(-1);   // before the start
    file->position_ = target;
    return toff_t(target);
}

int RangeFile::closeProc(thandle_t)
{
    return 0;
}

toff_t RangeFile::sizeProc(thandle_t handle)
{
    return static_cast<RangeFile*>(handle)->size_;
}

int RangeFile::mapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void RangeFile::unmapProc(thandle_t, void*, toff_t) {}
