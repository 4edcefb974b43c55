#include "ViewerPage.h"

#include "AnsiText.h"
#include "CommandIds.h"
#include "HotspotRecord.h"
#include "TiffView.h"

#include <windows.h>

namespace {

// The element's command names; "lens" and "magnifier" are one command.
struct NamedCommand {
    const char* name;
    int id;
};
constexpr NamedCommand kCommands[] = {
    {"pointer", ID_POINTER},         {"zoom-in", ID_ZOOM_IN},         {"zoom-out", ID_ZOOM_OUT},
    {"magnifier", ID_MAGNIFIER},     {"lens", ID_MAGNIFIER},          {"pan", ID_PAN},
    {"fit-window", ID_FIT_WINDOW},   {"fit-height", ID_FIT_HEIGHT},   {"fit-width", ID_FIT_WIDTH},
    {"actual-size", ID_ACTUAL_SIZE}, {"print", ID_PRINT},
};

} // namespace

size_t ViewerPage::hotspotCount() const
{
    return view_.hotspots().size();
}

PageHotspot ViewerPage::hotspot(size_t index) const
{
    return view_.pageHotspot(index);
}

std::vector<PageHotspot> ViewerPage::hotspots() const
{
    std::vector<PageHotspot> all;
    all.reserve(hotspotCount());
    for (size_t i = 0; i < hotspotCount(); ++i)
        all.push_back(view_.pageHotspot(i));
    return all;
}

PageView ViewerPage::view() const
{
    return view_.pageView();
}

std::vector<int32_t> ViewerPage::indicesOf(const std::u16string& ref) const
{
    std::vector<int32_t> found;
    std::string ansi;
    if (ref.empty() || !toAnsiExactly(reinterpret_cast<const wchar_t*>(ref.data()), ref.size(), ansi))
        return found;
    const auto& hotspots = view_.hotspots();
    for (size_t i = 0; i < hotspots.size(); ++i)
        if (hotspots[i]->hotspot && hotspots[i]->hotspot->reference == ansi)
            found.push_back(int32_t(i));
    return found;
}

bool ViewerPage::zoomToHotspot(const std::u16string& ref)
{
    const std::vector<int32_t> found = indicesOf(ref);
    return !found.empty() && view_.zoomToHotspot(size_t(found.front()));
}

void ViewerPage::highlight(const std::u16string& ref)
{
    view_.setHighlight(indicesOf(ref));
}

int ViewerPage::commandId(const std::string& name)
{
    for (const NamedCommand& command : kCommands)
        if (name == command.name)
            return command.id;
    return 0;
}

bool ViewerPage::command(const std::string& name)
{
    const int id = commandId(name);
    if (!id)
        return false;
    if (runCommand_)
        runCommand_(id);
    return true;
}

std::u16string ViewerPage::unknownCommandText(const std::u16string& name)
{
    std::u16string text = u"No command \"" + name + u"\": the commands are ";
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        if (i)
            text += i + 1 == std::size(kCommands) ? u" and " : u", ";
        for (const char* c = kCommands[i].name; *c; ++c)
            text += char16_t(*c);
    }
    return text;
}

std::u16string ViewerPage::fromAnsi(const std::string& text)
{
    if (text.empty())
        return std::u16string();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0)
        return std::u16string();
    std::u16string wide(size_t(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), reinterpret_cast<wchar_t*>(&wide[0]), length);
    return wide;
}
