#include "values/lum_descidstore.h"

#include <utility>

#include "values/lum_basecontainer.h"
#include "stream/lum_hyperfile.h"
#include "lum_memory.h"

namespace lumora {
namespace {

// The version number in front of a stored store.

// Builds a complete entry from copies of id and value; false when either copy runs out of
// memory.
bool MakeEntry(const DescID& id, const GeData& value, AliasTrans* trans, DescIdStoreEntry& out) {
  out.id = id;
  if (out.id.GetCount() != id.GetCount()) return false;
  return _GeDataCopyChecked(value, out.data, trans);
}

}  // namespace

DescIdStoreEntry::DescIdStoreEntry(DescIdStoreEntry&& src) noexcept : id(std::move(src.id)) {
  _GeDataSwap(data, src.data);
}

DescIdStoreEntry& DescIdStoreEntry::operator=(DescIdStoreEntry&& src) noexcept {
  if (this != &src) {
    id = std::move(src.id);
    data.Free();
    _GeDataSwap(data, src.data);
  }
  return *this;
}

void DescIdStore::FlushAll() {
  for (Int32 i = _entries.GetCount() - 1; i >= 0; --i) _entries.Erase(i);
  _entries.Flush();
}

Int32 DescIdStore::Find(const DescID& id) const {
  for (Int32 i = 0; i < _entries.GetCount(); ++i)
    if (_entries[i].id == id) return i;
  return -1;
}

bool DescIdStore::SetId(const DescID& id, const GeData& value) {
  const Int32 at = Find(id);
  if (at >= 0) return _GeDataCopyChecked(value, _entries[at].data, nullptr);
  DescIdStoreEntry entry;
  if (!MakeEntry(id, value, nullptr, entry)) return false;
  return _entries.Append(std::move(entry));
}

const GeData* DescIdStore::GetData(const DescID& id) const {
  const Int32 at = Find(id);
  return at >= 0 ? &_entries[at].data : nullptr;
}

const DescIdStoreEntry* DescIdStore::GetEntry(Int32 index) const {
  if (index < 0 || index >= _entries.GetCount()) return nullptr;
  return &_entries[index];
}

bool DescIdStore::CopyTo(DescIdStore* dest, AliasTrans* trans) const {
  if (dest == nullptr) return false;
  if (dest == this) return true;
  dest->FlushAll();
  dest->_entries.EnsureRoom(_entries.GetCount());  // one block when it can be had
  bool complete = true;
  for (Int32 i = 0; i < _entries.GetCount(); ++i) {
    DescIdStoreEntry entry;
    if (!MakeEntry(_entries[i].id, _entries[i].data, trans, entry) ||
        !dest->_entries.Append(std::move(entry)))
      complete = false;
  }
  return complete;
}

void DescIdStore_Free(DescIdStore*& store) { DeleteObj(store); }

bool DescIdStore_CopyTo(DescIdStore*& src, DescIdStore*& dst, AliasTrans* trans) {
  if (src == nullptr) {
    DescIdStore_Free(dst);
    return true;
  }
  if (src == dst) return true;
  if (dst == nullptr) {
    dst = NewObj<DescIdStore>();
    if (dst == nullptr) return false;
  }
  return src->CopyTo(dst, trans);
}

bool DescIdStore_Read(DescIdStore*& store, HyperFile* hf, bool withValues) {
  DescIdStore_Free(store);
  if (hf == nullptr) return false;
  Int32 version = 0, count = 0;
  if (!hf->ReadInt32(&version)) return false;
  if (version != DESCIDSTORE_VERSION) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  if (!hf->ReadInt32(&count)) return false;
  for (Int32 i = 0; i < count; ++i) {
    DescID id;
    if (!id.Read(hf)) return false;
    if (store == nullptr) {
      store = NewObj<DescIdStore>();
      if (store == nullptr) {
        hf->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
    }
    GeData value;
    if (withValues)
      value.Read(hf);  // a value that cannot be read is kept as nil
    else
      value = GeData(Int32(1));
    if (!store->SetId(id, value)) {
      hf->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
  }
  return true;
}

bool DescIdStore_Write(DescIdStore*& store, HyperFile* hf, bool withValues) {
  if (hf == nullptr || !hf->WriteInt32(DESCIDSTORE_VERSION)) return false;
  Int32 count = 0;
  if (store != nullptr) {
    for (Int32 i = 0; i < store->GetCount(); ++i)
      if (withValues || store->GetEntry(i)->data.GetInt32() != 0) ++count;
  }
  if (!hf->WriteInt32(count)) return false;
  if (store == nullptr) return true;
  for (Int32 i = 0; i < store->GetCount(); ++i) {
    const DescIdStoreEntry* e = store->GetEntry(i);
    if (!withValues && e->data.GetInt32() == 0) continue;
    if (!e->id.Write(hf)) return false;
    if (withValues && !e->data.Write(hf)) return false;
  }
  return true;
}

}  // namespace lumora
