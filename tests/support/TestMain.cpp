// Main of every test program: runs the tests with the dialog watcher active,
// so that no test can hang on a message box, and fails the program when a
// dialog appeared that no test was watching for.
#include "DialogWatcher.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {
class DialogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { DialogWatcher::start(); }
    void TearDown() override
    {
        Sleep(50);   // let a late dialog be seen
        for (const SeenDialog& d : DialogWatcher::unexpected())
            ADD_FAILURE() << "unexpected dialog \"" << d.caption << "\": " << d.text;
        DialogWatcher::stop();
    }
};
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new DialogEnvironment);
    return RUN_ALL_TESTS();
}
