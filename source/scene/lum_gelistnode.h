// GeListNode: a node of the scene tree, with its place in a list, its children, 128 node bits,
// its document and the alias goal links point at.
//
// A node is in at most one list (a RootList2D) at a time; GetUp is the list's owner. Children
// hang in a RootList2D the node owns; GeListNode never creates it, node classes with children
// do (SetChildren). Destroying a node destroys its children, unlinks it and empties every link
// to it. A node naming a document is registered with it (two pointers, O(1) to enter and
// leave), and a destroyed document clears the document of every node that still names it.
// rawData/rawSize/rawLevel keep a plug-in data chunk whose class is missing.
#ifndef LUM_GELISTNODE_H
#define LUM_GELISTNODE_H

#include "scene/lum_privatechunk.h"

namespace lumora {

class BaseDocument;
class BaseList2D;
class RootList2D;

// A node bit number, 0..127 (negative numbers ask about whole words, see GetNBit).
using NBIT = Int32;
// ChangeNBit's control (bits 4-7 are ignored).
enum NBITCONTROL : Int32 {
  NBITCONTROL_SET = 1,
  NBITCONTROL_CLEAR = 2,
  NBITCONTROL_TOGGLE = 3,
};

// The chunk of a node's list-node part, and the level the library writes it at.
constexpr Int32 CHUNK_GELISTNODE = 110069;
constexpr Int32 GELISTNODE_CHUNK_LEVEL = 2;
// The chunk of a list of nodes.
constexpr Int32 CHUNK_NODELIST = 110100;

// The C++ classes a node is built as, for the casts that need them: a file chooses a node's
// type id (which IsInstanceOf answers to), never its class.
enum NODECLASS : UInt32 {
  NODECLASS_PLUGINNODE = 1u << 0,  // PluginNode
  NODECLASS_OBJECT = 1u << 1,      // BaseObject
  NODECLASS_SHADER = 1u << 2,      // BaseShader
};

// What the nodes of a document hold of it: one cell a document, shared by the document and
// every node that names it. The document clears it when it is destroyed, and the cell lives on
// while a node still holds it, so that such a node then names no document without the
// document visiting each of its nodes.
struct GeListDocumentCell {
  BaseDocument* document;
  // The nodes that hold the cell, and one more while the document lives.
  Int64 holders;
};

class GeListNode : public PrivateChunk {
 public:
  GeListNode();
  // Frees the raw bytes, destroys the children list, unlinks the node, empties every link to it.
  ~GeListNode() override;

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  // Takes CHUNK_GELISTNODE.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // CHUNK_GELISTNODE at level 2.
  bool Write(HyperFile* hf) override;
  // The node bits, and the goal registered with trans unless COPYFLAGS_NO_GOAL.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;

  // A new node of the same kind filled by CopyTo; null here (classes that can be cloned say so).
  virtual GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans);
  virtual bool TranslateDescID(const DescID& id, DescID& out, GeListNode*& node);
  virtual bool IsBaseList() const { return false; }
  // Bits 0..127; -1..-4: whether word 0..3 has any bit set; other negatives raise the alert and
  // give false.
  virtual bool GetNBit(NBIT bit) const;
  // 1 sets, 2 clears (true only when the bit changed), 3 toggles (always true); any other
  // control changes nothing and gives false.
  virtual bool ChangeNBit(NBIT bit, Int32 control);
  virtual Int32 GetInfo() const { return 0; }
  virtual Int32 GetDiskType() const { return GetType(); }
  // The NODECLASS bits of the node's class (0 here).
  virtual UInt32 GetNodeClasses() const { return 0; }
  bool IsNodeClass(NODECLASS c) const { return (GetNodeClasses() & c) != 0; }

  // ---- tree ----

  GeListNode* GetNext() const;
  GeListNode* GetPred() const;
  GeListNode* GetUp() const;
  GeListNode* GetDown() const;
  RootList2D* GetListHead() const { return _listHead; }
  RootList2D* GetChildren() const { return _children; }
  // The document the node belongs to; null once that document is destroyed.
  BaseDocument* GetDocument() const { return _docCell != nullptr ? _docCell->document : nullptr; }
  // The node registers with doc (null: with none), so that doc's destruction clears it. False
  // when the document's first node finds no memory for what its nodes share: the node then
  // belongs to no document.
  bool SetDocument(BaseDocument* doc);
  // Insert beside other / under parent (first or last); the node takes the neighbour's or the
  // parent's document. Refused (false, nothing changes, debug alert) when the node is already
  // in a list (call Remove first), when other is null or in no list, when parent is null or has
  // no children list, and when the new parent would be the node itself or one of its
  // descendants. The check walks up from the new place: its cost is the depth, not the tree.
  bool InsertBefore(GeListNode* other);
  bool InsertAfter(GeListNode* other);
  bool InsertUnder(GeListNode* parent);
  bool InsertUnderLast(GeListNode* parent);
  // Unlinks the node, clears its list head and document; returns the former prev link (maybe
  // the list's head sentinel), or null when the node was in no list.
  virtual GeToolNode2D* Remove();
  // Whether the node is in a list.
  bool IsInList() const { return _listHead != nullptr || prev != nullptr || next != nullptr; }
  // The node this one hangs from: GetUp, or for a node held outside any list (a track's curve)
  // its holder. Insertions walk it to refuse cycles.
  virtual GeListNode* GetHolder() const { return GetUp(); }
  // Whether some node hangs from this one (a member of a list it owns, or, for a track, its
  // curves): only such a node can lie above a place of insertion.
  virtual bool HoldsNodes() const { return _heldMembers > 0; }

  GeAliasGoal& GetAliasGoal() { return _goal; }
  const GeAliasGoal& GetAliasGoal() const { return _goal; }
  UInt32 GetNBitWord(Int32 word) const { return word >= 0 && word < 4 ? _nbits[word] : 0; }
  // Where the bit words lie, for a hot loop that fetches them ahead of use.
  const void* GetNBitWords() const { return _nbits; }

  // ---- plug-in type and raw plug-in data ----

  Int32 GetPluginType() const { return _pluginType; }
  void SetPluginType(Int32 type) { _pluginType = type; }
  const void* GetRawData() const { return _rawData; }
  Int64 GetRawSize() const { return _rawSize; }
  Int32 GetRawLevel() const { return _rawLevel; }
  // The stream layout the bytes were read in (HyperFile::GetRawLayout).
  Int32 GetRawLayout() const { return _rawLayout; }
  // Takes bytes (from MemAlloc) over, freeing what was kept.
  void SetRawData(void* bytes, Int64 size, Int32 level, Int32 layout);
  void FreeRawData();

 protected:
  friend class RootList2D;
  friend class BaseDocument;
  // Takes children over as the node's children list (owner set to the node); a list already
  // there is destroyed.
  void SetChildren(RootList2D* children);
  // Whether the goal's record goes into CHUNK_GELISTNODE (named nodes keep it in their own chunk).
  bool WritesGoalInListChunk() const { return !IsBaseList(); }

  GeAliasGoal _goal;
  UInt32 _nbits[4] = {0, 0, 0, 0};
  RootList2D* _listHead = nullptr;
  RootList2D* _children = nullptr;
  // Members of the lists this node owns, kept by the lists' insertions and Remove.
  Int32 _heldMembers = 0;
  // The document's cell (see GeListDocumentCell), or null for a node of no document.
  GeListDocumentCell* _docCell = nullptr;
  void* _rawData = nullptr;
  Int64 _rawSize = 0;
  Int32 _rawLevel = 0;
  Int32 _rawLayout = 0;
  Int32 _pluginType = 0;
};

// Copies the branch below src into dest: copy(src, dest, flags, trans) clones src's children
// under dest and calls _CopyBranch again for each of them. Nested deeper than
// GELISTNODE_STACKED_GENERATIONS the call is queued and run by the outermost _CopyBranch
// instead, so that a copy costs no stack per generation beyond that. False when copy fails
// (now or queued) or when out of memory; a queued copy whose dest is destroyed is dropped.
using BranchCopy = bool (*)(GeListNode* src, GeListNode* dest, COPYFLAGS flags, AliasTrans* trans);
bool _CopyBranch(BranchCopy copy, GeListNode* src, GeListNode* dest, COPYFLAGS flags,
                 AliasTrans* trans);

// For copies: puts clone (just made, in no list) last under parent, as InsertUnderLast does
// but without walking parent's ancestors; false (clone untouched) when parent has no children
// list or refuses clone. Takes parent's document.
bool _InsertCloneUnderLast(GeListNode* clone, GeListNode* parent);

// A BranchCopy: a clone (GetClone) of every child of src put last under dest, each bringing its
// own children.
bool _CloneChildrenUnder(GeListNode* src, GeListNode* dest, COPYFLAGS flags, AliasTrans* trans);

// How many generations destruction and copying handle on the stack before they queue.
constexpr Int32 GELISTNODE_STACKED_GENERATIONS = 64;

}  // namespace lumora

#endif  // LUM_GELISTNODE_H
