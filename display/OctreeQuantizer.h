#pragma once
// Octree colour quantizer: every pixel is inserted into a tree indexed by the
// bits of its red, green and blue values; while the tree has more leaves than
// `maxColors` the least-populated reducible node of the deepest level above the
// leaf level is merged into a leaf; each leaf's average colour becomes a
// palette entry. The abstract part sees pixels only through the virtual pixel
// operations; a subclass supplies them (and the palette and image output).
#include <cstdint>

struct OctreeNode {
    int32_t level = 0;
    int32_t isLeaf = 0;
    int32_t inReducibleList = 0;
    uint32_t pixelCount = 0;
    // 64 bits: a leaf of more than 16.8 million pixels would wrap 32-bit sums.
    uint64_t redSum = 0, greenSum = 0, blueSum = 0;
    int32_t paletteIndex = 0;
    int32_t childCount = 0;
    OctreeNode* children[8] = {};
    OctreeNode* nextReducible = nullptr;
    OctreeNode* prevReducible = nullptr;
};

struct PaletteRgb {
    uint8_t red, green, blue;
};

class OctreeQuantizer {
public:
    OctreeQuantizer() = default;
    OctreeQuantizer(const OctreeQuantizer&) = delete;
    OctreeQuantizer& operator=(const OctreeQuantizer&) = delete;
    virtual ~OctreeQuantizer() { freeTree(); }

    // Pixels are three bytes red, green, blue.
    virtual bool readPixel(int32_t x, int32_t y, uint8_t rgb[3]) = 0;
    virtual bool writePixel(int32_t x, int32_t y, uint8_t index) = 0;
    virtual bool mapImage() = 0;
    virtual void buildPalette() = 0;

    int32_t leafLevel = 8;
    int32_t leafCount = 0;
    OctreeNode* reducible[8] = {};
    int32_t height = 0;
    int32_t width = 0;
    OctreeNode* root = nullptr;
    PaletteRgb palette[256] = {};
    int32_t maxColors = 256;

protected:
    // Reads every pixel once and builds the pruned tree; false on a failed
    // read or allocation (the tree is then freed).
    bool buildTree();
    // Gives each palette node (a leaf, or a node at the leaf level) the next
    // index in depth-first order and its average colour; returns how many.
    int32_t assignPalette(int32_t firstIndex);
    // The palette index of the node a colour falls into.
    uint8_t mapColor(const uint8_t rgb[3]) const;
    void freeTree();

private:
    OctreeNode* newNode(int32_t level);
    bool addColor(const uint8_t rgb[3]);
    void pruneOnce();
    void freeNode(OctreeNode* node);
    void link(OctreeNode* node);
    void unlink(OctreeNode* node);
};
