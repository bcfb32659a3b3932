// The parts of BaseObject that reach into the tag classes (see lum_baseobject.h).
#include "objects/lum_baseobject.h"

namespace lumora {

bool BaseObject::_HasTagClasses() { return false; }

RootList2D* BaseObject::AllocTagList() { return nullptr; }

void BaseObject::SetTagObject(GeListNode*, BaseObject*) {}

void BaseObject::CalculateCrc(Crc32& crc) const { crc.Reset(); }

}  // namespace lumora
