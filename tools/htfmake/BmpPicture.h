#pragma once
// An uncompressed 8-bit palette or 24-bit BMP picture as the TIFF image that
// htfmake writes for it: a palette image or an RGB image, LZW compressed, with
// the picture's resolution (72 per inch when it has none).
#include "TiffFixture.h"

#include <string>

// False with a message when the bytes are not such a BMP file.
bool tiffFromBmp(const std::string& bytes, TiffFixture& image, std::string& error);
