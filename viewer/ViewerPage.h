#pragma once
// The page's view of one viewer, the same in every host: the hotspots, the
// visible part, zooming to a hotspot, outlining the hotspots of a reference
// and the toolbar's commands by name. Each host adapts it to its own
// conventions (an automation interface, a scriptable object); the names and
// meanings are those of the browser element's page API. Texts cross as
// UTF-16; references are matched in the ANSI code page exactly, as the
// document stores them, so a look-alike character matches nothing.
#include "PageEvents.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TiffView;

class ViewerPage {
public:
    // `runCommand` carries out a toolbar command id as the toolbar does (its
    // check marks included).
    ViewerPage(TiffView& view, std::function<void(int)> runCommand)
        : view_(view), runCommand_(std::move(runCommand))
    {
    }

    size_t hotspotCount() const;
    // Hotspot `index` in document order (empty past the end).
    PageHotspot hotspot(size_t index) const;
    std::vector<PageHotspot> hotspots() const;
    PageView view() const;
    // False when no hotspot has that reference.
    bool zoomToHotspot(const std::u16string& ref);
    // Outlines every hotspot with that reference; an empty one clears.
    void highlight(const std::u16string& ref);
    // Runs a command by the element's name ("zoom-in", "fit-window", ...);
    // false for a name it does not know. Without a document it does nothing.
    // Print runs the print dialog, inside which the page may go on.
    bool command(const std::string& name);
    // The toolbar command id of a name; 0 for none.
    static int commandId(const std::string& name);
    // What a host tells the page of a name commandId does not know.
    static std::u16string unknownCommandText(const std::u16string& name);
    // The document's bytes (ANSI code page) as UTF-16, for the page.
    static std::u16string fromAnsi(const std::string& text);

private:
    // The indices of the hotspots with reference `ref`.
    std::vector<int32_t> indicesOf(const std::u16string& ref) const;

    TiffView& view_;
    std::function<void(int)> runCommand_;
};
