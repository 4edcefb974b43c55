#include "HotspotTagWriter.h"

#include <cstdint>
#include <vector>

namespace {

constexpr uint16_t kHotspotTag = 33577;
constexpr uint16_t kTypeUndefined = 7;

class TiffBytes {
public:
    TiffBytes(std::string& bytes, bool littleEndian) : bytes_(bytes), little_(littleEndian) {}

    uint64_t read(size_t at, int width) const
    {
        uint64_t v = 0;
        for (int i = 0; i < width; ++i) {
            const uint64_t b = static_cast<unsigned char>(bytes_[at + size_t(i)]);
            v |= little_ ? b << (8 * i) : b << (8 * (width - 1 - i));
        }
        return v;
    }
    void write(size_t at, uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i)
            bytes_[at + size_t(i)] = char(little_ ? v >> (8 * i) : v >> (8 * (width - 1 - i)));
    }
    void append(uint64_t v, int width)
    {
        bytes_.append(size_t(width), '\0');
        write(bytes_.size() - size_t(width), v, width);
    }
    void align(size_t multiple)
    {
        while (bytes_.size() % multiple)
            bytes_ += '\0';
    }

private:
    std::string& bytes_;
    bool little_;
};

}  // namespace

bool withHotspotTag(const std::string& tiff, const std::string& hotspotBytes, std::string& out, std::string& error)
{
    out.clear();
    if (tiff.size() < 8 || !(tiff.compare(0, 2, "II") == 0 || tiff.compare(0, 2, "MM") == 0))
        return error = "not a TIFF file", false;
    std::string result = tiff;
    TiffBytes file(result, tiff[0] == 'I');
    const uint64_t version = file.read(2, 2);
    const bool big = version == 43;
    if (version != 42 && !(big && tiff.size() >= 16 && file.read(4, 2) == 8 && file.read(6, 2) == 0))
        return error = "not a TIFF file", false;
    // Classic TIFF: 2-byte entry count, 12-byte entries, 4-byte offsets and
    // counts. BigTIFF: 8-byte entry count, 20-byte entries, 8-byte offsets.
    const int offsetWidth = big ? 8 : 4;
    const int countWidth = big ? 8 : 2;
    const size_t entrySize = big ? 20 : 12;
    const size_t headerPointerAt = big ? 8 : 4;

    const uint64_t ifd = file.read(headerPointerAt, offsetWidth);
    if (ifd < headerPointerAt + size_t(offsetWidth) || ifd > tiff.size() || tiff.size() - ifd < size_t(countWidth))
        return error = "the first directory lies outside the file", false;
    const uint64_t entries = file.read(size_t(ifd), countWidth);
    if (entries == 0 || entries > 1000000 ||
        (tiff.size() - ifd - size_t(countWidth)) / entrySize < entries ||
        tiff.size() - ifd - size_t(countWidth) - entries * entrySize < size_t(offsetWidth))
        return error = "the first directory is damaged or cut short", false;

    const size_t firstEntry = size_t(ifd) + size_t(countWidth);
    std::vector<std::string> kept;
    for (uint64_t e = 0; e < entries; ++e) {
        const std::string entry = tiff.substr(firstEntry + size_t(e) * entrySize, entrySize);
        if (file.read(firstEntry + size_t(e) * entrySize, 2) != kHotspotTag)
            kept.push_back(entry);
    }
    if (!big && kept.size() + 1 > UINT16_MAX)
        return error = "the first directory has no room for another entry", false;
    const std::string nextDirectory = tiff.substr(firstEntry + size_t(entries) * entrySize, size_t(offsetWidth));

    // The stream's bytes: in the entry itself when they fit, else before the directory.
    file.align(big ? 8 : 2);
    std::string valueField(size_t(offsetWidth), '\0');
    if (hotspotBytes.size() <= size_t(offsetWidth)) {
        valueField.replace(0, hotspotBytes.size(), hotspotBytes);
    } else {
        std::string offset;
        TiffBytes(offset, tiff[0] == 'I').append(result.size(), offsetWidth);
        valueField = offset;
        result += hotspotBytes;
        file.align(big ? 8 : 2);
    }
    std::string hotspotEntry;
    TiffBytes entry(hotspotEntry, tiff[0] == 'I');
    entry.append(kHotspotTag, 2);
    entry.append(kTypeUndefined, 2);
    entry.append(hotspotBytes.size(), big ? 8 : 4);
    hotspotEntry += valueField;

    // Entries stay in their order; the new one goes before the first greater tag.
    const uint64_t newIfd = result.size();
    file.append(kept.size() + 1, countWidth);
    bool placed = false;
    for (const std::string& e : kept) {
        const std::string tagBytes = e.substr(0, 2);
        std::string probe = tagBytes;
        const uint64_t tag = TiffBytes(probe, tiff[0] == 'I').read(0, 2);
        if (!placed && tag > kHotspotTag)
            result += hotspotEntry, placed = true;
        result += e;
    }
    if (!placed)
        result += hotspotEntry;
    result += nextDirectory;
    if (!big && (result.size() > UINT32_MAX || hotspotBytes.size() > UINT32_MAX))
        return error = "the document would exceed the 4 GiB a classic TIFF file can hold", false;
    file.write(headerPointerAt, newIfd, offsetWidth);
    out.swap(result);
    return true;
}
