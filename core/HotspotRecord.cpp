#include "HotspotRecord.h"

#include "HotspotStream.h"

std::unique_ptr<StreamObject> HotspotRecord::newInstance() const
{
    return std::make_unique<HotspotRecord>();
}

void HotspotRecord::load(std::istream& in)
{
    readNarrowString(in, reference);
    readNarrowString(in, info);
    readWideString(in, text);
    readInt32(in, left);
    readInt32(in, top);
    readInt32(in, right);
    readInt32(in, bottom);
}

void HotspotRecord::save(std::ostream& out) const
{
    writeNarrowString(out, reference);
    writeNarrowString(out, info);
    writeWideString(out, text);
    writeInt32(out, left);
    writeInt32(out, top);
    writeInt32(out, right);
    writeInt32(out, bottom);
}
