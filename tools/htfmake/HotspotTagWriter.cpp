#include "HotspotTagWriter.h"

#include <fstream>
#include <vector>

namespace {

constexpr uint16_t kHotspotTag = 33577;
constexpr uint16_t kTypeUndefined = 7;

uint64_t decode(const std::string& bytes, size_t at, int width, bool little)
{
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
        const uint64_t b = static_cast<unsigned char>(bytes[at + size_t(i)]);
        v |= little ? b << (8 * i) : b << (8 * (width - 1 - i));
    }
    return v;
}

std::string encode(uint64_t v, int width, bool little)
{
    std::string bytes(size_t(width), '\0');
    for (int i = 0; i < width; ++i)
        bytes[size_t(i)] = char(little ? v >> (8 * i) : v >> (8 * (width - 1 - i)));
    return bytes;
}

}  // namespace

bool planHotspotDirectory(const TiffReader& read, uint64_t fileSize, const std::string& hotspotBytes,
                          HotspotDirectoryEdit& edit, std::string& error)
{
    std::string header;
    if (!read(0, 8, header) || !(header.compare(0, 2, "II") == 0 || header.compare(0, 2, "MM") == 0))
        return error = "not a TIFF file", false;
    const bool little = header[0] == 'I';
    const uint64_t version = decode(header, 2, 2, little);
    const bool big = version == 43;
    if (big && !(read(0, 16, header) && decode(header, 4, 2, little) == 8 && decode(header, 6, 2, little) == 0))
        return error = "not a TIFF file", false;
    if (version != 42 && !big)
        return error = "not a TIFF file", false;
    // Classic TIFF: 2-byte entry count, 12-byte entries, 4-byte offsets and
    // counts. BigTIFF: 8-byte entry count, 20-byte entries, 8-byte offsets.
    const int offsetWidth = big ? 8 : 4, countWidth = big ? 8 : 2;
    const size_t entrySize = big ? 20 : 12;
    const uint64_t pointerAt = big ? 8 : 4;

    const uint64_t ifd = decode(header, size_t(pointerAt), offsetWidth, little);
    std::string countBytes;
    if (ifd < pointerAt + uint64_t(offsetWidth) || ifd >= fileSize || !read(ifd, size_t(countWidth), countBytes))
        return error = "the first directory lies outside the file", false;
    const uint64_t entries = decode(countBytes, 0, countWidth, little);
    std::string directory;
    if (entries == 0 || entries > 1000000 ||
        !read(ifd + uint64_t(countWidth), size_t(entries) * entrySize + size_t(offsetWidth), directory))
        return error = "the first directory is damaged or cut short", false;

    std::vector<std::string> kept;
    for (size_t e = 0; e < entries; ++e) {
        if (decode(directory, e * entrySize, 2, little) != kHotspotTag)
            kept.push_back(directory.substr(e * entrySize, entrySize));
    }
    if (!big && kept.size() + 1 > UINT16_MAX)
        return error = "the first directory has no room for another entry", false;
    const std::string nextDirectory = directory.substr(size_t(entries) * entrySize, size_t(offsetWidth));

    // What goes after the file's last byte, aligned as TIFF wants it: the
    // stream's bytes when they do not fit the entry, then the directory.
    std::string& out = edit.appended;
    out.clear();
    const size_t alignment = big ? 8 : 2;
    auto align = [&] {
        while ((fileSize + out.size()) % alignment)
            out += '\0';
    };
    align();
    std::string value(size_t(offsetWidth), '\0');
    if (hotspotBytes.size() <= size_t(offsetWidth)) {
        value.replace(0, hotspotBytes.size(), hotspotBytes);
    } else {
        value = encode(fileSize + out.size(), offsetWidth, little);
        out += hotspotBytes;
        align();
    }
    const std::string hotspotEntry = encode(kHotspotTag, 2, little) + encode(kTypeUndefined, 2, little) +
                                     encode(hotspotBytes.size(), big ? 8 : 4, little) + value;

    // The entries keep their order; the new one goes before the first greater tag.
    const uint64_t newIfd = fileSize + out.size();
    out += encode(kept.size() + 1, countWidth, little);
    bool placed = false;
    for (const std::string& e : kept) {
        if (!placed && decode(e, 0, 2, little) > kHotspotTag)
            out += hotspotEntry, placed = true;
        out += e;
    }
    if (!placed)
        out += hotspotEntry;
    out += nextDirectory;
    if (!big && (fileSize + out.size() > UINT32_MAX || hotspotBytes.size() > UINT32_MAX))
        return error = "the document would exceed the 4 GiB a classic TIFF file can hold", false;
    edit.pointerAt = pointerAt;
    edit.pointer = encode(newIfd, offsetWidth, little);
    return true;
}

bool addHotspotDirectory(const std::string& path, const std::string& hotspotBytes, std::string& error)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file)
        return error = "cannot open the copy of the image", false;
    file.seekg(0, std::ios::end);
    const uint64_t size = uint64_t(file.tellg());
    const TiffReader read = [&](uint64_t offset, size_t length, std::string& bytes) {
        if (offset > size || size - offset < length)
            return false;
        bytes.assign(length, '\0');
        file.seekg(std::streamoff(offset));
        file.read(&bytes[0], std::streamsize(length));
        return bool(file);
    };
    HotspotDirectoryEdit edit;
    if (!planHotspotDirectory(read, size, hotspotBytes, edit, error))
        return false;
    file.seekp(0, std::ios::end);
    file.write(edit.appended.data(), std::streamsize(edit.appended.size()));
    file.seekp(std::streamoff(edit.pointerAt));
    file.write(edit.pointer.data(), std::streamsize(edit.pointer.size()));
    file.close();
    if (!file)
        return error = "cannot write the document", false;
    return true;
}
