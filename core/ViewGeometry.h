#pragma once
// The viewer's geometry as plain functions: fitting, centring, zoom steps and
// the mapping from the scroll position to the visible part of the image. All
// conversions from floating point truncate toward zero.
#include <cstdint>

struct SizeI {
    int32_t width = 0;
    int32_t height = 0;
};

struct PointI {
    int32_t x = 0;
    int32_t y = 0;
};

struct RectI {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
};

// Truncation toward zero, saturated to the 32-bit range (NaN gives 0): every
// conversion of a scaled coordinate to a pixel goes through it, so an edge
// far beyond the window stops at the range's end instead of wrapping round.
int32_t saturatingTrunc(double value);
// A 64-bit sum or difference of coordinates, saturated to the 32-bit range.
int32_t saturate(int64_t value);

// The largest size with the image's aspect ratio that fits (aw, ah). When
// there is room at all (aw and ah positive), neither side is less than one
// pixel: a 1 x 65535 image fitted into 400 x 400 is 1 x 400, not 0 x 400.
SizeI fitSize(int32_t aw, int32_t ah, int32_t w, int32_t h);

// A fit of the whole image into (aw, ah): the fitted size and its scale. The
// scale is the fitted width over W, except where the width was raised to one
// pixel: then it is the fitted height over H (the other way round likewise),
// so that the scale keeps the side that really fits.
struct Fit {
    SizeI size;
    double scale = 0;
};
Fit fitImage(int32_t aw, int32_t ah, int32_t W, int32_t H);

// The image rectangle in a client rectangle when both scroll positions are
// 0: centred in a direction where the image is smaller than the client.
RectI centreImageRect(RectI client, int32_t scaledWidth, int32_t scaledHeight);

// One zoom step; the step is 0.1 above scale 1, else 0.05. The result is
// clamped to the limit; a scale already at or beyond the limit is returned
// unchanged (the caller then does nothing).
double zoomInScale(double scale, double maxScale);
double zoomOutScale(double scale, double minScale);

// The part of the image (image space) that a client rectangle of dw x dh
// shows at the given scroll positions. Empty when the scale is not positive.
// When one image pixel covers more than dw (or dh), the source is that one
// pixel, stretched over the rectangle, not nothing.
RectI visibleSource(int32_t hpos, int32_t vpos, double scale, int32_t dw, int32_t dh, int32_t W, int32_t H);

// A scaled-image size at a scale: trunc(W * scale) x trunc(H * scale),
// saturated at INT32_MAX, and at least one pixel on each side of an image at
// a positive scale (a thin image stays visible at every zoom).
SizeI scaledSize(int32_t W, int32_t H, double scale);

// A rectangle given as fractions of the image (left, top, right, bottom)
// placed on the image rectangle of the scaled image: the image rectangle's
// left plus the fraction times scaledWidth, and so on, each truncated with
// saturation.
RectI fractionRect(double left, double top, double right, double bottom, int32_t imageLeft, int32_t imageTop,
                   int32_t scaledWidth, int32_t scaledHeight);
// `r` moved by (-dx, -dy), saturated.
RectI offsetRect(RectI r, int32_t dx, int32_t dy);

// Fit width of a W x H image into a cw x ch client area: scale cw / W, or
// (cw - 20) / W when the height would then need a vertical scroll bar.
double fitWidthScale(int32_t cw, int32_t ch, int32_t W, int32_t H);
double fitHeightScale(int32_t cw, int32_t ch, int32_t W, int32_t H);

// The distance of one scroll bar request (the low word of the message's
// wParam); `thumb` is the request's 32-bit track position.
int32_t scrollDistance(int request, int32_t page, int32_t position, int32_t thumb);
