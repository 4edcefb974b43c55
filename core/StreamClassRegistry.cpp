#include "StreamClassRegistry.h"

#include "HotspotRecord.h"

StreamClassRegistry::StreamClassRegistry()
{
    add(std::make_unique<HotspotRecord>());
}

StreamClassRegistry::~StreamClassRegistry()
{
    while (!prototypes_.empty())
        prototypes_.erase(prototypes_.begin());
}

void StreamClassRegistry::add(std::unique_ptr<StreamObject> prototype)
{
    std::string name = prototype->className();
    prototypes_.emplace(std::move(name), std::move(prototype));
}

std::unique_ptr<StreamObject> StreamClassRegistry::createObject(const std::string& name) const
{
    auto found = prototypes_.find(name);   // std::string compares length and bytes
    if (found == prototypes_.end())
        return nullptr;
    return found->second->newInstance();
}
