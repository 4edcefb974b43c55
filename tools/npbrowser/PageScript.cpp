#include "PageScript.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

NPN_MemAllocProcPtr memAlloc = nullptr;
NPN_MemFreeProcPtr memFree = nullptr;
std::string exceptionMessage;
bool exceptionSet = false;
int pageObjects = 0;

// Identifiers: one record a name or number, for the life of the process.
struct Identifier {
    bool isString;
    std::string name;
    int32_t number;
};
std::map<std::string, std::unique_ptr<Identifier>>& stringIdentifiers()
{
    static auto* table = new std::map<std::string, std::unique_ptr<Identifier>>;
    return *table;
}
std::map<int32_t, std::unique_ptr<Identifier>>& intIdentifiers()
{
    static auto* table = new std::map<int32_t, std::unique_ptr<Identifier>>;
    return *table;
}

NPIdentifier stringIdentifier(const NPUTF8* name)
{
    if (!name)
        return nullptr;
    auto& entry = stringIdentifiers()[name];
    if (!entry)
        entry.reset(new Identifier{true, name, 0});
    return entry.get();
}

NPIdentifier intIdentifier(int32_t value)
{
    auto& entry = intIdentifiers()[value];
    if (!entry)
        entry.reset(new Identifier{false, std::string(), value});
    return entry.get();
}

const Identifier* identifierOf(NPIdentifier id)
{
    return static_cast<const Identifier*>(id);
}

// The key of a property in a page object: a name, or an index as decimal text.
std::string keyOf(NPIdentifier id)
{
    const Identifier* identifier = identifierOf(id);
    if (!identifier)
        return std::string();
    return identifier->isString ? identifier->name : std::to_string(identifier->number);
}

// A page object: properties, methods made in C++, and an array's length.
struct PageObject : NPObject {
    using Method = std::function<bool(PageObject& self, const std::vector<ScriptValue>& arguments,
                                      ScriptValue& result)>;
    std::map<std::string, ScriptValue> properties;
    std::map<std::string, Method> methods;
    bool isArray = false;
};

NPObject* allocatePage(NPP, NPClass*)
{
    ++pageObjects;
    return new PageObject;
}
void deallocatePage(NPObject* object)
{
    --pageObjects;
    delete static_cast<PageObject*>(object);
}
bool pageHasMethod(NPObject* object, NPIdentifier name)
{
    return static_cast<PageObject*>(object)->methods.count(keyOf(name)) != 0;
}
bool pageInvoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    auto* page = static_cast<PageObject*>(object);
    const auto method = page->methods.find(keyOf(name));
    if (method == page->methods.end())
        return false;
    std::vector<ScriptValue> arguments;
    for (uint32_t i = 0; i < count; ++i)
        arguments.push_back(ScriptValue::of(args[i]));
    ScriptValue value;
    // The method may drop the object's last reference: it is held meanwhile.
    NPObject* held = object;
    ++held->referenceCount;
    const PageObject::Method call = method->second;
    const bool done = call(*page, arguments, value);
    *result = value.toVariant();
    if (--held->referenceCount == 0)
        deallocatePage(held);
    return done;
}
bool pageHasProperty(NPObject* object, NPIdentifier name)
{
    auto* page = static_cast<PageObject*>(object);
    return page->properties.count(keyOf(name)) != 0 || (page->isArray && keyOf(name) == "length");
}
bool pageGetProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    auto* page = static_cast<PageObject*>(object);
    const std::string key = keyOf(name);
    const auto found = page->properties.find(key);
    if (found != page->properties.end()) {
        *result = found->second.toVariant();
        return true;
    }
    result->type = NPVariantType_Void;
    return false;
}
bool pageSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
{
    auto* page = static_cast<PageObject*>(object);
    const std::string key = keyOf(name);
    page->properties[key] = ScriptValue::of(*value);
    const Identifier* identifier = identifierOf(name);
    if (page->isArray && identifier && !identifier->isString) {
        const double length = page->properties["length"].asNumber();
        if (identifier->number + 1.0 > length)
            page->properties["length"] = ScriptValue::number(identifier->number + 1.0);
    }
    return true;
}
bool pageRemoveProperty(NPObject* object, NPIdentifier name)
{
    return static_cast<PageObject*>(object)->properties.erase(keyOf(name)) != 0;
}

NPClass pageClass = {NP_CLASS_STRUCT_VERSION, allocatePage, deallocatePage, nullptr, pageHasMethod, pageInvoke,
                     nullptr, pageHasProperty, pageGetProperty, pageSetProperty, pageRemoveProperty, nullptr,
                     nullptr};

// The browser's object calls.
NPObject* createObject(NPP npp, NPClass* type)
{
    if (!type)
        return nullptr;
    NPObject* object = type->allocate ? type->allocate(npp, type) : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
    if (!object)
        return nullptr;
    object->_class = type;
    object->referenceCount = 1;
    return object;
}
NPObject* retainObject(NPObject* object)
{
    if (object)
        ++object->referenceCount;
    return object;
}
void releaseObject(NPObject* object)
{
    if (!object || --object->referenceCount != 0)
        return;
    if (object->_class && object->_class->deallocate)
        object->_class->deallocate(object);
    else
        std::free(object);
}

PageObject* newPageObject(bool isArray = false)
{
    auto* object = static_cast<PageObject*>(createObject(nullptr, &pageClass));
    object->isArray = isArray;
    if (isArray)
        object->properties["length"] = ScriptValue::number(0);
    return object;
}

void releaseVariant(NPVariant* variant)
{
    if (!variant)
        return;
    if (variant->type == NPVariantType_String && memFree)
        memFree(const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters));
    else if (variant->type == NPVariantType_Object)
        releaseObject(variant->value.objectValue);
    variant->type = NPVariantType_Void;
}

bool invokeObject(NPP, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    result->type = NPVariantType_Void;
    if (!object || !object->_class || !object->_class->invoke)
        return false;
    return object->_class->invoke(object, name, args, count, result);
}
bool invokeDefault(NPP, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
{
    result->type = NPVariantType_Void;
    if (!object || !object->_class || !object->_class->invokeDefault)
        return false;
    return object->_class->invokeDefault(object, args, count, result);
}
bool evaluate(NPP, NPObject*, NPString*, NPVariant* result)
{
    result->type = NPVariantType_Void;
    return false;   // this page runs no script text
}
bool getProperty(NPP, NPObject* object, NPIdentifier name, NPVariant* result)
{
    result->type = NPVariantType_Void;
    if (!object || !object->_class || !object->_class->getProperty)
        return false;
    return object->_class->getProperty(object, name, result);
}
bool setProperty(NPP, NPObject* object, NPIdentifier name, const NPVariant* value)
{
    if (!object || !object->_class || !object->_class->setProperty)
        return false;
    return object->_class->setProperty(object, name, value);
}
bool removeProperty(NPP, NPObject* object, NPIdentifier name)
{
    return object && object->_class && object->_class->removeProperty &&
           object->_class->removeProperty(object, name);
}
bool hasProperty(NPP, NPObject* object, NPIdentifier name)
{
    return object && object->_class && object->_class->hasProperty && object->_class->hasProperty(object, name);
}
bool hasMethod(NPP, NPObject* object, NPIdentifier name)
{
    return object && object->_class && object->_class->hasMethod && object->_class->hasMethod(object, name);
}
void setException(NPObject*, const NPUTF8* message)
{
    exceptionSet = true;
    exceptionMessage = message ? message : "";
}

void getStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* identifiers)
{
    for (int32_t i = 0; i < count; ++i)
        identifiers[i] = stringIdentifier(names[i]);
}
bool identifierIsString(NPIdentifier id)
{
    return identifierOf(id) && identifierOf(id)->isString;
}
NPUTF8* utf8FromIdentifier(NPIdentifier id)
{
    const Identifier* identifier = identifierOf(id);
    if (!identifier || !identifier->isString || !memAlloc)
        return nullptr;
    auto* text = static_cast<NPUTF8*>(memAlloc(uint32_t(identifier->name.size() + 1)));
    if (text)
        std::memcpy(text, identifier->name.c_str(), identifier->name.size() + 1);
    return text;
}
int32_t intFromIdentifier(NPIdentifier id)
{
    const Identifier* identifier = identifierOf(id);
    return identifier && !identifier->isString ? identifier->number : 0;
}

// The page of each instance.
struct Page {
    PageObject* window = nullptr;
    PageObject* element = nullptr;
    std::map<std::string, std::vector<PageScript::Listener>> listeners;
};
std::map<NPP, Page>& pages()
{
    static auto* all = new std::map<NPP, Page>;
    return *all;
}

PageObject* newEvent()
{
    PageObject* event = newPageObject();
    event->methods["initCustomEvent"] = [](PageObject& self, const std::vector<ScriptValue>& arguments,
                                           ScriptValue&) {
        if (arguments.size() < 4)
            return false;
        self.properties["type"] = arguments[0];
        self.properties["bubbles"] = ScriptValue::boolean(arguments[1].asBool());
        self.properties["cancelable"] = ScriptValue::boolean(arguments[2].asBool());
        self.properties["detail"] = arguments[3];
        self.properties["defaultPrevented"] = ScriptValue::boolean(false);
        return true;
    };
    event->methods["preventDefault"] = [](PageObject& self, const std::vector<ScriptValue>&, ScriptValue&) {
        if (self.properties["cancelable"].asBool())
            self.properties["defaultPrevented"] = ScriptValue::boolean(true);
        return true;
    };
    return event;
}

NPError getValue(NPP npp, int variable, void* value)
{
    if (!value)
        return NPERR_INVALID_PARAM;
    const auto page = pages().find(npp);
    if (page == pages().end())
        return NPERR_INVALID_INSTANCE_ERROR;
    NPObject* object = nullptr;
    if (variable == NPNVWindowNPObject)
        object = page->second.window;
    else if (variable == NPNVPluginElementNPObject)
        object = page->second.element;
    else
        return NPERR_GENERIC_ERROR;
    *static_cast<NPObject**>(value) = retainObject(object);
    return NPERR_NO_ERROR;
}

} // namespace

// ScriptValue

ScriptValue::ScriptValue(const ScriptValue& other)
    : type_(other.type_), boolean_(other.boolean_), number_(other.number_), text_(other.text_),
      object_(retainObject(other.object_))
{
}

ScriptValue& ScriptValue::operator=(const ScriptValue& other)
{
    if (this != &other) {
        NPObject* previous = object_;
        type_ = other.type_;
        boolean_ = other.boolean_;
        number_ = other.number_;
        text_ = other.text_;
        object_ = retainObject(other.object_);
        releaseObject(previous);
    }
    return *this;
}

ScriptValue::~ScriptValue()
{
    releaseObject(object_);
}

ScriptValue ScriptValue::null()
{
    ScriptValue value;
    value.type_ = Type::Null;
    return value;
}

ScriptValue ScriptValue::boolean(bool b)
{
    ScriptValue value;
    value.type_ = Type::Bool;
    value.boolean_ = b;
    return value;
}

ScriptValue ScriptValue::number(double n)
{
    ScriptValue value;
    value.type_ = Type::Number;
    value.number_ = n;
    return value;
}

ScriptValue ScriptValue::string(const std::string& utf8)
{
    ScriptValue value;
    value.type_ = Type::String;
    value.text_ = utf8;
    return value;
}

ScriptValue ScriptValue::object(NPObject* object)
{
    ScriptValue value;
    value.type_ = object ? Type::Object : Type::Null;
    value.object_ = retainObject(object);
    return value;
}

ScriptValue ScriptValue::of(const NPVariant& variant)
{
    switch (variant.type) {
    case NPVariantType_Null: return null();
    case NPVariantType_Bool: return boolean(variant.value.boolValue);
    case NPVariantType_Int32: return number(variant.value.intValue);
    case NPVariantType_Double: return number(variant.value.doubleValue);
    case NPVariantType_String:
        return string(std::string(variant.value.stringValue.UTF8Characters ? variant.value.stringValue.UTF8Characters : "",
                                  variant.value.stringValue.UTF8Length));
    case NPVariantType_Object: return object(variant.value.objectValue);
    default: return ScriptValue();
    }
}

NPVariant ScriptValue::toVariant() const
{
    NPVariant variant = {};
    switch (type_) {
    case Type::Void: variant.type = NPVariantType_Void; break;
    case Type::Null: variant.type = NPVariantType_Null; break;
    case Type::Bool:
        variant.type = NPVariantType_Bool;
        variant.value.boolValue = boolean_;
        break;
    case Type::Number:
        variant.type = NPVariantType_Double;
        variant.value.doubleValue = number_;
        break;
    case Type::String: {
        variant.type = NPVariantType_String;
        auto* text = static_cast<NPUTF8*>(memAlloc ? memAlloc(uint32_t(text_.size() + 1)) : nullptr);
        if (text)
            std::memcpy(text, text_.c_str(), text_.size() + 1);
        variant.value.stringValue = {text, text ? uint32_t(text_.size()) : 0};
        break;
    }
    case Type::Object:
        variant.type = NPVariantType_Object;
        variant.value.objectValue = retainObject(object_);
        break;
    }
    return variant;
}

std::string ScriptValue::describe() const
{
    switch (type_) {
    case Type::Void: return "undefined";
    case Type::Null: return "null";
    case Type::Bool: return boolean_ ? "true" : "false";
    case Type::Number: {
        char text[32];
        std::snprintf(text, sizeof text, "%g", number_);
        return text;
    }
    case Type::String: return text_;
    case Type::Object: return "[object]";
    }
    return std::string();
}

// PageScript

void PageScript::fillTable(NPNetscapeFuncs& table)
{
    memAlloc = table.memalloc;
    memFree = table.memfree;
    table.getvalue = getValue;
    table.getstringidentifier = stringIdentifier;
    table.getstringidentifiers = getStringIdentifiers;
    table.getintidentifier = intIdentifier;
    table.identifierisstring = identifierIsString;
    table.utf8fromidentifier = utf8FromIdentifier;
    table.intfromidentifier = intFromIdentifier;
    table.createobject = createObject;
    table.retainobject = retainObject;
    table.releaseobject = releaseObject;
    table.invoke = invokeObject;
    table.invokeDefault = invokeDefault;
    table.evaluate = evaluate;
    table.getproperty = getProperty;
    table.setproperty = setProperty;
    table.removeproperty = removeProperty;
    table.hasproperty = hasProperty;
    table.hasmethod = hasMethod;
    table.releasevariantvalue = releaseVariant;
    table.setexception = setException;
}

void PageScript::openPage(NPP npp)
{
    closePage(npp);
    Page& page = pages()[npp];
    page.window = newPageObject();
    PageObject* document = newPageObject();
    document->methods["createEvent"] = [](PageObject&, const std::vector<ScriptValue>& arguments,
                                          ScriptValue& result) {
        if (arguments.empty() || (arguments[0].asString() != "CustomEvent" && arguments[0].asString() != "Event"))
            return false;
        PageObject* event = newEvent();
        result = ScriptValue::object(event);
        releaseObject(event);
        return true;
    };
    page.window->properties["document"] = ScriptValue::object(document);
    releaseObject(document);
    for (bool isArray : {false, true}) {
        page.window->methods[isArray ? "Array" : "Object"] = [isArray](PageObject&, const std::vector<ScriptValue>&,
                                                                       ScriptValue& result) {
            PageObject* made = newPageObject(isArray);
            result = ScriptValue::object(made);
            releaseObject(made);
            return true;
        };
    }
    page.element = newPageObject();
    page.element->methods["dispatchEvent"] = [npp](PageObject&, const std::vector<ScriptValue>& arguments,
                                                   ScriptValue& result) {
        if (arguments.empty() || !arguments[0].isObject())
            return false;
        const ScriptValue event = arguments[0];   // held while the listeners run
        const auto page = pages().find(npp);
        std::vector<Listener> listeners;
        if (page != pages().end()) {
            const auto found = page->second.listeners.find(get(event.asObject(), "type").asString());
            if (found != page->second.listeners.end())
                listeners = found->second;
        }
        // A listener may close the page (its instance destroyed): the copy runs on.
        for (const Listener& listener : listeners)
            listener(event.asObject());
        result = ScriptValue::boolean(!get(event.asObject(), "defaultPrevented").asBool());
        return true;
    };
}

void PageScript::closePage(NPP npp)
{
    const auto page = pages().find(npp);
    if (page == pages().end())
        return;
    PageObject* window = page->second.window;
    PageObject* element = page->second.element;
    pages().erase(page);
    releaseObject(window);
    releaseObject(element);
}

void PageScript::addEventListener(NPP npp, const std::string& type, Listener listener)
{
    pages()[npp].listeners[type].push_back(std::move(listener));
}

ScriptValue PageScript::get(NPObject* object, const std::string& name)
{
    NPVariant result = {};
    if (!getProperty(nullptr, object, stringIdentifier(name.c_str()), &result))
        return ScriptValue();
    ScriptValue value = ScriptValue::of(result);
    releaseVariant(&result);
    return value;
}

ScriptValue PageScript::get(NPObject* object, int32_t index)
{
    NPVariant result = {};
    if (!getProperty(nullptr, object, intIdentifier(index), &result))
        return ScriptValue();
    ScriptValue value = ScriptValue::of(result);
    releaseVariant(&result);
    return value;
}

bool PageScript::has(NPObject* object, const std::string& name)
{
    const NPIdentifier id = stringIdentifier(name.c_str());
    return hasProperty(nullptr, object, id) || hasMethod(nullptr, object, id);
}

bool PageScript::call(NPObject* object, const std::string& name, const std::vector<ScriptValue>& arguments,
                      ScriptValue& result, std::string* exception)
{
    std::vector<NPVariant> variants;
    for (const ScriptValue& argument : arguments)
        variants.push_back(argument.toVariant());
    exceptionSet = false;
    exceptionMessage.clear();
    NPVariant answer = {};
    const bool done = invokeObject(nullptr, object, stringIdentifier(name.c_str()), variants.data(),
                                   uint32_t(variants.size()), &answer);
    for (NPVariant& variant : variants)
        releaseVariant(&variant);
    result = done ? ScriptValue::of(answer) : ScriptValue();
    releaseVariant(&answer);
    if (exception)
        *exception = exceptionSet ? exceptionMessage : std::string();
    return done && !exceptionSet;
}

void PageScript::preventDefault(NPObject* event)
{
    ScriptValue ignored;
    call(event, "preventDefault", {}, ignored);
}

int PageScript::liveObjects()
{
    return pageObjects;
}
