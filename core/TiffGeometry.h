#pragma once
// What sizes the buffers of an image's decoding: its size, its tiling or
// strips, and the layout and coding of its samples, as the current directory
// of a TIFF handle gives them. A directory read again later (another level was
// read in between, or the handle set up again) must give the same values: a
// file replaced while it is read in parts (a site publishing a new version of
// the document, or a hostile server) would otherwise have its new rows and
// tiles written into buffers sized for the old ones.
#include <tiffio.h>

#include <cstdint>

struct TiffGeometry {
    uint32_t width = 0, height = 0;
    bool tiled = false;
    uint32_t tileWidth = 0, tileHeight = 0;   // 0 for strips
    uint32_t rowsPerStrip = 0;                // 0 for tiles
    uint16_t bits = 0, samples = 0, compression = 0, photometric = 0, planar = 0;
    uint16_t ycbcrHorizontal = 0, ycbcrVertical = 0;

    // The values of the handle's current directory (libtiff's defaults where
    // a tag is absent).
    static TiffGeometry of(TIFF* tif)
    {
        TiffGeometry g;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &g.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &g.height);
        g.tiled = TIFFIsTiled(tif) != 0;
        if (g.tiled) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &g.tileWidth);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &g.tileHeight);
        } else {
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &g.rowsPerStrip);
        }
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &g.bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &g.samples);
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &g.compression);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &g.photometric);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &g.planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &g.ycbcrHorizontal, &g.ycbcrVertical);
        return g;
    }

    bool operator==(const TiffGeometry& o) const
    {
        return width == o.width && height == o.height && tiled == o.tiled && tileWidth == o.tileWidth &&
               tileHeight == o.tileHeight && rowsPerStrip == o.rowsPerStrip && bits == o.bits &&
               samples == o.samples && compression == o.compression && photometric == o.photometric &&
               planar == o.planar && ycbcrHorizontal == o.ycbcrHorizontal && ycbcrVertical == o.ycbcrVertical;
    }
    bool operator!=(const TiffGeometry& o) const { return !(*this == o); }
};

// What a reader of a document in parts reports when a directory it reads
// again differs from what it read before.
constexpr char kDocumentChangedText[] = "The document changed on the server while it was being read";
