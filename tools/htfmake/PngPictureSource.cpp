#include "PngPictureSource.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// libpng reports errors by a long jump back into the function that called
// it; the functions that call it hold nothing that needs a destructor.
struct PngPictureSource::State {
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = {};
    uint32_t next = 0;
    std::vector<uint8_t> whole;   // an interlaced picture, decoded at open

    ~State()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (file)
            std::fclose(file);
    }
};

namespace {

void onError(png_structp png, png_const_charp text)
{
    auto* state = static_cast<char*>(png_get_error_ptr(png));
    std::snprintf(state, 256, "%s", text);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Reads the header and sets up the transformations; false on an error.
bool readHeader(png_structp png, png_infop info, PictureKind& kind, bool& interlaced)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, type = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &type, &interlace, nullptr, nullptr);
    kind.width = width, kind.height = height;
    if (depth == 16)
        png_set_strip_16(png);
    if (type & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(png);
    kind.palette.clear();
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_colorp colours = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &colours, &count);
        kind.bits = depth == 2 ? 8 : uint16_t(depth);
        if (depth == 2)
            png_set_packing(png);
        for (int i = 0; i < (1 << kind.bits); ++i) {
            const png_color c = i < count ? colours[i] : png_color{0, 0, 0};
            kind.palette.push_back(uint32_t(c.red) | uint32_t(c.green) << 8 | uint32_t(c.blue) << 16 | 0xFF000000u);
        }
    } else if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) {
        kind.bits = depth == 1 ? 1 : 8;
        if (depth == 2 || depth == 4)
            png_set_expand_gray_1_2_4_to_8(png);
        const int n = 1 << kind.bits;
        for (int i = 0; i < n; ++i) {
            const uint32_t v = uint32_t(255 * i / (n - 1));
            kind.palette.push_back(v | v << 8 | v << 16 | 0xFF000000u);
        }
    } else {
        kind.bits = 24;
    }
    interlaced = interlace != PNG_INTERLACE_NONE;
    if (interlaced)
        png_set_interlace_handling(png);
    png_uint_32 xppu = 0, yppu = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &xppu, &yppu, &unit) && unit == PNG_RESOLUTION_METER && xppu <= 0x7FFFFFFF)
        kind.pixelsPerMetre = int32_t(xppu);
    png_read_update_info(png, info);
    kind.rowBytes = uint32_t(png_get_rowbytes(png, info));
    return true;
}

bool readPngRows(png_structp png, uint8_t* rows, uint32_t count, size_t rowBytes)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (uint32_t k = 0; k < count; ++k)
        png_read_row(png, rows + k * rowBytes, nullptr);
    return true;
}

bool readPngImage(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

}  // namespace

PngPictureSource::PngPictureSource() : state_(std::make_unique<State>()) {}
PngPictureSource::~PngPictureSource() = default;

bool PngPictureSource::open(const std::string& path, std::string& error)
{
    State& s = *state_;
    s.file = std::fopen(path.c_str(), "rb");
    if (!s.file)
        return error = "cannot read the file", false;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s.message, onError, onWarning);
    s.info = s.png ? png_create_info_struct(s.png) : nullptr;
    if (!s.info)
        return error = "not enough memory to read the PNG picture", false;
    // Pictures up to the largest a document holds (libpng's default stops at 1 000 000 pixels a side).
    png_set_user_limits(s.png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_init_io(s.png, s.file);
    bool interlaced = false;
    if (!readHeader(s.png, s.info, kind_, interlaced))
        return error = std::string("the PNG picture is damaged: ") + s.message, false;
    if (!interlaced)
        return true;
    const uint64_t bytes = uint64_t(kind_.rowBytes) * kind_.height;
    if (bytes > kMaxInterlacedBytes)
        return error = "an interlaced PNG picture this large is not taken; save it without interlacing", false;
    s.whole.assign(size_t(bytes), 0);
    std::vector<png_bytep> rowPointers(kind_.height);
    for (uint32_t y = 0; y < kind_.height; ++y)
        rowPointers[y] = s.whole.data() + size_t(y) * kind_.rowBytes;
    if (!readPngImage(s.png, rowPointers.data()))
        return error = std::string("the PNG picture is damaged: ") + s.message, false;
    return true;
}

bool PngPictureSource::readRows(uint8_t* rows, uint32_t count, std::string& error)
{
    State& s = *state_;
    if (count > kind_.height - s.next)
        return error = "read past the image's last row", false;
    if (!s.whole.empty()) {
        std::memcpy(rows, s.whole.data() + size_t(s.next) * kind_.rowBytes, size_t(count) * kind_.rowBytes);
    } else if (!readPngRows(s.png, rows, count, kind_.rowBytes)) {
        return error = std::string("the PNG picture is damaged: ") + s.message, false;
    }
    s.next += count;
    return true;
}
