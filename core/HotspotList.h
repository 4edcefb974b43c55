#pragma once
// The hotspots of one document, in stream order. The list owns its elements.
#include "StreamObject.h"

#include <cstddef>
#include <memory>
#include <vector>

class HotspotList {
public:
    using Element = std::unique_ptr<StreamObject>;
    using const_iterator = std::vector<Element>::const_iterator;

    HotspotList() = default;
    HotspotList(const HotspotList&) = delete;
    HotspotList& operator=(const HotspotList&) = delete;
    virtual ~HotspotList() { destroyAll(); }

    // Destroys every element front to back, then empties the list.
    void destroyAll();
    // Adds an object at the end; the list owns it from now on.
    void append(Element object) { items_.push_back(std::move(object)); }

    std::size_t count() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }

private:
    std::vector<Element> items_;
};
