#include "NativeTestFiles.h"

#include "PrivateTiffTags.h"
#include "TiffImageDecoder.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::string temporaryDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

TIFF* openForReading(void* path, TIFFOpenOptions* options)
{
    return TIFFOpenExt(static_cast<const char*>(path), "r", options);
}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TestFile::TestFile(const std::string& suffix)
{
    static std::atomic<unsigned> counter{0};
    // The process id and a counter: names no other run uses at the same time;
    // a leftover of a killed run with the same name is overwritten.
    path_ = temporaryDirectory() + "/htfmake-test-" + std::to_string(getpid()) + "-" +
            std::to_string(counter++) + suffix;
    std::remove(path_.c_str());
}

TestFile::~TestFile()
{
    for (const char* extra : {"", ".part", ".tiles", ".tiles.0", ".tiles.1", ".tiles.2", ".tiles.3", ".tiles.4"})
        std::remove((path_ + extra).c_str());
}

TIFF* openQuietly(const std::string& path)
{
    return htfTIFFOpen(openForReading, const_cast<char*>(path.c_str()), quiet, nullptr);
}

bool decodeDirectory(const std::string& path, int index, PlainImage& image)
{
    TIFF* tif = openQuietly(path);
    if (!tif)
        return false;
    bool ok = TIFFSetDirectory(tif, tdir_t(index)) != 0;
    ok = ok && decodeTiffImage(tif, image) == DecodeOutcome::Decoded;
    htfTIFFClose(tif);
    return ok;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    return bool(out);
}
