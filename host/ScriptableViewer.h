#pragma once
// The plug-in's scriptable object (NPPVpluginScriptableNPObject): the
// viewer's page API in the browser element's spelling, so that one page
// script serves <embed> and <htf-viewer> alike: the properties `hotspots`
// ([{ref, text, x, y, width, height}] in document order) and `view` ({scale,
// x, y, width, height}, null without a document), and the methods
// zoomToHotspot(ref), highlight(ref) (null or "" clears) and command(name)
// (an unknown name throws). The browser may keep the object after its
// instance is gone: it then answers nothing.
#include "NpapiAbi.h"

struct PluginInstance;

struct ScriptableViewer : NPObject {
    // A new object made through the browser for `instance`, with one
    // reference for the caller; null when the browser cannot make one.
    static ScriptableViewer* create(NPP npp, PluginInstance* instance);
    // The instance is going: the object stops answering.
    void detach() { instance = nullptr; }

    NPP npp = nullptr;
    PluginInstance* instance = nullptr;
};
