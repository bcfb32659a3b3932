// RootShader: a list of shaders (the shader lists of named nodes, a shader's children).
//
// On disk: CHUNK_NODELIST holding one chunk TYPE_SHADER (level 0) per member with the member's
// Write inside, whatever the member's own type. The three shader lists of every named node are
// RootShader lists from the start: the named node's list code refers to _AllocShaderList, so
// that no program can link the node tree without this list class.
#ifndef LUM_ROOTSHADER_H
#define LUM_ROOTSHADER_H

#include "scene/lum_rootlist2d.h"

namespace lumora {

class BaseShader;

class RootShader : public RootList2D {
 public:
  RootShader() = default;
  ~RootShader() override = default;

  // A new empty list; null when out of memory.
  static RootShader* Alloc();
  static void Free(RootShader*& list);

  bool IsInstanceOf(Int32 id) const override { return id == 0; }
  UInt32 GetMemberClass() const override { return NODECLASS_SHADER; }
  // CHUNK_NODELIST as RootList2D takes it; TYPE_SHADER: a new shader read and appended (a
  // failed read records FILEERROR_READ, out of memory FILEERROR_OUTOFMEMORY).
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // CHUNK_NODELIST with one TYPE_SHADER chunk per member.
  bool Write(HyperFile* hf) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override {
    return RootList2D::CopyToX(dest, flags, trans);
  }
  // A new list filled by CopyTo; null when anything fails.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;

  BaseShader* GetFirst() const;
  BaseShader* GetLast() const;
};

}  // namespace lumora

#endif  // LUM_ROOTSHADER_H
