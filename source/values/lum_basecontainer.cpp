#include "values/lum_basecontainer.h"

#include <cstring>
#include <utility>

#include "lum_debug.h"
#include "values/lum_descid.h"
#include "stream/lum_hyperfile.h"
#include "lum_memory.h"

namespace lumora {
namespace {

const Char* const kFile = "source/lum_basecontainer";

// Type byte that ends a container of the older form.
constexpr Int32 kOldFormEnd = 3;
// Containers nested deeper than this in a file are refused: the reader recurses once per level
// and a file must not be able to exhaust the stack.
constexpr Int32 kMaxReadNesting = 1000;

// Stands in for a missing entry: lookups that find nothing hand out its nil value.
const GeDataList kEmptyEntry{};

Int32 ClampId(Int32 id) { return id < -1 ? -1 : id; }

}  // namespace

void _GeDataSwap(GeData& a, GeData& b) {
  GeData t(std::move(a));  // moves never allocate; a value swapped with itself ends as it was
  a = std::move(b);
  b = std::move(t);
}

namespace {

// Kinds whose copy needs no allocation (nil copies as nil).
bool IsInlineKind(Int32 kind) {
  return kind == VALUETYPE_NIL || kind == VALUETYPE_VOID || kind == VALUETYPE_INT32 ||
         kind == VALUETYPE_FLOAT || kind == VALUETYPE_INT64;
}

// A copy that runs out of memory leaves its destination nil; this tells such a copy from one
// of a value that copies as nil anyway. The inline kinds never come here.
bool CopySucceeded(const GeData& src, const GeData& dst) {
  if (src.GetUnknownCustomData() != nullptr) return dst.GetUnknownCustomData() != nullptr;
  const Int32 kind = src.GetType();
  switch (kind) {
    case VALUETYPE_VOID:
    case VALUETYPE_INT32:
    case VALUETYPE_FLOAT:
    case VALUETYPE_TIME:
    case VALUETYPE_VECTOR:
    case VALUETYPE_MATRIX:
    case VALUETYPE_INT64:
    case VALUETYPE_BYTEARRAY:
    case VALUETYPE_STRING:
    case VALUETYPE_FILENAME:
    case VALUETYPE_CONTAINER:
    case VALUETYPE_LINK:
    case VALUETYPE_MARKER:
      return dst.GetType() == kind;
    default:
      // Ids below the custom range that are no kind carry no payload and copy as nil.
      return kind < VALUETYPE_CUSTOMFIRST || dst.GetType() == kind;
  }
}

}  // namespace

bool _GeDataCopyChecked(const GeData& src, GeData& dst, AliasTrans* trans) {
  if (&src == &dst) return true;
  if (IsInlineKind(src.GetType())) {
    src.CopyData(&dst, trans);
    return true;
  }
  GeData copy;
  src.CopyData(&copy, trans);
  if (!CopySucceeded(src, copy)) return false;
  _GeDataSwap(dst, copy);
  return true;
}

namespace {

// Counts the nesting of ReadContainer calls (the library is used from one thread at a time).
Int32 g_readNesting = 0;

struct NestingGuard {
  NestingGuard() { ++g_readNesting; }
  ~NestingGuard() { --g_readNesting; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
};

}  // namespace

bool CompareFloatTolerant(Float a, Float b) {
  Int64 ia, ib;
  std::memcpy(&ia, &a, sizeof ia);
  std::memcpy(&ib, &b, sizeof ib);
  // The difference of two arbitrary bit patterns may not fit an Int64: subtract unsigned.
  UInt64 d = ia >= ib ? UInt64(ia) - UInt64(ib) : UInt64(ib) - UInt64(ia);
  return d < 8;
}

// ---- GeContainer ----

GeContainer::GeContainer() = default;

GeContainer::GeContainer(const BaseContainer& src) : _id(src._id) {
  for (const GeDataList* e = src._head; e != nullptr; e = e->next) {
    GeDataList* copy = NewEntry(e->id, e->data, nullptr);
    if (copy == nullptr) continue;
    Append(copy);
    Bump();
  }
}

GeContainer::~GeContainer() { FreeEntries(false); }

void GeContainer::FlushAll() { FreeEntries(true); }

void GeContainer::FreeEntries(bool bump) {
  GeDataList* e = _head;
  while (e != nullptr) {
    GeDataList* next = e->next;
    DeleteObj(e);
    if (bump) Bump();
    e = next;
  }
  _head = _tail = nullptr;
}

GeDataList* GeContainer::Find(Int32 id) const {
  for (GeDataList* e = _head; e != nullptr; e = e->next)
    if (e->id == id) return e;
  return nullptr;
}

GeDataList* GeContainer::NewEntry(Int32 id, const GeData& n, AliasTrans* trans) {
  GeDataList* e = NewObj<GeDataList>();
  if (e == nullptr) return nullptr;
  e->id = ClampId(id);
  if (!_GeDataCopyChecked(n, e->data, trans)) {
    DeleteObj(e);
    return nullptr;
  }
  return e;
}

void GeContainer::Append(GeDataList* entry) {
  entry->next = nullptr;
  if (_tail != nullptr)
    _tail->next = entry;
  else
    _head = entry;
  _tail = entry;
}

GeData* GeContainer::InsData(Int32 id, const GeData& n) {
  GeDataList* e = NewEntry(id, n, nullptr);
  if (e == nullptr) return nullptr;
  Append(e);
  Bump();
  return &e->data;
}

BaseContainer* GeContainer::InsContainer(Int32 id, const BaseContainer& n) {
  GeDataList* e = NewObj<GeDataList>();
  if (e == nullptr) return nullptr;
  e->id = ClampId(id);
  BaseContainer* held = nullptr;
  if (e->data.InitType(VALUETYPE_CONTAINER)) held = e->data.GetContainer();
  if (held == nullptr || !n.CopyTo(held, COPYFLAGS_NONE, nullptr)) {
    DeleteObj(e);
    return nullptr;
  }
  Append(e);
  Bump();
  return held;
}

GeData* GeContainer::SetData(Int32 id, const GeData& n) { return Store(id, n, nullptr); }

GeData* GeContainer::Store(Int32 id, const GeData& n, GeData* spare) {
  id = ClampId(id);
  GeDataList* e = Find(id);
  if (e == nullptr) {
    if (spare == nullptr) return InsData(id, n);
    e = NewObj<GeDataList>();
    if (e == nullptr) return nullptr;
    e->id = id;
    _GeDataSwap(e->data, *spare);
    Append(e);
    Bump();
    return &e->data;
  }

  GeData& d = e->data;
  const Int32 have = d.GetType();
  const Int32 give = n.GetType();
  bool changed = true;
  if (have != give) {
    // A numeric entry keeps its kind.
    if (have == VALUETYPE_FLOAT && give == VALUETYPE_INT32) {
      d = GeData(Float64(n.GetInt32()));
      Bump();
      return &d;
    }
    if (have == VALUETYPE_INT32 && give == VALUETYPE_FLOAT) {
      d.SetInt32(n.GetInt32());
      Bump();
      return &d;
    }
  } else if (have == VALUETYPE_FLOAT) {
    changed = !CompareFloatTolerant(d.GetFloat(), n.GetFloat());
  } else if (have == VALUETYPE_VECTOR) {
    const Vector64& a = d.GetVector();
    const Vector64& b = n.GetVector();
    changed = !CompareFloatTolerant(a.x, b.x) || !CompareFloatTolerant(a.y, b.y) ||
              !CompareFloatTolerant(a.z, b.z);
  } else if (have == VALUETYPE_CONTAINER && d.GetContainer() != nullptr &&
             d.GetContainer() == n.GetContainer()) {
    _GeDebugBreak(__LINE__, kFile);
    return &d;
  } else {
    changed = d != n;
  }

  if (spare != nullptr)
    _GeDataSwap(d, *spare);
  else if (!_GeDataCopyChecked(n, d, nullptr))
    return nullptr;
  if (changed) Bump();
  return &d;
}

bool GeContainer::RemoveData(Int32 id) {
  GeDataList* prev = nullptr;
  for (GeDataList* e = _head; e != nullptr; prev = e, e = e->next) {
    if (e->id != id) continue;
    if (prev != nullptr)
      prev->next = e->next;
    else
      _head = e->next;
    if (_tail == e) _tail = prev;
    DeleteObj(e);
    Bump();
    return true;
  }
  return false;
}

Int32 GeContainer::FindIndex(Int32 id) const {
  Int32 i = 0;
  for (const GeDataList* e = _head; e != nullptr; e = e->next, ++i)
    if (e->id == id) return i;
  return -1;
}

Int32 GeContainer::GetIndexId(Int32 index) const {
  if (index < 0) return -1;
  const GeDataList* e = _head;
  for (; e != nullptr && index > 0; e = e->next) --index;
  return e != nullptr ? e->id : -1;
}

Int32 GeContainer::GetCount() const {
  Int32 n = 0;
  for (const GeDataList* e = _head; e != nullptr; e = e->next) ++n;
  return n;
}

const GeData* GeContainer::GetData(Int32 id) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? &e->data : &kEmptyEntry.data;
}

bool GeContainer::CopyTo(BaseContainer* dest, COPYFLAGS, AliasTrans* trans) const {
  if (dest == nullptr) return false;
  if (dest == this) return true;
  // The copy is built aside and the old entries are freed only then: this container may live
  // inside one of them (a sub-container copied over its parent).
  const Int32 id = _id;
  GeDataList* head = nullptr;
  GeDataList* tail = nullptr;
  Int32 copied = 0;
  bool complete = true;
  for (const GeDataList* e = _head; e != nullptr; e = e->next) {
    GeDataList* copy = NewEntry(e->id, e->data, trans);
    if (copy == nullptr) {
      complete = false;
      continue;
    }
    (tail != nullptr ? tail->next : head) = copy;
    tail = copy;
    ++copied;
  }
  dest->FreeEntries(false);
  dest->_head = head;
  dest->_tail = tail;
  dest->_id = id;
  dest->_dirty = UInt16(dest->_dirty + copied + 1);
  return complete;
}

BaseContainer* GeContainer::GetClone(COPYFLAGS flags, AliasTrans* trans) const {
  BaseContainer* clone = BaseContainer::Alloc();
  if (clone == nullptr) return nullptr;
  if (!CopyTo(clone, flags, trans)) BaseContainer::Free(clone);
  return clone;
}

// ---- BaseContainer ----

BaseContainer& BaseContainer::operator=(const BaseContainer& src) {
  src.CopyTo(this, COPYFLAGS_NONE, nullptr);
  return *this;
}

BaseContainer* BaseContainer::Alloc() { return NewObj<BaseContainer>(); }

void BaseContainer::Free(BaseContainer*& bc) { DeleteObj(bc); }

bool BaseContainer::GetBool(Int32 id, bool preset) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetBool() : preset;
}

Int32 BaseContainer::GetInt32(Int32 id, Int32 preset) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetInt32() : preset;
}

Float BaseContainer::GetFloat(Int32 id, Float preset) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetFloat() : preset;
}

Vector64 BaseContainer::GetVector(Int32 id, const Vector64& preset) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetVector() : preset;
}

String BaseContainer::GetString(Int32 id) const { return GetString(id, String()); }

String BaseContainer::GetString(Int32 id, const String& preset) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetString() : preset;
}

BaseTime BaseContainer::GetTime(Int32 id) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetTime() : BaseTime();
}

BaseContainer BaseContainer::GetContainer(Int32 id) const {
  BaseContainer result;
  const GeDataList* e = Find(id);
  const BaseContainer* src = e != nullptr ? e->data.GetContainer() : nullptr;
  if (src == nullptr) return result;
  result._id = src->_id;
  for (const GeDataList* s = src->_head; s != nullptr; s = s->next) result.InsData(s->id, s->data);
  return result;
}

BaseContainer* BaseContainer::GetContainerInstance(Int32 id) {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetContainer() : nullptr;
}

const BaseContainer* BaseContainer::GetContainerInstance(Int32 id) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetContainer() : nullptr;
}

BaseList2D* BaseContainer::GetLink(Int32 id) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetLink() : nullptr;
}

CustomDataType* BaseContainer::GetCustomDataType(Int32 id, Int32 type) const {
  const GeDataList* e = Find(id);
  return e != nullptr ? e->data.GetCustomDataType(type) : nullptr;
}

// The typed setters build the value once and hand it over without a second copy.
bool BaseContainer::SetOwned(Int32 id, GeData& value, Int32 kind) {
  if (value.GetType() != kind) return false;  // the value itself could not be allocated
  return Store(id, value, &value) != nullptr;
}

bool BaseContainer::SetBool(Int32 id, bool value) { return SetInt32(id, value ? 1 : 0); }

bool BaseContainer::SetInt32(Int32 id, Int32 value) {
  GeData v(value);
  return SetOwned(id, v, VALUETYPE_INT32);
}

bool BaseContainer::SetUInt32(Int32 id, UInt32 value) { return SetInt32(id, Int32(value)); }

bool BaseContainer::SetFloat(Int32 id, Float value) {
  GeData v{Float64(value)};
  return SetOwned(id, v, VALUETYPE_FLOAT);
}

bool BaseContainer::SetVector(Int32 id, const Vector64& value) {
  GeData v(value);
  return SetOwned(id, v, VALUETYPE_VECTOR);
}

bool BaseContainer::SetString(Int32 id, const String& value) {
  GeData v(value);
  return SetOwned(id, v, VALUETYPE_STRING);
}

bool BaseContainer::SetTime(Int32 id, const BaseTime& value) {
  GeData v(value);
  return SetOwned(id, v, VALUETYPE_TIME);
}

bool BaseContainer::SetFilename(Int32 id, const Filename& value) {
  GeData v(value);
  return SetOwned(id, v, VALUETYPE_FILENAME);
}

bool BaseContainer::SetContainer(Int32 id, const BaseContainer& value) {
  const GeDataList* e = Find(ClampId(id));
  if (e != nullptr && e->data.GetType() == VALUETYPE_CONTAINER &&
      e->data.GetContainer() == &value) {
    _GeDebugBreak(__LINE__, kFile);
    return true;
  }
  GeData v(value);
  return SetOwned(id, v, VALUETYPE_CONTAINER);
}

// ---- path access ----

namespace {

// The number of levels a path access walks: the depth, but at least the first level of an id
// that has one (its id may be 0).
Int32 PathLength(const DescID& id) {
  Int32 n = id.GetDepth();
  return n == 0 && id.GetCount() > 0 ? 1 : n;
}

}  // namespace

bool BaseContainer::GetParameter(const DescID& id, GeData& out) const {
  const Int32 n = PathLength(id);
  if (n == 0) {
    out.Free();
    return false;
  }
  const BaseContainer* c = this;
  for (Int32 i = 0; i + 1 < n; ++i) {
    const DescLevel& level = id[i];
    switch (level.dataType) {
      case DTYPE_SUBCONTAINER: {
        const GeDataList* e = c->Find(level.id);
        const BaseContainer* sub = e != nullptr && e->data.GetType() == VALUETYPE_CONTAINER
                                       ? e->data.GetContainer()
                                       : nullptr;
        if (sub == nullptr) {
          out.Free();
          return true;
        }
        c = sub;
        break;
      }
      case DTYPE_VECTOR: {
        const Vector64 v = c->GetData(level.id)->GetVector();
        switch (id[i + 1].id) {
          case VECTOR_X:
            out = GeData(Float64(v.x));
            break;
          case VECTOR_Y:
            out = GeData(Float64(v.y));
            break;
          case VECTOR_Z:
            out = GeData(Float64(v.z));
            break;
          default:
            break;
        }
        return true;
      }
      case DTYPE_SUBCONTAINER_TRANSPARENT:
        break;
      default:
        return true;
    }
  }
  if (!_GeDataCopyChecked(*c->GetData(id[n - 1].id), out, nullptr)) {
    out.Free();
    return false;
  }
  return true;
}

bool BaseContainer::SetParameter(const DescID& id, const GeData& value) {
  const Int32 n = PathLength(id);
  if (n == 0) return false;
  if (n > 1) Bump();
  BaseContainer* c = this;
  for (Int32 i = 0; i + 1 < n; ++i) {
    const DescLevel& level = id[i];
    switch (level.dataType) {
      case DTYPE_SUBCONTAINER: {
        GeDataList* e = c->Find(level.id);
        BaseContainer* sub = e != nullptr && e->data.GetType() == VALUETYPE_CONTAINER
                                 ? e->data.GetContainer()
                                 : nullptr;
        if (sub == nullptr) {
          // Every entry under the id goes, so that lookups find the new container.
          for (bool removed = true; removed;) removed = c->RemoveData(level.id);
          sub = c->InsContainer(level.id, BaseContainer());
          if (sub == nullptr) return false;
        }
        sub->Bump();
        c = sub;
        break;
      }
      case DTYPE_VECTOR: {
        Vector64 v = c->GetData(level.id)->GetVector();
        const Float64 f = value.GetFloat();
        switch (id[i + 1].id) {
          case VECTOR_X:
            v.x = f;
            break;
          case VECTOR_Y:
            v.y = f;
            break;
          case VECTOR_Z:
            v.z = f;
            break;
          default:
            break;
        }
        GeData stored(v);
        if (stored.GetType() != VALUETYPE_VECTOR) return false;
        return c->Store(level.id, stored, &stored) != nullptr;
      }
      default:
        // A transparent level and any other type end the walk here when setting.
        return true;
    }
  }
  return c->SetData(id[n - 1].id, value) != nullptr;
}

bool BaseContainer::RemoveParameter(const DescID& id) {
  const Int32 n = PathLength(id);
  if (n == 0) return false;
  BaseContainer* c = this;
  for (Int32 i = 0; i + 1 < n; ++i) {
    const DescLevel& level = id[i];
    if (level.dataType != DTYPE_SUBCONTAINER) return false;
    GeDataList* e = c->Find(level.id);
    BaseContainer* sub = nullptr;
    if (e == nullptr) {
      sub = c->InsContainer(level.id, BaseContainer());
      if (sub == nullptr) return false;
    } else if (e->data.GetType() == VALUETYPE_CONTAINER) {
      sub = e->data.GetContainer();
    }
    // An entry that is no container holds nothing at this path. A container appended beside it
    // could never be found (lookups take the first entry with the id) and would only travel
    // into files as a stray duplicate, so nothing is added.
    if (sub == nullptr) return true;
    sub->Bump();
    c = sub;
  }
  c->RemoveData(id[n - 1].id);
  Bump();
  return true;
}

// ---- whole containers ----

namespace {

// True when inner is held somewhere below outer.
bool HoldsContainer(const GeContainer& outer, const GeContainer* inner) {
  BrowseContainer browse(static_cast<const BaseContainer*>(&outer));
  GeData* data = nullptr;
  while (browse.GetNext(nullptr, &data)) {
    const BaseContainer* sub =
        data->GetType() == VALUETYPE_CONTAINER ? data->GetContainer() : nullptr;
    if (sub != nullptr && (sub == inner || HoldsContainer(*sub, inner))) return true;
  }
  return false;
}

}  // namespace

bool BaseContainer::MergeContainer(const BaseContainer& src) {
  // Setting an entry may free the container src lives in: merge from a copy then.
  if (&src != this && HoldsContainer(*this, &src)) {
    BaseContainer copy;
    if (!src.CopyTo(&copy, COPYFLAGS_NONE, nullptr)) return false;
    return MergeContainer(copy);
  }
  bool complete = true;
  for (const GeDataList* e = src._head; e != nullptr; e = e->next)
    if (SetData(e->id, e->data) == nullptr) complete = false;
  return complete;
}

bool BaseContainer::operator==(const BaseContainer& other) const {
  return IdenticalContainer(*this, other);
}

bool BaseContainer::operator!=(const BaseContainer& other) const {
  return !IdenticalContainer(*this, other);
}

bool IdenticalContainer(const BaseContainer& a, const BaseContainer& b) {
  if (a.GetId() != b.GetId()) return false;
  BrowseContainer ba(&a), bb(&b);
  Int32 ida = 0, idb = 0;
  GeData* da = nullptr;
  GeData* db = nullptr;
  for (;;) {
    const bool moreA = ba.GetNext(&ida, &da);
    const bool moreB = bb.GetNext(&idb, &db);
    if (!moreA || !moreB) return moreA == moreB;
    if (ida != idb || da->GetType() != db->GetType() || *da != *db) return false;
  }
}

// ---- BrowseContainer ----

BrowseContainer::BrowseContainer(const BaseContainer* bc)
    : _bc(bc), _next(bc != nullptr ? bc->_head : nullptr) {}

void BrowseContainer::Reset() { _next = _bc != nullptr ? _bc->_head : nullptr; }

bool BrowseContainer::GetNext(Int32* id, GeData** data) {
  if (_next == nullptr) return false;
  if (id != nullptr) *id = _next->id;
  if (data != nullptr) *data = &_next->data;
  _next = _next->next;
  return true;
}

// ---- file forms ----

bool HyperFile::WriteContainer(const BaseContainer& bc) {
  if (!WriteChunkStart(CONTAINER_CHUNK_ID, CONTAINER_CHUNK_LEVEL)) return false;
  if (!WriteInt32(bc.GetId())) return false;
  BrowseContainer browse(&bc);
  Int32 id = 0;
  GeData* data = nullptr;
  while (browse.GetNext(&id, &data)) {
    if (data->GetType() == VALUETYPE_VOID) continue;  // pointers mean nothing in a file
    if (!WriteInt32(id)) return false;
    if (!data->Write(this)) return false;
  }
  return WriteChunkEnd();
}

namespace {

// Stores a value read for entry id the way the current form does: into a new entry when the
// container was flushed (so repeated ids survive), else into the entry SetData(id, nil) leaves.
// The value is handed over, not copied.
bool StoreRead(HyperFile* hf, BaseContainer* bc, bool flush, Int32 id, GeData& value) {
  GeData* slot = flush ? bc->InsData(id, GeData()) : bc->SetData(id, GeData());
  if (slot == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  _GeDataSwap(*slot, value);
  return true;
}

// Reads the value of one record of the older form, whose type byte has been read.
bool ReadOldValue(HyperFile* hf, Int32 type, GeData& value) {
  switch (type) {
    case VALUETYPE_INT32: {
      Int32 v = 0;
      if (!hf->ReadInt32(&v)) return false;
      value = GeData(v);
      return true;
    }
    case VALUETYPE_FLOAT: {
      Float v = 0.0;
      if (!hf->ReadFloat(&v)) return false;
      value = GeData(Float64(v));
      return true;
    }
    case VALUETYPE_TIME: {
      BaseTime v;
      if (!hf->ReadTime(&v)) return false;
      value = GeData(v);
      break;
    }
    case VALUETYPE_VECTOR: {
      Vector64 v;
      if (!hf->ReadVector(&v)) return false;
      value = GeData(v);
      break;
    }
    case VALUETYPE_MATRIX: {
      Matrix64 v;
      if (!hf->ReadMatrix(&v)) return false;
      value = GeData(v);
      break;
    }
    case VALUETYPE_BYTEARRAY: {
      void* bytes = nullptr;
      Int64 size = 0;
      if (!hf->ReadMemory(&bytes, &size)) return false;
      ByteArray array;
      const bool ok = array.Init(bytes, size) || size == 0;
      MemFree(bytes);
      if (!ok) break;
      value = GeData(array);
      break;
    }
    case VALUETYPE_STRING: {
      String v;
      if (!hf->ReadString(&v)) return false;
      value = GeData(v);
      break;
    }
    case VALUETYPE_FILENAME: {
      Filename v;
      if (!hf->ReadFilename(&v)) return false;
      value = GeData(v);
      break;
    }
    default:
      return false;
  }
  if (value.GetType() != type) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return true;
}

}  // namespace

bool HyperFile::ReadContainer(BaseContainer* bc, bool flush) {
  if (bc != nullptr && flush) bc->FlushAll();
  if (_error != FILEERROR_NONE) return false;
  if (bc == nullptr) return Fail(FILEERROR_INVALID, __LINE__);
  if (g_readNesting >= kMaxReadNesting) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  NestingGuard nesting;

  // Raw numbers of the form (without a kind byte of their own), each read after a step that
  // succeeded.
  auto readRaw = [this](Int32* v) -> bool { return _file.ReadInt32(v) || FileFailed(__LINE__); };

  HYPERFILEVALUE kind;
  if (!ReadValueHeader(&kind)) return false;

  if (kind == HYPERFILEVALUE_CHUNKSTART) {
    Int32 chunkId = 0, level = 0;
    if (!ReadChunkStart(&chunkId, &level)) return false;
    if (chunkId != CONTAINER_CHUNK_ID) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
    if (level < 1) return true;
    Int32 id = 0;
    if (!ReadInt32(&id)) return false;
    bc->SetId(id);
    for (;;) {
      HYPERFILEVALUE header;
      if (!ReadValueHeader(&header)) return false;
      if (header == HYPERFILEVALUE_CHUNKEND) return ReadChunkEnd();
      if (header != HYPERFILEVALUE_INT32) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
      Int32 entryId = 0;
      if (!readRaw(&entryId)) return false;
      GeData value;
      if (!value.Read(this)) {
        if (_error == FILEERROR_NONE) Fail(FILEERROR_WRONG_VALUE, __LINE__);
        return false;
      }
      if (!StoreRead(this, bc, flush, entryId, value)) return false;
    }
  }

  if (kind != HYPERFILEVALUE_CONTAINER) return Fail(FILEERROR_WRONG_VALUE, __LINE__);

  // The older form: raw Int32 (unused), Int32 container id, then records of raw Int32 entry id
  // and raw type byte followed by the value, up to the type byte 3.
  Int32 unused = 0, id = 0;
  if (!readRaw(&unused) || !ReadInt32(&id)) return false;
  bc->SetId(id);
  for (;;) {
    Int32 entryId = 0;
    if (!readRaw(&entryId)) return false;
    UChar type = 0;
    if (!_file.ReadUChar(&type)) return FileFailed(__LINE__);
    if (type == kOldFormEnd) {
      if (entryId == -1) return true;
      return Fail(FILEERROR_WRONG_VALUE, __LINE__);
    }
    if (type == VALUETYPE_CONTAINER) {
      BaseContainer* target = nullptr;
      if (!flush) {
        GeDataList* e = bc->Find(ClampId(entryId));
        if (e != nullptr && e->data.GetType() == VALUETYPE_CONTAINER)
          target = e->data.GetContainer();
      }
      if (target == nullptr) target = bc->InsContainer(entryId, BaseContainer());
      if (target == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
      if (!ReadContainer(target, false)) return false;
      continue;
    }
    GeData value;
    if (!ReadOldValue(this, type, value)) {
      if (_error == FILEERROR_NONE) {
        _GeDebugBreak(__LINE__, kFile);  // a type this form does not have
        Fail(FILEERROR_WRONG_VALUE, __LINE__);
      }
      return false;
    }
    // Unlike the current form, the value itself goes through SetData: a numeric entry keeps
    // its kind.
    if (flush) {
      if (!StoreRead(this, bc, true, entryId, value)) return false;
    } else if (bc->Store(entryId, value, &value) == nullptr) {
      return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
    }
  }
}

}  // namespace lumora
