// BaseShader, its structural comparison and BaseList2D::InsertShader (see lum_baseshader.h).
#include "shading/lum_baseshader.h"

#include <cstring>

#include "lum_memory.h"
#include "scene/lum_nodedata.h"
#include "shading/lum_rootshader.h"
#include "stream/lum_hyperfile.h"

// The application's shader hook is referred to weakly: the shader family is linked into every
// program that links the values (the layer stack is a value), and a program that brings no hooks
// (the thumbnail tool, a program with its own memory functions only) must still link. Without
// the hook every shader kind reads as one without a data class.
extern lumora::NodeData* AllocAlienShaderData(int type, bool& known, lumora::BaseList2D* node)
    __attribute__((weak));

namespace lumora {

namespace {

// AllocAlienShaderData when the program defines it; otherwise no kind has a class.
NodeData* AllocShaderData(Int32 type, bool& known, BaseList2D* node) {
  if (::AllocAlienShaderData == nullptr) {
    known = false;
    return nullptr;
  }
  return ::AllocAlienShaderData(type, known, node);
}

bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

// A set of node pointers (open addressing, linear probing), for the shaders a comparison has
// met: lookups in constant time on average, where a search of the visited array would make a
// comparison quadratic.
class PointerSet {
 public:
  PointerSet() = default;
  ~PointerSet() { DeleteMem(_slots); }
  PointerSet(const PointerSet&) = delete;
  PointerSet& operator=(const PointerSet&) = delete;

  bool Contains(const void* p) const {
    if (_capacity == 0) return false;
    for (Int64 i = Hash(p) & (_capacity - 1);; i = (i + 1) & (_capacity - 1)) {
      if (_slots[i] == nullptr) return false;
      if (_slots[i] == p) return true;
    }
  }
  // False when out of memory.
  bool Insert(const void* p) {
    if ((_count + 1) * 2 > _capacity && !Grow()) return false;
    Place(_slots, _capacity, p);
    ++_count;
    return true;
  }

 private:
  static Int64 Hash(const void* p) {
    UInt64 v = UInt64(reinterpret_cast<uintptr_t>(p));
    v ^= v >> 33;
    v *= 0xff51afd7ed558ccdULL;
    v ^= v >> 33;
    return Int64(v & 0x7fffffffffffffffULL);
  }
  static void Place(const void** slots, Int64 capacity, const void* p) {
    Int64 i = Hash(p) & (capacity - 1);
    while (slots[i] != nullptr) i = (i + 1) & (capacity - 1);
    slots[i] = p;
  }
  bool Grow() {
    const Int64 capacity = _capacity == 0 ? 16 : _capacity * 2;
    const void** slots = static_cast<const void**>(MemAlloc(capacity * Int64(sizeof(void*))));
    if (slots == nullptr) return false;
    for (Int64 i = 0; i < _capacity; ++i)
      if (_slots[i] != nullptr) Place(slots, capacity, _slots[i]);
    DeleteMem(_slots);
    _slots = slots;
    _capacity = capacity;
    return true;
  }

  const void** _slots = nullptr;
  Int64 _capacity = 0;
  Int64 _count = 0;
};

// One pair of containers under comparison: where the walk over a's entries stands, and b.
struct CompareFrame {
  BrowseContainer browse{nullptr};
  const BaseContainer* b = nullptr;
};

bool IsShader(const BaseList2D* node) {
  return node != nullptr && node->IsNodeClass(NODECLASS_SHADER);
}

}  // namespace

// ---- BaseList2D's shader insertion ----

bool BaseList2D::InsertShader(BaseShader* shader, BaseShader* pred) {
  return _InsertShader(shader, pred);
}

// ---- BaseShader ----

BaseShader::BaseShader(Int32 type) : BaseList4D(type) { SetChildren(RootShader::Alloc()); }

BaseShader::~BaseShader() = default;

BaseShader* BaseShader::Alloc(Int32 type) {
  BaseShader* shader = NewObj<BaseShader>(type);
  if (shader == nullptr) return nullptr;
  if (shader->GetChildren() == nullptr) {
    DeleteObj(shader);
    return nullptr;
  }
  shader->GetChildren()->SetOwner(shader);
  BaseContainer& bc = shader->GetDataInstanceRef();
  if (!bc.SetFloat(SHADER_ENTRY_A, 0.0) || !bc.SetFloat(SHADER_ENTRY_B, 0.0)) {
    DeleteObj(shader);
    return nullptr;
  }
  if (type == TYPE_VARIATIONSHADER) {
    NodeData* data = NewObj<VariationShaderData>(type);
    if (data == nullptr) {
      DeleteObj(shader);
      return nullptr;
    }
    shader->SetPluginType(type);
    data->SetNode(shader);
    // The variation data has no Init of its own: NodeData's, which has nothing to fail.
    shader->SetNodeData(data);
  }
  return shader;
}

void BaseShader::Free(BaseShader*& shader) { DeleteObj(shader); }

bool BaseShader::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_SHADER || id == GetType() || id == TYPE_BASELIST2D;
}

Int32 BaseShader::GetType() const {
  const Int32 id = BaseList2D::GetType();
  return id == TYPE_SHADER ? GetPluginType() : id;
}

Int32 BaseShader::GetPluginChunkLevel(Int32 type) {
  if (type == TYPE_SHADER_LEVEL5) return 5;
  if (type == TYPE_SHADER_LEVEL6) return 6;
  return 0;
}

// ---- writing ----

bool BaseShader::WritePluginData(HyperFile* hf) {
  // The header alone would lose what the file held: the contents of a kind without data class
  // are written back from the kept bytes (end byte included), and a node data writes its own.
  const Int32 type = GetType();
  NodeData* data = GetNodeData();
  Int32 level = GetPluginChunkLevel(type);
  if (GetRawData() != nullptr) {
    level = GetRawLevel();
  } else if (data != nullptr && data->GetChunkLevel() != 0) {
    level = data->GetChunkLevel();
  }
  if (!hf->WriteChunkStart(CHUNK_PLUGINDATA, level) || !hf->WriteInt32(type) ||
      !hf->WriteInt32(0) || !hf->WriteString(GetName())) {
    return false;
  }
  if (GetRawData() != nullptr)
    return hf->WriteKeptChunk(GetRawData(), GetRawSize(), false, GetRawLayout());
  if (data != nullptr && !data->Write(hf)) return false;
  return hf->WriteChunkEnd();
}

bool BaseShader::Write(HyperFile* hf) {
  if (!BaseList4D::Write(hf) || !WritePluginData(hf)) return false;
  RootList2D* children = GetChildren();
  return children == nullptr || children->WriteNodeList(hf, TYPE_SHADER, false);
}

// ---- reading ----

bool BaseShader::ReadChildList(HyperFile* hf) {
  RootShader temp;
  bool ok = temp.ReadChunk(hf, true, false);
  if (GetChildren() == nullptr) {
    RootShader* children = RootShader::Alloc();
    if (children != nullptr) SetChildren(children);
  }
  // The chunks kept among the children go with them, after the children already there.
  if (GetChildren() != nullptr && !GetChildren()->TakeKeptChunks(temp) && ok)
    ok = Fail(hf, FILEERROR_OUTOFMEMORY);
  while (GeListNode* m = temp.RootList2D::GetFirst()) {
    m->Remove();
    if (GetChildren() == nullptr) {
      DeleteObj(m);
      ok = Fail(hf, FILEERROR_OUTOFMEMORY);
      continue;
    }
    GetChildren()->InsertLast(m);
    if (!m->SetDocument(hf->GetDocument())) ok = Fail(hf, FILEERROR_OUTOFMEMORY);
  }
  return ok;
}

bool BaseShader::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList4D::HandleSubChunk(hf, id, level)) return true;
  if (id == CHUNK_NODELIST) return ReadChildList(hf);
  if (id == CHUNK_PLUGINDATA) return _ReadPluginDataChunk(this, hf, level, AllocShaderData, true);
  return false;
}

// ---- copying ----

bool BaseShader::CopyPluginData(BaseShader* dest) {
  dest->SetPluginType(GetPluginType());
  dest->FreeRawData();
  if (GetRawData() != nullptr) {
    void* bytes = nullptr;
    if (GetRawSize() > 0) {
      bytes = MemAllocNC(GetRawSize());
      if (bytes == nullptr) return false;
      std::memcpy(bytes, GetRawData(), size_t(GetRawSize()));
    }
    dest->SetRawData(bytes, GetRawSize(), GetRawLevel(), GetRawLayout());
  }
  NodeData* data = GetNodeData();
  if (data == nullptr) {
    dest->SetNodeData(nullptr);
    return true;
  }
  NodeData* target = dest->GetNodeData();
  if (target == nullptr || target->GetType() != data->GetType()) {
    bool known = true;
    target = AllocShaderData(GetType(), known, dest);
    if (target == nullptr) return false;
    target->SetNode(dest);
    dest->SetNodeData(target);
    if (!target->Init()) return false;
  }
  return data->CopyToX(target, COPYFLAGS_NONE, nullptr);
}

bool BaseShader::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  BaseShader* d = static_cast<BaseShader*>(dest);
  d->SetID(GetType());
  if (!BaseList4D::CopyToX(dest, flags, trans)) return false;
  return (flags & COPYFLAGS_NO_PLUGINDATA) != 0 || CopyPluginData(d);
}

GeListNode* BaseShader::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  // One translation for the whole subtree, so that links between the shaders of the subtree
  // point at their copies.
  AliasTrans temp;
  AliasTrans* t = trans;
  if (t == nullptr && (flags & COPYFLAGS_IDENTITY) == 0) {
    if (!temp.Init()) return nullptr;
    t = &temp;
  }
  BaseShader* clone = Alloc(GetType());
  if (clone == nullptr) return nullptr;
  bool ok = CopyTo(clone, flags, t);
  if (ok && (flags & COPYFLAGS_NO_CHILDREN) == 0 && GetChildren() != nullptr)
    ok = _CopyBranch(&_CloneChildrenUnder, this, clone, flags, t);
  if (!ok) {
    DeleteObj(clone);
    return nullptr;
  }
  if (t == &temp) temp.Zap(true);
  return clone;
}

// ---- comparison ----

bool BaseShader::Compare(BaseShader* other) {
  if (other == nullptr) return false;
  GeTempDynArray<BaseList2D> visited;
  return MatCompareContainer(GetDocument(), other->GetDocument(), GetDataInstance(),
                             other->GetDataInstance(), visited);
}

bool MatCompareContainer(BaseDocument*, BaseDocument*, const BaseContainer* a,
                         const BaseContainer* b, GeTempDynArray<BaseList2D>& visited) {
  if (a == nullptr || b == nullptr) return a == b;
  PointerSet seen;
  for (Int32 i = 0; i < visited.GetCount(); ++i)
    if (!seen.Insert(visited[i])) return false;
  // A shader met for the first time is entered into both the set and the caller's array.
  auto visit = [&](BaseList2D* node) { return seen.Insert(node) && visited.Append(node); };

  BaseArray<CompareFrame> stack;
  CompareFrame first;
  first.browse = BrowseContainer(a);
  first.b = b;
  if (!stack.Append(first)) return false;
  while (stack.GetCount() > 0) {
    CompareFrame& top = stack[stack.GetCount() - 1];
    Int32 id = 0;
    GeData* va = nullptr;
    if (!top.browse.GetNext(&id, &va)) {
      stack.Resize(stack.GetCount() - 1);
      continue;
    }
    const GeData* vb = top.b->GetData(id);
    const BaseContainer* pushA = nullptr;
    const BaseContainer* pushB = nullptr;
    if (va->GetType() == VALUETYPE_CONTAINER && vb->GetType() == VALUETYPE_CONTAINER) {
      pushA = va->GetContainer();
      pushB = vb->GetContainer();
    } else if (va->GetType() == VALUETYPE_LINK) {
      if (vb->GetType() != VALUETYPE_LINK) return false;
      // A link value always holds its link record (a value that cannot get one is nil).
      const BaseLink* la = va->GetBaseLink();
      const BaseLink* lb = vb->GetBaseLink();
      BaseList2D* na = la->GetLink();
      BaseList2D* nb = lb->GetLink();
      if (na != nb) {
        if (na != nullptr && !IsShader(na)) return false;
        if (nb != nullptr) {
          if (!IsShader(nb)) return false;
          if (na != nullptr && !seen.Contains(na)) {
            if (!visit(na)) return false;
            pushA = na->GetDataInstance();
            pushB = nb->GetDataInstance();
          }
        }
      } else if (na == nullptr) {
        if (la->GetLinkGoal() != lb->GetLinkGoal()) return false;
      } else if (IsShader(na) && !seen.Contains(na)) {
        if (!visit(na)) return false;
        pushA = pushB = na->GetDataInstance();
      }
    } else if (!(*va == *vb)) {
      return false;
    }
    if (pushA != nullptr) {
      CompareFrame next;
      next.browse = BrowseContainer(pushA);
      next.b = pushB;
      if (!stack.Append(next)) return false;  // top is not used after this point
    }
  }
  return true;
}

}  // namespace lumora
