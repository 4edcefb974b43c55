#include "OctreeQuantizer.h"

#include <new>

namespace {
inline int childIndex(const uint8_t rgb[3], int32_t level)
{
    const int shift = 7 - level;
    return ((rgb[0] >> shift) & 1) << 2 | ((rgb[1] >> shift) & 1) << 1 | ((rgb[2] >> shift) & 1);
}
}

OctreeNode* OctreeQuantizer::newNode(int32_t level)
{
    OctreeNode* node = new (std::nothrow) OctreeNode;
    if (!node)
        return nullptr;
    node->level = level;
    if (level >= leafLevel) {
        node->isLeaf = 1;
        ++leafCount;
    }
    return node;
}

void OctreeQuantizer::link(OctreeNode* node)
{
    OctreeNode*& head = reducible[node->level];
    node->prevReducible = nullptr;
    node->nextReducible = head;
    if (head)
        head->prevReducible = node;
    head = node;
    node->inReducibleList = 1;
}

void OctreeQuantizer::unlink(OctreeNode* node)
{
    if (node->prevReducible)
        node->prevReducible->nextReducible = node->nextReducible;
    else
        reducible[node->level] = node->nextReducible;
    if (node->nextReducible)
        node->nextReducible->prevReducible = node->prevReducible;
    node->nextReducible = node->prevReducible = nullptr;
    node->inReducibleList = 0;
}

bool OctreeQuantizer::addColor(const uint8_t rgb[3])
{
    // Iterative form of the recursive insertion: every node on the path
    // accumulates the pixel.
    for (OctreeNode* node = root;;) {
        ++node->pixelCount;
        node->redSum += rgb[0];
        node->greenSum += rgb[1];
        node->blueSum += rgb[2];
        if (node->isLeaf || node->level >= leafLevel)
            return true;
        OctreeNode*& child = node->children[childIndex(rgb, node->level)];
        if (!child) {
            child = newNode(node->level + 1);
            if (!child)
                return false;
            ++node->childCount;
        } else if (node->childCount > 1 && !node->inReducibleList) {
            link(node);
        }
        node = child;
    }
}

void OctreeQuantizer::pruneOnce()
{
    OctreeNode* picked = nullptr;
    for (int32_t level = leafLevel - 1; level >= 0 && !picked; --level) {
        for (OctreeNode* node = reducible[level]; node; node = node->nextReducible)
            if (!picked || node->pixelCount < picked->pixelCount)   // strict: the first wins ties
                picked = node;
    }
    if (!picked)
        return;
    unlink(picked);
    for (OctreeNode*& child : picked->children) {
        if (child) {
            freeNode(child);
            child = nullptr;
        }
    }
    picked->childCount = 0;
    picked->isLeaf = 1;
    ++leafCount;
    if (picked->level < leafLevel - 1)
        leafLevel = picked->level + 1;
}

void OctreeQuantizer::freeNode(OctreeNode* node)
{
    for (OctreeNode* child : node->children)
        if (child)
            freeNode(child);
    if (node->isLeaf)
        --leafCount;
    if (node->inReducibleList)
        unlink(node);   // keeps the lists free of dangling links
    delete node;
}

void OctreeQuantizer::freeTree()
{
    if (root)
        freeNode(root);
    root = nullptr;
    for (OctreeNode*& head : reducible)
        head = nullptr;
}

bool OctreeQuantizer::buildTree()
{
    root = newNode(0);
    if (!root)
        return false;
    uint8_t rgb[3];
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (!readPixel(x, y, rgb))
                return false;
            if (!addColor(rgb)) {
                freeTree();
                return false;
            }
            if (leafCount > maxColors)
                pruneOnce();
        }
    }
    return true;
}

int32_t OctreeQuantizer::assignPalette(int32_t firstIndex)
{
    int32_t next = firstIndex;
    // Depth first, children in index order, without recursion.
    OctreeNode* stack[8 * 9 + 1];
    int depth = 0;
    if (root)
        stack[depth++] = root;
    while (depth > 0) {
        OctreeNode* node = stack[--depth];
        if (node->isLeaf || node->level == leafLevel) {
            if (next < 256) {
                node->paletteIndex = next;
                palette[next] = {uint8_t(node->redSum / node->pixelCount), uint8_t(node->greenSum / node->pixelCount),
                                 uint8_t(node->blueSum / node->pixelCount)};
            }
            ++next;
            continue;
        }
        for (int i = 7; i >= 0; --i)   // pushed in reverse so that child 0 comes first
            if (node->children[i])
                stack[depth++] = node->children[i];
    }
    return next - firstIndex;
}

uint8_t OctreeQuantizer::mapColor(const uint8_t rgb[3]) const
{
    const OctreeNode* node = root;
    while (!node->isLeaf && node->level != leafLevel) {
        const OctreeNode* child = node->children[childIndex(rgb, node->level)];
        if (!child)   // a colour the tree never saw (the input changed between passes)
            break;
        node = child;
    }
    return uint8_t(node->paletteIndex);
}
