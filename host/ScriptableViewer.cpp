#include "ScriptableViewer.h"

#include "BrowserScript.h"
#include "CommandIds.h"
#include "PluginInstance.h"
#include "ViewerContainer.h"
#include "ViewerPage.h"

#include <new>
#include <string>

namespace {

enum class Member { None, Hotspots, View, ZoomToHotspot, Highlight, Command };

Member memberOf(NPIdentifier name, bool method)
{
    NPNetscapeFuncs* table = browserFunctions();
    if (!table || !table->identifierisstring || !table->utf8fromidentifier || !table->identifierisstring(name))
        return Member::None;
    NPUTF8* text = table->utf8fromidentifier(name);
    if (!text)
        return Member::None;
    const std::string member = text;
    table->memfree(text);
    if (method) {
        if (member == "zoomToHotspot")
            return Member::ZoomToHotspot;
        if (member == "highlight")
            return Member::Highlight;
        if (member == "command")
            return Member::Command;
    } else {
        if (member == "hotspots")
            return Member::Hotspots;
        if (member == "view")
            return Member::View;
    }
    return Member::None;
}

ViewerContainer* containerOf(NPObject* object)
{
    PluginInstance* instance = static_cast<ScriptableViewer*>(object)->instance;
    return instance && !instance->destroyRequested ? instance->container.get() : nullptr;
}

NPObject* allocate(NPP, NPClass*)
{
    return new (std::nothrow) ScriptableViewer;
}

void deallocate(NPObject* object)
{
    delete static_cast<ScriptableViewer*>(object);
}

void invalidate(NPObject* object)
{
    static_cast<ScriptableViewer*>(object)->detach();
}

bool hasMethod(NPObject*, NPIdentifier name)
{
    return memberOf(name, true) != Member::None;
}

bool hasProperty(NPObject*, NPIdentifier name)
{
    return memberOf(name, false) != Member::None;
}

NPVariant hotspotValue(NPP npp, const PageHotspot& hotspot)
{
    using namespace BrowserScript;
    NPObject* object = newObject(npp, {{"ref", stringValue(ViewerPage::fromAnsi(hotspot.ref))},
                                       {"text", stringValue(hotspot.text)},
                                       {"x", numberValue(hotspot.x)},
                                       {"y", numberValue(hotspot.y)},
                                       {"width", numberValue(hotspot.width)},
                                       {"height", numberValue(hotspot.height)}});
    NPVariant value = nullValue();
    if (object) {
        value.type = NPVariantType_Object;
        value.value.objectValue = object;
    }
    return value;
}

bool getProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    using namespace BrowserScript;
    *result = nullValue();
    const Member member = memberOf(name, false);
    if (member == Member::None)
        return false;
    // An object whose instance is gone answers null (its NPP is gone too).
    if (!static_cast<ScriptableViewer*>(object)->instance)
        return true;
    ViewerContainer* container = containerOf(object);
    const NPP npp = static_cast<ScriptableViewer*>(object)->npp;
    if (member == Member::Hotspots) {
        std::vector<NPVariant> items;
        if (container)
            for (const PageHotspot& hotspot : container->page().hotspots())
                items.push_back(hotspotValue(npp, hotspot));
        if (NPObject* array = newArray(npp, std::move(items))) {
            result->type = NPVariantType_Object;
            result->value.objectValue = array;
        }
        return true;
    }
    // The view: null without a document, as the element's.
    if (!container || !container->view().image())
        return true;
    const PageView view = container->page().view();
    if (NPObject* made = newObject(npp, {{"scale", numberValue(view.scale)},
                                         {"x", numberValue(view.x)},
                                         {"y", numberValue(view.y)},
                                         {"width", numberValue(view.width)},
                                         {"height", numberValue(view.height)}})) {
        result->type = NPVariantType_Object;
        result->value.objectValue = made;
    }
    return true;
}

bool invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    using namespace BrowserScript;
    *result = nullValue();
    const Member member = memberOf(name, true);
    if (member == Member::None)
        return false;
    PluginInstance* instance = static_cast<ScriptableViewer*>(object)->instance;
    ViewerContainer* container = containerOf(object);
    const NPVariant none = nullValue();
    const NPVariant& argument = count > 0 ? args[0] : none;
    // A command may run the print dialog, inside which the page may go on:
    // the instance is held meanwhile.
    InstanceCall call(container ? instance : nullptr);
    switch (member) {
    case Member::ZoomToHotspot:
        *result = boolValue(container && container->page().zoomToHotspot(textOf(argument)));
        return true;
    case Member::Highlight:
        if (container)
            container->page().highlight(textOf(argument));
        result->type = NPVariantType_Void;
        return true;
    case Member::Command: {
        // A name, or the module's command id, as the element takes them.
        if (argument.type == NPVariantType_Int32 || argument.type == NPVariantType_Double) {
            const double id = argument.type == NPVariantType_Int32 ? argument.value.intValue : argument.value.doubleValue;
            if (id >= ID_ZOOM_IN && id <= ID_POINTER && id == int(id)) {
                if (container)
                    container->runCommand(int(id));
                result->type = NPVariantType_Void;
                return true;
            }
        }
        const std::u16string wide = textOf(argument);
        std::string narrow;
        for (char16_t c : wide)
            narrow += c < 0x80 ? char(c) : '?';
        if (ViewerPage::commandId(narrow) == 0) {
            const std::u16string message = ViewerPage::unknownCommandText(wide);
            std::string utf8;
            NPVariant text = stringValue(message);
            if (text.type == NPVariantType_String)
                utf8.assign(text.value.stringValue.UTF8Characters, text.value.stringValue.UTF8Length);
            release(text);
            if (NPNetscapeFuncs* table = browserFunctions(); table && table->setexception)
                table->setexception(object, utf8.c_str());
            return false;
        }
        if (container)
            container->page().command(narrow);
        result->type = NPVariantType_Void;
        return true;
    }
    default:
        return false;
    }
}

NPClass viewerClass = {NP_CLASS_STRUCT_VERSION, allocate, deallocate, invalidate, hasMethod, invoke, nullptr,
                       hasProperty, getProperty, nullptr, nullptr, nullptr, nullptr};

} // namespace

ScriptableViewer* ScriptableViewer::create(NPP npp, PluginInstance* instance)
{
    if (!BrowserScript::available())
        return nullptr;
    auto* object = static_cast<ScriptableViewer*>(browserFunctions()->createobject(npp, &viewerClass));
    if (object) {
        object->npp = npp;
        object->instance = instance;
    }
    return object;
}
