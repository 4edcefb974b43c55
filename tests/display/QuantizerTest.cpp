#include "BmpFileQuantizer.h"
#include "Dib.h"
#include "DibView.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <map>
#include <set>
#include <tuple>

namespace {

using Rgb = std::tuple<int, int, int>;

// A 24-bit BMP with `pixels` in file row order, and `gap` bytes between the
// headers and the pixels.
std::vector<uint8_t> bmp24(int w, int h, const std::vector<Rgb>& pixels, size_t gap = 0, uint16_t bits = 24)
{
    const size_t row = (size_t(w) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> out(54 + gap, 0xEE);
    BITMAPFILEHEADER fh = {};
    fh.bfType = 'B' | 'M' << 8;
    fh.bfOffBits = DWORD(54 + gap);
    fh.bfReserved1 = 7;
    fh.bfSize = DWORD(54 + gap + row * h);
    BITMAPINFOHEADER ih = {sizeof ih, w, h, 1, bits, BI_RGB, DWORD(row * h), 3780, 3780, 0, 0};
    std::memcpy(out.data(), &fh, 14);
    std::memcpy(out.data() + 14, &ih, 40);
    for (int y = 0; y < h; ++y) {
        std::vector<uint8_t> bytes(row, 0);
        for (int x = 0; x < w; ++x) {
            const Rgb& p = pixels[size_t(y) * w + x];
            bytes[3 * x] = uint8_t(std::get<2>(p));
            bytes[3 * x + 1] = uint8_t(std::get<1>(p));
            bytes[3 * x + 2] = uint8_t(std::get<0>(p));
        }
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

struct Quantized {
    bool ok = false;
    std::vector<uint8_t> file;   // empty when no output file exists
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    std::vector<Rgb> palette;    // colours important entries
    std::vector<uint8_t> indices;   // file row order, without padding

    Rgb colourAt(size_t i) const { return palette.at(indices.at(i)); }
};

Quantized quantize(const std::vector<uint8_t>& input, int maxColors)
{
    ScopedFile in(uniqueTempPath(".bmp")), out(uniqueTempPath(".bmp"));
    writeWholeFile(in.path(), input.data(), input.size());
    BmpFileQuantizer quantizer;
    quantizer.maxColors = maxColors;
    Quantized q;
    q.ok = quantizer.quantizeFile(in.c_str(), out.c_str());
    if (!fileExists(out.path()))
        return q;
    q.file = readWholeFile(out.path());
    if (q.file.size() < 1078)
        return q;
    std::memcpy(&q.fh, q.file.data(), 14);
    std::memcpy(&q.ih, q.file.data() + 14, 40);
    for (DWORD i = 0; i < q.ih.biClrImportant; ++i) {
        const uint8_t* e = &q.file[54 + 4 * i];
        q.palette.emplace_back(e[2], e[1], e[0]);
    }
    const size_t row = (size_t(q.ih.biWidth) + 3) / 4 * 4;
    for (int y = 0; y < std::abs(q.ih.biHeight); ++y)
        for (int x = 0; x < q.ih.biWidth; ++x)
            q.indices.push_back(q.file[1078 + y * row + x]);
    return q;
}

// The octree's order of leaves: colours sorted by their interleaved bits
// red7 green7 blue7 red6 ... blue0.
uint32_t treeKey(const Rgb& c)
{
    uint32_t key = 0;
    for (int bit = 7; bit >= 0; --bit)
        key = key << 3 | ((std::get<0>(c) >> bit) & 1) << 2 | ((std::get<1>(c) >> bit) & 1) << 1 |
              ((std::get<2>(c) >> bit) & 1);
    return key;
}

std::vector<int> bluesOf(const Quantized& q)
{
    std::vector<int> blues;
    for (const Rgb& c : q.palette)
        blues.push_back(std::get<2>(c));
    return blues;
}

std::vector<uint8_t> blueRow(const std::vector<int>& blues)
{
    std::vector<Rgb> pixels;
    for (int b : blues)
        pixels.emplace_back(0, 0, b);
    return bmp24(int(pixels.size()), 1, pixels);
}

TEST(Quantizer, BlackAndWhiteLayout)
{
    std::vector<Rgb> pixels;
    for (int i = 0; i < 15; ++i)
        pixels.push_back(i % 3 ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
    const Quantized q = quantize(bmp24(5, 3, pixels), 224);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.file.size(), 1078u + 8 * 3);
    EXPECT_EQ(q.fh.bfType, 'B' | 'M' << 8);
    EXPECT_EQ(q.fh.bfSize, 1078u + 24);
    EXPECT_EQ(q.fh.bfOffBits, 1078u);
    EXPECT_EQ(q.fh.bfReserved1, 7) << "reserved fields as read";
    EXPECT_EQ(q.ih.biBitCount, 8);
    EXPECT_EQ(q.ih.biSizeImage, 24u);
    EXPECT_EQ(q.ih.biClrUsed, 256u);
    EXPECT_EQ(q.ih.biClrImportant, 2u);
    EXPECT_EQ(q.ih.biWidth, 5);
    EXPECT_EQ(q.ih.biHeight, 3);
    EXPECT_EQ(q.ih.biXPelsPerMeter, 3780) << "other fields as read";
    ASSERT_EQ(q.palette.size(), 2u);
    EXPECT_EQ(q.palette[0], Rgb(0, 0, 0));
    EXPECT_EQ(q.palette[1], Rgb(255, 255, 255));
    for (size_t i = 8; i < 256; ++i)
        ASSERT_EQ(q.file[54 + i], 0) << "unused colour entries are zero";
    for (size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(q.colourAt(i), pixels[i]);

    // It reads back as a DIB with 256 colour entries.
    ScopedFile out(uniqueTempPath(".bmp"));
    writeWholeFile(out.path(), q.file.data(), q.file.size());
    DibOwner dib(loadDibFile(out.c_str()));
    ASSERT_NE(dib.dib, nullptr);
    DibView view(dib.dib);
    EXPECT_EQ(view.palette.size(), 256u);
    EXPECT_EQ(view.header.biClrImportant, 2u);
}

TEST(Quantizer, FewColoursAreReproducedExactlyInTreeOrder)
{
    std::vector<Rgb> distinct;
    uint32_t seed = 7;
    std::set<Rgb> seen;
    while (distinct.size() < 200) {
        seed = seed * 1664525 + 1013904223;
        Rgb c{int(seed >> 24), int(seed >> 16 & 0xFF), int(seed >> 8 & 0xFF)};
        if (seen.insert(c).second)
            distinct.push_back(c);
    }
    std::vector<Rgb> pixels;
    for (int i = 0; i < 37 * 11; ++i)
        pixels.push_back(distinct[(i * 13) % distinct.size()]);
    const Quantized q = quantize(bmp24(37, 11, pixels), 224);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.palette.size(), 200u);
    for (size_t i = 0; i < pixels.size(); ++i)
        ASSERT_EQ(q.colourAt(i), pixels[i]) << i;
    std::vector<Rgb> sorted = distinct;
    std::sort(sorted.begin(), sorted.end(), [](const Rgb& a, const Rgb& b) { return treeKey(a) < treeKey(b); });
    EXPECT_EQ(q.palette, sorted);
}

TEST(Quantizer, ManyColoursMapToTheirLeafAverage)
{
    std::vector<Rgb> pixels;
    uint32_t seed = 99;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            seed = seed * 1664525 + 1013904223;
            pixels.emplace_back(x * 4, y * 5, int(seed >> 24));
        }
    for (int maxColors : {16, 100, 224}) {
        const Quantized q = quantize(bmp24(64, 48, pixels), maxColors);
        ASSERT_TRUE(q.ok);
        EXPECT_LE(q.palette.size(), size_t(maxColors));
        EXPECT_GE(q.palette.size(), size_t(maxColors) / 2) << "pruning stops near the limit";
        // Group the input pixels by the entry they were given; each entry is
        // the truncated average of its group.
        std::map<int, std::array<uint64_t, 4>> groups;
        for (size_t i = 0; i < pixels.size(); ++i) {
            auto& g = groups[q.indices[i]];
            g[0] += std::get<0>(pixels[i]), g[1] += std::get<1>(pixels[i]), g[2] += std::get<2>(pixels[i]), g[3]++;
        }
        EXPECT_EQ(groups.size(), q.palette.size());
        for (const auto& [index, g] : groups)
            ASSERT_EQ(q.palette.at(index), Rgb(int(g[0] / g[3]), int(g[1] / g[3]), int(g[2] / g[3]))) << index;
    }
}

// Pixels that differ only in their low blue bits meet in nodes at levels 5,
// 6 and 7, so which node a pruning step merges shows in the palette.
TEST(QuantizerPruning, TiesGoToTheMostRecentlyLinkedNode)
{
    // Q0 {0,1} and Q1 {2,3} both reducible with 3 pixels; Q1 was linked last.
    const Quantized q = quantize(blueRow({0, 1, 0, 2, 3, 2, 4}), 4);
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(bluesOf(q), (std::vector<int>{0, 1, 2, 4}));   // Q1 merged: (2+3+2)/3
}

TEST(QuantizerPruning, TheLeastPopulatedNodeIsMerged)
{
    // Q1 (3 pixels) was linked before Q0 (4 pixels): the count decides.
    const Quantized q = quantize(blueRow({2, 3, 2, 0, 1, 0, 0, 4}), 4);
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(bluesOf(q), (std::vector<int>{0, 1, 2, 4}));
}

TEST(QuantizerPruning, TheDeepestReducibleLevelGoesFirst)
{
    // Q2 {4,5} at level 7 holds 5 pixels; the level-6 node over {0,2} holds
    // only 3, but the deeper level is pruned first.
    const Quantized q = quantize(blueRow({4, 5, 4, 4, 4, 0, 2, 0, 6}), 4);
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(bluesOf(q), (std::vector<int>{0, 2, 4, 6}));
}

TEST(QuantizerPruning, PruningAboveTheLeafLevelRaisesIt)
{
    // One colour far from the rest forces merges up the tree; the result
    // still maps every pixel to the average of the pixels that share its entry.
    std::vector<int> blues;
    for (int i = 0; i < 40; ++i)
        blues.push_back((i * 37) % 256);
    const Quantized q = quantize(blueRow(blues), 2);
    ASSERT_TRUE(q.ok);
    EXPECT_LE(q.palette.size(), 2u);
}

TEST(Quantizer, PixelsAreReadFromTheirOffset)
{
    std::vector<Rgb> pixels = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    const Quantized q = quantize(bmp24(3, 1, pixels, 100), 224);
    ASSERT_TRUE(q.ok);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(q.colourAt(i), pixels[i]);
}

TEST(Quantizer, RefusedInputsLeaveNoOutput)
{
    std::vector<Rgb> pixels(12, Rgb{1, 2, 3});
    auto notBm = bmp24(4, 3, pixels);
    notBm[1] = 'A';
    auto eightBit = bmp24(4, 3, pixels, 0, 8);
    auto cut = bmp24(4, 3, pixels);
    cut.resize(cut.size() - 5);
    auto patchSize = [&](int32_t w, int32_t h) {
        auto b = bmp24(4, 3, pixels);
        std::memcpy(&b[18], &w, 4);
        std::memcpy(&b[22], &h, 4);
        return b;
    };
    const std::vector<std::vector<uint8_t>> inputs = {
        notBm, eightBit, cut, std::vector<uint8_t>(30, 'B'),
        patchSize(0, 3), patchSize(-4, 3), patchSize(4, 0), patchSize(0x7FFFFFFF, 3),
        patchSize(0x40000000, 0x40000000), patchSize(4, INT32_MIN),
    };
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Quantized q = quantize(inputs[i], 224);
        EXPECT_FALSE(q.ok) << "input " << i;
        EXPECT_TRUE(q.file.empty()) << "input " << i << " left an output file";
    }
}

TEST(Quantizer, EqualNamesTouchNothing)
{
    ScopedFile file(uniqueTempPath(".bmp"));
    const auto bytes = bmp24(2, 2, std::vector<Rgb>(4, Rgb{9, 9, 9}));
    writeWholeFile(file.path(), bytes.data(), bytes.size());
    BmpFileQuantizer quantizer;
    EXPECT_FALSE(quantizer.quantizeFile(file.c_str(), file.c_str()));
    EXPECT_EQ(readWholeFile(file.path()), bytes);
}

TEST(Quantizer, TopDownInputStaysTopDown)
{
    std::vector<Rgb> pixels = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    auto bytes = bmp24(2, 2, pixels);
    const int32_t topDown = -2;
    std::memcpy(&bytes[22], &topDown, 4);
    const Quantized q = quantize(bytes, 224);
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.ih.biHeight, -2);
    EXPECT_EQ(q.file.size(), 1078u + 4 * 2);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(q.colourAt(i), pixels[i]);
}

TEST(Quantizer, ProgressLinesGoToStandardError)
{
    ScopedFile in(uniqueTempPath(".bmp")), out(uniqueTempPath(".bmp")), err(uniqueTempPath(".txt"));
    const auto input = bmp24(2, 1, {{1, 1, 1}, {2, 2, 2}});
    writeWholeFile(in.path(), input.data(), input.size());

    std::fflush(stderr);
    const int saved = _dup(2);
    FILE* capture = std::fopen(err.c_str(), "wb");
    _dup2(_fileno(capture), 2);
    BmpFileQuantizer quantizer;
    const bool ok = quantizer.quantizeFile(in.c_str(), out.c_str());
    std::fflush(stderr);
    _dup2(saved, 2);
    _close(saved);
    std::fclose(capture);

    EXPECT_TRUE(ok);
    const auto bytes = readWholeFile(err.path());
    std::string text(bytes.begin(), bytes.end());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());   // text or binary mode
    EXPECT_EQ(text, "Initializing color palette ...\nMapping colors to 8-bit palette ...\n\nColor quantization complete\n");
}

} // namespace
