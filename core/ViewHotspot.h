#pragma once
// One shown hotspot of the viewer: the record it comes from, its edges as
// fractions of the image size (so one entry serves every zoom), its rectangle
// in document space at the current zoom and its tooltip text.
#include <cstdint>
#include <string>

class HotspotRecord;

struct ViewHotspot {
    const HotspotRecord* hotspot = nullptr;   // in the view's hotspot list; not owned
    double bottomFraction = 0;
    double leftFraction = 0;
    double topFraction = 0;
    double rightFraction = 0;
    int32_t pixelLeft = 0;
    int32_t pixelTop = 0;
    int32_t pixelRight = 0;
    int32_t pixelBottom = 0;
    std::string tipText;                      // ANSI code page; empty: no tooltip

    // Edges included: a hotspot from 10 to 20 is hit at 20.
    bool contains(int32_t x, int32_t y) const
    {
        return pixelLeft <= x && x <= pixelRight && pixelTop <= y && y <= pixelBottom;
    }
};
