// BaseContainer: the parameter bag of every node.
//
// An ordered collection of (Int32 id -> GeData) entries with a container id of its own.
// Entries keep insertion order (the list is not sorted); lookups run from the head and take the
// first entry with the id. Several entries share an id only when they were appended with
// InsData / InsContainer, which is what reading a file does. An entry id below -1 is stored as
// -1.
//
// GeContainer is the storage that does the work; BaseContainer adds the typed accessors and the
// path access through DescID levels, and has the same layout. GeDataList is one entry,
// BrowseContainer walks the entries in order.
//
// The change counter (GetDirty) is an unsigned 16-bit number that wraps; it is bumped by every
// insertion, every removal and every SetData that really changes a value. Floats and vectors
// count as unchanged when CompareFloatTolerant says so, so that rounding noise in a value that is
// set again does not count as a change.
//
// Pointers handed out (GetData, GetContainerInstance, the results of SetData / InsData) stay
// valid until that entry is removed, replaced by a flush or a copy, or the container dies.
#ifndef LUM_BASECONTAINER_H
#define LUM_BASECONTAINER_H

#include "foundation/lum_basetime.h"
#include "foundation/lum_filename.h"
#include "values/lum_gedata.h"
#include "lum_math.h"
#include "foundation/lum_string.h"
#include "lum_types.h"

namespace lumora {

// Chunk id and level of the container's file form (HyperFile::WriteContainer).
constexpr Int32 CONTAINER_CHUNK_ID = 132;
constexpr Int32 CONTAINER_CHUNK_LEVEL = 1;

class AliasTrans;
class BaseContainer;
class BaseList2D;
class BaseObject;
class DescID;
class HyperFile;

// Bits that steer copies of nodes. Containers accept them and ignore them.
enum COPYFLAGS : Int32 {
  COPYFLAGS_NONE = 0,
  COPYFLAGS_IDENTITY = 0x1,             // keep the source's marker and unique ids
  COPYFLAGS_NO_CHILDREN = 0x4,          // children are not copied
  COPYFLAGS_NO_TRACKS = 0x8,            // animation tracks are not copied
  COPYFLAGS_NO_BITS = 0x10,             // node bits are not copied
  COPYFLAGS_NO_BRANCHES = 0x80,         // shader and override lists are not copied
  COPYFLAGS_NO_GOAL = 0x100,            // the alias goal is not entered into the translation
  COPYFLAGS_NO_PLUGINDATA = 0x200,      // plug-in node data is not copied
  COPYFLAGS_NO_TAGS = 0x20000,          // an object's tags are not copied
  COPYFLAGS_NOTIFY_ALTERNATE = 0x1000,  // notify entries selected by flag 0x400
  COPYFLAGS_NOTIFY_MARKED = 0x2000,     // only notify entries with flag 0x800
  COPYFLAGS_NO_OVERRIDES = 0x4000,      // override lists are not copied
};
inline COPYFLAGS operator|(COPYFLAGS a, COPYFLAGS b) { return COPYFLAGS(Int32(a) | Int32(b)); }
inline COPYFLAGS operator&(COPYFLAGS a, COPYFLAGS b) { return COPYFLAGS(Int32(a) & Int32(b)); }
inline COPYFLAGS operator~(COPYFLAGS a) { return COPYFLAGS(~Int32(a)); }

// True when the bit patterns of a and b, read as signed 64-bit integers, differ by less than 8:
// equal up to a few units in the last place. 0.0 and -0.0 are far apart under this rule.
bool CompareFloatTolerant(Float a, Float b);

// One entry: its own heap block, owned by the container.
struct GeDataList {
  Int32 id = 0;
  GeData data;
  GeDataList* next = nullptr;
};

class GeContainer {
 public:
  // Empty, id -1.
  GeContainer();
  // The id of src and a copy of every entry, in order (entries that cannot be allocated are
  // skipped).
  GeContainer(const BaseContainer& src);
  // Frees every entry.
  ~GeContainer();
  GeContainer(const GeContainer&) = delete;
  GeContainer& operator=(const GeContainer&) = delete;

  // Frees every entry; each removal bumps the change counter. The id stays.
  void FlushAll();

  Int32 GetId() const { return _id; }
  void SetId(Int32 id) { _id = id; }
  // The change counter (wraps at 65536).
  UInt16 GetDirty() const { return _dirty; }

  // Appends a new entry holding a copy of n, without looking for one with the same id. The new
  // entry's value, or null when out of memory (the container is then unchanged).
  GeData* InsData(Int32 id, const GeData& n);
  // Appends like InsData with a container value cloned from n; the stored container, or null
  // when out of memory.
  BaseContainer* InsContainer(Int32 id, const BaseContainer& n);
  // Replaces the value of the first entry with the id, or appends one. A numeric entry keeps its
  // kind: a float entry set from an int32 stores the integer as float, an int32 entry set from
  // a float stores the float truncated toward zero; any other change of kind replaces the
  // value. The counter is bumped for a new entry, a change of kind, or a changed value (floats
  // and vectors compared tolerantly). Setting a container entry to the very container it holds
  // raises the debug alert and changes nothing. The stored value, or null when out of memory
  // (the container is then unchanged).
  GeData* SetData(Int32 id, const GeData& n);
  // Unlinks and frees the first entry with the id; false when there is none.
  bool RemoveData(Int32 id);
  // 0-based position of the first entry with the id, or -1.
  Int32 FindIndex(Int32 id) const;
  // The id of the entry at index, or -1 when index is outside the list.
  Int32 GetIndexId(Int32 index) const;
  // The number of entries.
  Int32 GetCount() const;
  // The value of the first entry with the id, or a shared nil value when there is none.
  const GeData* GetData(Int32 id) const;

  // dest takes this id and a copy of every entry in order; its old entries are freed without
  // bumping its counter, which then counts each entry copied and the copy itself. With trans,
  // links are translated; the flags are ignored. An entry that cannot be copied is skipped and
  // the result is false. A null dest or copying onto itself changes nothing (false / true);
  // this container may live inside dest (a sub-container copied over its parent).
  bool CopyTo(BaseContainer* dest, COPYFLAGS flags, AliasTrans* trans) const;
  // A new container filled by CopyTo; null when out of memory (also when any entry could not
  // be copied: a clone never silently lacks values). Free it with BaseContainer::Free.
  BaseContainer* GetClone(COPYFLAGS flags, AliasTrans* trans) const;

 protected:
  friend class BrowseContainer;
  friend class BaseContainer;
  friend class HyperFile;

  GeDataList* Find(Int32 id) const;
  // A new unlinked entry holding a copy of n; null when out of memory.
  static GeDataList* NewEntry(Int32 id, const GeData& n, AliasTrans* trans);
  // SetData; with spare (a value equal to n that may be taken over) the value is moved in
  // instead of copied.
  GeData* Store(Int32 id, const GeData& n, GeData* spare);
  void Append(GeDataList* entry);
  void FreeEntries(bool bump);
  void Bump() { _dirty = UInt16(_dirty + 1); }

  GeDataList* _head = nullptr;
  GeDataList* _tail = nullptr;
  Int32 _id = -1;
  UInt16 _dirty = 0;
  // Two words no container operation uses; zero from construction on, kept by copies as they
  // are (a copy does not take them from its source).
  UInt16 _reserved = 0;
  void* _reservedPointer = nullptr;
};

class BaseContainer : public GeContainer {
 public:
  // Empty, id -1.
  BaseContainer() = default;
  // Empty, with the given id.
  explicit BaseContainer(Int32 id) { _id = id; }
  BaseContainer(const BaseContainer& src) : GeContainer(src) {}
  // CopyTo with no flags and no alias translation.
  BaseContainer& operator=(const BaseContainer& src);

  // A new empty container (id -1), or null when out of memory.
  static BaseContainer* Alloc();
  // Destroys bc (null is fine) and clears the pointer.
  static void Free(BaseContainer*& bc);

  // ---- typed access ----
  //
  // A missing entry gives the default. A present entry of the wrong kind gives the GeData
  // getter's fallback (0, false, zero vector, empty string) and its debug alert, never the
  // default. The setters go through SetData and return false only when out of memory.

  bool GetBool(Int32 id, bool preset = false) const;
  Int32 GetInt32(Int32 id, Int32 preset = 0) const;
  Float GetFloat(Int32 id, Float preset = 0.0) const;
  Vector64 GetVector(Int32 id, const Vector64& preset = Vector64()) const;
  String GetString(Int32 id) const;
  String GetString(Int32 id, const String& preset) const;
  BaseTime GetTime(Int32 id) const;
  // A copy of the stored container; the empty container (id -1) when missing or not a
  // container. The copy's counter equals the number of entries copied.
  BaseContainer GetContainer(Int32 id) const;
  // The stored container itself; null when missing or not a container.
  BaseContainer* GetContainerInstance(Int32 id);
  const BaseContainer* GetContainerInstance(Int32 id) const;
  // The node the stored link resolves to; null when missing, not a link or unresolved.
  BaseList2D* GetLink(Int32 id) const;
  // GetLink when the node is an object (an instance of 5155), else null. Defined by the objects
  // family.
  BaseObject* GetObjectLink(Int32 id) const;
  // GeData::GetCustomDataType(type) of the entry; null when missing.
  CustomDataType* GetCustomDataType(Int32 id, Int32 type) const;

  bool SetBool(Int32 id, bool value);
  bool SetInt32(Int32 id, Int32 value);
  // Stored as int32 with the same bits.
  bool SetUInt32(Int32 id, UInt32 value);
  bool SetFloat(Int32 id, Float value);
  bool SetVector(Int32 id, const Vector64& value);
  bool SetString(Int32 id, const String& value);
  bool SetTime(Int32 id, const BaseTime& value);
  bool SetFilename(Int32 id, const Filename& value);
  // Stores a clone of value.
  bool SetContainer(Int32 id, const BaseContainer& value);
  // Stores a link set to node (an empty link for null). Defined by the node tree, where links
  // resolve.
  bool SetLink(Int32 id, BaseList2D* node);

  // ---- path access ----
  //
  // A one-level id addresses the entry with that id here. Deeper ids are walked level by
  // level; the data type of each level but the last decides how: 5 descends into the
  // sub-container stored under the level id, 23 picks a component of the vector stored there
  // (the next level id: 1000 x, 1001 y, 1002 z), 1 is transparent (the walk stays in this
  // container), any other type ends the walk.

  // The addressed value into out (nil when missing; a missing sub-container gives nil too).
  // A vector level gives the component as a float; an unknown component id or a walk ended by
  // an unknown level type leaves out untouched. True except when id has no level (out becomes
  // nil) or the copy runs out of memory (out becomes nil).
  bool GetParameter(const DescID& id, GeData& out) const;
  // Stores value at the address. Missing or non-container sub-container levels are replaced by
  // a new empty container; a vector level replaces the picked component by value.GetFloat().
  // A transparent or unknown level type ends the walk with true and no effect. False when
  // id has no level or memory runs out.
  bool SetParameter(const DescID& id, const GeData& value);
  // Removes the first entry with the last level's id from the addressed container (true also
  // when there is none). A missing sub-container level is created (empty) on the way; one whose
  // entry holds no container ends the walk with true and no change. A vector, transparent or
  // unknown level type gives false, as does running out of memory.
  bool RemoveParameter(const DescID& id);

  // ---- whole containers ----

  // SetData of every entry of src, in order; this id stays. src may live inside this container
  // (it is then merged from a copy). False when an entry could not be stored (the others are).
  bool MergeContainer(const BaseContainer& src);
  // !IdenticalContainer(*this, other).
  bool operator!=(const BaseContainer& other) const;
  bool operator==(const BaseContainer& other) const;

 private:
  // Stores value (of kind, else it could not be allocated) by taking it over.
  bool SetOwned(Int32 id, GeData& value, Int32 kind);
};

// Exchanges two values without allocating (a value never points into itself, so exchanging
// its bytes exchanges it).
void _GeDataSwap(GeData& a, GeData& b);
// dst becomes a copy of src, links translated through trans. False, and dst untouched, when
// the copy runs out of memory (a failed GeData copy alone would leave dst nil unnoticed).
bool _GeDataCopyChecked(const GeData& src, GeData& dst, AliasTrans* trans);

// Same id, and the same entries in the same order: equal entry ids, equal kinds and equal
// GeData. A nil value never equals anything, so a container holding one is never identical.
bool IdenticalContainer(const BaseContainer& a, const BaseContainer& b);

// Walks the entries of a container in list order. Does not survive the removal of the entry it
// stands on.
class BrowseContainer {
 public:
  // bc may be null: GetNext then returns false at once.
  explicit BrowseContainer(const BaseContainer* bc);
  // Back to the first entry.
  void Reset();
  // The next entry's id and value (either output may be null); false at the end.
  bool GetNext(Int32* id, GeData** data);

 private:
  const BaseContainer* _bc;
  GeDataList* _next;
};

}  // namespace lumora

#endif  // LUM_BASECONTAINER_H
