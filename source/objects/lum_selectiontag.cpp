// SelectionTag (see lum_selectiontag.h).
#include "objects/lum_selectiontag.h"

namespace lumora {

namespace {

constexpr Int32 kSelectChunk = 110011;

}  // namespace

Int32 SelectionTag::GetInfo() const {
  switch (GetType()) {
    case TAG_POINTSELECTION:
    case TAG_POLYGONSELECTION:
    case TAG_EDGESELECTION:
      return TAGINFO_VISIBLE | TAGINFO_MULTIPLE;
    case TAG_SELECTIONSET:
      return TAGINFO_SELECTIONSET;
    default:
      return 0;
  }
}

bool SelectionTag::OwnsChunk(Int32 id, Int32 level) const {
  return id == kSelectChunk && level >= 0;
}

bool SelectionTag::ReadData(HyperFile* hf, Int32 id, Int32 level) {
  return _select.Read(hf, id, level);
}

bool SelectionTag::WriteData(HyperFile* hf) { return _select.Write(hf); }

bool SelectionTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return _select.CopyTo(static_cast<SelectionTag*>(dest)->GetBaseSelect());
}

}  // namespace lumora
