#pragma once
// Writes a picture as a tiled document with reduced-resolution levels while
// it is read: a band of rows a tile high at a time, each band cut into tiles
// and compressed on worker threads, each pair of rows reduced into a row of
// the level below as it comes, so that memory depends on the picture's width
// and the tile size, never on its height. The tiles of each level go to a
// scratch file of their own; the document (directories, the hotspot bytes
// and the tile arrays first, then the tiles) is assembled from them at the
// end.
//
// Levels are kept as the picture is: bilevel as CCITT G4, grey and palette
// as LZW with their palette, colour as LZW RGB with the horizontal
// predictor. Reduced bilevel levels keep a pixel dark where any pixel it
// stands for is dark, other indexed levels take the top-left pixel of each
// 2 x 2, colour levels the average.
#include "PictureSource.h"

#include <string>

struct PyramidOptions {
    uint32_t tileSize = 256;   // a multiple of 16 from 16 to 4096
    bool levels = false;       // reduced levels down to about one tile
    bool bigTiff = false;      // BigTIFF even when classic TIFF would do
    bool subIfds = false;      // the levels in the first image's SubIFDs, not after it in the chain
    unsigned threads = 0;      // compressing threads; 0: one a core
};

// `scratchPrefix` names the scratch files (a suffix is added for each
// level); they are removed on every path. False with a message on failure
// (`path` may then hold a partial file; the caller writes to a temporary name).
bool writePyramidDocument(PictureSource& source, const std::string& hotspotBytes, const PyramidOptions& options,
                          const std::string& path, const std::string& scratchPrefix, std::string& error);

// The row of the level below from two rows of a level `width` pixels wide
// (`bottom` is `top` again for the last row of an odd height); `out` is all
// zero beforehand. `dark` is the darker index of a bilevel picture.
void reduceRowPair(const PictureKind& kind, const uint8_t* top, const uint8_t* bottom, unsigned dark, uint8_t* out);
