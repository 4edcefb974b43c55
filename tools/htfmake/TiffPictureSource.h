#pragma once
// The first image of a TIFF or BigTIFF file (striped or tiled, every kind the
// viewer shows) as a picture source: decoded as the viewer decodes it, a
// band of strips or a row of tiles at a time, so that only the rows asked
// for are held. The file's hotspot bytes, when it has them, come with it.
#include "PictureSource.h"

#include <memory>

class TiffPictureSource : public PictureSource {
public:
    TiffPictureSource();
    ~TiffPictureSource() override;

    // False with a message when the file cannot be opened or the viewer
    // shows no image from it.
    bool open(const std::string& path, std::string& error);
    const PictureKind& kind() const override;
    bool readRows(uint8_t* rows, uint32_t count, std::string& error) override;
    // The raw bytes of the first image's hotspot tag (empty when it has none).
    const std::string& hotspotBytes() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
