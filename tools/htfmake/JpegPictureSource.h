#pragma once
// A JPEG picture as a picture source, decoded through libjpeg a band of rows
// at a time: grey pictures as 8-bit grey, the others as 8-bit red, green,
// blue (CMYK pictures are not taken).
#include "PictureSource.h"

#include <memory>

class JpegPictureSource : public PictureSource {
public:
    JpegPictureSource();
    ~JpegPictureSource() override;

    bool open(const std::string& path, std::string& error);
    const PictureKind& kind() const override { return kind_; }
    bool readRows(uint8_t* rows, uint32_t count, std::string& error) override;

private:
    struct State;
    std::unique_ptr<State> state_;
    PictureKind kind_;
};
