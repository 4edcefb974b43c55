// The plug-in's page API in the stand-in browser, as a page's script uses
// it: the scriptable object's members in the browser element's spelling, and
// the element's events raised on the plug-in's own element of the page, with
// htf-navigate cancelled by preventDefault.
#include "DialogWatcher.h"
#include "PluginFixture.h"
#include "SampleDocument.h"

#include <map>

namespace {

constexpr unsigned kOutline = 0x008080;   // the default outline colour (0, 128, 128)

std::vector<uint8_t> pageApiDocument()
{
    const std::string path = uniqueTempPath(".htf");
    ScopedFile file(path);
    return writePageApiDocument(path) ? readWholeFile(path) : std::vector<uint8_t>();
}

// An instance 500 x 440 (the view below the toolbar) showing the document
// at 1:1, and its scriptable object.
struct Scripted {
    Scripted() : shown(500, 440)
    {
        shown.showDocument(pageApiDocument());
        viewer = shown.instance.scriptable();
        command("actual-size");
    }
    ScriptValue command(const char* name)
    {
        ScriptValue result;
        PageScript::call(viewer.asObject(), "command", {ScriptValue::string(name)}, result);
        pumpMessages();
        return result;
    }
    // A point of the image in the view's client area at 1:1 (centred).
    POINT imagePoint(int x, int y) const
    {
        RECT client = {};
        GetClientRect(viewIn(shown.host()), &client);
        return {(client.right - 400) / 2 + x, (client.bottom - 300) / 2 + y};
    }
    std::string field(const ScriptValue& object, const char* name) const
    {
        return PageScript::get(object.asObject(), name).describe();
    }

    Shown shown;
    ScriptValue viewer;
};

TEST(PluginScripting, TheScriptableObjectHasTheElementsMembers)
{
    Scripted s;
    ASSERT_TRUE(s.viewer.isObject());
    for (const char* member : {"hotspots", "view", "zoomToHotspot", "highlight", "command"})
        EXPECT_TRUE(PageScript::has(s.viewer.asObject(), member)) << member;
    EXPECT_FALSE(PageScript::has(s.viewer.asObject(), "SetTIFFFile"));

    // hotspots: the document's order, edges ordered.
    const ScriptValue hotspots = PageScript::get(s.viewer.asObject(), "hotspots");
    ASSERT_TRUE(hotspots.isObject());
    EXPECT_EQ(s.field(hotspots, "length"), "3");
    const std::vector<std::vector<std::string>> expected = {
        {"815", "Town hall", "20", "20", "100", "60"},
        {"816", "Library", "250", "150", "50", "100"},
        {"816", "Library annexe", "200", "220", "40", "40"},
    };
    for (int32_t i = 0; i < 3; ++i) {
        const ScriptValue item = PageScript::get(hotspots.asObject(), i);
        ASSERT_TRUE(item.isObject()) << i;
        std::vector<std::string> fields;
        for (const char* name : {"ref", "text", "x", "y", "width", "height"})
            fields.push_back(s.field(item, name));
        EXPECT_EQ(fields, expected[size_t(i)]) << i;
    }

    // view at 1:1: the whole image; zoomToHotspot centres the hotspot.
    ScriptValue view = PageScript::get(s.viewer.asObject(), "view");
    ASSERT_TRUE(view.isObject());
    EXPECT_EQ(s.field(view, "scale"), "1");
    EXPECT_EQ(s.field(view, "width"), "400");
    EXPECT_EQ(s.field(view, "height"), "300");
    struct Zoom {
        const char* ref;
        bool found;
    } zooms[] = {{"816", true}, {"nowhere", false}};
    for (const Zoom& z : zooms) {
        ScriptValue found;
        ASSERT_TRUE(PageScript::call(s.viewer.asObject(), "zoomToHotspot", {ScriptValue::string(z.ref)}, found));
        EXPECT_EQ(found.describe(), z.found ? "true" : "false") << z.ref;
    }
    view = PageScript::get(s.viewer.asObject(), "view");
    const double scale = PageScript::get(view.asObject(), "scale").asNumber();
    EXPECT_GT(scale, 1.5);
    EXPECT_NEAR(PageScript::get(view.asObject(), "x").asNumber() + PageScript::get(view.asObject(), "width").asNumber() / 2,
                275, 2);

    // highlight outlines both "816" hotspots; null clears.
    s.command("actual-size");
    auto outlineAt = [&](int x, int y) {
        UpdateWindow(viewIn(s.shown.host()));
        const Capture shown = captureClient(viewIn(s.shown.host()));
        const POINT p = s.imagePoint(x, y);
        return shown.at(p.x, p.y) == kOutline;
    };
    ScriptValue ignored;
    EXPECT_TRUE(PageScript::call(s.viewer.asObject(), "highlight", {ScriptValue::string("816")}, ignored));
    EXPECT_TRUE(outlineAt(250, 175));
    EXPECT_TRUE(outlineAt(200, 240));
    EXPECT_FALSE(outlineAt(20, 50));
    EXPECT_TRUE(PageScript::call(s.viewer.asObject(), "highlight", {ScriptValue::null()}, ignored));
    EXPECT_FALSE(outlineAt(250, 175));

    // command: names and the module's ids; an unknown name throws.
    s.command("zoom-in");
    EXPECT_NEAR(PageScript::get(PageScript::get(s.viewer.asObject(), "view").asObject(), "scale").asNumber(), 1.05, 1e-9);
    ASSERT_TRUE(PageScript::call(s.viewer.asObject(), "command", {ScriptValue::number(130)}, ignored));
    EXPECT_EQ(s.field(PageScript::get(s.viewer.asObject(), "view"), "scale"), "1");
    std::string exception;
    EXPECT_FALSE(PageScript::call(s.viewer.asObject(), "command", {ScriptValue::string("zoom-sideways")}, ignored,
                                  &exception));
    EXPECT_NE(exception.find("zoom-sideways"), std::string::npos) << exception;

    // The page may keep the object after the instance is gone: it answers null.
    s.shown.instance.destroy();
    EXPECT_EQ(PageScript::get(s.viewer.asObject(), "view").describe(), "null");
    EXPECT_EQ(PageScript::get(s.viewer.asObject(), "hotspots").describe(), "null");
    EXPECT_TRUE(PageScript::call(s.viewer.asObject(), "zoomToHotspot", {ScriptValue::string("815")}, ignored));
    EXPECT_EQ(ignored.describe(), "false");
}

// Every event the element raises, as the page's listeners on <embed> see them.
struct Recorded {
    std::string type;
    std::map<std::string, std::string> detail;
};

TEST(PluginScripting, EventsAreRaisedOnThePluginsElement)
{
    Shown shown(500, 440);
    ASSERT_EQ(shown.instance.create(), NPERR_NO_ERROR);
    std::vector<Recorded> events;
    bool cancelNavigation = false;
    const std::map<std::string, std::vector<std::string>> fields = {
        {"htf-load", {"width", "height", "hotspots"}},
        {"htf-error", {"message"}},
        {"htf-hotspotenter", {"ref", "text"}},
        {"htf-hotspotleave", {"ref", "text"}},
        {"htf-viewchange", {"scale", "x", "y", "width", "height"}},
        {"htf-navigate", {"url", "frame", "ref", "text"}},
    };
    for (const auto& type : fields) {
        PageScript::addEventListener(shown.instance.npp(), type.first, [&, type](NPObject* event) {
            Recorded recorded{type.first, {}};
            const ScriptValue detail = PageScript::get(event, "detail");
            for (const std::string& name : type.second)
                recorded.detail[name] = PageScript::get(detail.asObject(), name).describe();
            recorded.detail["bubbles"] = PageScript::get(event, "bubbles").describe();
            recorded.detail["cancelable"] = PageScript::get(event, "cancelable").describe();
            events.push_back(recorded);
            if (type.first == "htf-navigate" && cancelNavigation)
                PageScript::preventDefault(event);
        });
    }
    auto count = [&](const std::string& type) {
        int n = 0;
        for (const Recorded& r : events)
            n += r.type == type;
        return n;
    };
    auto last = [&](const std::string& type) {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->type == type)
                return it->detail;
        return std::map<std::string, std::string>();
    };
    ASSERT_EQ(shown.instance.setWindow(shown.host()), NPERR_NO_ERROR);
    ASSERT_EQ(shown.instance.stream(pageApiDocument()), NPERR_NO_ERROR);
    pumpMessages();
    ASSERT_EQ(count("htf-load"), 1);
    EXPECT_EQ(last("htf-load"), (std::map<std::string, std::string>{{"width", "400"}, {"height", "300"},
                                                                      {"hotspots", "3"}, {"bubbles", "true"},
                                                                      {"cancelable", "false"}}));
    ScriptValue viewer = shown.instance.scriptable();
    ScriptValue ignored;
    PageScript::call(viewer.asObject(), "command", {ScriptValue::string("actual-size")}, ignored);
    pumpMessages();

    // Hover: enter, then leave.
    HWND view = viewIn(shown.host());
    RECT client = {};
    GetClientRect(view, &client);
    const POINT origin = {(client.right - 400) / 2, (client.bottom - 300) / 2};
    events.clear();
    pointerMove(view, {origin.x + 70, origin.y + 50});
    pumpMessages();
    pointerMove(view, {origin.x + 5, origin.y + 5});
    pumpMessages();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, "htf-hotspotenter");
    EXPECT_EQ(events[0].detail["ref"], "815");
    EXPECT_EQ(events[0].detail["text"], "Town hall");
    EXPECT_EQ(events[1].type, "htf-hotspotleave");
    EXPECT_EQ(events[1].detail["ref"], "815");

    // View changes: once a message-loop turn.
    events.clear();
    for (int i = 0; i < 3; ++i)
        PageScript::call(viewer.asObject(), "command", {ScriptValue::string("zoom-in")}, ignored);
    pumpMessages();
    EXPECT_EQ(count("htf-viewchange"), 1);
    EXPECT_EQ(last("htf-viewchange")["scale"], "1.25");

    // htf-navigate before the browser is asked; preventDefault stops it.
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "not cancelled");
        PageScript::call(viewer.asObject(), "command", {ScriptValue::string("actual-size")}, ignored);
        pumpMessages();
        events.clear();
        PluginModule::urlRequests().clear();
        cancelNavigation = cancel;
        pointerClick(view, {origin.x + 70, origin.y + 50});
        pumpMessages();
        ASSERT_EQ(count("htf-navigate"), 1);
        EXPECT_EQ(last("htf-navigate"),
                  (std::map<std::string, std::string>{{"url", "/servlets/ZevuRedor?ShtmlFile=815"}, {"frame", "_self"},
                                                      {"ref", "815"}, {"text", "Town hall"}, {"bubbles", "true"},
                                                      {"cancelable", "true"}}));
        EXPECT_EQ(PluginModule::urlRequests().size(), cancel ? 0u : 1u);
    }

    // A document that cannot be read.
    events.clear();
    {
        DialogWatcher readerBox;
        const std::vector<uint8_t> damaged = {'n', 'o', 't', ' ', 'T', 'I', 'F', 'F'};
        ASSERT_EQ(shown.instance.stream(damaged), NPERR_NO_ERROR);
        pumpMessages();
    }
    EXPECT_EQ(count("htf-load"), 0);
    ASSERT_EQ(count("htf-error"), 1);
    EXPECT_EQ(last("htf-error")["message"], "The document could not be read");
}

} // namespace
