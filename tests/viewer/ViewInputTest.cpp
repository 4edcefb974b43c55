// The plain keyboard, wheel and navigation logic, without a window.
#include "ViewInput.h"

#include <gtest/gtest.h>

namespace {

ViewInputState documentState(int hotspots, bool focus, bool across, bool down, bool dragging = false)
{
    ViewInputState s;
    s.hasImage = true;
    s.hotspotCount = hotspots;
    s.hasKeyFocus = focus;
    s.scrollsHorizontally = across;
    s.scrollsVertically = down;
    s.dragging = dragging;
    return s;
}

TEST(ViewInput, KeysActOnlyWhereTheyDoSomethingAndLeaveTheRestToThePage)
{
    const KeyModifiers none, shift{true, false, false}, ctrl{false, true, false}, alt{false, false, true};
    const ViewInputState empty;                                       // no document
    const ViewInputState small = documentState(0, false, false, false);   // all visible, no hotspots
    const ViewInputState links = documentState(3, false, false, false);
    const ViewInputState focused = documentState(3, true, true, true);
    const ViewInputState wide = documentState(0, false, true, false);
    const ViewInputState dragging = documentState(3, true, true, true, true);
    struct Case {
        ViewKey key;
        KeyModifiers modifiers;
        bool repeat;
        const ViewInputState& state;
        ViewAction expected;
    } cases[] = {
        {ViewKey::Tab, none, false, links, ViewAction::NextHotspot},
        {ViewKey::Tab, shift, false, links, ViewAction::PreviousHotspot},
        {ViewKey::Tab, none, true, links, ViewAction::NextHotspot},      // held Tab walks on
        {ViewKey::Tab, none, false, small, ViewAction::None},            // no hotspots: the page's Tab
        {ViewKey::Tab, ctrl, false, links, ViewAction::None},            // the browser's tabs
        {ViewKey::Tab, none, false, empty, ViewAction::None},
        {ViewKey::Enter, none, false, focused, ViewAction::FollowHotspot},
        {ViewKey::Space, shift, false, focused, ViewAction::FollowHotspot},
        {ViewKey::Enter, none, true, focused, ViewAction::Consume},      // once per press
        {ViewKey::Enter, none, false, links, ViewAction::None},          // nothing focused
        {ViewKey::Escape, none, false, focused, ViewAction::ClearFocus},
        {ViewKey::Escape, none, false, links, ViewAction::None},
        {ViewKey::Escape, none, false, dragging, ViewAction::ClearFocus},
        {ViewKey::Tab, none, false, dragging, ViewAction::None},        // a drag takes only Escape
        {ViewKey::Left, none, false, focused, ViewAction::LineLeft},
        {ViewKey::Right, shift, false, focused, ViewAction::LineRight},
        {ViewKey::Up, none, false, focused, ViewAction::LineUp},
        {ViewKey::Down, none, false, focused, ViewAction::LineDown},
        {ViewKey::Down, none, false, wide, ViewAction::None},            // no vertical scrolling
        {ViewKey::Right, none, false, wide, ViewAction::LineRight},
        {ViewKey::Left, ctrl, false, focused, ViewAction::None},
        {ViewKey::PageUp, none, false, focused, ViewAction::PageUp},
        {ViewKey::PageDown, none, false, focused, ViewAction::PageDown},
        {ViewKey::PageUp, shift, false, focused, ViewAction::PageLeft},
        {ViewKey::PageDown, shift, false, focused, ViewAction::PageRight},
        {ViewKey::PageDown, none, false, wide, ViewAction::None},
        {ViewKey::PageDown, ctrl, false, focused, ViewAction::None},     // the browser's tabs
        {ViewKey::Home, none, false, wide, ViewAction::TopLeft},
        {ViewKey::End, ctrl, false, focused, ViewAction::BottomRight},
        {ViewKey::End, none, false, small, ViewAction::None},
        {ViewKey::LetterP, ctrl, false, small, ViewAction::Print},
        {ViewKey::LetterP, ctrl, true, small, ViewAction::Consume},
        {ViewKey::LetterP, ctrl, false, empty, ViewAction::None},        // the page prints itself
        {ViewKey::LetterP, none, false, small, ViewAction::None},
        {ViewKey::Tab, alt, false, links, ViewAction::None},
        {ViewKey::Other, none, false, focused, ViewAction::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(actionForKey(c.key, c.modifiers, c.repeat, c.state), c.expected)
            << "case " << (&c - cases);
    }
}

TEST(ViewInput, CharactersZoomAndFitWhateverKeyTypedThem)
{
    const ViewInputState shown = documentState(0, false, false, false);
    const KeyModifiers none, ctrl{false, true, false};
    struct Case {
        char32_t character;
        KeyModifiers modifiers;
        bool image;
        ViewAction expected;
    } cases[] = {
        {U'+', none, true, ViewAction::ZoomIn},     {U'-', none, true, ViewAction::ZoomOut},
        {U'0', none, true, ViewAction::FitWindow},  {U'1', none, true, ViewAction::ActualSize},
        {U'2', none, true, ViewAction::None},       {U'=', none, true, ViewAction::None},
        {U'+', ctrl, true, ViewAction::None},       // the browser's page zoom
        {U'+', none, false, ViewAction::None},
    };
    for (const Case& c : cases) {
        ViewInputState state = shown;
        state.hasImage = c.image;
        EXPECT_EQ(actionForCharacter(c.character, c.modifiers, state), c.expected) << "case " << (&c - cases);
    }
}

TEST(ViewInput, TabOrderWrapsBothWays)
{
    struct Case { int current, count; bool backward; int expected; } cases[] = {
        {-1, 3, false, 0}, {0, 3, false, 1}, {2, 3, false, 0},   // forward, wrapping to the first
        {-1, 3, true, 2},  {0, 3, true, 2},  {2, 3, true, 1},    // backward, wrapping to the last
        {-1, 0, false, -1}, {5, 3, false, 0}, {0, 1, false, 0},  // none, a stale index, a single one
    };
    for (const Case& c : cases)
        EXPECT_EQ(nextKeyFocus(c.current, c.count, c.backward), c.expected) << "case " << (&c - cases);
}

TEST(ViewInput, ScrollToShowMovesTheLeastThatBringsASpanIntoView)
{
    const ScrollAxis axis{100, 1000, 300};   // showing 100..400
    struct Case { int start, end, expected; } cases[] = {
        {150, 250, 100},    // already in view
        {50, 120, 50},      // partly before: its start
        {380, 450, 150},    // partly after: its end at the view's end
        {900, 1400, 900},   // larger than the view: its start
        {1250, 1290, 990},  // far after
        {1300, 1400, 1000}, // beyond the range: the largest position
        {-20, 10, 0},       // before the image: clamped at 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(scrollToShow(axis, c.start, c.end), c.expected) << c.start << ".." << c.end;
}

TEST(ViewInput, WheelDeltasAddUpToWholeAmountsAndDropTheRestOnReversal)
{
    struct Step { int delta, perNotch, expected; };
    const std::vector<std::vector<Step>> runs = {
        {{120, 15, 15}, {240, 15, 30}, {-120, 15, -15}},             // whole notches, both ways
        {{30, 15, 3}, {30, 15, 4}, {30, 15, 4}, {30, 15, 4}},         // quarter notches: 3.75 each, no loss
        {{40, 1, 0}, {40, 1, 0}, {40, 1, 1}, {-40, 1, 0}, {-80, 1, -1}},   // zoom steps; reversal drops the rest
        {{-100, 15, -12}, {100, 15, 12}},                              // the rest never runs into the other way
    };
    for (size_t r = 0; r < runs.size(); ++r) {
        WheelAccumulator wheel;
        int step = 0;
        for (const Step& s : runs[r])
            EXPECT_EQ(wheel.add(s.delta, s.perNotch), s.expected) << "run " << r << " step " << step++;
    }
    // A full turn in small steps scrolls exactly as far as whole notches.
    WheelAccumulator fine;
    int pixels = 0;
    for (int i = 0; i < 96; ++i)
        pixels += fine.add(5, 15);
    EXPECT_EQ(pixels, 4 * 15);
}

TEST(ViewInput, WheelNotchIsLinesOfTheScrollLineOrAPage)
{
    struct Case { int lines, page, expected; } cases[] = {
        {3, 400, 15}, {1, 400, 5}, {0, 400, 0}, {-1, 400, 400}, {200, 400, 400}, {3, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wheelPixelsPerNotch(c.lines, c.page), c.expected) << c.lines << " lines, page " << c.page;
}

TEST(ViewInput, ZoomAboutThePointerKeepsTheImagePointUnderIt)
{
    struct Case {
        int pointer, oldPosition, oldOffset;
        double oldScale, newScale;
        int newOffset, newMaximum, expected;
    } cases[] = {
        // Scale 1 to 2, pointer at 100 with the view at 300: image point 400 goes to 800, shown at 100.
        {100, 300, 0, 1.0, 2.0, 0, 5000, 700},
        // Zooming out past the view's size: the image is centred, the position 0.
        {100, 300, 0, 1.0, 0.2, 60, 0, 0},
        // From a centred image (margin 50) to one that scrolls: point 150 - 50 = 100 at 0.5 is 200 image
        // pixels; at 1.0 it is 200 in document space, shown at 150.
        {150, 0, 50, 0.5, 1.0, 0, 600, 50},
        // Near the end the position is clamped to the range.
        {390, 1100, 0, 1.0, 1.05, 0, 1175, 1175},
        // Near the start it is clamped at 0.
        {0, 0, 0, 1.0, 1.05, 0, 1175, 0},
        // No scale: the old position stays (clamped).
        {10, 40, 0, 0.0, 1.0, 0, 30, 30},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scrollAfterZoom(c.pointer, c.oldPosition, c.oldOffset, c.oldScale, c.newScale, c.newOffset,
                                  c.newMaximum),
                  c.expected)
            << "case " << (&c - cases);
    }
}

TEST(ViewInput, NeighbourInADirectionPrefersHotspotsInLine)
{
    //  0 (0,0)      1 (100,0)
    //  2 (0,100)               3 (130,90)
    const std::vector<SpanRect> rects = {
        {0, 0, 20, 20}, {100, 0, 120, 20}, {0, 100, 20, 120}, {130, 90, 150, 110}};
    struct Case { int from; Direction d; int expected; } cases[] = {
        {0, Direction::Right, 1}, {0, Direction::Down, 2}, {0, Direction::Left, -1}, {0, Direction::Up, -1},
        {2, Direction::Right, 3}, {1, Direction::Down, 3}, {3, Direction::Left, 2}, {3, Direction::Up, 1},
        {9, Direction::Up, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(neighbourInDirection(rects, c.from, c.d), c.expected) << "case " << (&c - cases);
}

TEST(ViewInput, DocumentNameIsTheLastPartOfTheAddressAsThePageGaveIt)
{
    struct Case { const char16_t* address; const char16_t* name; } cases[] = {
        {u"http://www.example.com/plans/town.htf", u"town.htf"},
        {u"https://host/a/floor%20plan.htf?view=2#top", u"floor plan.htf"},
        {u"floorplan.htf", u"floorplan.htf"},
        {u"C:\\Plans\\Hall #2.htf", u"Hall #2.htf"},   // a path keeps '#'
        {u"file:///C:/Plans/hall.htf", u"hall.htf"},
        {u"http://host/dir/", u""},
        {u"http://host/a%E9b.htf", u"a%E9b.htf"},       // only printable ASCII is decoded
        {u"", u""},
    };
    for (const Case& c : cases) {
        const std::u16string name = documentNameFromAddress(c.address);
        EXPECT_TRUE(name == c.name) << std::string(name.begin(), name.end());
    }
}

} // namespace
