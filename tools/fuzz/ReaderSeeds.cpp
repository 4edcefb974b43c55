// Writes the documents the reader's fuzz campaign starts from into a folder:
// the mutation campaign's seeds (every image kind and codec, stripped and
// tiled, with and without hotspots) and documents with tiles and strips far
// larger than their image.
#include "SeedDocuments.h"
#include "TiffFixture.h"

#include <tiffio.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

bool save(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<uint8_t> load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// 32 x 26 bilevel pixels in tiles of `tileWidth` x `tileLength`, stored as
// far as the image reaches.
TiffFixture largeTiles(uint32_t tileWidth, uint32_t tileLength)
{
    TiffFixture f;
    f.width = 32, f.height = 26, f.bitsPerSample = 1, f.photometric = PHOTOMETRIC_MINISWHITE;
    f.pixels.resize(4 * 26);
    for (size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = uint8_t(i * 37 + 11);
    f.tileWidth = tileWidth, f.tileLength = tileLength, f.tilesEndWithTheImage = true;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: reader_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string scratch = folder + "/.scratch.tif";
    int written = 0;
    for (const SeedDocument& seed : makeSeedDocuments(scratch)) {
        std::string name = seed.name;
        for (char& c : name)
            if (c == ' ' || c == '/')
                c = '-';
        written += save(folder + "/seed-" + std::to_string(written) + "-" + name, seed.bytes);
    }
    const TiffFixture large[] = {largeTiles(1, 4160749569u), largeTiles(4096, 2), largeTiles(16, 1u << 30)};
    for (const TiffFixture& f : large) {
        if (writeTiffFixture(scratch, f))
            written += save(folder + "/large-tiles-" + std::to_string(written), load(scratch));
    }
    std::remove(scratch.c_str());
    std::printf("reader_seeds: %d documents in %s\n", written, folder.c_str());
    return written > 0 ? 0 : 1;
}
