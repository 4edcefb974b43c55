#pragma once
// One hotspot: a rectangle in image pixels, the reference it links to, a second
// narrow text the stream carries, and the tooltip text (UTF-16 code units).
#include "StreamObject.h"

#include <cstdint>
#include <string>

class HotspotRecord final : public StreamObject {
public:
    static constexpr const char* kClassName = "GM";

    // The edges are kept exactly as the stream gives them; nothing requires
    // left <= right or top <= bottom.
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    std::string reference;
    std::string info;
    std::u16string text;

    HotspotRecord() = default;

    const char* className() const override { return kClassName; }
    std::unique_ptr<StreamObject> newInstance() const override;
    void load(std::istream& in) override;
    void save(std::ostream& out) const override;
};
