// The file form of GeData: a value's kind and payload, and the chunk of a custom value.
#include "lum_memory.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_basecontainer.h"
#include "values/lum_gedata.h"
#include "values/lum_gedata_private.h"
#include "values/lum_gemarker.h"

namespace lumora {

using namespace gedata_internal;

// ---- GeData: file form ----

bool GeData::Write(HyperFile* hf) const {
  if (hf == nullptr) return false;
  const void* p = _payload.pointer;
  switch (_type) {
    case VALUETYPE_INT32:
      return hf->WriteInt32(_type) && hf->WriteInt32(GetInt32());
    case VALUETYPE_FLOAT:
      return hf->WriteInt32(_type) && hf->WriteFloat(GetFloat());
    case VALUETYPE_INT64:
      return hf->WriteInt32(_type) && hf->WriteInt64(GetInt64());
    case VALUETYPE_TIME:
      return hf->WriteInt32(_type) && hf->WriteTime(GetTime());
    case VALUETYPE_VECTOR:
      return hf->WriteInt32(_type) && hf->WriteVector(GetVector());
    case VALUETYPE_MATRIX:
      return hf->WriteInt32(_type) && hf->WriteMatrix(GetMatrix());
    case VALUETYPE_STRING:
      return hf->WriteInt32(_type) && hf->WriteString(GetString());
    case VALUETYPE_FILENAME:
      return hf->WriteInt32(_type) && hf->WriteFilename(GetFilename());
    case VALUETYPE_BYTEARRAY: {
      const ByteArray& b = GetByteArray();
      return hf->WriteInt32(_type) && hf->WriteMemory(b.data, b.data != nullptr ? b.length : 0);
    }
    case VALUETYPE_CONTAINER:
      return hf->WriteInt32(_type) && hf->WriteContainer(*static_cast<const BaseContainer*>(p));
    case VALUETYPE_LINK:
      return hf->WriteInt32(_type) && _GeLinkWrite(static_cast<const BaseLink*>(p), hf);
    case VALUETYPE_UNKNOWNCUSTOM: {
      const UnknownCustomData* rec = static_cast<const UnknownCustomData*>(p);
      if (rec == nullptr) return hf->WriteInt32(_type);
      // The kept bytes end with the chunk's end byte; without bytes the chunk is closed at once.
      return hf->WriteInt32(rec->originalType) && hf->WriteChunkStart(0, rec->level) &&
             hf->WriteKeptChunk(rec->bytes, rec->bytes != nullptr ? rec->size : 0, false,
                                rec->layout);
    }
    default: {
      const CustomEntry* entry = _type >= VALUETYPE_CUSTOMFIRST ? FindCustom(_type) : nullptr;
      const CustomHolder* holder = static_cast<const CustomHolder*>(p);
      if (entry == nullptr) {
        // Nil, pointers, markers and payload-less ids: the id alone. (A custom value always
        // holds its object: a copy that cannot make one leaves the value nil.)
        return hf->WriteInt32(_type);
      }
      if (!hf->WriteInt32(_type) ||
          !hf->WriteChunkStart(0, CustomWriteLevel(*entry, holder->object)) ||
          !CustomWrite(*entry, holder->object, hf)) {
        return false;
      }
      // Raw contents close their chunk themselves.
      return entry->kind == CustomKind::RAW || hf->WriteChunkEnd();
    }
  }
}

namespace {

bool OutOfMemory(HyperFile* hf) {
  hf->SetError(FILEERROR_OUTOFMEMORY);
  return false;
}

}  // namespace

bool GeData::Read(HyperFile* hf) {
  Free();
  if (hf == nullptr) return false;
  Int32 type = 0;
  if (!hf->ReadInt32(&type)) return false;
  switch (type) {
    case VALUETYPE_NIL:
      return true;
    case VALUETYPE_VOID:
      _type = VALUETYPE_VOID;
      _payload.pointer = nullptr;
      return true;
    case VALUETYPE_INT32: {
      Int32 v = 0;
      if (!hf->ReadInt32(&v)) return false;
      SetInt32(v);
      return true;
    }
    case VALUETYPE_FLOAT: {
      Float64 v = 0.0;
      if (!hf->ReadFloat(&v)) return false;
      _type = VALUETYPE_FLOAT;
      _payload.float64 = v;
      return true;
    }
    case VALUETYPE_INT64: {
      Int64 v = 0;
      if (!hf->ReadInt64(&v)) return false;
      _type = VALUETYPE_INT64;
      _payload.int64 = v;
      return true;
    }
    case VALUETYPE_BYTEARRAY: {
      void* bytes = nullptr;
      Int64 n = 0;
      if (!hf->ReadMemory(&bytes, &n)) return false;
      ByteArray* b = NewObj<ByteArray>();
      if (b == nullptr) {
        MemFree(bytes);
        return OutOfMemory(hf);
      }
      b->data = bytes;  // the block read becomes the array's buffer
      b->length = bytes != nullptr ? n : 0;
      _type = VALUETYPE_BYTEARRAY;
      _payload.pointer = b;
      return true;
    }
    case VALUETYPE_TIME:
    case VALUETYPE_VECTOR:
    case VALUETYPE_MATRIX:
    case VALUETYPE_STRING:
    case VALUETYPE_FILENAME:
    case VALUETYPE_CONTAINER: {
      if (!InitType(type)) return OutOfMemory(hf);
      void* p = _payload.pointer;
      bool ok = false;
      switch (type) {
        case VALUETYPE_TIME:
          ok = hf->ReadTime(static_cast<BaseTime*>(p));
          break;
        case VALUETYPE_VECTOR:
          ok = hf->ReadVector(static_cast<Vector64*>(p));
          break;
        case VALUETYPE_MATRIX:
          ok = hf->ReadMatrix(static_cast<Matrix64*>(p));
          break;
        case VALUETYPE_STRING:
          ok = hf->ReadString(static_cast<String*>(p));
          break;
        case VALUETYPE_FILENAME:
          ok = hf->ReadFilename(static_cast<Filename*>(p));
          break;
        default:
          ok = hf->ReadContainer(static_cast<BaseContainer*>(p), true);
          break;
      }
      if (!ok) Free();
      return ok;
    }
    case VALUETYPE_LINK: {
      BaseLink* link = _GeLinkClone(nullptr, nullptr);
      if (link == nullptr) return OutOfMemory(hf);
      _type = VALUETYPE_LINK;
      _payload.pointer = link;
      if (!_GeLinkRead(link, hf)) {
        Free();
        return false;
      }
      return true;
    }
    default:
      if (type >= VALUETYPE_CUSTOMFIRST) return ReadCustom(hf, type);
      // Markers, unknown custom records and every id
      // that is no kind cannot be read.
      hf->SetError(FILEERROR_WRONG_VALUE);
      return false;
  }
}

// The chunk of a custom value: a known type reads itself and the rest of the chunk is skipped
// (later writers may append fields); an unknown one is kept as raw bytes.
bool GeData::ReadCustom(HyperFile* hf, Int32 type) {
  Int32 chunkId = 0;
  Int32 level = 0;
  if (!hf->CheckIt(HYPERFILEVALUE_CHUNKSTART) || !hf->ReadChunkStart(&chunkId, &level)) {
    return false;
  }
  const CustomEntry* entry = FindCustom(type);
  if (entry != nullptr) {
    CustomHolder* holder = NewCustomHolder(*entry);
    if (holder == nullptr) return OutOfMemory(hf);
    _type = type;
    _payload.pointer = holder;
    CustomDataType* object = holder->object;
    bool ok = CustomRead(*entry, object, hf, level);
    // Raw contents were taken up to and including the chunk's end.
    if (ok && entry->kind != CustomKind::RAW) ok = hf->SkipToEndChunk();
    if (!ok) Free();
    return ok;
  }

  UnknownCustomData* rec = NewObjClear<UnknownCustomData>();
  if (rec == nullptr) return OutOfMemory(hf);
  rec->originalType = type;
  rec->level = level;
  _type = VALUETYPE_UNKNOWNCUSTOM;
  _payload.pointer = rec;
  bool ok = false;
  if (hf->Before12() && !KeptFromOldFiles(type)) {
    // Files older than version 11600: the contents of such values are dropped.
    rec->level = -1;
    ok = hf->SkipToEndChunk();
  } else {
    rec->layout = hf->GetRawLayout();
    ok = hf->ReadUnknownChunk(&rec->bytes, &rec->size, false);
  }
  if (!ok) Free();
  return ok;
}

bool HyperFile::WriteGeData(const GeData& value) { return value.Write(this); }

bool HyperFile::ReadGeData(GeData* value) { return value != nullptr && value->Read(this); }

}  // namespace lumora
