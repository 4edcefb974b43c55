#include "BrowserScript.h"

#include "PluginInstance.h"

#include <windows.h>

#include <cstring>

namespace BrowserScript {

namespace {

NPNetscapeFuncs& table()
{
    return *browserFunctions();
}

// The page's window (retained), or null.
NPObject* windowOf(NPP npp)
{
    NPObject* window = nullptr;
    if (table().getvalue(npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR)
        return nullptr;
    return window;
}

// window[constructor]() as page script calls it: a new object or array.
NPObject* make(NPP npp, const char* constructor)
{
    NPObject* window = windowOf(npp);
    if (!window)
        return nullptr;
    NPVariant made = nullValue();
    NPObject* object = nullptr;
    if (table().invoke(npp, window, identifier(constructor), nullptr, 0, &made) &&
        made.type == NPVariantType_Object) {
        object = made.value.objectValue;
        made.type = NPVariantType_Null;   // the reference is ours now
    }
    release(made);
    table().releaseobject(window);
    return object;
}

} // namespace

bool available()
{
    NPNetscapeFuncs* functions = browserFunctions();
    return functions && NP_TABLE_COVERS(NPNetscapeFuncs, functions, setexception) && functions->getvalue &&
           functions->getstringidentifier && functions->getintidentifier && functions->invoke &&
           functions->getproperty && functions->setproperty && functions->releaseobject &&
           functions->releasevariantvalue && functions->retainobject && functions->createobject;
}

NPIdentifier identifier(const char* name)
{
    return table().getstringidentifier(name);
}

NPVariant stringValue(const std::string& utf8)
{
    NPVariant value = {};
    value.type = NPVariantType_String;
    auto* text = static_cast<NPUTF8*>(table().memalloc(uint32_t(utf8.size() + 1)));
    if (!text)
        return nullValue();
    std::memcpy(text, utf8.c_str(), utf8.size() + 1);
    value.value.stringValue = {text, uint32_t(utf8.size())};
    return value;
}

NPVariant stringValue(const std::u16string& text)
{
    std::string utf8;
    if (!text.empty()) {
        const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            utf8.resize(size_t(bytes));
            WideCharToMultiByte(CP_UTF8, 0, wide, int(text.size()), &utf8[0], bytes, nullptr, nullptr);
        }
    }
    return stringValue(utf8);
}

NPVariant numberValue(double number)
{
    NPVariant value = {};
    value.type = NPVariantType_Double;
    value.value.doubleValue = number;
    return value;
}

NPVariant boolValue(bool b)
{
    NPVariant value = {};
    value.type = NPVariantType_Bool;
    value.value.boolValue = b;
    return value;
}

NPVariant nullValue()
{
    NPVariant value = {};
    value.type = NPVariantType_Null;
    return value;
}

void release(NPVariant& value)
{
    if (value.type == NPVariantType_String || value.type == NPVariantType_Object)
        table().releasevariantvalue(&value);
    value.type = NPVariantType_Void;
}

std::u16string textOf(const NPVariant& value)
{
    if (value.type != NPVariantType_String || !value.value.stringValue.UTF8Characters)
        return std::u16string();
    const NPString& text = value.value.stringValue;
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.UTF8Characters, int(text.UTF8Length), nullptr, 0);
    if (length <= 0)
        return std::u16string();
    std::u16string wide(size_t(length), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.UTF8Characters, int(text.UTF8Length), reinterpret_cast<wchar_t*>(&wide[0]),
                        length);
    return wide;
}

NPObject* newObject(NPP npp, std::vector<Field> fields)
{
    NPObject* object = make(npp, "Object");
    for (Field& field : fields) {
        if (object)
            table().setproperty(npp, object, identifier(field.first), &field.second);
        release(field.second);
    }
    return object;
}

NPObject* newArray(NPP npp, std::vector<NPVariant> items)
{
    NPObject* array = make(npp, "Array");
    for (size_t i = 0; i < items.size(); ++i) {
        if (array)
            table().setproperty(npp, array, table().getintidentifier(int32_t(i)), &items[i]);
        release(items[i]);
    }
    return array;
}

bool raiseEvent(NPP npp, const char* type, std::vector<Field> fields, bool cancelable)
{
    if (!available()) {
        for (Field& field : fields)
            release(field.second);
        return true;
    }
    NPObject* element = nullptr;
    if (table().getvalue(npp, NPNVPluginElementNPObject, &element) != NPERR_NO_ERROR)
        element = nullptr;
    NPObject* window = windowOf(npp);
    NPObject* detail = newObject(npp, std::move(fields));
    // document.createEvent("CustomEvent").initCustomEvent(type, true, cancelable, detail)
    NPVariant document = nullValue(), event = nullValue();
    if (window)
        table().getproperty(npp, window, identifier("document"), &document);
    if (document.type == NPVariantType_Object) {
        NPVariant kind = stringValue(std::string("CustomEvent"));
        table().invoke(npp, document.value.objectValue, identifier("createEvent"), &kind, 1, &event);
        release(kind);
    }
    bool proceed = true;
    if (element && detail && event.type == NPVariantType_Object) {
        NPVariant arguments[4] = {stringValue(std::string(type)), boolValue(true), boolValue(cancelable), {}};
        arguments[3].type = NPVariantType_Object;
        arguments[3].value.objectValue = detail;
        NPVariant ignored = nullValue();
        const bool made = table().invoke(npp, event.value.objectValue, identifier("initCustomEvent"), arguments, 4,
                                         &ignored);
        release(ignored);
        release(arguments[0]);
        // The listeners run inside dispatchEvent: the instance may be gone after it.
        NPVariant answer = nullValue();
        if (made && table().invoke(npp, element, identifier("dispatchEvent"), &event, 1, &answer) &&
            answer.type == NPVariantType_Bool)
            proceed = answer.value.boolValue || !cancelable;
        release(answer);
    }
    release(event);
    release(document);
    if (detail)
        table().releaseobject(detail);
    if (window)
        table().releaseobject(window);
    if (element)
        table().releaseobject(element);
    return proceed;
}

} // namespace BrowserScript
