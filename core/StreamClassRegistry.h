#pragma once
// Maps a class name of the hotspot stream to a prototype of that class.
#include "StreamObject.h"

#include <map>
#include <memory>
#include <string>

class StreamClassRegistry {
public:
    // Registers one prototype of every known class, keyed by its className().
    StreamClassRegistry();
    StreamClassRegistry(const StreamClassRegistry&) = delete;
    StreamClassRegistry& operator=(const StreamClassRegistry&) = delete;
    ~StreamClassRegistry();

    // A new, empty object of the named class, or null when no class has that
    // name. Names compare byte by byte over their full length.
    std::unique_ptr<StreamObject> createObject(const std::string& name) const;

    std::size_t size() const { return prototypes_.size(); }

private:
    void add(std::unique_ptr<StreamObject> prototype);

    std::map<std::string, std::unique_ptr<StreamObject>> prototypes_;
};
