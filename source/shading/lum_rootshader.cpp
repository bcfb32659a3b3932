// RootShader (see lum_rootshader.h).
#include "shading/lum_rootshader.h"

#include "lum_memory.h"
#include "shading/lum_baseshader.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

RootList2D* _AllocShaderList() { return RootShader::Alloc(); }

RootShader* RootShader::Alloc() { return NewObj<RootShader>(); }

void RootShader::Free(RootShader*& list) { DeleteObj(list); }

BaseShader* RootShader::GetFirst() const {
  return static_cast<BaseShader*>(RootList2D::GetFirst());
}

BaseShader* RootShader::GetLast() const { return static_cast<BaseShader*>(RootList2D::GetLast()); }

bool RootShader::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (id != TYPE_SHADER) return RootList2D::HandleSubChunk(hf, id, level);
  BaseShader* shader = NewObj<BaseShader>(TYPE_SHADER);
  if (shader == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  if (!shader->ReadChunk(hf, true, false)) {
    if (hf->GetError() == FILEERROR_NONE) hf->SetError(FILEERROR_READ);
    DeleteObj(shader);
    return false;
  }
  InsertLast(shader);
  if (!shader->SetDocument(hf->GetDocument())) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

bool RootShader::Write(HyperFile* hf) {
  return RootList2D::Write(hf) && WriteNodeList(hf, TYPE_SHADER, true);
}

GeListNode* RootShader::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  RootShader* clone = Alloc();
  if (clone != nullptr && !CopyTo(clone, flags, trans)) DeleteObj(clone);
  return clone;
}

}  // namespace lumora
