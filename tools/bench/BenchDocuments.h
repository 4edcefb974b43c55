#pragma once
// The large documents the benchmark programs time, generated once into the
// temporary directory and reused by later runs.
#include "TiffFixture.h"

#include <cstdint>
#include <functional>
#include <string>

// The path of `file` in the temporary directory, through `path`. When the
// file is not there yet it is written from `make()` first (with a note on
// stderr, as that takes a while); false when it cannot be written.
bool benchDocument(const char* file, const std::function<TiffFixture()>& make, std::string& path);

// An A0 drawing at 400 dpi, bilevel G4 in one strip: a grid, a diagonal and
// blocks of "text" on white.
TiffFixture a0Drawing(uint32_t width, uint32_t height);
// A photo-like 8000 x 6000 RGB image at 300 dpi, LZW.
TiffFixture photo();
