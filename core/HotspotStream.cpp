#include "HotspotStream.h"

#include "HotspotList.h"
#include "StreamClassRegistry.h"

#include <istream>
#include <ostream>
#include <vector>

namespace {

bool readUInt32(std::istream& in, uint32_t& value)
{
    unsigned char bytes[4] = {};
    in.read(reinterpret_cast<char*>(bytes), 4);
    if (in.gcount() != 4)
        return false;
    value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
            uint32_t(bytes[3]) << 24;
    return true;
}

void writeUInt32(std::ostream& out, uint32_t value)
{
    const char bytes[4] = {char(value & 0xFF), char(value >> 8 & 0xFF), char(value >> 16 & 0xFF),
                           char(value >> 24 & 0xFF)};
    out.write(bytes, 4);
}

// Reads a length field and, when it is within `limit`, up to that many bytes.
// Returns false when the target must keep its value.
bool readCountedBytes(std::istream& in, uint32_t limit, std::vector<char>& bytes)
{
    uint32_t length = 0;
    if (!readUInt32(in, length) || length > limit)
        return false;
    bytes.resize(length);
    if (length > 0) {
        in.read(bytes.data(), length);
        bytes.resize(std::size_t(in.gcount()));   // keep only what was delivered
    }
    return true;
}

} // namespace

std::istream& readInt32(std::istream& in, int32_t& target)
{
    uint32_t value = 0;
    if (readUInt32(in, value))
        target = int32_t(value);
    return in;
}

std::ostream& writeInt32(std::ostream& out, int32_t value)
{
    writeUInt32(out, uint32_t(value));
    return out;
}

std::istream& readNarrowString(std::istream& in, std::string& target)
{
    std::vector<char> bytes;
    if (!readCountedBytes(in, hotspotstream::kMaxNarrowBytes, bytes))
        return in;
    std::size_t end = 0;
    while (end < bytes.size() && bytes[end] != '\0')
        ++end;
    target.assign(bytes.data(), end);
    return in;
}

std::istream& readWideString(std::istream& in, std::u16string& target)
{
    std::vector<char> bytes;
    if (!readCountedBytes(in, hotspotstream::kMaxWideBytes, bytes))
        return in;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {   // an odd last byte is dropped
        const char16_t unit = char16_t(static_cast<unsigned char>(bytes[i]) |
                                       static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    target = std::move(text);
    return in;
}

std::ostream& writeNarrowString(std::ostream& out, const std::string& value)
{
    writeUInt32(out, uint32_t(value.size()));
    out.write(value.data(), std::streamsize(value.size()));
    return out;
}

std::ostream& writeWideString(std::ostream& out, const std::u16string& value)
{
    std::size_t units = 0;
    while (units < value.size() && value[units] != 0)
        ++units;
    writeUInt32(out, uint32_t(units * 2));
    for (std::size_t i = 0; i < units; ++i) {
        const char bytes[2] = {char(value[i] & 0xFF), char(value[i] >> 8)};
        out.write(bytes, 2);
    }
    return out;
}

std::istream& readHotspotStream(std::istream& in, HotspotList& list)
{
    list.destroyAll();
    struct Append : HotspotStreamVisitor {
        HotspotList& list;
        explicit Append(HotspotList& l) : list(l) {}
        void take(std::unique_ptr<StreamObject> object) override { list.append(std::move(object)); }
    } append(list);
    return readHotspotStream(in, append);
}

std::istream& readHotspotStream(std::istream& in, HotspotStreamVisitor& visitor)
{
    char magic[hotspotstream::kMagicLength] = {};
    in.read(magic, hotspotstream::kMagicLength);
    if (in.gcount() != std::streamsize(hotspotstream::kMagicLength) ||
        std::string(magic, hotspotstream::kMagicLength) != hotspotstream::kMagic)
        return in;

    // A refused version field leaves "1.0" in place and so passes.
    std::string version = hotspotstream::kVersion;
    readNarrowString(in, version);
    if (version != hotspotstream::kVersion)
        return in;

    int32_t count = 0;
    readInt32(in, count);
    if (count <= 0)
        return in;
    visitor.begin(count);

    // The loop needs no end-of-stream test: once the stream has run out every
    // class name reads as empty, which no class has.
    const StreamClassRegistry registry;
    for (int32_t i = 0; i < count; ++i) {
        std::string name;
        readNarrowString(in, name);
        std::unique_ptr<StreamObject> object = registry.createObject(name);
        if (!object)
            break;
        object->load(in);
        visitor.take(std::move(object));
    }
    return in;
}

std::ostream& writeHotspotStream(std::ostream& out, const HotspotList& list)
{
    out.write(hotspotstream::kMagic, hotspotstream::kMagicLength);
    writeNarrowString(out, hotspotstream::kVersion);
    writeInt32(out, int32_t(list.count()));
    for (const auto& object : list) {
        writeNarrowString(out, object->className());
        object->save(out);
    }
    return out;
}
