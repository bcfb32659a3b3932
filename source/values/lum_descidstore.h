// DescIdStore: a small ordered map from parameter address (DescID) to value (GeData), which a
// node keeps for per-parameter state such as flag sets.
//
// Entries stay in insertion order; lookups use DescID's wildcard equality and take the first
// match, so an id equal to an earlier one updates that entry instead of adding one. A node holds
// its store through a pointer that is null until the store is first needed; the free functions
// below take that pointer by reference and create or free the store as they go.
//
// File form, with values: Int32 1 (the format version), Int32 entry count, then per entry the
// DescID and the GeData. Without values the store is a set of flags: only the entries whose
// value reads as a non-zero Int32 are written, as their DescIDs alone, and they read back with
// the value 1.
#ifndef LUM_DESCIDSTORE_H
#define LUM_DESCIDSTORE_H

#include "lum_array.h"
#include "values/lum_descid.h"
#include "values/lum_gedata.h"
#include "lum_types.h"

namespace lumora {

class AliasTrans;
class HyperFile;

// The format version a store's file form begins with.
constexpr Int32 DESCIDSTORE_VERSION = 1;

// One entry of a store.
struct DescIdStoreEntry {
  DescID id;
  GeData data;

  DescIdStoreEntry() = default;
  // Takes id and value over from src (no allocation), leaving it empty and nil.
  DescIdStoreEntry(DescIdStoreEntry&& src) noexcept;
  DescIdStoreEntry& operator=(DescIdStoreEntry&& src) noexcept;
  DescIdStoreEntry(const DescIdStoreEntry&) = delete;
  DescIdStoreEntry& operator=(const DescIdStoreEntry&) = delete;
};

class DescIdStore {
 public:
  DescIdStore() = default;
  ~DescIdStore() { FlushAll(); }
  DescIdStore(const DescIdStore&) = delete;
  DescIdStore& operator=(const DescIdStore&) = delete;

  // Destroys the entries, last to first, and releases the storage.
  void FlushAll();

  // Assigns value to the first entry whose id equals id, or appends a new entry with copies of
  // both. False when out of memory (the store is then unchanged).
  bool SetId(const DescID& id, const GeData& value);
  // The value of the first entry whose id equals id; null when there is none.
  const GeData* GetData(const DescID& id) const;

  Int32 GetCount() const { return _entries.GetCount(); }
  // The entry at index; null outside 0..count-1.
  const DescIdStoreEntry* GetEntry(Int32 index) const;

  // Flushes dest, then appends a copy of every entry in order (values copied with the alias
  // translation). An entry that cannot be copied is left out and the result is false.
  bool CopyTo(DescIdStore* dest, AliasTrans* trans) const;

 private:
  Int32 Find(const DescID& id) const;

  BaseArray<DescIdStoreEntry, 16> _entries;
};

// Destroys and frees the store (null is fine) and clears the pointer.
void DescIdStore_Free(DescIdStore*& store);
// A null src frees dst (true). Otherwise dst is created when null (false when that fails) and
// src is copied into it (CopyTo's result).
bool DescIdStore_CopyTo(DescIdStore*& src, DescIdStore*& dst, AliasTrans* trans);
// Frees any store first. A stored count below 1 gives success and a null store. Fails on a
// version other than 1 or a DescID that cannot be read (the entries read so far are kept). A
// value that cannot be read is stored as nil and the read goes on.
bool DescIdStore_Read(DescIdStore*& store, HyperFile* hf, bool withValues);
// Writes the file form above; a null store writes the version and the count 0.
bool DescIdStore_Write(DescIdStore*& store, HyperFile* hf, bool withValues);

}  // namespace lumora

#endif  // LUM_DESCIDSTORE_H
