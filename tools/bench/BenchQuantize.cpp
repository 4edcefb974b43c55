// Times BmpFileQuantizer::quantizeFile on a large photo-like 24-bit BMP and
// prints megapixels per second and the process's peak working set.
//
//   bench_quantize IN.bmp OUT.bmp [maxColors] [runs]
// When IN.bmp does not exist it is generated (4000 x 3000) and the program
// stops there, so that the timed run's peak memory is the quantizer's alone.
#include "BenchTimer.h"
#include "BmpFileQuantizer.h"
#include "SyntheticImages.h"
#include "UserMessage.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool writePhotoBmp(const char* path, int32_t width, int32_t height)
{
    const std::vector<uint8_t> rgb = photoLikeRgb(uint32_t(width), uint32_t(height));
    const size_t row = (size_t(width) * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 'B' | 'M' << 8;
    fh.bfOffBits = 54;
    fh.bfSize = DWORD(54 + row * height);
    BITMAPINFOHEADER ih = {sizeof ih, width, height, 1, 24, BI_RGB, DWORD(row * height), 2835, 2835, 0, 0};
    FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    std::fwrite(&fh, 1, sizeof fh, out);
    std::fwrite(&ih, 1, sizeof ih, out);
    std::vector<uint8_t> line(row, 0);
    for (int32_t y = height - 1; y >= 0; --y) {   // bottom row first
        const uint8_t* p = &rgb[size_t(y) * width * 3];
        for (int32_t x = 0; x < width; ++x) {
            line[3 * x] = p[3 * x + 2];
            line[3 * x + 1] = p[3 * x + 1];
            line[3 * x + 2] = p[3 * x];
        }
        std::fwrite(line.data(), 1, row, out);
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    printUserMessagesToStderr();   // a terminal program: nobody could answer a message box
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_quantize IN.bmp OUT.bmp [maxColors] [runs]\n");
        return 2;
    }
    const char* in = argv[1];
    const char* out = argv[2];
    const int maxColors = argc > 3 ? std::atoi(argv[3]) : 224;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
    const int32_t width = 4000, height = 3000;
    if (GetFileAttributesA(in) == INVALID_FILE_ATTRIBUTES) {
        if (!writePhotoBmp(in, width, height))
            return 2;
        std::printf("generated %s; run again to time it\n", in);
        return 0;
    }

    BITMAPINFOHEADER info = {};
    if (FILE* f = std::fopen(in, "rb")) {
        std::fseek(f, 14, SEEK_SET);
        std::fread(&info, 1, sizeof info, f);
        std::fclose(f);
    }
    const double megapixels = double(info.biWidth) * std::abs(info.biHeight) / 1e6;

    int colours = 0;
    bool ok = true;
    const double seconds = bestOf(runs, [&] {
        BmpFileQuantizer quantizer;
        quantizer.maxColors = maxColors;
        ok = quantizer.quantizeFile(in, out) && ok;
        colours = quantizer.colorCount;
    });
    if (!ok)
        return 3;
    std::printf("quantizer: %.1f Mpx to %d colours in %.3f s = %.2f Mpx/s, peak working set %.1f MiB\n", megapixels,
                colours, seconds, megapixels / seconds, peakMemoryMiB());
    return 0;
}
