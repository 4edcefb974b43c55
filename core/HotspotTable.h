#pragma once
// The hotspots the viewer shows, packed for the browser element's page: four
// int32 a hotspot (left, top, right, bottom), and the references (bytes in the
// author's code page, one code unit each) and texts (UTF-16) in one table of
// code units; hotspot i's reference is units offsets[2i] to offsets[2i+1],
// its text offsets[2i+1] to offsets[2i+2]. A few flat blocks instead of text
// to parse and one object a hotspot: the worker hands them over without
// copying. The units take one byte each while every one of them is below 256
// (almost always: references are bytes and texts mostly Latin), two from the
// first that is not.
//
// The table grows with the records read: what a document's hotspot tag or
// record count claims reserves nothing, so a small document that claims a
// huge tag costs the memory of what it holds.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

class HotspotTable {
public:
    std::vector<int32_t> rects;
    std::vector<uint32_t> offsets{0};

    size_t count() const { return rects.size() / 4; }
    size_t unitCount() const { return wide_ ? wideUnits_.size() : narrowUnits_.size(); }
    int unitBytes() const { return wide_ ? 2 : 1; }
    const void* units() const
    {
        return wide_ ? static_cast<const void*>(wideUnits_.data()) : static_cast<const void*>(narrowUnits_.data());
    }
    void addUnit(char16_t unit);

private:
    void widen();

    bool wide_ = false;
    std::vector<uint8_t> narrowUnits_;
    std::vector<char16_t> wideUnits_;
};

// Reads a hotspot stream from `in` into a new table (a HotspotTagSink's take:
// `context` is the std::unique_ptr<HotspotTable> to fill, `bytes` what the
// tag claims, which sizes nothing). The table is null when memory runs out,
// which reads as no hotspots.
void packHotspotTag(void* context, std::istream& in, uint64_t bytes);
