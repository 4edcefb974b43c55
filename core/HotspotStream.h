#pragma once
// The hotspot stream: the bytes of the private TIFF tag that carries a
// document's hotspots. Layout: the six bytes "QELHTF", the version "1.0" as a
// narrow string, a signed 32-bit record count, then per record its class name
// (narrow string) and its body. Integers are 32-bit little-endian; there is no
// padding, framing or checksum.
//
// The reader reports nothing: what it could read is what the list holds.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

class HotspotList;
class StreamObject;

namespace hotspotstream {
constexpr char kMagic[] = "QELHTF";
constexpr std::size_t kMagicLength = 6;
constexpr char kVersion[] = "1.0";
constexpr uint32_t kMaxNarrowBytes = 100;
constexpr uint32_t kMaxWideBytes = 1000;
}

// Fills `list` (emptied first) from the stream; returns the stream.
std::istream& readHotspotStream(std::istream& in, HotspotList& list);

// The same objects one at a time, for a reader that keeps less than the
// objects themselves: `begin` gets the count the stream declares (positive;
// the objects may end sooner), `take` each object as it is read.
class HotspotStreamVisitor {
public:
    virtual ~HotspotStreamVisitor() = default;
    virtual void begin(int32_t declaredCount) { (void)declaredCount; }
    virtual void take(std::unique_ptr<StreamObject> object) = 0;
};
std::istream& readHotspotStream(std::istream& in, HotspotStreamVisitor& visitor);

// Length-prefixed strings. A length above the reader's limit, or a stream that
// ends inside the length, leaves `target` unchanged and skips nothing more.
std::istream& readNarrowString(std::istream& in, std::string& target);
std::istream& readWideString(std::istream& in, std::u16string& target);
std::ostream& writeNarrowString(std::ostream& out, const std::string& value);
std::ostream& writeWideString(std::ostream& out, const std::u16string& value);

// 32-bit little-endian integers. A short read leaves `target` unchanged.
std::istream& readInt32(std::istream& in, int32_t& target);
std::ostream& writeInt32(std::ostream& out, int32_t value);

// Writes a whole stream: header, count, then each object's class name and body.
std::ostream& writeHotspotStream(std::ostream& out, const HotspotList& list);
