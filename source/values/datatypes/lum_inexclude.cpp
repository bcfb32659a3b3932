// Include/exclude lists (see lum_inexclude.h).
#include "values/datatypes/lum_inexclude.h"

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

// The fewest bytes one entry's flags and link record take in a stream: an Int32 value and a
// memory value with its count, each with its kind byte.
constexpr Int64 kMinEntryBytes = 5 + 5;

iIncludeExcludeData* Object(CustomDataType* data) {
  return static_cast<iIncludeExcludeData*>(InExcludeData::From(data));
}
const iIncludeExcludeData* Object(const CustomDataType* data) {
  return static_cast<const iIncludeExcludeData*>(InExcludeData::From(data));
}

const iIncludeExcludeData* Self(const InExcludeData* face) {
  return static_cast<const iIncludeExcludeData*>(face);
}
iIncludeExcludeData* Self(InExcludeData* face) { return static_cast<iIncludeExcludeData*>(face); }

// The entry at index, or null.
const tagInExcludeElement* At(const iIncludeExcludeData* list, Int32 index) {
  return index >= 0 && index < list->entries.GetCount() ? list->entries[index] : nullptr;
}

bool OutOfMemory(HyperFile* hf) {
  hf->SetError(FILEERROR_OUTOFMEMORY);
  return false;
}

// A new entry copied from src (links through trans); null when out of memory.
tagInExcludeElement* CopyEntry(const tagInExcludeElement& src, AliasTrans* trans) {
  tagInExcludeElement* e = NewObj<tagInExcludeElement>();
  if (e == nullptr) return nullptr;
  e->flags = src.flags;
  e->mark = src.mark;
  bool ok = src.settings.CopyTo(&e->settings, COPYFLAGS_NONE, trans);
  if (ok && src.link != nullptr) {
    e->link = _GeLinkClone(src.link, trans);
    ok = e->link != nullptr;
  }
  if (!ok) DeleteObj(e);
  return e;
}

}  // namespace

// ---- InExcludeData ----

Int32 InExcludeData::GetObjectCount() const { return Self(this)->entries.GetCount(); }

BaseList2D* InExcludeData::ObjectFromIndex(BaseDocument*, Int32 index) const {
  const tagInExcludeElement* e = At(Self(this), index);
  return e != nullptr ? _GeLinkResolve(e->link) : nullptr;
}

bool InExcludeData::InsertObject(const BaseLink& link, Int32 flags) {
  tagInExcludeElement* e = NewObj<tagInExcludeElement>();
  if (e == nullptr) return false;
  e->flags = flags;
  e->link = _GeLinkClone(&link, nullptr);
  if (e->link == nullptr || !Self(this)->entries.Append(e)) {
    DeleteObj(e);
    return false;
  }
  return true;
}

bool InExcludeData::DeleteObject(Int32 index) {
  iIncludeExcludeData* list = Self(this);
  if (At(list, index) == nullptr) return false;
  tagInExcludeElement* e = list->entries[index];
  list->entries.Erase(index);
  DeleteObj(e);
  return true;
}

Int32 InExcludeData::GetObjectIndex(BaseDocument*, const BaseList2D* node) const {
  if (node == nullptr) return -1;
  const iIncludeExcludeData* list = Self(this);
  for (Int32 i = 0; i < list->entries.GetCount(); ++i) {
    if (_GeLinkResolve(list->entries[i]->link) == node) return i;
  }
  return -1;
}

Int32 InExcludeData::GetFlags(Int32 index) const {
  const tagInExcludeElement* e = At(Self(this), index);
  return e != nullptr ? e->flags : 0;
}

bool InExcludeData::SetFlags(Int32 index, Int32 flags) {
  if (At(Self(this), index) == nullptr) return false;
  Self(this)->entries[index]->flags = flags;
  return true;
}

BaseContainer* InExcludeData::GetData(Int32 index) {
  return At(Self(this), index) != nullptr ? &Self(this)->entries[index]->settings : nullptr;
}

const BaseContainer* InExcludeData::GetData(Int32 index) const {
  const tagInExcludeElement* e = At(Self(this), index);
  return e != nullptr ? &e->settings : nullptr;
}

const BaseLink* InExcludeData::GetLink(Int32 index) const {
  const tagInExcludeElement* e = At(Self(this), index);
  return e != nullptr ? e->link : nullptr;
}

// ---- iIncludeExcludeData ----

iIncludeExcludeData::~iIncludeExcludeData() { Flush(); }

void iIncludeExcludeData::Flush() {
  for (tagInExcludeElement*& e : entries) DeleteObj(e);
  entries.Flush();
}

bool iIncludeExcludeData::CopyFrom(const iIncludeExcludeData& src, AliasTrans* trans) {
  if (&src == this) return true;
  Flush();
  if (src.entries.GetCount() == 0) return true;
  if (!entries.EnsureRoom(src.entries.GetCount())) return false;
  for (const tagInExcludeElement* s : src.entries) {
    tagInExcludeElement* e = CopyEntry(*s, trans);
    if (e == nullptr) {
      Flush();
      return false;
    }
    entries.Append(e);  // the room is there
  }
  return true;
}

bool iIncludeExcludeData::IsEqual(const iIncludeExcludeData& other) const {
  if (entries.GetCount() != other.entries.GetCount()) return false;
  for (Int32 i = 0; i < entries.GetCount(); ++i) {
    const tagInExcludeElement& a = *entries[i];
    const tagInExcludeElement& b = *other.entries[i];
    if (a.flags != b.flags || _GeLinkResolve(a.link) != _GeLinkResolve(b.link) ||
        a.settings != b.settings || a.mark != b.mark) {
      return false;
    }
  }
  return true;
}

// Every entry is written, also one whose link resolves to nothing (its target was not read, or
// is gone): it keeps its place, flags and settings, with an empty link record. Dropping it, as
// writers once did, lost the entry with everything it carried.
bool iIncludeExcludeData::Write(HyperFile* hf) const {
  if (!hf->WriteInt32(entries.GetCount())) return false;
  for (const tagInExcludeElement* e : entries) {
    if (!hf->WriteInt32(e->flags) || !_GeLinkWrite(e->link, hf)) return false;
  }
  for (const tagInExcludeElement* e : entries) {
    if (!hf->WriteContainer(e->settings)) return false;
  }
  return true;
}

bool iIncludeExcludeData::Read(HyperFile* hf, Int32 level) {
  Flush();
  Int32 n = 0;
  if (!hf->ReadInt32(&n)) return false;
  if (n <= 0) return true;
  if (!hf->CheckRemaining(Int64(n) * kMinEntryBytes)) return false;
  if (!entries.EnsureRoom(n)) return OutOfMemory(hf);
  for (Int32 i = 0; i < n; ++i) {
    tagInExcludeElement* e = NewObj<tagInExcludeElement>();
    if (e == nullptr) return OutOfMemory(hf);
    entries.Append(e);  // the room is there
    if (!hf->ReadInt32(&e->flags)) return false;
    e->link = _GeLinkClone(nullptr, nullptr);
    if (e->link == nullptr) return OutOfMemory(hf);
    if (!_GeLinkRead(e->link, hf)) return false;
  }
  if (level >= 2) {
    for (tagInExcludeElement* e : entries) {
      if (!hf->ReadContainer(&e->settings, true)) return false;
    }
  }
  return true;
}

// ---- InExcludeDataTypeClass ----

CustomDataType* InExcludeDataTypeClass::AllocData() {
  return reinterpret_cast<CustomDataType*>(
      static_cast<InExcludeData*>(NewObj<iIncludeExcludeData>()));
}

void InExcludeDataTypeClass::FreeData(CustomDataType* data) {
  iIncludeExcludeData* list = Object(data);
  DeleteObj(list);
}

bool InExcludeDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest,
                                      AliasTrans* trans) {
  if (src == nullptr || dest == nullptr) return false;
  return Object(dest)->CopyFrom(*Object(src), trans);
}

Int32 InExcludeDataTypeClass::Compare(const CustomDataType* a, const CustomDataType* b) {
  if (a == nullptr || b == nullptr) return 1;
  return Object(a)->IsEqual(*Object(b)) ? 0 : 1;
}

bool InExcludeDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  return data != nullptr && Object(data)->Write(hf);
}

bool InExcludeDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32 level) {
  return data != nullptr && Object(data)->Read(hf, level);
}

}  // namespace lumora
