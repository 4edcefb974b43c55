#pragma once
// Files for the authoring tool's tests built for this machine: unique paths
// in the temporary directory, removed by their holder, and images decoded
// from a written document the way the viewer decodes them.
#include "PlainImage.h"

#include <tiffio.h>

#include <string>

// A path in the temporary directory that no earlier (or killed) run left,
// removed with its ".part" and scratch files when the holder goes.
class TestFile {
public:
    explicit TestFile(const std::string& suffix);
    ~TestFile();
    TestFile(const TestFile&) = delete;
    TestFile& operator=(const TestFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The file opened for reading with the private tags known and libtiff's
// messages kept quiet; close it with htfTIFFClose.
TIFF* openQuietly(const std::string& path);

// Directory `index` of the file (0: the first image) decoded as the viewer
// decodes it, colour as RGBA; false when it cannot be read.
bool decodeDirectory(const std::string& path, int index, PlainImage& image);

std::string fileBytes(const std::string& path);
bool writeBytes(const std::string& path, const std::string& bytes);
