#include "HtfMaker.h"

#include "BmpPicture.h"
#include "HotspotCsv.h"
#include "HotspotList.h"
#include "HotspotRows.h"
#include "HotspotStream.h"
#include "HotspotTagWriter.h"
#include "PartFile.h"
#include "PlainImage.h"
#include "PlainImageSource.h"
#include "PrivateTiffTags.h"
#include "PyramidWriter.h"
#include "TiffFixture.h"
#include "TiffPictureSource.h"
#ifdef ROZERADO_HTFMAKE_PNG
#include "PngPictureSource.h"
#endif
#ifdef ROZERADO_HTFMAKE_JPEG
#include "JpegPictureSource.h"
#endif

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace {

// The whole file, or at most its first `limit` bytes.
bool readFile(const std::string& path, std::string& bytes, size_t limit = std::string::npos)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    if (limit == std::string::npos) {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        bytes.assign(limit, '\0');
        in.read(&bytes[0], std::streamsize(limit));
        bytes.resize(size_t(in.gcount()));
    }
    return !in.bad();
}

bool copyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out)
        return false;
    out << in.rdbuf();
    out.close();
    return !in.bad() && bool(out);
}

std::string at(const std::string& path, int line)
{
    return line > 0 ? path + ":" + std::to_string(line) + ": " : path + ": ";
}

enum class Format { Tiff, Bmp, Png, Jpeg, Unknown };

Format formatOf(const std::string& head)
{
    if (head.compare(0, 2, "II") == 0 || head.compare(0, 2, "MM") == 0)
        return Format::Tiff;
    if (head.compare(0, 2, "BM") == 0)
        return Format::Bmp;
    if (head.size() >= 8 && head.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0)
        return Format::Png;
    if (head.size() >= 3 && uint8_t(head[0]) == 0xFF && uint8_t(head[1]) == 0xD8 && uint8_t(head[2]) == 0xFF)
        return Format::Jpeg;
    return Format::Unknown;
}

// The BMP picture's pixels as the decoded image the tiles are cut from.
bool imageFromFixture(const TiffFixture& picture, PlainImage& image)
{
    const bool colour = picture.samplesPerPixel == 3;
    image.layout = ImageTarget::ColourLayout::Rgb24;
    const uint32_t rowBytes = picture.width * (colour ? 3 : 1);
    if (!image.make(picture.width, picture.height, colour ? 24 : 8, rowBytes))
        return false;
    std::memcpy(image.pixels.data(), picture.pixels.data(), image.pixels.size());
    if (!colour) {
        for (size_t i = 0; i < 256; ++i)
            image.palette.push_back(rgbaWord(uint8_t(picture.colorMap[i] >> 8), uint8_t(picture.colorMap[256 + i] >> 8),
                                             uint8_t(picture.colorMap[512 + i] >> 8)));
    }
    image.pixelsPerMetre = int32_t(std::lround(picture.xResolution * 39.37008));
    return true;
}

// The picture a tiled document is written from, opened by its format.
struct OpenedPicture {
    std::unique_ptr<PictureSource> source;
    std::string hotspotBytes;   // a TIFF input's own hotspot tag
    PlainImage bmp;             // a BMP picture's pixels, which `source` reads
};

template <class Source>
bool openWith(const std::string& path, OpenedPicture& opened, std::string& error)
{
    auto source = std::make_unique<Source>();
    if (!source->open(path, error))
        return false;
    opened.source = std::move(source);
    return true;
}

bool openPicture(Format format, const std::string& path, const TiffFixture& bmp, OpenedPicture& opened,
                 std::string& error)
{
    switch (format) {
    case Format::Tiff:
        if (!openWith<TiffPictureSource>(path, opened, error))
            return false;
        opened.hotspotBytes = static_cast<const TiffPictureSource&>(*opened.source).hotspotBytes();
        return true;
    case Format::Bmp:
        if (!imageFromFixture(bmp, opened.bmp))
            return error = "not enough memory for the picture", false;
        opened.source = std::make_unique<PlainImageSource>(opened.bmp);
        return true;
    case Format::Png:
#ifdef ROZERADO_HTFMAKE_PNG
        return openWith<PngPictureSource>(path, opened, error);
#else
        return error = "this build of htfmake reads no PNG pictures", false;
#endif
    case Format::Jpeg:
#ifdef ROZERADO_HTFMAKE_JPEG
        return openWith<JpegPictureSource>(path, opened, error);
#else
        return error = "this build of htfmake reads no JPEG pictures", false;
#endif
    case Format::Unknown:
        break;
    }
    return error = "neither a TIFF file nor a BMP, PNG or JPEG picture", false;
}

}  // namespace

bool makeDocument(const std::string& imagePath, const std::string& csvPath, const std::string& outPath,
                  MadeDocument& made, std::string& error, const MakeLayout& requested)
{
    made = MadeDocument{};
    std::vector<CsvHotspot> rows;
    CsvProblem problem;
    const bool keepHotspots = csvPath.empty();
    if (!keepHotspots) {
        std::string csvText;
        if (!readFile(csvPath, csvText))
            return error = at(csvPath, 0) + "cannot read the file", false;
        if (!parseHotspotCsv(csvText, rows, problem))
            return error = at(csvPath, problem.line) + problem.message, false;
    }

    std::string head;
    if (!readFile(imagePath, head, 16))
        return error = at(imagePath, 0) + "cannot read the file", false;
    const Format format = formatOf(head);
    if (format == Format::Unknown)
        return error = at(imagePath, 0) + "neither a TIFF file nor a BMP, PNG or JPEG picture", false;
    if (keepHotspots && format != Format::Tiff)
        return error = at(imagePath, 0) + "only a TIFF document has hotspots to keep; give a hotspot CSV file", false;
    MakeLayout layout = requested;
    if ((format == Format::Png || format == Format::Jpeg) && !layout.tiles)
        layout.tiles = 256;   // written in tiles as they are read, never whole

    std::string why;
    TiffFixture bmp;
    if (format == Format::Bmp) {
        std::string bytes;
        if (!readFile(imagePath, bytes))
            return error = at(imagePath, 0) + "cannot read the file", false;
        if (!tiffFromBmp(bytes, bmp, why))
            return error = at(imagePath, 0) + why, false;
    }
    OpenedPicture picture;
    if ((layout.tiles || format == Format::Tiff) && !openPicture(format, imagePath, bmp, picture, why))
        return error = at(imagePath, 0) + why, false;
    if (picture.source)
        made.width = picture.source->kind().width, made.height = picture.source->kind().height;
    else
        made.width = bmp.width, made.height = bmp.height;

    std::string hotspotBytes = picture.hotspotBytes;
    if (!keepHotspots) {
        HotspotList list;
        std::vector<CsvProblem> warnings;
        if (!recordsFromRows(rows, made.width, made.height, list, problem, warnings))
            return error = at(csvPath, problem.line) + problem.message, false;
        for (const CsvProblem& w : warnings)
            made.warnings.push_back(at(csvPath, w.line) + "warning: " + w.message);
        made.hotspots = list.count();
        std::ostringstream stream(std::ios::out | std::ios::binary);
        writeHotspotStream(stream, list);
        hotspotBytes = stream.str();
    } else if (!hotspotBytes.empty()) {
        HotspotList kept;
        std::istringstream in(hotspotBytes, std::ios::in | std::ios::binary);
        readHotspotStream(in, kept);
        made.hotspots = kept.count();
    }

    PartFile part(outPath);
    if (layout.tiles) {
        PyramidOptions options;
        options.tileSize = layout.tiles;
        options.levels = layout.levels;
        options.bigTiff = layout.bigTiff;
        options.threads = layout.threads;
        if (!writePyramidDocument(*picture.source, hotspotBytes, options, part.path(), outPath + ".tiles", why))
            return error = at(outPath, 0) + why, false;
    } else if (format == Format::Bmp) {
        bmp.withHotspotTag = true;
        bmp.hotspotBytes = hotspotBytes;
        if (!writeTiffFixture(part.path(), bmp))
            return error = at(outPath, 0) + "cannot write the file", false;
    } else {
        picture.source.reset();   // the input is closed before it is copied
        // A copy of the image file, then (for new hotspots) the new directory appended to it.
        if (!copyFile(imagePath, part.path()))
            return error = at(outPath, 0) + "cannot write the file", false;
        if (!keepHotspots && !addHotspotDirectory(part.path(), hotspotBytes, why))
            return error = at(imagePath, 0) + why, false;
    }
    if (!part.commit())
        return error = at(outPath, 0) + "cannot replace the file", false;
    return true;
}

namespace {

TIFF* openForList(void* path, TIFFOpenOptions* options)
{
    return TIFFOpenExt(static_cast<const char*>(path), "r", options);
}

}  // namespace

bool listDocument(const std::string& documentPath, std::string& csv, std::string& error)
{
    std::ifstream probe(documentPath, std::ios::binary);
    if (!probe)
        return error = at(documentPath, 0) + "cannot open the file", false;
    probe.close();
    TIFF* tif = htfTIFFOpen(openForList, const_cast<char*>(documentPath.c_str()));
    if (!tif)
        return error = at(documentPath, 0) + "not a TIFF file", false;
    uint32_t count = 0;
    const void* bytes = nullptr;
    HotspotList list;
    if (TIFFGetField(tif, TIFFTAG_QELHOTSPOT, &count, &bytes) && count && bytes) {
        std::istringstream in(std::string(static_cast<const char*>(bytes), count), std::ios::in | std::ios::binary);
        readHotspotStream(in, list);
    }
    htfTIFFClose(tif);
    csv = formatHotspotCsv(rowsFromRecords(list));
    return true;
}
