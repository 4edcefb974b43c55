// htfmake: the authoring tool for hotspotted documents.
//   htfmake IMAGE HOTSPOTS.csv OUT.htf     write a document
//   htfmake --tiles 256 [--levels] [--bigtiff] IMAGE HOTSPOTS.csv OUT.htf
//                                          the same, tiled, with reduced levels
//   htfmake --list DOCUMENT.htf [OUT.csv]  print (or write) its hotspots as CSV
// IMAGE is a TIFF file the viewer shows (kept as it is, the hotspot tag added
// or replaced) or an uncompressed 8-bit or 24-bit BMP picture (written as an
// LZW-compressed TIFF image). HOTSPOTS.csv is UTF-8 with the header row
// left,top,right,bottom,reference,tooltip and one hotspot a row.
// Exit codes: 0 done, 1 an error (nothing written), 2 usage.
#include "HtfMaker.h"
#include "UserMessage.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

namespace {

const char kUsage[] =
    "usage: htfmake [--tiles N [--levels] [--bigtiff]] IMAGE HOTSPOTS.csv OUT.htf\n"
    "       htfmake --list DOCUMENT.htf [OUT.csv]\n"
    "IMAGE: a TIFF file (kept as it is, the hotspots added or replaced) or an\n"
    "8-bit or 24-bit BMP picture. HOTSPOTS.csv: UTF-8, header row\n"
    "left,top,right,bottom,reference,tooltip, one hotspot a row, in image pixels.\n"
    "--tiles N: the image in tiles of N x N pixels (a multiple of 16), the directories\n"
    "before the pixels; --levels: with reduced-resolution levels down to about one\n"
    "tile (--tiles 256 when not given); --bigtiff: BigTIFF even under 4 GB.\n";

int list(const char* document, const char* outPath)
{
    std::string csv, error;
    if (!listDocument(document, csv, error)) {
        std::fprintf(stderr, "htfmake: %s\n", error.c_str());
        return 1;
    }
    if (!outPath) {
        _setmode(_fileno(stdout), _O_BINARY);   // the CSV's own line ends, untranslated
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

int run(int argc, char** argv)
{
    // Library messages go to the terminal; nobody is there to press OK.
    printUserMessagesToStderr();
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "--list") == 0)
        return list(argv[2], argc == 4 ? argv[3] : nullptr);
    MakeLayout layout;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (std::strcmp(argv[first], "--tiles") == 0 && first + 1 < argc) {
            char* end = nullptr;
            const unsigned long size = std::strtoul(argv[++first], &end, 10);
            if (*end || size < 16 || size > 4096 || size % 16) {
                std::fputs("htfmake: --tiles takes a multiple of 16 from 16 to 4096\n", stderr);
                return 2;
            }
            layout.tiles = uint32_t(size);
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
    if (argc - first != 3 || argv[first][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    argv += first - 1;
    MadeDocument made;
    std::string error;
    if (!makeDocument(argv[1], argv[2], argv[3], made, error, layout)) {
        std::fprintf(stderr, "htfmake: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& w : made.warnings)
        std::fprintf(stderr, "htfmake: %s\n", w.c_str());
    std::printf("htfmake: %s, %u x %u, %zu hotspots\n", argv[3], made.width, made.height, made.hotspots);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Images and documents are held in memory while they are copied; one too
    // large for this 32-bit process is an error like any other.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("htfmake: not enough memory for this image; nothing was written\n", stderr);
        return 1;
    }
}
