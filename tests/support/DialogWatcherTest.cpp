#include "DialogWatcher.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogWatcher, RecordsAndAnswersARealMessageBox)
{
    DialogWatcher outer;
    int answer;
    {
        DialogWatcher inner;
        answer = MessageBoxA(nullptr, "Body text", "Caption here", MB_OK | MB_ICONEXCLAMATION);
        auto seen = inner.seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, "Caption here");
        EXPECT_EQ(seen[0].text, "Body text");
    }
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(outer.seen().size(), 1u) << "every open scope sees the dialog";
    outer.clear();
    EXPECT_TRUE(outer.seen().empty());
}

TEST(DialogWatcher, NewestScopeChoosesTheAnswer)
{
    DialogWatcher okScope;
    {
        DialogWatcher cancelScope(DialogWatcher::Answer::Cancel);
        EXPECT_EQ(MessageBoxA(nullptr, "Body", "Cancel me", MB_OKCANCEL), IDCANCEL);
        EXPECT_EQ(cancelScope.seen().size(), 1u);
    }
    EXPECT_EQ(MessageBoxA(nullptr, "Body", "Accept me", MB_OKCANCEL), IDOK);
}

} // namespace
