#pragma once
// A PNG picture as a picture source, read through libpng a band of rows at a
// time: palette pictures keep their palette (1 and 4 bits as they are, 2
// bits as 8), bilevel grey stays bilevel, other grey becomes 8-bit grey,
// colour 8-bit red, green, blue (16-bit samples are cut to 8 bits, alpha is
// dropped). An interlaced picture is decoded whole first, if it fits.
#include "PictureSource.h"

#include <memory>

class PngPictureSource : public PictureSource {
public:
    PngPictureSource();
    ~PngPictureSource() override;

    bool open(const std::string& path, std::string& error);
    const PictureKind& kind() const override { return kind_; }
    bool readRows(uint8_t* rows, uint32_t count, std::string& error) override;

    // The largest interlaced picture taken (its pixels are held whole).
    static constexpr uint64_t kMaxInterlacedBytes = uint64_t(512) << 20;

private:
    struct State;
    std::unique_ptr<State> state_;
    PictureKind kind_;
};
