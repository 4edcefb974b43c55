#pragma once
// The large documents the benchmark programs time, generated once into the
// temporary directory and reused by later runs.
#include "TiffFixture.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The path of `file` in the temporary directory, through `path`. When the
// file is not there yet it is written from `make()` first (with a note on
// stderr, as that takes a while); false when it cannot be written.
bool benchDocument(const char* file, const std::function<TiffFixture()>& make, std::string& path);

// An A0 drawing at 400 dpi, bilevel G4 in one strip: a grid, a diagonal and
// blocks of "text" on white.
TiffFixture a0Drawing(uint32_t width, uint32_t height);
// A photo-like 8000 x 6000 RGB image at 300 dpi, LZW.
TiffFixture photo();
// A photo-like 2000 x 1500 RGB image, LZW: the kind of picture a catalogue
// page embeds many times.
TiffFixture cataloguePhoto();
// `count` hotspots with tip texts in a grid over the left three quarters of
// a w x h image (the right quarter has none), each covering three quarters
// of its cell.
std::vector<FixtureHotspot> gridHotspots(int count, uint32_t w, uint32_t h);
