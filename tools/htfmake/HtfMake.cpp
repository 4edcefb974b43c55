// htfmake: the authoring tool for hotspotted documents.
//   htfmake IMAGE HOTSPOTS.csv OUT.htf     write a document
//   htfmake --tiles 256 [--levels] [--bigtiff] IMAGE HOTSPOTS.csv OUT.htf
//                                          the same, tiled, with reduced levels
//   htfmake --tiles 256 --levels DOCUMENT.htf OUT.htf
//                                          a document again, its hotspots kept
//   htfmake --list DOCUMENT.htf [OUT.csv]  print (or write) its hotspots as CSV
// IMAGE is a TIFF file the viewer shows (kept as it is, the hotspot tag added
// or replaced), an uncompressed 8-bit or 24-bit BMP picture (written as an
// LZW-compressed TIFF image) or a PNG or JPEG picture (written in tiles).
// HOTSPOTS.csv is UTF-8 with the header row
// left,top,right,bottom,reference,tooltip and one hotspot a row.
// Exit codes: 0 done, 1 an error (nothing written), 2 usage.
#include "HtfMaker.h"

#ifdef _WIN32
#include "UserMessage.h"

#include <fcntl.h>
#include <io.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>

namespace {

const char kUsage[] =
    "usage: htfmake [--tiles N [--levels] [--bigtiff]] IMAGE HOTSPOTS.csv OUT.htf\n"
    "       htfmake [--tiles N [--levels] [--bigtiff]] [--hotspots HOTSPOTS.csv] IMAGE OUT.htf\n"
    "       htfmake --list DOCUMENT.htf [OUT.csv]\n"
    "IMAGE: a TIFF file (kept as it is, the hotspots added or replaced), an 8-bit or\n"
    "24-bit BMP picture, or a PNG or JPEG picture (always in tiles). HOTSPOTS.csv: UTF-8,\n"
    "header row left,top,right,bottom,reference,tooltip, one hotspot a row, in image\n"
    "pixels; without it a TIFF document's own hotspots are kept.\n"
    "--tiles N: the image in tiles of N x N pixels (a multiple of 16), the directories\n"
    "before the pixels, read and written a band at a time; --levels: with\n"
    "reduced-resolution levels down to about one tile (--tiles 256 when not given);\n"
    "--bigtiff: BigTIFF even under 4 GB; --threads N: threads compressing tiles\n"
    "(one a core when not given).\n";

int list(const char* document, const char* outPath)
{
    std::string csv, error;
    if (!listDocument(document, csv, error)) {
        std::fprintf(stderr, "htfmake: %s\n", error.c_str());
        return 1;
    }
    if (!outPath) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);   // the CSV's own line ends, untranslated
#endif
        std::fwrite(csv.data(), 1, csv.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(csv.data(), std::streamsize(csv.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "htfmake: %s: cannot write the file\n", outPath);
        return 1;
    }
    return 0;
}

// A whole number from `low` to `high`; false otherwise.
bool number(const char* text, unsigned long low, unsigned long high, unsigned long& value)
{
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end != text && !*end && value >= low && value <= high;
}

bool endsWithCsv(const char* name)
{
    const size_t n = std::strlen(name);
    if (n < 4)
        return false;
    std::string end(name + n - 4);
    for (char& c : end)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == ".csv";
}

int run(int argc, char** argv)
{
#ifdef _WIN32
    // Library messages go to the terminal; nobody is there to press OK.
    printUserMessagesToStderr();
#endif
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "--list") == 0)
        return list(argv[2], argc == 4 ? argv[3] : nullptr);
    MakeLayout layout;
    std::string hotspots;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        unsigned long value = 0;
        if (std::strcmp(argv[first], "--tiles") == 0 && first + 1 < argc) {
            if (!number(argv[++first], 16, 4096, value) || value % 16) {
                std::fputs("htfmake: --tiles takes a multiple of 16 from 16 to 4096\n", stderr);
                return 2;
            }
            layout.tiles = uint32_t(value);
        } else if (std::strcmp(argv[first], "--threads") == 0 && first + 1 < argc) {
            if (!number(argv[++first], 1, 64, value)) {
                std::fputs("htfmake: --threads takes a number from 1 to 64\n", stderr);
                return 2;
            }
            layout.threads = unsigned(value);
        } else if (std::strcmp(argv[first], "--hotspots") == 0 && first + 1 < argc) {
            hotspots = argv[++first];
        } else if (std::strcmp(argv[first], "--levels") == 0) {
            layout.levels = true;
        } else if (std::strcmp(argv[first], "--bigtiff") == 0) {
            layout.bigTiff = true;
        } else {
            break;
        }
    }
    if ((layout.levels || layout.bigTiff) && !layout.tiles)
        layout.tiles = 256;
    const int given = argc - first;
    // IMAGE HOTSPOTS.csv OUT.htf, or IMAGE OUT.htf (with --hotspots, or keeping the document's own).
    if (!(given == 3 && hotspots.empty()) && given != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        if (argv[i][0] == '-') {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const char* image = argv[first];
    const char* out = argv[argc - 1];
    // IMAGE HOTSPOTS.csv without the document's name would overwrite the list.
    if (given == 2 && endsWithCsv(out)) {
        std::fputs("htfmake: the last name is the document to write, not a .csv file\n", stderr);
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (given == 3)
        hotspots = argv[first + 1];
    MadeDocument made;
    std::string error;
    if (!makeDocument(image, hotspots, out, made, error, layout)) {
        std::fprintf(stderr, "htfmake: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& w : made.warnings)
        std::fprintf(stderr, "htfmake: %s\n", w.c_str());
    std::printf("htfmake: %s, %u x %u, %zu hotspots\n", out, made.width, made.height, made.hotspots);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // A picture too large for the memory this process has is an error like any other.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("htfmake: not enough memory for this image; nothing was written\n", stderr);
        return 1;
    }
}
