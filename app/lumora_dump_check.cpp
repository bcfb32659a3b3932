// lumora-dump --check: reads each list of nodes in a stream with the library's node classes,
// writes it back into memory and compares the bytes.
//
// The classes that read a list come from one table, keyed by the disk types of the list's
// members: a family that brings a list class adds its rows. A list whose members no class reads,
// or whose members belong to more than one family, is named and left unchecked. A list is
// checked whole: the lists inside its members (children, tags, tracks) go with it. Goal and link
// identities (addresses of the writing process) are not compared.
#include <cstdio>
#include <cstring>

#include "lum_alien_hooks.h"
#include "lumora_dump.h"
#include "animation/lum_rootctrack.h"
#include "objects/lum_roottag.h"
#include "shading/lum_rootshader.h"
#include "scene/lum_basedocument.h"
#include "scene/lum_pluginnode.h"

namespace lumdump {

using lumora::HyperFile;
using lumora::HyperFileAnyValue;
using lumora::Int32;
using lumora::Int64;
using lumora::RootList2D;
using lumora::UChar;

namespace {

// Named nodes stored under their own disk type (110050), as a list of BaseList2D.
class NamedNodeList : public RootList2D {
 public:
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override {
    if (RootList2D::HandleSubChunk(hf, id, level)) return true;
    if (id != lumora::TYPE_BASELIST2D) return false;
    return AppendRead(hf, lumora::NewObj<lumora::BaseList2D>(lumora::TYPE_BASELIST2D));
  }
  bool Write(HyperFile* hf) override { return WriteMembers(hf); }
};

// The list class that reads members of disk types first..last. Rows of one family share their
// alloc: a list whose members all fall in rows of one family (objects of several types, tags of
// several types) is read by that family's class.
struct ListClass {
  Int32 first, last;  // member disk types, both ends included
  RootList2D* (*alloc)();
  const char* family;
};

RootList2D* AllocPluginNodeList() { return lumora::RootPluginNode::Alloc(); }
RootList2D* AllocNamedNodeList() { return lumora::NewObj<NamedNodeList>(); }
// The application's object list: the one the library itself asks for a node's children.
RootList2D* AllocObjectList() { return AllocAlienRootObject(); }
RootList2D* AllocTagList() { return lumora::NewObj<lumora::RootTag>(); }
RootList2D* AllocTrackList() { return lumora::RootCTrack::Alloc(); }
RootList2D* AllocShaderList() { return lumora::RootShader::Alloc(); }

constexpr Int32 kShader = 5707;  // a shader's disk type, amid the tags' ones

const ListClass kListClasses[] = {
    {lumora::TYPE_BASELIST2D, lumora::TYPE_BASELIST2D, AllocNamedNodeList, "named nodes"},
    {lumora::TYPE_PLUGINNODE, lumora::TYPE_PLUGINNODE, AllocPluginNodeList, "plug-in nodes"},
    // Objects: the built-in range (polygon 5100 ... object 5155; objects with node data go
    // under 5154 or their data's disk type: 1001091 a polygon object), and the application's
    // object types outside it (its hook table).
    {5100, 5199, AllocObjectList, "objects"},
    {1001003, 1001003, AllocObjectList, "objects"},
    {lumora::TYPE_POLYGONOBJECTDATA_DISK, lumora::TYPE_POLYGONOBJECTDATA_DISK, AllocObjectList,
     "objects"},
    {1001253, 1001253, AllocObjectList, "objects"},
    {1002603, 1002603, AllocObjectList, "objects"},
    {1008796, 1008796, AllocObjectList, "objects"},
    {1008982, 1008982, AllocObjectList, "objects"},
    {1010865, 1010865, AllocObjectList, "objects"},
    {1011146, 1011146, AllocObjectList, "objects"},
    {1011194, 1011194, AllocObjectList, "objects"},
    {1011196, 1011196, AllocObjectList, "objects"},
    {lumora::TYPE_JOINTOBJECT, 1019363, AllocObjectList, "objects"},
    {1024543, 1024543, AllocObjectList, "objects"},
    {1025766, 1025766, AllocObjectList, "objects"},
    {1036448, 1036448, AllocObjectList, "objects"},
    {1036557, 1036557, AllocObjectList, "objects"},
    {1039859, 1039859, AllocObjectList, "objects"},
    {1039867, 1039867, AllocObjectList, "objects"},
    {431000174, 431000174, AllocObjectList, "objects"},
    // Tags: the built-in range (point 5600 ... normal 5711, shaders 5707 aside), plug-in tags,
    // and the tag types stored under ids of their own.
    {lumora::TAG_POINT, kShader - 1, AllocTagList, "tags"},
    {kShader + 1, 5799, AllocTagList, "tags"},
    {1001149, 1001149, AllocTagList, "tags"},
    {1007579, 1007579, AllocTagList, "tags"},
    {lumora::TAG_SELECTIONSET, lumora::TAG_SELECTIONSET, AllocTagList, "tags"},
    {1017874, 1017874, AllocTagList, "tags"},
    {1019365, 1019365, AllocTagList, "tags"},
    {lumora::TAG_POSEMORPH, lumora::TAG_POSEMORPH, AllocTagList, "tags"},
    {lumora::TAG_VERTEXCOLOR, lumora::TAG_VERTEXCOLOR, AllocTagList, "tags"},
    // Tracks: value and data tracks, special tracks.
    {lumora::TYPE_CTRACK, lumora::TYPE_CTRACK, AllocTrackList, "tracks"},
    {lumora::TYPE_CTRACK_SPECIAL, lumora::TYPE_CTRACK_SPECIAL, AllocTrackList, "tracks"},
    {kShader, kShader, AllocShaderList, "shaders"},
};

const ListClass* FindListClass(Int32 memberType) {
  for (const ListClass& c : kListClasses)
    if (memberType >= c.first && memberType <= c.last) return &c;
  return nullptr;
}

// The first offset at which a and b differ, the 8 identity bytes after each goal and link
// record prefix aside; -1 when they are the same.
Int64 FirstDifference(const UChar* a, Int64 na, const UChar* b, Int64 nb) {
  static const char* const kPrefixes[] = {"agoal1", "alias2"};
  Int64 i = 0;
  while (i < na && i < nb) {
    bool record = false;
    for (const char* prefix : kPrefixes) {
      if (i + 14 <= na && i + 14 <= nb && std::memcmp(a + i, prefix, 6) == 0 &&
          std::memcmp(b + i, prefix, 6) == 0)
        record = true;
    }
    if (record) {
      i += 14;
      continue;
    }
    if (a[i] != b[i]) return i;
    ++i;
  }
  return na == nb ? -1 : i;
}

class Checker {
 public:
  Checker(HyperFile* hf, const char* label, const Options& options, Sink out, Sink err)
      : _hf(hf), _label(label), _options(options), _out(out), _err(err) {}

  int Run();

 private:
  void Say(Sink sink, const char* text) {
    if (sink.write == nullptr) return;
    char head[256];
    const int n = std::snprintf(head, sizeof head, "lumora-dump: %s: ", _label);
    if (sink.data != _out.data || sink.write != _out.write)
      sink.write(head, static_cast<size_t>(n), sink.data);
    sink.write(text, std::strlen(text), sink.data);
  }
  // Checks the list whose chunk start (level) was read at offset; its rest follows in _hf.
  bool CheckList(Int64 offset, Int32 level);
  bool Compare(Int64 offset, const ListClass& c, Int32 memberType, bool mixed,
               const lumora::Filename& input, const UChar* in, Int64 inSize, Int64 members);
  // "3 members of type 5100 (polygon object)", or of several types of one family.
  void Members(char* text, size_t size, Int64 members, Int32 memberType, bool mixed,
               const ListClass& c);

  HyperFile* _hf;
  const char* _label;
  const Options& _options;
  Sink _out;
  Sink _err;
  Int64 _checked = 0;
  Int64 _differ = 0;
  Int64 _unchecked = 0;
};

void Checker::Members(char* text, size_t size, Int64 members, Int32 memberType, bool mixed,
                      const ListClass& c) {
  const char* name = ChunkName(memberType);
  if (mixed)
    std::snprintf(text, size, "%lld members of several types (%s)",
                  static_cast<long long>(members), c.family);
  else
    std::snprintf(text, size, "%lld members of type %d (%s)", static_cast<long long>(members),
                  static_cast<int>(memberType), name != nullptr ? name : "unnamed");
}

bool Checker::Compare(Int64 offset, const ListClass& c, Int32 memberType, bool mixed,
                      const lumora::Filename& input, const UChar* in, Int64 inSize,
                      Int64 members) {
  char line[400];
  char what[120];
  Members(what, sizeof what, members, memberType, mixed, c);
  RootList2D* list = c.alloc();
  if (list == nullptr) {
    Say(_err, "out of memory\n");
    return false;
  }
  HyperFile reader;
  reader.SetFileVersion(_options.fileVersion);
  reader.SetFloat32Mode(_options.float32);
  lumora::BaseDocument document;
  lumora::AliasTrans trans;
  bool ok = reader.Open(input, lumora::FILEOPEN_READ) && trans.Init();
  if (ok) {
    if (_options.littleEndian) reader.SetByteOrder(lumora::BYTEORDER_INTEL);
    document.SetAliasTrans(&trans);
    reader.SetDocument(&document);
    ok = list->ReadObject(&reader, true) && reader.GetError() == lumora::FILEERROR_NONE;
    trans.Zap(false);
    document.SetAliasTrans(nullptr);
  }
  if (!ok) {
    std::snprintf(line, sizeof line,
                  "offset %lld: node list, %s: the node classes cannot read it (file error %d)\n",
                  static_cast<long long>(offset), what, static_cast<int>(reader.GetError()));
    Say(_out, line);
    lumora::DeleteObj(list);
    return false;
  }
  lumora::Filename written;
  written.SetMemoryTarget();
  HyperFile writer;
  const void* out = nullptr;
  Int64 outSize = 0;
  ok = writer.Open(written, lumora::FILEOPEN_WRITE);
  if (ok) {
    writer.SetFloat32Mode(_options.float32);
    if (_options.littleEndian) writer.SetByteOrder(lumora::BYTEORDER_INTEL);
    ok = list->WriteObject(&writer, 1);
    ok = writer.Close() && ok && written.CollectMemoryData(&out, &outSize);
  }
  lumora::DeleteObj(list);
  if (!ok) {
    Say(_err, "cannot write the list into memory\n");
    return false;
  }
  // Both streams start with the wrapping chunk (9 bytes) before the list's own chunk start.
  const Int64 at = FirstDifference(in, inSize, static_cast<const UChar*>(out), outSize);
  ++_checked;
  if (at < 0) {
    std::snprintf(line, sizeof line, "offset %lld: node list, %s: identical\n",
                  static_cast<long long>(offset), what);
  } else {
    ++_differ;
    const Int64 fileOffset = offset + (at > 9 ? at - 9 : 0);
    std::snprintf(line, sizeof line,
                  "offset %lld: node list, %s: differs at offset %lld (%lld bytes read, %lld "
                  "written)\n",
                  static_cast<long long>(offset), what, static_cast<long long>(fileOffset),
                  static_cast<long long>(inSize - 10),
                  static_cast<long long>(outSize - 10));
  }
  Say(_out, line);
  return true;
}

bool Checker::CheckList(Int64 offset, Int32 level) {
  void* raw = nullptr;
  Int64 rawSize = 0;
  if (!_hf->ReadUnknownChunk(&raw, &rawSize, false)) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "offset %lld: expected the end of the node list that starts here\n",
                  static_cast<long long>(offset));
    Say(_err, line);
    return false;
  }
  // The list as a stream of its own, wrapped in a chunk so that a list head reads it as its
  // object: chunk(1, 0) { the list's chunk as stored } end.
  lumora::Filename input;
  input.SetMemoryTarget();
  HyperFile wrap;
  const void* in = nullptr;
  Int64 inSize = 0;
  bool ok = wrap.Open(input, lumora::FILEOPEN_WRITE);
  if (ok) {
    if (_options.littleEndian) wrap.SetByteOrder(lumora::BYTEORDER_INTEL);
    ok = wrap.WriteChunkStart(1, 0) && wrap.WriteChunkStart(lumora::CHUNK_NODELIST, level) &&
         wrap.WriteUnknownChunk(raw, rawSize, false) && wrap.WriteChunkEnd();
    ok = wrap.Close() && ok && input.CollectMemoryData(&in, &inSize);
  }
  // The members: the chunks directly inside the list.
  Int64 members = 0;
  Int32 memberType = 0;
  bool mixed = false;    // members of more than one type
  bool foreign = false;  // members no single list class reads together
  const ListClass* c = nullptr;
  if (ok) {
    lumora::Filename rawName;
    rawName.SetMemoryData(raw, rawSize, false);
    HyperFile scan;
    scan.SetFileVersion(_options.fileVersion);
    scan.SetFloat32Mode(_options.float32);
    HyperFileAnyValue v;
    if (scan.Open(rawName, lumora::FILEOPEN_READ)) {
      if (_options.littleEndian) scan.SetByteOrder(lumora::BYTEORDER_INTEL);
      while (scan.GetPosition() < scan.GetLength()) {
        const Int32 depth = scan.GetChunkDepth();
        if (!scan.ReadAnyValue(&v)) break;
        if (v.kind == lumora::HYPERFILEVALUE_CHUNKSTART && depth == 0) {
          const ListClass* own = FindListClass(v.id);
          if (members == 0) {
            memberType = v.id;
            c = own;
          } else if (v.id != memberType) {
            mixed = true;
          }
          if (own == nullptr || c == nullptr || own->alloc != c->alloc) foreign = true;
          ++members;
        }
      }
    }
  }
  lumora::MemFree(raw);
  if (!ok) {
    Say(_err, "cannot copy a node list into memory\n");
    return false;
  }
  if (members == 0 || foreign) c = nullptr;
  if (c == nullptr) {
    char line[200];
    if (members == 0)
      std::snprintf(line, sizeof line, "offset %lld: empty node list: not checked\n",
                    static_cast<long long>(offset));
    else if (mixed)
      std::snprintf(line, sizeof line,
                    "offset %lld: node list, %lld members of several types: not checked\n",
                    static_cast<long long>(offset), static_cast<long long>(members));
    else
      std::snprintf(line, sizeof line,
                    "offset %lld: node list, %lld members of type %d: not checked (no class "
                    "reads them)\n",
                    static_cast<long long>(offset), static_cast<long long>(members),
                    static_cast<int>(memberType));
    Say(_out, line);
    ++_unchecked;
    return true;
  }
  if (!Compare(offset, *c, memberType, mixed, input, static_cast<const UChar*>(in), inSize,
               members))
    ++_differ;
  return true;
}

int Checker::Run() {
  HyperFileAnyValue v;
  while (_hf->GetPosition() < _hf->GetLength()) {
    if (!_hf->ReadAnyValue(&v)) {
      char line[200];
      std::snprintf(line, sizeof line, "offset %lld: expected a whole value (file error %d)\n",
                    static_cast<long long>(v.offset), static_cast<int>(_hf->GetError()));
      Say(_err, line);
      return kExitFault;
    }
    if (v.kind == lumora::HYPERFILEVALUE_CHUNKSTART && v.id == lumora::CHUNK_NODELIST &&
        !CheckList(v.offset, v.level))
      return kExitFault;
  }
  if (_hf->GetChunkDepth() != 0) {
    char line[200];
    std::snprintf(line, sizeof line, "offset %lld: expected the end of a chunk\n",
                  static_cast<long long>(_hf->GetLength()));
    Say(_err, line);
    return kExitFault;
  }
  char line[200];
  std::snprintf(line, sizeof line, "%lld node lists checked, %lld differ, %lld not checked\n",
                static_cast<long long>(_checked), static_cast<long long>(_differ),
                static_cast<long long>(_unchecked));
  Say(_out, line);
  return _differ == 0 ? kExitOk : kExitFault;
}

}  // namespace

int Check(const lumora::Filename& name, const char* label, const Options& options, Sink out,
          Sink err) {
  HyperFile hf;
  hf.SetFileVersion(options.fileVersion);
  hf.SetFloat32Mode(options.float32);
  if (!hf.Open(name, lumora::FILEOPEN_READ)) {
    char line[300];
    const int n = std::snprintf(line, sizeof line, "lumora-dump: cannot open %s (file error %d)\n",
                                label, static_cast<int>(hf.GetError()));
    if (err.write != nullptr) err.write(line, static_cast<size_t>(n), err.data);
    return kExitFault;
  }
  if (options.littleEndian) hf.SetByteOrder(lumora::BYTEORDER_INTEL);
  Checker checker(&hf, label, options, out, err);
  return checker.Run();
}

}  // namespace lumdump
