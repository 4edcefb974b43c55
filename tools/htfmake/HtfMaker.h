#pragma once
// What htfmake does, callable without a command line: write a hotspotted
// document from an image and a hotspot CSV file, and list a document's
// hotspots as that CSV.
#include <cstdint>
#include <string>
#include <vector>

struct MadeDocument {
    uint32_t width = 0, height = 0;
    size_t hotspots = 0;
    std::vector<std::string> warnings;   // "FILE:LINE: warning: ..."
};

// How the document is laid out: as the image is (0 tiles), or tiled with
// reduced-resolution levels, directories first (TiledDocumentWriter).
struct MakeLayout {
    uint32_t tiles = 0;      // tile size, a multiple of 16; 0: as the image is
    bool levels = false;     // reduced-resolution levels down to about one tile
    bool bigTiff = false;    // BigTIFF even when classic TIFF would do
    unsigned threads = 0;    // threads compressing tiles; 0: one a core
};

// The image is a TIFF file the viewer shows (kept byte for byte, tag 33577
// added or replaced), an 8-bit or 24-bit BMP picture (written LZW
// compressed), or a PNG or JPEG picture (always written in tiles, 256 when
// the layout names none). Tiled documents are written as the image is read,
// a band of rows at a time. Without a CSV file (an empty `csvPath`) the
// hotspots of a TIFF input are kept as they are. Errors read "FILE:LINE:
// what is wrong" (or "FILE: ..."), and then nothing is written. The output
// may be the input image itself.
bool makeDocument(const std::string& imagePath, const std::string& csvPath, const std::string& outPath,
                  MadeDocument& made, std::string& error, const MakeLayout& layout = MakeLayout{});

// The hotspots of a document as the CSV that makeDocument reads.
bool listDocument(const std::string& documentPath, std::string& csv, std::string& error);
