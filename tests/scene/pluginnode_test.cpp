// Plug-in nodes and node data: the application's hook tables, plug-in data chunks of known,
// unknown and kept kinds surviving read -> write, slot indices, container values winning over
// Init's defaults on read and on copy, and the single-data chunk of objects, tags and shaders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lum_alien_hooks.h"
#include "lumora.h"
#include "scene_support.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }

std::string Int(Int32 v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0F %08X ", UInt32(v));
  return buf;
}

TEST(AllocationHooks, TablesAnswerAsListed) {
  const Int32 objectKnown[] = {5102, 5126, 1011146, 1011194, 1011196, 1019362, 1019363, 1024543,
                               1036448, 1036557, 1039859, 1039867, 431000174, 5104, 5105, 5106,
                               5113, 5116, 5121, 5122, 5123, 5128, 5129, 5131, 5133, 5134, 5140,
                               5145, 5147, 5149, 5159, 5166, 5174, 1001003, 1001253, 1002603,
                               1008796, 1008982, 1010865, 1025766, 5103};
  const Int32 objectUnknown[] = {5101, 5107, 5109, 5112, 5114, 5115, 5117, 5120, 5124, 5125, 5127,
                                 5130, 5132, 5135, 5139, 5141, 5144, 5150, 5158, 0, -1, 12345};
  for (Int32 id : objectKnown) {
    bool known = false;
    NodeData* d = AllocAlienObjectData(id, known, nullptr);
    EXPECT_TRUE(known && d != nullptr && d->GetType() == id) << id;
    _FreeNodeData(d);
  }
  for (Int32 id : {5100, 5108}) {  // polygon and point data, whose classes serve several types
    bool known = false;
    NodeData* d = AllocAlienObjectData(id, known, nullptr);
    EXPECT_TRUE(known && d != nullptr) << id;
    _FreeNodeData(d);
  }
  for (Int32 id : objectUnknown) {
    bool known = true;
    EXPECT_EQ(nullptr, AllocAlienObjectData(id, known, nullptr)) << id;
    EXPECT_FALSE(known) << id;
  }
  struct Hook {
    NodeData* (*alloc)(int, bool&, BaseList2D*);
    std::vector<Int32> known;
  } hooks[] = {{AllocAlienTagData, {1001149, 1007579, 1017874, 1019365}},
               {AllocAlienShaderData, {1033825}}};
  for (const Hook& h : hooks) {
    for (Int32 id : h.known) {
      bool known = false;
      NodeData* d = h.alloc(id, known, nullptr);
      EXPECT_TRUE(known && d != nullptr) << id;
      _FreeNodeData(d);
    }
    for (Int32 id : {12345, 5100, 1033824, 0}) {
      bool known = true;
      EXPECT_EQ(nullptr, h.alloc(id, known, nullptr)) << id;
      EXPECT_FALSE(known) << id;
    }
  }
  // The library's own table.
  for (Int32 id : {1001101, 1001102, 1001103, 1001144, 1022471, 100004805, 431000073, 431000075,
                   465001514, 465001515}) {
    bool known = false;
    NodeData* d = PluginNode::AllocData(id, known);
    EXPECT_TRUE(known && d != nullptr) << id;
    _FreeNodeData(d);
  }
  bool known = true;
  EXPECT_EQ(nullptr, PluginNode::AllocData(5, known));
  EXPECT_FALSE(known);
  // Data for every slot at once: all of the kinds, or (an unknown kind, no list) none at all.
  PluginNode node(1001101);
  ASSERT_TRUE(node.AddSlot() && node.AddSlot());
  const struct {
    std::vector<Int32> types;
    bool made;
  } sets[] = {{{1001101, 465001514}, true}, {{1001102, 5}, false}, {{}, false}};
  for (const auto& set : sets) {
    EXPECT_EQ(set.made, node.AllocPluginData(set.types.empty() ? nullptr : set.types.data()));
    for (Int32 i = 0; i < 2; ++i) {
      const NodeData* d = node.GetNthData(i);
      EXPECT_EQ(set.made, d != nullptr) << i;
      if (set.made && d != nullptr) {
        EXPECT_EQ(set.types[size_t(i)], d->GetType()) << i;
      }
    }
    // A parameter no slot data takes lands in the node's container.
    GeData v;
    ASSERT_TRUE(node.SetDParameter(DescID(4711), GeData(Int32(set.types.size()))));
    ASSERT_TRUE(node.GetDParameter(DescID(4711), v));
    EXPECT_EQ(Int32(set.types.size()), v.GetInt32());
    // Nor does any translate it.
    DescID out;
    GeListNode* to = nullptr;
    EXPECT_FALSE(node.TranslateDescID(DescID(4711), out, to));
  }
}

// One plug-in node chunk (id 110062) with one plug-in data chunk of type, index and level.
std::string PluginChunk(Int32 type, Int32 index, Int32 level, const std::string& body) {
  char head[64];
  snprintf(head, sizeof head, "01 0001ADF0 %08X ", UInt32(level));
  return head + Int(type) + Int(index) + "82 00000000 " + body + "02 ";
}

std::string ListOf(const std::string& members) {
  return "01 00000001 00000000 01 0001AE14 00000000 " + members + "02 02";
}

std::string Member(const std::string& chunks) { return "01 0001ADEE 00000000 " + chunks + "02 "; }

TEST(PluginFile, KnownUnknownAndKeptKindsWriteBackUnchanged) {
  // Node 1: a node-graph node with slots 0 (kept bytes) and 1 (unknown type, raw); node 2: an
  // unknown plug-in type; node 3: settings with a nested chunk inside their data.
  const std::string body = Int(5) + "01 00000007 00000002 " + Int(6) + "02 " + Int(8);
  std::string n1 = Member(PluginChunk(1001101, 0, 3, body) + PluginChunk(777, 1, 4, body));
  std::string n2 = Member(PluginChunk(777, 0, 2, body));
  std::string n3 = Member(PluginChunk(100004805, 0, 1, body));
  RootPluginNode list;
  Bytes bytes = H(ListOf(n1 + n2 + n3));
  ASSERT_TRUE(scenetest::ReadNode(bytes, list, 12000));
  PluginNode* a = list.GetFirst();
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(2, a->GetSlotCount());
  EXPECT_NE(nullptr, a->GetNthData(0));
  EXPECT_EQ(nullptr, a->GetNthData(1));
  EXPECT_EQ(a, a->GetNthData(0)->GetNode());
  EXPECT_EQ(777, static_cast<PluginNode*>(a->GetNext())->GetType());
  // Only the plug-in chunks are compared: the node chunks around them are the writer's own.
  Bytes again = scenetest::WriteNode(list);
  std::string out = lumtest::ToHex(again);
  for (const std::string& chunk :
       {PluginChunk(1001101, 0, 3, body), PluginChunk(777, 1, 4, body),
        PluginChunk(777, 0, 2, body), PluginChunk(100004805, 0, 1, body)})
    EXPECT_NE(std::string::npos, out.find(lumtest::NormHex(chunk))) << chunk;
  // And the whole stream is stable from the first write on, in a copy of the list (kept and
  // raw slots copied) as well.
  RootPluginNode back;
  ASSERT_TRUE(scenetest::ReadNode(again, back, 12000));
  EXPECT_EQ("equal",
            scenetest::FirstDifference(scenetest::MaskIdentities(again),
                                       scenetest::MaskIdentities(scenetest::WriteNode(back))));
  GeListNode* clone = back.GetClone(COPYFLAGS_IDENTITY, nullptr);
  ASSERT_NE(nullptr, clone);
  const Bytes cloned = scenetest::WriteNode(*static_cast<RootPluginNode*>(clone));
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(again),
                                                scenetest::MaskIdentities(cloned)));
  DeleteObj(clone);

  // From a version-11000 file the unknown kinds are dropped; kept kinds stay, but go into a
  // file of that layout only (a current one gets their chunk empty).
  RootPluginNode old;
  ASSERT_TRUE(scenetest::ReadNode(bytes, old, 11000));
  std::string oldOut = lumtest::ToHex(scenetest::WriteNode(old));
  EXPECT_NE(std::string::npos, oldOut.find(lumtest::NormHex(PluginChunk(1001101, 0, 3, ""))));
  EXPECT_NE(std::string::npos, lumtest::ToHex(scenetest::WriteNode(old, 11000))
                                   .find(lumtest::NormHex(PluginChunk(1001101, 0, 3, body))));
  EXPECT_EQ(std::string::npos, oldOut.find(lumtest::NormHex(PluginChunk(777, 1, 4, body))));
  // ... but their slots are written as empty chunks, so the plug-in types survive and the
  // stream is stable from the first write on.
  EXPECT_NE(std::string::npos, oldOut.find(lumtest::NormHex(PluginChunk(777, 1, 0, ""))));
  RootPluginNode oldBack;
  Bytes oldAgain = scenetest::WriteNode(old);
  ASSERT_TRUE(scenetest::ReadNode(oldAgain, oldBack, 12000));
  EXPECT_EQ(777, static_cast<PluginNode*>(oldBack.GetFirst()->GetNext())->GetType());
  EXPECT_EQ("equal",
            scenetest::FirstDifference(scenetest::MaskIdentities(oldAgain),
                                       scenetest::MaskIdentities(scenetest::WriteNode(oldBack))));
}

TEST(PluginFile, SlotIndices) {
  struct Case {
    std::vector<Int32> indices;
    Int32 count;
    Int32 type;
  } cases[] = {
      {{0, 1}, 2, 465001514},  {{0, 1, 0}, 1, 465001514}, {{0, 1, 2}, 3, 465001514},
      {{0, 2}, 1, 465001514},  {{1}, 1, 465001514},       {{-1}, 1, 465001514},
      {{0, -5}, 1, 465001514}, {{3}, 1, 431000054},  // take data its class could not read
  };
  for (const Case& c : cases) {
    std::string chunks;
    for (Int32 i : c.indices) chunks += PluginChunk(c.type, i, 0, Int(i));
    RootPluginNode list;
    ASSERT_TRUE(scenetest::ReadNode(H(ListOf(Member(chunks))), list));
    ASSERT_NE(nullptr, list.GetFirst());
    EXPECT_EQ(c.count, list.GetFirst()->GetSlotCount()) << c.indices.size();
    // Nothing is lost: the last chunk is written as it was read, under its own index also when
    // that names no slot (under another, a class would read bytes it never read) ...
    const Bytes out = scenetest::WriteNode(list);
    const Int32 last = c.indices.back();
    EXPECT_NE(std::string::npos,
              lumtest::ToHex(out).find(lumtest::NormHex(PluginChunk(c.type, last, 0, Int(last)))))
        << last;
    // ... and what is written reads back and writes the same bytes.
    RootPluginNode back;
    ASSERT_TRUE(scenetest::ReadNode(out, back)) << last;
    EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(out),
                                                  scenetest::MaskIdentities(scenetest::WriteNode(back))))
        << last;
  }
}

// A plug-in data class whose Init sets defaults into the node's container.
class DefaultsData : public NodeData {
 public:
  bool Init() override {
    BaseContainer* bc = GetNode()->GetDataInstance();
    return bc->SetInt32(1, 100) && bc->SetInt32(2, 200);
  }
  bool Read(HyperFile* hf, Int32, Int32) override { return hf->ReadInt32(&value); }
  bool Write(HyperFile* hf) override { return hf->WriteInt32(value); }
  bool CopyToX(PrivateChunk* dest, COPYFLAGS, AliasTrans*) override {
    DefaultsData* d = static_cast<DefaultsData*>(dest);
    d->value = value;
    d->nodeAtCopy = d->GetNode();
    return true;
  }
  Int32 value = 0;
  BaseList2D* nodeAtCopy = nullptr;
};

NodeData* AllocDefaults(Int32) { return NewObj<DefaultsData>(); }

TEST(PluginFile, ContainerValuesWinOverInitDefaults) {
  // Registered again, a type takes the later function.
  ASSERT_TRUE(GeRegisterPluginData(999001, nullptr) && GeRegisterPluginData(999001, AllocDefaults));
  // The node chunk stores entry 1 = 7; the data chunk follows it.
  RootPluginNode list;
  PluginNode* n = PluginNode::Alloc(999001);
  list.InsertLast(n);
  ASSERT_TRUE(n->AddSlot());
  bool known = false;
  n->ValidateNth(0, 999001, known);
  ASSERT_TRUE(known);
  static_cast<DefaultsData*>(n->GetNthData(0))->value = 55;
  n->GetDataInstance()->SetInt32(1, 7);
  n->GetDataInstance()->RemoveData(2);
  RootPluginNode back;
  ASSERT_TRUE(scenetest::ReadNode(scenetest::WriteNode(list), back));
  PluginNode* r = back.GetFirst();
  EXPECT_EQ(7, r->GetDataInstance()->GetInt32(1));    // the file's value
  EXPECT_EQ(200, r->GetDataInstance()->GetInt32(2));  // Init's default for the rest
  EXPECT_EQ(55, static_cast<DefaultsData*>(r->GetNthData(0))->value);
  // A copy attaches and initialises the new data first: it points at the copy, and the copied
  // container wins over the defaults.
  r->GetDataInstance()->SetInt32(2, 9);
  PluginNode* c = static_cast<PluginNode*>(r->GetClone(COPYFLAGS_NONE, nullptr));
  ASSERT_NE(nullptr, c);
  DefaultsData* cd = static_cast<DefaultsData*>(c->GetNthData(0));
  EXPECT_EQ(c, cd->nodeAtCopy);
  EXPECT_EQ(55, cd->value);
  EXPECT_EQ(7, c->GetDataInstance()->GetInt32(1));
  EXPECT_EQ(9, c->GetDataInstance()->GetInt32(2));
  PluginNode::Free(c);
}

NodeData* NullButKnown(int, bool& known, BaseList2D*) {
  known = true;
  return nullptr;
}

TEST(PluginFile, SingleDataChunkOfObjectsTagsAndShaders) {
  const std::string body = Int(3) + Int(4);
  struct Case {
    Int32 type, version;
    NodeData* (*alloc)(int, bool&, BaseList2D*);
    bool ok, data, kept;
  } cases[] = {
      {5102, 20000, AllocAlienObjectData, true, true, false},   // light data: kept bytes
      {5101, 20000, AllocAlienObjectData, true, false, true},   // no class: raw on the node
      {5101, 11000, AllocAlienObjectData, true, false, false},  // old file: dropped
      {5102, 20000, NullButKnown, false, false, false},         // out of memory
  };
  for (const Case& c : cases) {
    char head[32];
    snprintf(head, sizeof head, "%08X ", UInt32(c.type));
    Bytes chunk = H("0F " + std::string(head) + Int(0) + "82 00000000 " + body + "02");
    BaseList2D node(5154);
    lumtest::MemReader r(chunk, c.version);
    EXPECT_EQ(c.ok, _ReadPluginDataChunk(&node, &r.hf, 2, c.alloc, false)) << c.type;
    if (!c.ok) {
      EXPECT_EQ(FILEERROR_OUTOFMEMORY, r.hf.GetError());
      continue;
    }
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(c.data, node.GetNodeData() != nullptr) << c.type;
    EXPECT_EQ(c.kept, node.GetRawData() != nullptr) << c.type;
    lumtest::MemWriter w;
    ASSERT_TRUE(_WritePluginDataChunk(&node, &w.hf));
    std::string out = lumtest::ToHex(w.Finish());
    if (c.data || c.kept) {
      EXPECT_EQ(lumtest::NormHex("01 0001ADF0 00000002" + std::string(lumtest::ToHex(chunk))), out);
    }
  }
}

}  // namespace
