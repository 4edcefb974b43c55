#pragma once
// The plug-in's side of the browser's scripting: values for the page's
// script made through the browser's own calls (strings in browser memory,
// objects from the page's `Object` and `Array`), and events raised on the
// plug-in's element of the page as the browser element raises them
// (bubbling CustomEvents with a `detail`). Everything goes through the
// browser's function table; a browser without the scripting calls, or a
// page without a window or element, gets no events.
#include "NpapiAbi.h"

#include <string>
#include <utility>
#include <vector>

namespace BrowserScript {

// Whether the browser's table offers every call used here.
bool available();
NPIdentifier identifier(const char* name);

// Values handed to the page (the receiver releases them).
NPVariant stringValue(const std::u16string& text);
NPVariant stringValue(const std::string& utf8);
NPVariant numberValue(double number);
NPVariant boolValue(bool value);
NPVariant nullValue();
void release(NPVariant& value);
// The text of a page's string value as UTF-16 (empty for other values).
std::u16string textOf(const NPVariant& value);

// One field of an object made for the page.
using Field = std::pair<const char*, NPVariant>;
// A new object of the page's window with `fields` (taken over and
// released); null when the page cannot make one.
NPObject* newObject(NPP npp, std::vector<Field> fields);
// A new array of the page's window holding `items` (taken over).
NPObject* newArray(NPP npp, std::vector<NPVariant> items);

// Raises `type` on the instance's element with a detail object of
// `fields` (taken over); false when the event was cancelable and a
// listener prevented its default. The listeners may destroy the instance:
// `npp` is not used once they ran.
bool raiseEvent(NPP npp, const char* type, std::vector<Field> fields, bool cancelable = false);

} // namespace BrowserScript
