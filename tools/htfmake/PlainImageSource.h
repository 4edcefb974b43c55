#pragma once
// A decoded image in memory as a picture source: indexed rows as they are,
// colour (RGBA or 24-bit) as red, green, blue.
#include "PictureSource.h"
#include "PlainImage.h"

class PlainImageSource : public PictureSource {
public:
    explicit PlainImageSource(const PlainImage& image);
    const PictureKind& kind() const override { return kind_; }
    bool readRows(uint8_t* rows, uint32_t count, std::string& error) override;

private:
    const PlainImage& image_;
    PictureKind kind_;
    uint32_t next_ = 0;
};
