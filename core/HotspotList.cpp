#include "HotspotList.h"

void HotspotList::destroyAll()
{
    // Destroy in insertion order, as documented, rather than in whatever
    // order the container would pick.
    for (Element& item : items_)
        item.reset();
    items_.clear();
}
