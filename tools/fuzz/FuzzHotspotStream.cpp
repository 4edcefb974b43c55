// Reads any bytes as a hotspot stream, writes what was read and reads that
// back: the second read must give exactly the records of the first.
#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotStream.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

std::string describe(const HotspotList& list)
{
    std::string out;
    for (const auto& object : list) {
        out += object->className();
        if (auto* r = dynamic_cast<const HotspotRecord*>(object.get())) {
            out += "[" + r->reference + "|" + r->info + "|";
            out.append(reinterpret_cast<const char*>(r->text.data()), r->text.size() * 2);
            out += "|" + std::to_string(r->left) + "," + std::to_string(r->top) + "," + std::to_string(r->right) +
                   "," + std::to_string(r->bottom) + "]";
        }
        out += "\n";
    }
    return out;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "hotspot stream round trip: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size), std::ios::in | std::ios::binary);
    HotspotList first;
    readHotspotStream(in, first);
    for (const auto& object : first) {
        auto* r = dynamic_cast<const HotspotRecord*>(object.get());
        check(r != nullptr, "an object that is not a hotspot record");
        check(r->reference.size() <= hotspotstream::kMaxNarrowBytes && r->info.size() <= hotspotstream::kMaxNarrowBytes,
              "a narrow string above the reader's limit");
        check(r->text.size() * 2 <= hotspotstream::kMaxWideBytes, "a wide string above the reader's limit");
    }

    std::ostringstream out(std::ios::out | std::ios::binary);
    writeHotspotStream(out, first);
    std::istringstream again(out.str(), std::ios::in | std::ios::binary);
    HotspotList second;
    readHotspotStream(again, second);
    check(second.count() == first.count(), "the record count changed");
    check(describe(second) == describe(first), "a record changed");
    return 0;
}
