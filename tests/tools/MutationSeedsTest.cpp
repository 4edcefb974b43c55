// The mutation campaign's seeds, built for this machine: a seed the writer
// fails to make is left out silently, so this checks that the tiled seeds are
// there and open in the levels reader as their names say (levels in the
// chain, in SubIFDs, in BigTIFF), with tiles that decode cleanly.
#include "RangeFile.h"
#include "SeedDocuments.h"
#include "TiffLevels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

struct SeedBytes : ByteRangeSource {
    const std::vector<uint8_t>* bytes = nullptr;
    bool read(uint64_t offset, size_t length, uint8_t* out) override
    {
        if (offset > bytes->size() || length > bytes->size() - offset)
            return false;
        std::memcpy(out, bytes->data() + offset, length);
        return true;
    }
};

bool named(const SeedDocument& seed, const char* part)
{
    return seed.name.find(part) != std::string::npos;
}

TEST(MutationSeeds, TiledSeedsOpenWithTheLevelsTheirNamesSay)
{
    char scratch[] = "/tmp/htf-seeds-XXXXXX";
    close(mkstemp(scratch));
    const std::vector<SeedDocument> seeds = makeSeedDocuments(scratch);
    std::remove(scratch);
    int chain = 0, subIfds = 0, big = 0;
    for (const SeedDocument& seed : seeds) {
        if (!named(seed, "levels"))
            continue;
        SCOPED_TRACE(seed.name);
        EXPECT_LE(seed.bytes.size(), 16384u) << "small enough to mutate fast";
        SeedBytes source;
        source.bytes = &seed.bytes;
        RangeFile file(source, seed.bytes.size());
        TiffLevels levels(file);
        ASSERT_TRUE(levels.open("seed"));
        ASSERT_GE(levels.levels().size(), 3u);
        EXPECT_EQ(levels.levels()[1].subIfd != 0, named(seed, "SubIFDs"));
        chain += !named(seed, "SubIFDs");
        subIfds += named(seed, "SubIFDs");
        big += named(seed, "BigTIFF") && seed.bytes[2] == 43;
        for (size_t i = 0; i < levels.levels().size(); ++i) {
            const TiffLevel& l = levels.levels()[i];
            PlainImage tile;
            EXPECT_TRUE(l.tiled);
            EXPECT_EQ(levels.decodeTile(i, l.columns() - 1, l.rows() - 1, tile), DecodeOutcome::Decoded) << i;
            EXPECT_EQ(levels.takeError(), "") << i;
        }
    }
    // Every kind (bilevel, palette, grey, colour) in the chain and in SubIFDs.
    EXPECT_GE(chain, 4);
    EXPECT_EQ(subIfds, 4);
    EXPECT_EQ(big, 1);
}

} // namespace
