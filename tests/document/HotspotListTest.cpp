#include "HotspotList.h"
#include "HotspotRecord.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Records its destruction in a shared log.
class Tracked final : public StreamObject {
public:
    Tracked(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    ~Tracked() override { log_.push_back(name_); }
    const char* className() const override { return "T"; }
    std::unique_ptr<StreamObject> newInstance() const override { return std::make_unique<Tracked>("", log_); }
    void load(std::istream&) override {}
    void save(std::ostream&) const override {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

TEST(HotspotRecord, NewRecordIsEmptyGm)
{
    HotspotRecord r;
    EXPECT_STREQ(r.className(), "GM");
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 0);
    EXPECT_EQ(r.bottom, 0);
    EXPECT_TRUE(r.reference.empty());
    EXPECT_TRUE(r.info.empty());
    EXPECT_TRUE(r.text.empty());
}

TEST(HotspotRecord, NewInstanceCopiesNothing)
{
    HotspotRecord r;
    r.left = 5, r.top = 6, r.right = 7, r.bottom = 8;
    r.reference = "ref", r.info = "info", r.text = u"text";
    auto made = r.newInstance();
    auto* fresh = dynamic_cast<HotspotRecord*>(made.get());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->left, 0);
    EXPECT_EQ(fresh->bottom, 0);
    EXPECT_TRUE(fresh->reference.empty());
    EXPECT_TRUE(fresh->text.empty());
}

TEST(HotspotRecord, SaveWritesBodyOnlyInStreamOrder)
{
    HotspotRecord r;
    r.reference = "R", r.info = "I", r.text = u"T";
    r.left = 1, r.top = 2, r.right = 3, r.bottom = 4;
    std::ostringstream out(std::ios::out | std::ios::binary);
    r.save(out);
    const std::string expected("\1\0\0\0R\1\0\0\0I\2\0\0\0T\0"
                               "\1\0\0\0\2\0\0\0\3\0\0\0\4\0\0\0", 32);
    EXPECT_EQ(out.str(), expected);
}

TEST(HotspotList, WalksInAppendOrderAndDestroysEachOnce)
{
    std::vector<std::string> log;
    {
        HotspotList list;
        for (const char* n : {"A", "B", "C"})
            list.append(std::make_unique<Tracked>(n, log));
        ASSERT_EQ(list.count(), 3u);
        std::string order;
        for (const auto& item : list)
            order += static_cast<const Tracked&>(*item).name();
        EXPECT_EQ(order, "ABC");

        list.destroyAll();
        EXPECT_EQ(list.count(), 0u);
        EXPECT_EQ(log, (std::vector<std::string>{"A", "B", "C"}));

        list.destroyAll();   // on an empty list: nothing happens
        EXPECT_EQ(log.size(), 3u);

        list.append(std::make_unique<Tracked>("D", log));   // refillable
        EXPECT_EQ(list.count(), 1u);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"A", "B", "C", "D"}));
}

} // namespace
