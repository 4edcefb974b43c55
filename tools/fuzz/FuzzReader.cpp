// The whole portable reader on a document from memory: readHtfDocument into
// a plain image (also with the hotspot tag read through a sink, as the
// browser element reads it), then the image sampler and the zoom and
// scroll model over the result at a fit and at 1:1, as the browser element
// uses them; and the reader in parts that the element's worker uses for
// range reads: the directories, hotspots and levels through the range
// file, then tiles of every level (the first and the last of each, a
// striped level whole). Images are limited to kImageBudget bytes (as a
// page's memory budget limits them), and the campaign runs with
// -malloc_limit_mb a little above it: a buffer the image does not need (a
// tile, strip or raster sized by what a damaged tag claims) fails the run, as
// do the sanitizers' findings and a read that does not end.
#include "CommandIds.h"
#include "FuzzSupport.h"
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotStream.h"
#include "HtfReader.h"
#include "ImageSampler.h"
#include "PlainImage.h"
#include "PrivateTiffTags.h"
#include "RangeFile.h"
#include "TiffLevels.h"
#include "ViewState.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using fuzz::BudgetImage;
using fuzz::check;

// Draws what the view shows, a tile at a time as the element does (the
// visible part, at most a few tiles), and the magnifier's stretched part.
void drawView(ImageSampler& sampler, ViewState& view)
{
    const RectI visible = view.visibleSource();
    const int32_t sw = view.scaledWidth(), sh = view.scaledHeight();
    check(sw > 0 && sh > 0, "a fitted view has a scaled size");
    constexpr int32_t kTile = 256;
    std::vector<uint32_t> out(size_t(kTile) * kTile);
    const RectI image = view.imageRect();
    const int32_t left = std::max(0, -image.left + view.horizontalBar().position);
    const int32_t top = std::max(0, -image.top + view.verticalBar().position);
    int tiles = 0;
    for (int32_t y = top - top % kTile; y < sh && tiles < 6; y += kTile)
        for (int32_t x = left - left % kTile; x < sw && tiles < 6; x += kTile, ++tiles) {
            const int32_t w = std::min(kTile, sw - x), h = std::min(kTile, sh - y);
            sampler.renderTile(x, y, w, h, sw, sh, out.data());
        }
    if (visible.width() > 0 && visible.height() > 0) {
        RectI part = visible;
        part.right = std::min(part.right, part.left + 64);
        part.bottom = std::min(part.bottom, part.top + 64);
        sampler.renderStretched(part, 100, 100, out.data());
    }
}

// The document's bytes, served as the worker's range reads are.
class MemorySource : public ByteRangeSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        if (offset > size_ || length > size_ - offset)
            return false;
        std::memcpy(out, data_ + offset, length);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

void readLevels(const uint8_t* data, size_t size)
{
    MemorySource source(data, size);
    RangeFile file(source, size, size_t(1) << 20);
    TiffLevels levels(file);
    if (!levels.open("fuzz"))
        return;
    const std::vector<TiffLevel>& list = levels.levels();
    check(list.size() <= TiffLevels::kMaxLevels, "at most the levels kept");
    for (size_t i = 0; i < list.size(); ++i) {
        const TiffLevel& l = list[i];
        check(l.width > 0 && l.height > 0 && l.tileWidth > 0 && l.tileWidth <= l.width && l.tileHeight > 0 &&
                  l.tileHeight <= l.height,
              "a level's tiles lie within it");
        check(i == 0 || (l.width < list[i - 1].width && l.height < list[i - 1].height), "levels get smaller");
        // Levels past the budget are left, as the whole read above refuses
        // images past it: a codec may need state in proportion to such a
        // level (a fax tile row as wide as the level), which the image then
        // needs and the malloc limit would take for a fault.
        if (fuzz::levelBytes(l) > fuzz::kImageBudget)
            continue;
        fuzz::decodeCornerTiles(levels, i, [](uint32_t) {});
    }
    levels.levelFor(0.05);
    levels.levelFor(1.0);
}

} // namespace

// The element's way to the hotspots: the tag read through a sink from the
// document a block at a time, its records taken one by one.
struct SinkRead : HotspotStreamVisitor {
    size_t records = 0;
    int calls = 0;
    uint64_t bytes = 0;
    void take(std::unique_ptr<StreamObject>) override { ++records; }
    static void read(void* context, std::istream& in, uint64_t bytes)
    {
        auto& self = *static_cast<SinkRead*>(context);
        ++self.calls;
        self.bytes = bytes;
        readHotspotStream(in, self);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readLevels(data, size);
    {
        SinkRead sinkRead;
        HotspotTagSink sink;
        sink.take = SinkRead::read;
        sink.context = &sinkRead;
        BudgetImage image;
        const HtfReadResult result = readHtfDocument(data, size, "fuzz", image, &sink);
        check(!result.hotspots, "a sink's read keeps no hotspot list");
        check(sinkRead.calls <= 1, "the sink reads one tag");
        check(sinkRead.bytes <= size, "the tag lies within the document");
    }
    BudgetImage image;
    const HtfReadResult result = readHtfDocument(data, size, "fuzz", image);
    if (!result.hasImage())
        return 0;
    check(image.width > 0 && image.height > 0, "an image has pixels");
    check(image.pixels.size() == size_t(image.rowBytes) * size_t(image.height), "rows fill the pixel block");
    check(image.bits == 32 || image.palette.size() == (size_t(1) << image.bits), "a palette for every index");

    ImageSampler sampler;
    sampler.setImage(&image);
    ViewState view;
    view.setViewport(640, 480);
    view.setImage(image.width, image.height);
    if (result.hotspots) {
        size_t n = 0;
        for (const auto& element : *result.hotspots) {
            if (std::strcmp(element->className(), HotspotRecord::kClassName) != 0)
                continue;
            const auto* record = static_cast<const HotspotRecord*>(element.get());
            view.addHotspot(record->left, record->top, record->right, record->bottom);
            if (++n == 2000)
                break;
        }
    }
    if (view.ensureFitted()) {
        drawView(sampler, view);
        view.hotspotAt(320, 240);
    }
    view.command(ID_ACTUAL_SIZE);
    drawView(sampler, view);
    view.scrollFor(ViewAction::BottomRight);
    drawView(sampler, view);
    view.hotspotAt(0, 0);
    return 0;
}
