#include "HotspotTable.h"

#include "HotspotRecord.h"
#include "HotspotStream.h"
#include "StreamObject.h"

#include <cstring>
#include <istream>
#include <memory>

void HotspotTable::addUnit(char16_t unit)
{
    if (!wide_ && unit > 0xFF)
        widen();
    if (wide_)
        wideUnits_.push_back(unit);
    else
        narrowUnits_.push_back(uint8_t(unit));
}

void HotspotTable::widen()
{
    wideUnits_.reserve(narrowUnits_.capacity());
    wideUnits_.assign(narrowUnits_.begin(), narrowUnits_.end());
    std::vector<uint8_t>().swap(narrowUnits_);
    wide_ = true;
}

namespace {

// Packs the records of a hotspot stream as they are read, keeping none: the
// viewer shows records of the hotspot class with a reference, in order. The
// count the stream declares is not trusted for room: the blocks grow as the
// records come, so each stays within twice what the records read need.
class HotspotPacker : public HotspotStreamVisitor {
public:
    explicit HotspotPacker(HotspotTable& out) : out_(out) {}

    void take(std::unique_ptr<StreamObject> object) override
    {
        if (std::strcmp(object->className(), HotspotRecord::kClassName) != 0)
            return;
        const auto& record = static_cast<const HotspotRecord&>(*object);
        if (record.reference.empty())
            return;
        out_.rects.insert(out_.rects.end(), {record.left, record.top, record.right, record.bottom});
        for (unsigned char c : record.reference)
            out_.addUnit(char16_t(c));
        out_.offsets.push_back(uint32_t(out_.unitCount()));
        for (char16_t c : record.text)
            out_.addUnit(c);
        out_.offsets.push_back(uint32_t(out_.unitCount()));
    }

private:
    HotspotTable& out_;
};

} // namespace

void packHotspotTag(void* context, std::istream& in, uint64_t)
{
    auto& table = *static_cast<std::unique_ptr<HotspotTable>*>(context);
    table.reset();
    try {
        auto packed = std::make_unique<HotspotTable>();
        HotspotPacker packer(*packed);
        readHotspotStream(in, packer);
        table = std::move(packed);
    } catch (...) {
        table.reset();
    }
}
