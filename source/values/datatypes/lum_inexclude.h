// Include/exclude lists: the custom data type CUSTOMDATATYPE_INEXCLUDE_LIST.
//
// An ordered list of links to scene nodes, each entry with a flag word and a container of
// per-entry settings (a take keeps its override nodes in one). The links are the node tree's
// (values/lum_baselink.h); this family reaches them only through the few link operations a value
// needs (_GeLinkClone and its siblings in values/lum_gedata.h), so that it can live beside the
// other values. doc/value-format.md describes the bytes.
//
// A GeData of kind CUSTOMDATATYPE_INEXCLUDE_LIST owns an iIncludeExcludeData; InExcludeData::From
// turns the opaque CustomDataType* of GeData::GetCustomDataType into the public face.
#ifndef LUM_INEXCLUDE_H
#define LUM_INEXCLUDE_H

#include "lum_array.h"
#include "lum_types.h"
#include "values/lum_basecontainer.h"
#include "values/lum_gedata.h"

namespace lumora {

class BaseDocument;

// One entry. The link is owned; null stands for an empty link.
struct tagInExcludeElement {
  tagInExcludeElement() = default;
  ~tagInExcludeElement() { _GeLinkFree(link); }
  tagInExcludeElement(const tagInExcludeElement&) = delete;
  tagInExcludeElement& operator=(const tagInExcludeElement&) = delete;

  BaseLink* link = nullptr;
  BaseContainer settings;  // per-entry values, empty by default
  Int32 flags = 0;         // written and compared; its meaning is the list user's
  UChar mark = 0;          // copied and compared, never written
};

class iIncludeExcludeData;

// The public face of an include/exclude list; every operation forwards to the object behind it.
class InExcludeData {
 public:
  // The list a CUSTOMDATATYPE_INEXCLUDE_LIST value holds (GeData::GetCustomDataType), or null.
  static InExcludeData* From(CustomDataType* data) {
    return reinterpret_cast<InExcludeData*>(data);
  }
  static const InExcludeData* From(const CustomDataType* data) {
    return reinterpret_cast<const InExcludeData*>(data);
  }

  Int32 GetObjectCount() const;
  // The node entry index's link resolves to; null for an index outside 0 .. count - 1 or a
  // link that resolves to nothing. doc is not needed to resolve a link and may be null.
  BaseList2D* ObjectFromIndex(BaseDocument* doc, Int32 index) const;

  // The following operations are this library's additions, for building and reading a list in
  // a program.

  // Appends an entry that points where link points (BaseLink::SetLink gives a link to a node),
  // with the given flags and empty settings. False when out of memory (the list is then
  // unchanged).
  bool InsertObject(const BaseLink& link, Int32 flags);
  // The same with a link to node (null: an empty link). A template only so that this header
  // needs none of the node tree's: a caller that has a node has its headers.
  template <typename LINK = BaseLink>
  bool InsertObject(BaseList2D* node, Int32 flags) {
    LINK link;
    link.SetLink(node);
    return InsertObject(static_cast<const LINK&>(link), flags);
  }
  // Removes entry index; false when there is no such entry.
  bool DeleteObject(Int32 index);
  // The index of the first entry whose link resolves to node, or -1 (also for a null node).
  Int32 GetObjectIndex(BaseDocument* doc, const BaseList2D* node) const;
  // The entry's flags; 0 for an index outside the list.
  Int32 GetFlags(Int32 index) const;
  // False for an index outside the list.
  bool SetFlags(Int32 index, Int32 flags);
  // The entry's settings container, to read or change in place; null for an index outside the
  // list.
  BaseContainer* GetData(Int32 index);
  const BaseContainer* GetData(Int32 index) const;
  // The entry's link; null for an index outside the list or an entry whose link is empty.
  const BaseLink* GetLink(Int32 index) const;

 protected:
  InExcludeData() = default;
  ~InExcludeData() = default;
  InExcludeData(const InExcludeData&) = default;
  InExcludeData& operator=(const InExcludeData&) = default;
};

class iIncludeExcludeData : public InExcludeData {
 public:
  iIncludeExcludeData() = default;
  // Destroys every entry.
  ~iIncludeExcludeData();
  iIncludeExcludeData(const iIncludeExcludeData&) = delete;
  iIncludeExcludeData& operator=(const iIncludeExcludeData&) = delete;

  // Destroys every entry.
  void Flush();
  // This list becomes a copy of src: flags, marks, settings (copied with trans) and links
  // (through trans, so that links into a copied set of nodes point at the copies). False when
  // memory runs out; the list is then empty.
  bool CopyFrom(const iIncludeExcludeData& src, AliasTrans* trans);
  // Same count and, entry by entry, the same flags, resolved node, settings and mark.
  bool IsEqual(const iIncludeExcludeData& other) const;

  // Only entries whose link resolves are written: Int32 n, n × (Int32 flags, link record),
  // n × settings container.
  bool Write(HyperFile* hf) const;
  // Settings are read from level 2 on. An entry count the rest of the stream cannot hold fails
  // with FILEERROR_READ before anything is allocated.
  bool Read(HyperFile* hf, Int32 level);

  BaseArray<tagInExcludeElement*> entries;  // owned
};

// The six operations of the include/exclude data type.
class InExcludeDataTypeClass {
 public:
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  // False when either is null or memory runs out.
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // 0 when both exist and are equal, 1 otherwise.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
};

}  // namespace lumora

#endif  // LUM_INEXCLUDE_H
