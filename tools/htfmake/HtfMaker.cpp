#include "HtfMaker.h"

#include "BmpPicture.h"
#include "Dib.h"
#include "HotspotCsv.h"
#include "HotspotList.h"
#include "HotspotRows.h"
#include "HotspotStream.h"
#include "HotspotTagWriter.h"
#include "HtfDocument.h"
#include "HtfReader.h"
#include "PrivateTags.h"
#include "TiffFixture.h"
#include "TiledDocumentWriter.h"

#include <windows.h>

#include <fstream>
#include <iterator>
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

// The written file replaces the target only once it is complete.
class PartFile {
public:
    explicit PartFile(const std::string& target) : target_(target), path_(target + ".part") {}
    ~PartFile()
    {
        if (!committed_)
            DeleteFileA(path_.c_str());
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    const std::string& path() const { return path_; }
    bool commit()
    {
        committed_ = MoveFileExA(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        return committed_;
    }

private:
    std::string target_, path_;
    bool committed_ = false;
};

std::string at(const std::string& path, int line)
{
    return line > 0 ? path + ":" + std::to_string(line) + ": " : path + ": ";
}

// Size of the first image as the viewer reads it; false when it shows none.
bool tiffImageSize(const std::string& path, uint32_t& width, uint32_t& height)
{
    HtfDocument document;
    DibHandle dib = document.open(path.c_str());
    if (!dib)
        return false;
    const void* header = GlobalLock(dib);
    width = uint32_t(dibWidth(header)), height = uint32_t(dibHeight(header));
    GlobalUnlock(dib);
    GlobalFree(dib);
    return true;
}

}  // namespace

namespace {

// The first image as the viewer decodes it, from the bytes of a TIFF file.
bool decodeFirstImage(const std::string& bytes, const std::string& name, PlainImage& image, std::string& error)
{
    const HtfReadResult read =
        readHtfDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), name.c_str(), image);
    if (read.hasImage())
        return true;
    error = read.tooLarge() ? "the image is too large to be tiled here" : "the viewer shows no image from this TIFF file";
    return false;
}

}  // namespace

bool makeDocument(const std::string& imagePath, const std::string& csvPath, const std::string& outPath,
                  MadeDocument& made, std::string& error, const MakeLayout& layout)
{
    made = MadeDocument{};
    std::string csvText, image;
    if (!readFile(csvPath, csvText))
        return error = at(csvPath, 0) + "cannot read the file", false;
    std::vector<CsvHotspot> rows;
    CsvProblem problem;
    if (!parseHotspotCsv(csvText, rows, problem))
        return error = at(csvPath, problem.line) + problem.message, false;

    if (!readFile(imagePath, image, 16))
        return error = at(imagePath, 0) + "cannot read the file", false;
    const bool bmp = image.compare(0, 2, "BM") == 0;
    if (bmp && !readFile(imagePath, image))
        return error = at(imagePath, 0) + "cannot read the file", false;
    const bool tiff = image.compare(0, 2, "II") == 0 || image.compare(0, 2, "MM") == 0;
    TiffFixture picture;
    std::string why;
    if (bmp) {
        if (!tiffFromBmp(image, picture, why))
            return error = at(imagePath, 0) + why, false;
        made.width = picture.width, made.height = picture.height;
    } else if (!tiff) {
        return error = at(imagePath, 0) + "neither a TIFF file nor a BMP picture", false;
    } else if (!tiffImageSize(imagePath, made.width, made.height)) {
        return error = at(imagePath, 0) + "the viewer shows no image from this TIFF file", false;
    }

    HotspotList list;
    std::vector<CsvProblem> warnings;
    if (!recordsFromRows(rows, made.width, made.height, list, problem, warnings))
        return error = at(csvPath, problem.line) + problem.message, false;
    for (const CsvProblem& w : warnings)
        made.warnings.push_back(at(csvPath, w.line) + "warning: " + w.message);
    made.hotspots = list.count();
    std::ostringstream stream(std::ios::out | std::ios::binary);
    writeHotspotStream(stream, list);

    PartFile part(outPath);
    if (layout.tiles) {
        // The image as the viewer decodes it, written again in tiles.
        std::string tiffBytes;
        if (bmp) {
            PartFile converted(outPath + ".bmp.tif");
            if (!writeTiffFixture(converted.path(), picture) || !readFile(converted.path(), tiffBytes))
                return error = at(outPath, 0) + "cannot write the file", false;
        } else if (!readFile(imagePath, tiffBytes)) {
            return error = at(imagePath, 0) + "cannot read the file", false;
        }
        PlainImage decoded;
        if (!decodeFirstImage(tiffBytes, imagePath, decoded, why))
            return error = at(imagePath, 0) + why, false;
        tiffBytes.clear();
        tiffBytes.shrink_to_fit();
        TiledDocumentOptions options;
        options.tileSize = layout.tiles;
        options.levels = layout.levels;
        options.bigTiff = layout.bigTiff;
        if (!writeTiledDocument(decoded, stream.str(), options, part.path(), outPath + ".tiles", why))
            return error = at(outPath, 0) + why, false;
    } else if (bmp) {
        picture.withHotspotTag = true;
        picture.hotspotBytes = stream.str();
        if (!writeTiffFixture(part.path(), picture))
            return error = at(outPath, 0) + "cannot write the file", false;
    } else {
        // A copy of the image file, then the new directory appended to it.
        if (!CopyFileA(imagePath.c_str(), part.path().c_str(), FALSE))
            return error = at(outPath, 0) + "cannot write the file", false;
        if (!addHotspotDirectory(part.path(), stream.str(), why))
            return error = at(imagePath, 0) + why, false;
    }
    if (!part.commit())
        return error = at(outPath, 0) + "cannot replace the file", false;
    return true;
}

bool listDocument(const std::string& documentPath, std::string& csv, std::string& error)
{
    HANDLE file = CreateFileA(documentPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return error = at(documentPath, 0) + "cannot open the file", false;
    TIFF* tif = HtfTIFFFdOpen(file, documentPath.c_str(), "ru");
    if (!tif) {
        CloseHandle(file);
        return error = at(documentPath, 0) + "not a TIFF file", false;
    }
    uint32_t count = 0;
    const void* bytes = nullptr;
    HotspotList list;
    if (TIFFGetField(tif, TIFFTAG_QELHOTSPOT, &count, &bytes) && count && bytes) {
        std::istringstream in(std::string(static_cast<const char*>(bytes), count), std::ios::in | std::ios::binary);
        readHotspotStream(in, list);
    }
    HtfTIFFClose(tif);
    csv = formatHotspotCsv(rowsFromRecords(list));
    return true;
}
