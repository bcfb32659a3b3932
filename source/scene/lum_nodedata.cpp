// NodeData, RawNodeData and the plug-in data chunk of single-data nodes (see lum_nodedata.h).
#include "scene/lum_nodedata.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

void _FreeNodeData(NodeData*& data) {
  if (data == nullptr) return;
  data->Free();
  DeleteObj(data);
}

// ---- RawNodeData ----

void RawNodeData::FreeBytes() {
  MemFree(_bytes);
  _size = 0;
}

bool RawNodeData::Read(HyperFile* hf, Int32, Int32 level) {
  FreeBytes();
  _level = level;
  _layout = hf->GetRawLayout();
  return hf->ReadUnknownChunk(&_bytes, &_size, true);
}

bool RawNodeData::Write(HyperFile* hf) { return hf->WriteKeptChunk(_bytes, _size, true, _layout); }

bool RawNodeData::CopyToX(PrivateChunk* dest, COPYFLAGS, AliasTrans*) {
  RawNodeData* d = static_cast<RawNodeData*>(dest);
  if (d == this) return true;
  d->FreeBytes();
  d->_level = _level;
  d->_layout = _layout;
  if (_bytes == nullptr || _size <= 0) return true;
  d->_bytes = MemAllocNC(_size);
  if (d->_bytes == nullptr) return false;
  std::memcpy(d->_bytes, _bytes, size_t(_size));
  d->_size = _size;
  return true;
}

// ---- the plug-in data chunk of single-data nodes ----

namespace {

bool Fail(HyperFile* hf, FILEERROR error) {
  if (hf->GetError() == FILEERROR_NONE) hf->SetError(error);
  return false;
}

}  // namespace

bool _ReadPluginDataChunk(BaseList2D* node, HyperFile* hf, Int32 level, NodeDataAllocator alloc,
                          bool takeType) {
  Int32 type = 0;
  String name;
  if (!hf->ReadInt32(&type) || !hf->ReadInt32(nullptr) || !hf->ReadString(&name)) return false;
  node->SetPluginType(type);
  if (takeType) node->SetID(type);
  if (node->GetName().GetLength() == 0) node->SetName(name);
  node->SetNodeData(nullptr);
  node->FreeRawData();
  bool known = true;
  NodeData* data = alloc != nullptr ? alloc(type, known, node) : nullptr;
  if (alloc == nullptr) known = false;
  if (data == nullptr && known) return Fail(hf, FILEERROR_OUTOFMEMORY);
  if (data != nullptr) {
    data->SetNode(node);
    node->SetNodeData(data);
    if (!node->InitDataKeepingContainer(data)) return Fail(hf, FILEERROR_OUTOFMEMORY);
    if (!data->Read(hf, CHUNK_PLUGINDATA, level)) return Fail(hf, FILEERROR_READ);
    return data->ReadsToChunkEnd() || hf->SkipToEndChunk();
  }
  if (hf->Before12()) return hf->SkipToEndChunk();
  void* bytes = nullptr;
  Int64 size = 0;
  if (!hf->ReadUnknownChunk(&bytes, &size, false)) return false;
  node->SetRawData(bytes, size, level, hf->GetRawLayout());
  return true;
}

bool _WritePluginDataChunk(BaseList2D* node, HyperFile* hf) {
  NodeData* data = node->GetNodeData();
  if (data != nullptr) {
    return hf->WriteChunkStart(CHUNK_PLUGINDATA, data->GetChunkLevel()) &&
           hf->WriteInt32(node->GetPluginType()) && hf->WriteInt32(0) &&
           hf->WriteString(node->GetName()) && data->Write(hf) && hf->WriteChunkEnd();
  }
  if (node->GetRawData() == nullptr && node->GetPluginType() == 0) return true;
  // The kept bytes end with the chunk's end byte.
  return hf->WriteChunkStart(CHUNK_PLUGINDATA, node->GetRawLevel()) &&
         hf->WriteInt32(node->GetPluginType()) && hf->WriteInt32(0) &&
         hf->WriteString(node->GetName()) &&
         hf->WriteKeptChunk(node->GetRawData(), node->GetRawSize(), false, node->GetRawLayout());
}

void FreeKeptChunks(BaseArray<RawNodeData*>& kept) {
  for (RawNodeData*& k : kept) DeleteObj(k);
  kept.Flush();
}

bool CopyKeptChunks(const BaseArray<RawNodeData*>& from, BaseArray<RawNodeData*>& dest,
                    COPYFLAGS flags, AliasTrans* trans) {
  FreeKeptChunks(dest);
  for (RawNodeData* k : from) {
    RawNodeData* copy = NewObj<RawNodeData>(k->GetType());
    if (copy == nullptr) return false;
    if (!k->CopyToX(copy, flags, trans) || !dest.Append(copy)) {
      DeleteObj(copy);
      return false;
    }
  }
  return true;
}

}  // namespace lumora
