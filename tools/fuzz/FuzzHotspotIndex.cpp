// Builds the hotspot index from hotspots of any shape (reversed edges, far
// beyond the image, huge, tiny, NaN-free doubles as the viewer makes them
// from 32-bit edges) and checks every answer against the search of the whole
// list in order, at any image position and scaled size the viewer can have.
#include "HotspotIndex.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int32_t W = in.ConsumeIntegralInRange<int32_t>(1, INT32_MAX);
    const int32_t H = in.ConsumeIntegralInRange<int32_t>(1, INT32_MAX);
    HotspotIndex::Hotspots hotspots;
    const int count = in.ConsumeIntegralInRange(0, 300);
    for (int i = 0; i < count; ++i) {
        auto h = std::make_unique<ViewHotspot>();
        h->leftFraction = double(in.ConsumeIntegral<int32_t>()) / W;
        h->topFraction = double(in.ConsumeIntegral<int32_t>()) / H;
        h->rightFraction = double(in.ConsumeIntegral<int32_t>()) / W;
        h->bottomFraction = double(in.ConsumeIntegral<int32_t>()) / H;
        hotspots.push_back(std::move(h));
    }
    HotspotIndex index;
    index.build(hotspots);

    const int32_t left = in.ConsumeIntegralInRange<int32_t>(0, 32767);
    const int32_t top = in.ConsumeIntegralInRange<int32_t>(0, 32767);
    const int32_t scaledWidth = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    const int32_t scaledHeight = in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX);
    for (auto& h : hotspots) {
        const RectI p = fractionRect(h->leftFraction, h->topFraction, h->rightFraction, h->bottomFraction, left, top,
                                     scaledWidth, scaledHeight);
        h->pixelLeft = p.left, h->pixelTop = p.top, h->pixelRight = p.right, h->pixelBottom = p.bottom;
    }
    while (in.remaining_bytes() > 0) {
        int32_t x, y;
        if (!hotspots.empty() && in.ConsumeBool()) {
            // At an edge, where truncation decides.
            const ViewHotspot& h = *hotspots[in.ConsumeIntegralInRange<size_t>(0, hotspots.size() - 1)];
            const RectI near = offsetRect({h.pixelLeft, h.pixelTop, h.pixelRight, h.pixelBottom},
                                          in.ConsumeIntegralInRange(-2, 2), in.ConsumeIntegralInRange(-2, 2));
            x = in.ConsumeBool() ? near.left : near.right;
            y = in.ConsumeBool() ? near.top : near.bottom;
        } else {
            x = in.ConsumeIntegral<int32_t>();
            y = in.ConsumeIntegral<int32_t>();
        }
        int expected = -1;
        for (size_t i = 0; i < hotspots.size() && expected < 0; ++i)
            if (hotspots[i]->contains(x, y))
                expected = int(i);
        if (index.firstContaining(hotspots, x, y, left, top, scaledWidth, scaledHeight) != expected) {
            std::fprintf(stderr, "hotspot index: (%d, %d) found another hotspot than the list search\n", x, y);
            std::abort();
        }
    }
    return 0;
}
