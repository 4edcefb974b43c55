#pragma once
// Abstract base of every object a hotspot stream can carry. The stream names
// each object's class; the reader makes an empty object of that class through
// a prototype and lets it read its own body.
#include <iosfwd>
#include <memory>

class StreamObject {
public:
    virtual ~StreamObject() = default;

    // Name under which the class stands in the stream; the same for every object.
    virtual const char* className() const = 0;
    // A new, empty object of the same class; nothing of this object is copied.
    virtual std::unique_ptr<StreamObject> newInstance() const = 0;
    // Reads / writes the object's body (not its class name).
    virtual void load(std::istream& in) = 0;
    virtual void save(std::ostream& out) const = 0;

protected:
    StreamObject() = default;
    StreamObject(const StreamObject&) = delete;
    StreamObject& operator=(const StreamObject&) = delete;
};
