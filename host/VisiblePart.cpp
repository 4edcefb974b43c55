#include "VisiblePart.h"

#include <new>

IRAVOVavIrezView* VisiblePart::create(const PageView& view)
{
    return new (std::nothrow) VisiblePart(view);
}
