#include "HotspotList.h"
#include "HotspotRecord.h"
#include "HotspotStream.h"
#include "StreamBytes.h"
#include "StreamClassRegistry.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::vector<const HotspotRecord*> records(const HotspotList& list)
{
    std::vector<const HotspotRecord*> out;
    for (const auto& object : list)
        out.push_back(dynamic_cast<const HotspotRecord*>(object.get()));
    return out;
}

void read(const StreamBytes& bytes, HotspotList& list)
{
    auto in = bytes.stream();
    readHotspotStream(in, list);
}

// The documented example: one hotspot 123 / "" / Hello / 10,20,110,70.
StreamBytes workedExample()
{
    return StreamBytes().header(1).gm("123", "", u"Hello", 10, 20, 110, 70);
}

TEST(HotspotStream, WorkedExampleIs64BytesAndReadsOneRecord)
{
    const StreamBytes bytes = workedExample();
    ASSERT_EQ(bytes.str().size(), 64u);
    HotspotList list;
    read(bytes, list);
    ASSERT_EQ(list.count(), 1u);
    const HotspotRecord* r = records(list)[0];
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->reference, "123");
    EXPECT_EQ(r->info, "");
    EXPECT_EQ(r->text, u"Hello");
    EXPECT_EQ(r->left, 10);
    EXPECT_EQ(r->top, 20);
    EXPECT_EQ(r->right, 110);
    EXPECT_EQ(r->bottom, 70);
}

TEST(HotspotStream, WriterProducesTheWorkedExampleByteForByte)
{
    HotspotList list;
    auto record = std::make_unique<HotspotRecord>();
    record->reference = "123";
    record->text = u"Hello";
    record->left = 10, record->top = 20, record->right = 110, record->bottom = 70;
    list.append(std::move(record));
    std::ostringstream out(std::ios::out | std::ios::binary);
    writeHotspotStream(out, list);
    EXPECT_EQ(out.str(), workedExample().str());
}

TEST(HotspotStream, HeaderFailuresYieldAnEmptyList)
{
    const std::string record = StreamBytes().gm("1", "", u"", 1, 2, 3, 4).str();
    const StreamBytes cases[] = {
        StreamBytes(),                                                       // nothing
        StreamBytes().raw("QELHT"),                                          // short magic
        StreamBytes().raw("QELHTF"),                                         // magic only
        StreamBytes().raw("QELHTF").narrow("1.0"),                           // no count
        StreamBytes().raw("QELHTG").narrow("1.0").u32(1).raw(record),        // last magic byte
        StreamBytes().raw("qelhtf").narrow("1.0").u32(1).raw(record),
        StreamBytes().raw("QELHTF").narrow("1.1").u32(1).raw(record),        // version 1.1
        StreamBytes().raw("QELHTF").narrow("1.0 ").u32(1).raw(record),       // trailing blank
        StreamBytes().raw("QELHTF").narrow("").u32(1).raw(record),           // empty version
        StreamBytes().header(0).raw(record),                                 // count 0
        StreamBytes().header(-1).raw(record),                                // count -1
        StreamBytes().header(INT32_MIN).raw(record),
    };
    for (const StreamBytes& bytes : cases) {
        HotspotList list;
        read(bytes, list);
        EXPECT_EQ(list.count(), 0u) << "stream of " << bytes.str().size() << " bytes";
    }
}

TEST(HotspotStream, RefusedVersionLengthKeepsTheDefaultAndReadsOn)
{
    // A version length above 100 is refused, the version stays "1.0", and the
    // next field (the count) is read right after the length field.
    HotspotList list;
    read(StreamBytes().raw("QELHTF").u32(101).u32(1).gm("7", "", u"", 0, 0, 0, 0), list);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(records(list)[0]->reference, "7");
}

TEST(HotspotStream, UnknownClassNameStopsTheRead)
{
    const std::string tail = StreamBytes().narrow("").narrow("").wide(u"").u32(0).u32(0).u32(0).u32(0).str();
    const char* unknown[] = {"gm", "GM ", "G", "XX", ""};
    for (const char* name : unknown) {
        HotspotList list;
        read(StreamBytes().header(3).gm("a", "", u"", 0, 0, 0, 0).narrow(name).raw(tail)
                 .gm("c", "", u"", 0, 0, 0, 0),
             list);
        ASSERT_EQ(list.count(), 1u) << "class name '" << name << "'";
        EXPECT_EQ(records(list)[0]->reference, "a");
    }
}

TEST(HotspotStream, RecordCountBoundsTheRead)
{
    HotspotList fewer;   // count 2, one record present
    read(StreamBytes().header(2).gm("a", "", u"", 0, 0, 0, 0), fewer);
    EXPECT_EQ(fewer.count(), 1u);

    HotspotList more;    // count 1, two records present
    read(StreamBytes().header(1).gm("a", "", u"", 0, 0, 0, 0).gm("b", "", u"", 0, 0, 0, 0), more);
    ASSERT_EQ(more.count(), 1u);
    EXPECT_EQ(records(more)[0]->reference, "a");

    HotspotList huge;    // an absurd count ends with the bytes, not with a hang
    read(StreamBytes().header(INT32_MAX).gm("a", "", u"", 0, 0, 0, 0).gm("b", "", u"", 0, 0, 0, 0), huge);
    EXPECT_EQ(huge.count(), 2u);
}

TEST(HotspotStream, NarrowLengthLimitIs100Bytes)
{
    const std::string hundred(100, 'r');
    HotspotList list;
    read(StreamBytes().header(1).gm(hundred, "i", u"t", 1, 2, 3, 4), list);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(records(list)[0]->reference, hundred);
    EXPECT_EQ(records(list)[0]->info, "i");

    // 101 bytes: reference stays empty and info is read from the first bytes
    // of the over-long text ("abcd" as a length, then that many bytes).
    std::string over = std::string("\x03\0\0\0xyz", 7) + std::string(94, 'q');
    ASSERT_EQ(over.size(), 101u);
    HotspotList refused;
    read(StreamBytes().header(1).narrow("GM").u32(101).raw(over), refused);
    ASSERT_EQ(refused.count(), 1u);
    EXPECT_EQ(records(refused)[0]->reference, "");
    EXPECT_EQ(records(refused)[0]->info, "xyz");
}

TEST(HotspotStream, WideLengthLimitIs1000Bytes)
{
    const std::u16string chars500(500, u'\u00e9');
    HotspotList list;
    read(StreamBytes().header(1).gm("r", "", chars500, 1, 2, 3, 4), list);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(records(list)[0]->text, chars500);
    EXPECT_EQ(records(list)[0]->left, 1);

    HotspotList refused;
    read(StreamBytes().header(1).gm("r", "", std::u16string(501, u'x'), 1, 2, 3, 4), refused);
    ASSERT_EQ(refused.count(), 1u);
    EXPECT_EQ(records(refused)[0]->text, u"");
}

TEST(HotspotStream, ZeroBytesEndTheStringButAllBytesAreConsumed)
{
    HotspotList list;
    read(StreamBytes().header(1).narrow("GM").u32(5).raw(std::string("12\0" "45", 5))
             .narrow("inf").u32(6).raw(std::string("A\0\0\0B\0", 6)).u32(9).u32(8).u32(7).u32(6),
         list);
    ASSERT_EQ(list.count(), 1u);
    const HotspotRecord* r = records(list)[0];
    EXPECT_EQ(r->reference, "12");
    EXPECT_EQ(r->info, "inf");
    EXPECT_EQ(r->text, u"A");
    EXPECT_EQ(r->left, 9);
    EXPECT_EQ(r->bottom, 6);
}

TEST(HotspotStream, OddWideLengthDropsTheLastByte)
{
    HotspotList list;
    read(StreamBytes().header(1).narrow("GM").narrow("r").narrow("").u32(5).raw(std::string("a\0b\0c", 5))
             .u32(11).u32(12).u32(13).u32(14),
         list);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(records(list)[0]->text, u"ab");
    EXPECT_EQ(records(list)[0]->left, 11);
    EXPECT_EQ(records(list)[0]->bottom, 14);
}

TEST(HotspotStream, StreamEndingInsideARecordStillAppendsIt)
{
    const std::string full = StreamBytes().header(2).gm("first", "", u"one", 1, 2, 3, 4)
                                 .gm("second", "x", u"two", 5, 6, 7, 8).str();
    const size_t firstEnd = StreamBytes().header(2).gm("first", "", u"one", 1, 2, 3, 4).str().size();
    // Cut at every byte of the second record: the first record always
    // survives, the second is appended once its class name is complete.
    for (size_t cut = firstEnd; cut < full.size(); ++cut) {
        HotspotList list;
        read(StreamBytes().raw(full.substr(0, cut)), list);
        const size_t nameEnd = firstEnd + 4 + 2;
        ASSERT_EQ(list.count(), cut >= nameEnd ? 2u : 1u) << "cut at " << cut;
        EXPECT_EQ(records(list)[0]->reference, "first");
        EXPECT_EQ(records(list)[0]->bottom, 4);
        if (cut >= nameEnd + 4 + 6) {
            EXPECT_EQ(records(list)[1]->reference, "second");
        }
    }
}

TEST(HotspotStream, ReadReplacesWhatTheListHeld)
{
    HotspotList list;
    read(StreamBytes().header(2).gm("old1", "", u"", 0, 0, 0, 0).gm("old2", "", u"", 0, 0, 0, 0), list);
    ASSERT_EQ(list.count(), 2u);
    read(StreamBytes().header(1).gm("new", "", u"", 0, 0, 0, 0), list);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(records(list)[0]->reference, "new");
    read(StreamBytes().raw("garbage"), list);
    EXPECT_EQ(list.count(), 0u);
}

TEST(HotspotStream, WriteThenReadRoundTrips)
{
    HotspotList written;
    const char* refs[] = {"A-1", "", "https://x/?q=1&r=2"};
    for (int i = 0; i < 3; ++i) {
        auto r = std::make_unique<HotspotRecord>();
        r->reference = refs[i];
        r->info = std::string(100, char('a' + i));
        r->text = std::u16string(500, char16_t(0x4E00 + i));
        r->left = 50 - i, r->top = -7, r->right = 10, r->bottom = INT32_MIN + i;
        written.append(std::move(r));
    }
    std::ostringstream out(std::ios::out | std::ios::binary);
    writeHotspotStream(out, written);

    HotspotList read;
    std::istringstream in(out.str(), std::ios::in | std::ios::binary);
    readHotspotStream(in, read);
    ASSERT_EQ(read.count(), 3u);
    for (int i = 0; i < 3; ++i) {
        const HotspotRecord* a = records(written)[i];
        const HotspotRecord* b = records(read)[i];
        EXPECT_EQ(a->reference, b->reference);
        EXPECT_EQ(a->info, b->info);
        EXPECT_EQ(a->text, b->text);
        EXPECT_EQ(b->left, 50 - i);   // left > right is kept as given
        EXPECT_EQ(b->right, 10);
        EXPECT_EQ(b->top, -7);
        EXPECT_EQ(b->bottom, INT32_MIN + i);
    }
}

TEST(HotspotStreamStrings, RefusedLengthLeavesTargetAndSkipsNothing)
{
    std::string narrow = "keep";
    auto in = StreamBytes().u32(101).raw("rest").stream();
    readNarrowString(in, narrow);
    EXPECT_EQ(narrow, "keep");
    char next[4];
    in.read(next, 4);
    EXPECT_EQ(std::string(next, 4), "rest");

    std::u16string wide = u"keep";
    auto short_in = StreamBytes().raw(std::string("\x02\0", 2)).stream();   // stream ends inside the length
    readWideString(short_in, wide);
    EXPECT_EQ(wide, u"keep");
}

TEST(HotspotStreamStrings, WritersStopAtTheFirstZeroUnitAndIgnoreLimits)
{
    std::ostringstream out(std::ios::out | std::ios::binary);
    writeWideString(out, std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(out.str(), std::string("\x04\0\0\0a\0b\0", 8));

    std::ostringstream longOut(std::ios::out | std::ios::binary);
    writeNarrowString(longOut, std::string(300, 'z'));
    EXPECT_EQ(longOut.str().size(), 304u);
    EXPECT_EQ(longOut.str().substr(0, 4), std::string("\x2c\x01\0\0", 4));

    std::ostringstream empty(std::ios::out | std::ios::binary);
    writeNarrowString(empty, "");
    writeWideString(empty, u"");
    EXPECT_EQ(empty.str(), std::string(8, '\0'));
}

TEST(StreamClassRegistry, KnowsExactlyGm)
{
    StreamClassRegistry registry;
    EXPECT_EQ(registry.size(), 1u);
    auto made = registry.createObject("GM");
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made->className(), "GM");
    EXPECT_NE(dynamic_cast<HotspotRecord*>(made.get()), nullptr);
    EXPECT_EQ(registry.createObject("gm"), nullptr);
    EXPECT_EQ(registry.createObject(std::string("GM\0", 3)), nullptr);
    EXPECT_EQ(registry.createObject(""), nullptr);
}

} // namespace

namespace {

// Random bytes after a valid header: the reader must end by itself, never
// read outside its input, and hold only complete "GM" objects.
TEST(HotspotStreamHostile, RandomBodiesEndCleanly)
{
    uint32_t seed = 12345;
    auto next = [&] { seed = seed * 1664525 + 1013904223; return seed >> 24; };
    for (int round = 0; round < 3000; ++round) {
        StreamBytes bytes;
        bytes.header(int32_t(next() % 5 == 0 ? 0x7FFFFFFF : next() % 8));
        const size_t length = next() % 200;
        std::string body;
        for (size_t i = 0; i < length; ++i) {
            // Mostly small values, so that lengths and names are often plausible.
            const uint32_t r = next();
            body += char(r < 200 ? r % 8 : r);
            if (r % 17 == 0)
                body += std::string("\2\0\0\0GM", 6);
        }
        HotspotList list;
        read(bytes.raw(body), list);
        for (const auto& object : list)
            ASSERT_STREQ(object->className(), "GM");
        ASSERT_LE(list.count(), body.size() / 6 + 1);
    }
}

} // namespace
