#pragma once
// The stand-in browser's scripting side, enough for a plug-in that is
// scripted and raises events on its element: identifiers, objects (the
// plug-in's and the page's own) and their values, the NPN_ scripting calls,
// and for each instance a small page: a window with `document`, `Object()`
// and `Array()`, a document whose `createEvent("CustomEvent")` makes events
// (`initCustomEvent`, `preventDefault`, `type`, `detail`, `cancelable`,
// `defaultPrevented`), and the plug-in's element, whose `dispatchEvent` calls
// the listeners a test added and answers false when one prevented the
// default. Tests read and call objects as a page's script would.
#include "NpapiAbi.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// A value held by the page (an object is retained while the value lives).
class ScriptValue {
public:
    enum class Type { Void, Null, Bool, Number, String, Object };

    ScriptValue() = default;
    ScriptValue(const ScriptValue& other);
    ScriptValue& operator=(const ScriptValue& other);
    ~ScriptValue();
    static ScriptValue null();
    static ScriptValue boolean(bool value);
    static ScriptValue number(double value);
    static ScriptValue string(const std::string& utf8);
    static ScriptValue object(NPObject* object);   // retains it
    // A copy of a variant (its string copied, its object retained).
    static ScriptValue of(const NPVariant& variant);
    // A new variant for the plug-in: a string in browser memory, an object retained.
    NPVariant toVariant() const;

    Type type() const { return type_; }
    bool isObject() const { return type_ == Type::Object && object_; }
    bool asBool() const { return type_ == Type::Bool ? boolean_ : type_ == Type::Number ? number_ != 0 : false; }
    double asNumber() const { return type_ == Type::Number ? number_ : 0; }
    const std::string& asString() const { return text_; }
    NPObject* asObject() const { return object_; }
    // As a test prints it: "null", "true", "12.5", the string, "[object]".
    std::string describe() const;

private:
    Type type_ = Type::Void;
    bool boolean_ = false;
    double number_ = 0;
    std::string text_;
    NPObject* object_ = nullptr;
};

class PageScript {
public:
    using Listener = std::function<void(NPObject* event)>;

    // Fills the scripting entries (and getvalue) of a browser table whose
    // memalloc and memfree are set.
    static void fillTable(NPNetscapeFuncs& table);
    // The page around an instance, made when it is created and dropped after
    // it was destroyed.
    static void openPage(NPP npp);
    static void closePage(NPP npp);
    // A listener for events of `type` on the instance's element.
    static void addEventListener(NPP npp, const std::string& type, Listener listener);

    // As page script reads and calls objects (a plug-in's through its class).
    static ScriptValue get(NPObject* object, const std::string& name);
    static ScriptValue get(NPObject* object, int32_t index);
    static bool has(NPObject* object, const std::string& name);
    // Calls method `name`; false when it failed, with the exception the
    // object set (if any) in `exception`.
    static bool call(NPObject* object, const std::string& name, const std::vector<ScriptValue>& arguments,
                     ScriptValue& result, std::string* exception = nullptr);
    static void preventDefault(NPObject* event);

    // Page objects alive (made by the browser, not yet freed).
    static int liveObjects();
};
