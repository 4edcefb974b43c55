#include "JpegPictureSource.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

// libjpeg reports errors through error_exit, which jumps back into the
// function that called it; those functions hold nothing with a destructor.
struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

}  // namespace

struct JpegPictureSource::State {
    std::FILE* file = nullptr;
    jpeg_decompress_struct decoder{};
    Errors errors{};
    bool created = false;
    uint32_t next = 0;

    ~State()
    {
        if (created)
            jpeg_destroy_decompress(&decoder);
        if (file)
            std::fclose(file);
    }
};

namespace {

void onError(j_common_ptr info)
{
    auto* errors = reinterpret_cast<Errors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->back, 1);
}

void onMessage(j_common_ptr, int) {}

bool startDecoding(jpeg_decompress_struct& decoder, Errors& errors)
{
    if (setjmp(errors.back))
        return false;
    jpeg_read_header(&decoder, TRUE);
    if (decoder.jpeg_color_space == JCS_CMYK || decoder.jpeg_color_space == JCS_YCCK) {
        std::snprintf(errors.message, sizeof errors.message, "CMYK pictures are not taken");
        return false;
    }
    decoder.out_color_space = decoder.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&decoder);
    return true;
}

bool readJpegRows(jpeg_decompress_struct& decoder, Errors& errors, uint8_t* rows, uint32_t count, size_t rowBytes)
{
    if (setjmp(errors.back))
        return false;
    for (uint32_t k = 0; k < count;) {
        JSAMPROW row = rows + k * rowBytes;
        const JDIMENSION read = jpeg_read_scanlines(&decoder, &row, 1);
        if (read == 0) {
            std::snprintf(errors.message, sizeof errors.message, "the picture ends early");
            return false;
        }
        k += read;
    }
    return true;
}

}  // namespace

JpegPictureSource::JpegPictureSource() : state_(std::make_unique<State>()) {}
JpegPictureSource::~JpegPictureSource() = default;

bool JpegPictureSource::open(const std::string& path, std::string& error)
{
    State& s = *state_;
    s.file = std::fopen(path.c_str(), "rb");
    if (!s.file)
        return error = "cannot read the file", false;
    s.decoder.err = jpeg_std_error(&s.errors.manager);
    s.errors.manager.error_exit = onError;
    s.errors.manager.emit_message = onMessage;
    jpeg_create_decompress(&s.decoder);
    s.created = true;
    jpeg_stdio_src(&s.decoder, s.file);
    if (!startDecoding(s.decoder, s.errors))
        return error = std::string("the JPEG picture cannot be read: ") + s.errors.message, false;
    kind_.width = s.decoder.output_width, kind_.height = s.decoder.output_height;
    const bool grey = s.decoder.out_color_space == JCS_GRAYSCALE;
    kind_.bits = grey ? 8 : 24;
    kind_.rowBytes = kind_.width * (grey ? 1 : 3);
    if (grey) {
        for (uint32_t v = 0; v < 256; ++v)
            kind_.palette.push_back(v | v << 8 | v << 16 | 0xFF000000u);
    }
    // The JFIF density: per inch (1) or per centimetre (2).
    const double density = s.decoder.X_density;
    if (s.decoder.density_unit == 1 && density > 0)
        kind_.pixelsPerMetre = int32_t(density * 39.37008 + 0.5);
    else if (s.decoder.density_unit == 2 && density > 0)
        kind_.pixelsPerMetre = int32_t(density * 100);
    return true;
}

bool JpegPictureSource::readRows(uint8_t* rows, uint32_t count, std::string& error)
{
    State& s = *state_;
    if (count > kind_.height - s.next)
        return error = "read past the image's last row", false;
    if (!readJpegRows(s.decoder, s.errors, rows, count, kind_.rowBytes))
        return error = std::string("the JPEG picture cannot be read: ") + s.errors.message, false;
    s.next += count;
    return true;
}
