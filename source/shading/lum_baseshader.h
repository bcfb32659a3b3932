// BaseShader: the scene node of a shader. Its kind is its type id, its settings live in its
// container, and it owns a list of child shaders (the shaders a layer shader's layers link to).
// Shaders hang in RootShader lists, which every named node carries (its three shader lists).
//
// A shader read from a file first exists with the generic id TYPE_SHADER and takes its real type
// from its plug-in data chunk; GetType gives the real type, GetInstanceType TYPE_SHADER. Node
// data comes from the application's AllocAlienShaderData hook. A kind without a data class keeps
// its plug-in data chunk as raw bytes and writes it back unchanged; a node data that keeps its
// chunk's contents (RawNodeData) writes them back too. doc/scene-format.md has the records.
//
// Two shaders compare equal (Compare) when their containers do under MatCompareContainer, which
// follows links into other shaders. Every shader is compared at most once per comparison (the
// visited set), so that any link graph, cycles included, is compared in time linear in the
// number of shaders and containers met; the walk keeps its own stack, so a long chain of links
// cannot exhaust the call stack.
#ifndef LUM_BASESHADER_H
#define LUM_BASESHADER_H

#include "lum_array.h"
#include "scene/lum_baselist4d.h"
#include "scene/lum_nodedata.h"

namespace lumora {

class RootShader;

// The generic shader id (instance type and the member chunk id of shader lists).
constexpr Int32 TYPE_SHADER = 5707;
// The variation shader, which carries node data from its creation on.
constexpr Int32 TYPE_VARIATIONSHADER = 1033825;
// The two shader kinds whose plug-in data chunk carries a level of its own.
constexpr Int32 TYPE_SHADER_LEVEL5 = 1012161;
constexpr Int32 TYPE_SHADER_LEVEL6 = 1012166;
// The two float entries every new shader carries (both 0.0).
constexpr Int32 SHADER_ENTRY_A = 1001068;
constexpr Int32 SHADER_ENTRY_B = 1001069;

// The node data of variation shaders: no behaviour of its own; the bytes of its chunk are kept
// as the file has them.
LUM_RAW_NODEDATA(VariationShaderData);

class BaseShader : public BaseList4D {
 public:
  // A shader with the id; no children list yet (Alloc makes it).
  explicit BaseShader(Int32 type = TYPE_SHADER);
  ~BaseShader() override;

  // A new shader of the type with its children list and the two entries; a variation shader
  // also gets its VariationShaderData (attached and initialised), with or without the
  // application's hooks. Null when out of memory.
  static BaseShader* Alloc(Int32 type);
  // Destroys and frees shader (null is fine) and clears the pointer.
  static void Free(BaseShader*& shader);

  // True for 0, TYPE_SHADER, GetType() and TYPE_BASELIST2D.
  bool IsInstanceOf(Int32 id) const override;
  // The plug-in type while the node id is TYPE_SHADER, else the node id.
  Int32 GetType() const override;
  Int32 GetInstanceType() const override { return TYPE_SHADER; }
  UInt32 GetNodeClasses() const override { return NODECLASS_SHADER; }
  Int32 GetDiskType() const override { return BaseList2D::GetType(); }
  // The node's own chunks, then CHUNK_NODELIST (the children), then the plug-in data chunk.
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // The node's chunks, the plug-in data chunk, and the children (when there are any).
  bool Write(HyperFile* hf) override;
  // Sets dest's id to GetType(), then the named node's copy; unless COPYFLAGS_NO_PLUGINDATA also
  // the plug-in type, the node data (into a data of the same kind) and the kept raw chunk.
  // Children are GetClone's.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // A new shader filled by CopyTo, with clones of the children unless COPYFLAGS_NO_CHILDREN;
  // null when anything fails.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;

  // Whether the containers compare equal under MatCompareContainer; false for a null other.
  bool Compare(BaseShader* other);

  BaseShader* GetNext() const { return static_cast<BaseShader*>(GeListNode::GetNext()); }
  BaseShader* GetPred() const { return static_cast<BaseShader*>(GeListNode::GetPred()); }
  // The parent shader; null for a shader at the top of a node's shader list (whose owner is
  // the material or other node, not a shader).
  BaseShader* GetUp() const {
    GeListNode* up = GeListNode::GetUp();
    return up != nullptr && up->IsNodeClass(NODECLASS_SHADER) ? static_cast<BaseShader*>(up)
                                                              : nullptr;
  }
  BaseShader* GetDown() const { return static_cast<BaseShader*>(GeListNode::GetDown()); }

  // The level of the plug-in data chunk for a shader of the type without kept contents: 5 for
  // TYPE_SHADER_LEVEL5, 6 for TYPE_SHADER_LEVEL6, else 0.
  static Int32 GetPluginChunkLevel(Int32 type);

 private:
  bool ReadChildList(HyperFile* hf);
  bool WritePluginData(HyperFile* hf);
  bool CopyPluginData(BaseShader* dest);
};

// Structural comparison of two shader containers: the entries of a in order, each against the
// first entry of b with the same id (entries only b has are not looked at). Sub-containers
// compare recursively; links must both be links, and when they resolve to different shaders
// those shaders' containers compare in turn (each shader of a's side at most once: visited
// holds the shaders already compared and grows by those compared now); other values compare
// with GeData equality. The documents only pass through. False also when memory runs out.
bool MatCompareContainer(BaseDocument* docA, BaseDocument* docB, const BaseContainer* a,
                         const BaseContainer* b, GeTempDynArray<BaseList2D>& visited);

}  // namespace lumora

#endif  // LUM_BASESHADER_H
