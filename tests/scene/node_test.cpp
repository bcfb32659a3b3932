// The node tree: list operations at both ends, node bits, the named node's chunks at every
// level and their byte-exact round trip, partial loading, nesting limits, copies with their
// flags, notify-list filters and the provisional track order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "scene_support.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using scenetest::Bytes;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }
std::string Hex(const Bytes& b) { return lumtest::ToHex(b); }

std::string Name(const BaseList2D* n) {
  if (n == nullptr) return "-";
  char buf[64] = {};
  n->GetName().GetCString(buf, sizeof buf);
  return buf;
}

// A plug-in node with one slot of its type's data (plain, kept bytes by default).
PluginNode* Node(const char* name, Int32 type = 465001514) {
  PluginNode* n = PluginNode::Alloc(type);
  n->SetName(String(name));
  bool known = false;
  if (n->AddSlot()) n->ValidateNth(0, type, known);
  return n;
}

std::string Order(RootList2D& list) {
  std::string s;
  for (GeListNode* m = list.GetFirst(); m != nullptr; m = m->GetNext())
    s += Name(static_cast<BaseList2D*>(m));
  return s;
}

TEST(NodeTree, InsertsAtBothEndsAndWalks) {
  RootPluginNode list;
  PluginNode* b = Node("b");
  PluginNode* d = Node("d");
  list.InsertLast(b);
  list.InsertLast(d);
  PluginNode* a = Node("a");
  a->InsertBefore(b);  // before the first: at the front
  PluginNode* e = Node("e");
  e->InsertAfter(d);  // after the last: at the end
  PluginNode* c = Node("c");
  list.InsertBefore(c, d);
  EXPECT_EQ("abcde", Order(list));
  EXPECT_EQ(nullptr, a->GetPred());
  EXPECT_EQ(nullptr, e->GetNext());
  EXPECT_EQ(&list, e->GetListHead());
  EXPECT_EQ(nullptr, a->GetUp());  // a list of no node

  PluginNode* loose = Node("x");
  PluginNode* listless = Node("y");
  loose->InsertBefore(listless);  // beside a node in no list: nothing happens
  EXPECT_EQ(nullptr, loose->GetListHead());
  PluginNode::Free(listless);
  EXPECT_EQ(nullptr, loose->Remove());

  // Children: first and last, GetUp and GetDown, documents from the parent.
  BaseDocument doc;
  a->SetDocument(&doc);
  PluginNode* k2 = Node("2");
  PluginNode* k1 = Node("1");
  k2->InsertUnderLast(a);
  k1->InsertUnder(a);
  EXPECT_EQ(k1, a->GetDown());
  EXPECT_EQ(k2, k1->GetNext());
  EXPECT_EQ(a, k2->GetUp());
  EXPECT_EQ(&doc, k1->GetDocument());
  BaseList2D plain;
  EXPECT_EQ(nullptr, plain.GetDown());
  PluginNode* orphan = Node("orphan");
  orphan->InsertUnder(&plain);  // no children list: nothing happens
  EXPECT_EQ(nullptr, orphan->GetListHead());
  PluginNode::Free(orphan);

  // Remove returns the former prev (the head sentinel for the first) and clears the document.
  GeToolNode2D* prev = k1->Remove();
  ASSERT_NE(nullptr, prev);
  EXPECT_EQ(nullptr, prev->prev);  // the head sentinel
  EXPECT_EQ(nullptr, k1->GetDocument());
  EXPECT_EQ(k2, a->GetDown());
  DeleteObj(k1);
  EXPECT_EQ(b, c->Remove());
  DeleteObj(c);
  EXPECT_EQ("abde", Order(list));
  DeleteObj(loose);
}

TEST(NodeTree, MisusedInsertionsAreRefusedAndLeaveTheTreeWhole) {
  // top: a (child c, grandchild d), b. loose: l with child m; x in no list; plain has no
  // children list; shader s with child shader u. Every misuse returns false, raises the alert
  // and changes nothing.
  struct Tree {
    RootPluginNode top;
    PluginNode *a = Node("a"), *b = Node("b"), *c = Node("c"), *d = Node("d");
    PluginNode *l = Node("l"), *m = Node("m"), *x = Node("x");
    BaseList2D plain;
    BaseShader *s = BaseShader::Alloc(1011116), *u = BaseShader::Alloc(1011116);
    Tree() {
      top.InsertLast(a);
      top.InsertLast(b);
      c->InsertUnder(a);
      d->InsertUnder(c);
      m->InsertUnder(l);
      u->InsertUnder(s);
    }
    ~Tree() {
      PluginNode::Free(l);
      PluginNode::Free(x);
      BaseShader::Free(s);
    }
    std::string Shape() {
      return Order(top) + "/" + Order(*a->GetChildren()) + "/" + Order(*c->GetChildren()) + "/" +
             Order(*b->GetChildren()) + Order(*d->GetChildren()) + "/" + Order(*l->GetChildren()) +
             (x->IsInList() ? "x!" : "") + (s->IsInList() ? "s!" : "");
    }
  };
  struct Case {
    const char* what;
    bool (*misuse)(Tree&);
  } cases[] = {
      {"twice into one list", [](Tree& t) { return t.top.InsertLast(t.a); }},
      {"into a second list", [](Tree& t) { return t.top.Insert(t.d); }},
      {"null node", [](Tree& t) { return t.top.InsertLast(nullptr); }},
      {"after a node of another list", [](Tree& t) { return t.top.InsertAfter(t.x, t.d); }},
      {"before a node of another list", [](Tree& t) { return t.top.InsertBefore(t.x, t.c); }},
      {"into its own children", [](Tree& t) { return t.l->GetChildren()->InsertLast(t.l); }},
      {"under a descendant (list)", [](Tree& t) { return t.m->GetChildren()->Insert(t.l); }},
      {"re-parented without Remove", [](Tree& t) { return t.b->InsertUnder(t.a); }},
      {"moved beside without Remove", [](Tree& t) { return t.b->InsertAfter(t.d); }},
      {"under itself", [](Tree& t) { return t.l->InsertUnderLast(t.l); }},
      {"under its child", [](Tree& t) { return t.l->InsertUnder(t.m); }},
      {"beside its child", [](Tree& t) { return t.l->InsertBefore(t.m); }},
      {"under null", [](Tree& t) { return t.x->InsertUnderLast(nullptr); }},
      {"beside null", [](Tree& t) { return t.x->InsertAfter(nullptr); }},
      {"beside a node in no list", [](Tree& t) { return t.x->InsertBefore(t.l); }},
      {"under a node without children", [](Tree& t) { return t.x->InsertUnder(&t.plain); }},
      {"a plain node among plug-in nodes", [](Tree& t) { return t.top.InsertLast(&t.plain); }},
      {"under its child through each shader list",
       [](Tree& t) {
         bool any = false;
         for (ATTACHEDLIST w : {ATTACHEDLIST_SHADERS, ATTACHEDLIST_SHADERS2, ATTACHEDLIST_SHADERS3})
           any = t.u->GetAttachedList(w, true)->InsertLast(t.s) || any;
         return any;
       }},
  };
  for (const Case& c : cases) {
    Tree t;
    const std::string before = t.Shape();
    lumtest::ResetAlerts();
    EXPECT_FALSE(c.misuse(t)) << c.what;
    EXPECT_GT(lumtest::AlertCount(), 0) << c.what;
    EXPECT_EQ(before, t.Shape()) << c.what;
    EXPECT_EQ(2, t.top.GetCount()) << c.what;
  }
  // After Remove the same moves are fine.
  Tree t;
  t.b->Remove();
  EXPECT_TRUE(t.b->InsertUnder(t.d));
  t.m->Remove();
  EXPECT_TRUE(t.top.InsertLast(t.m));
  EXPECT_EQ("am/c/d/b/", t.Shape());
}

// Reads the list through a document that dies when the helper returns, as a newcomer writes it.
RootObject* ReadObjects(const Bytes& bytes) {
  BaseDocument doc;
  RootObject* list = RootObject::Alloc();
  lumtest::MemReader r(bytes);
  r.hf.SetDocument(&doc);
  if (list != nullptr && !list->ReadObject(&r.hf, true)) RootObject::Free(list);
  return list;
}

TEST(NodeTree, NodesOutliveTheDocumentTheyWereReadThrough) {
  RootObject scene;
  BaseObject* camera = BaseObject::Alloc(5103);
  ASSERT_NE(nullptr, camera);
  scene.InsertLast(camera);
  RootObject* read = ReadObjects(scenetest::WriteNode(scene));
  ASSERT_NE(nullptr, read);
  ASSERT_NE(nullptr, read->GetFirst());
  EXPECT_EQ(nullptr, read->GetFirst()->GetDocument());
  GeData out;
  read->GetFirst()->GetDParameter(DescID(1000), out);  // asks the document for render settings
  RootObject::Free(read);
  // Inserted, removed and destroyed in any order, nodes and documents leave no trace.
  BaseDocument* doc = NewObj<BaseDocument>();
  PluginNode* kept = Node("kept");
  PluginNode* gone = Node("gone");
  kept->SetDocument(doc);
  gone->SetDocument(doc);
  PluginNode::Free(gone);
  DeleteObj(doc);
  EXPECT_EQ(nullptr, kept->GetDocument());
  PluginNode::Free(kept);
}

TEST(NodeTree, DeepChainsAreDestroyedAndCopiedWithoutRecursionAndRefusedOnWrite) {
  constexpr int kDepth = 200000;
  // Built from the bottom up: each insertion checks the new parent's ancestors, of which a
  // parent in no list has none.
  PluginNode* top = Node("bottom");
  for (int i = 1; i < kDepth; ++i) {
    PluginNode* n = PluginNode::Alloc(465001514);
    ASSERT_TRUE(top->InsertUnder(n));
    top = n;
  }
  GeListNode* copy = top->GetClone(COPYFLAGS_NONE, nullptr);
  ASSERT_NE(nullptr, copy);
  int depth = 0;
  for (GeListNode* n = copy; n != nullptr; n = n->GetDown()) ++depth;
  EXPECT_EQ(kDepth, depth);
  lumtest::MemWriter w;
  EXPECT_FALSE(top->WriteObject(&w.hf, 1));
  EXPECT_EQ(FILEERROR_TOO_DEEP, w.hf.GetError());
  DeleteObj(copy);
  PluginNode::Free(top);
}

TEST(NodeFile, TheDeepestTreeThatWritesReadsAndOneLevelMoreIsRefused) {
  // Plug-in nodes and objects chained 1000 generations deep: cut the chain at the deepest
  // generation that still writes; that tree reads back whole, one generation more fails.
  struct Chain {
    const char* what;
    GeListNode* (*make)();
    RootList2D* (*list)();
  } chains[] = {
      {"plug-in nodes", [] { return static_cast<GeListNode*>(PluginNode::Alloc(465001514)); },
       [] { return static_cast<RootList2D*>(RootPluginNode::Alloc()); }},
      {"objects", [] { return static_cast<GeListNode*>(BaseObject::Alloc(5154)); },
       [] { return static_cast<RootList2D*>(RootObject::Alloc()); }},
  };
  for (const Chain& c : chains) {
    RootList2D* top = c.list();
    std::vector<GeListNode*> nodes;
    for (int i = 0; i < 1000; ++i) {
      nodes.push_back(c.make());
      if (i == 0) {
        top->InsertLast(nodes[0]);
      } else {
        nodes[i]->InsertUnder(nodes[i - 1]);
      }
    }
    auto writes = [&](size_t generations) {
      nodes[generations]->Remove();
      lumtest::MemWriter w;
      const bool ok = top->WriteObject(&w.hf, 1);
      const FILEERROR error = w.hf.GetError();
      nodes[generations]->InsertUnder(nodes[generations - 1]);
      EXPECT_TRUE(ok || error == FILEERROR_TOO_DEEP) << c.what;
      return ok;
    };
    size_t lo = 1, hi = nodes.size() - 1;  // writes(lo), !writes(hi)
    ASSERT_FALSE(writes(hi)) << c.what;
    while (hi - lo > 1) (writes((lo + hi) / 2) ? lo : hi) = (lo + hi) / 2;
    EXPECT_GT(lo, 300u) << c.what;
    nodes[lo]->Remove();
    const Bytes bytes = scenetest::WriteNode(*top);
    RootList2D* read = c.list();
    lumtest::MemReader r(bytes);
    EXPECT_TRUE(read->ReadObject(&r.hf, true)) << c.what;
    EXPECT_EQ(FILEERROR_NONE, r.hf.GetError()) << c.what;
    size_t depth = 0;
    for (GeListNode* n = read->GetFirst(); n != nullptr; n = n->GetDown()) ++depth;
    EXPECT_EQ(lo, depth) << c.what;
    EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::WriteNode(*read), bytes)) << c.what;
    DeleteObj(read);
    DeleteObj(nodes[lo]);
    DeleteObj(top);
  }
}

TEST(NodeTree, NodeBits) {
  struct Case {
    Int32 bit, control;
    bool before, result, after;
  } cases[] = {
      {5, NBITCONTROL_SET, false, true, true},
      {5, NBITCONTROL_SET, true, false, true},
      {5, NBITCONTROL_CLEAR, true, true, false},
      {5, NBITCONTROL_CLEAR, false, false, false},
      {40, NBITCONTROL_TOGGLE, false, true, true},
      {40, NBITCONTROL_TOGGLE, true, true, false},
      {127, 0xF1, false, true, true},
      {7, 4, false, false, false},
      {7, 0, true, false, true},
      {128, NBITCONTROL_SET, false, false, false},
  };
  for (const Case& c : cases) {
    BaseList2D n;
    if (c.before) n.ChangeNBit(c.bit, NBITCONTROL_SET);
    EXPECT_EQ(c.result, n.ChangeNBit(c.bit, c.control)) << c.bit << "/" << c.control;
    EXPECT_EQ(c.after, n.GetNBit(c.bit)) << c.bit << "/" << c.control;
  }
  BaseList2D n;
  for (Int32 w = -1; w >= -4; --w) EXPECT_FALSE(n.GetNBit(w));
  n.ChangeNBit(33, NBITCONTROL_SET);
  EXPECT_TRUE(n.GetNBit(-2));
  EXPECT_FALSE(n.GetNBit(-1));
  lumtest::ResetAlerts();
  EXPECT_FALSE(n.GetNBit(-5));
  EXPECT_EQ(1, lumtest::AlertCount());
}

// A tree of plug-in nodes with every field the node chunk carries.
void BuildTree(RootPluginNode& list) {
  PluginNode* a = Node("a", 1001101);
  PluginNode* b = Node("b", 431000073);
  // A type without a class: a node without slots writes a plug-in data chunk (without a name, as
  // slots are written), which reads back as slot 0.
  PluginNode* c = PluginNode::Alloc(1234567);
  c->SetName(String("c"));
  list.InsertLast(a);
  list.InsertLast(b);
  c->InsertUnderLast(a);
  a->GetDataInstance()->SetInt32(10, 42);
  a->GetDataInstance()->SetString(11, String("text"));
  GeData link(VALUETYPE_LINK, DEFAULTVALUE);
  link.GetBaseLink()->SetLink(c);
  a->GetDataInstance()->SetData(12, link);
  b->GetNodeLink().SetLink(a);
  c->GetNodeLink().SetLink(b);
  a->SetBit(0x100000 | 0x3);
  a->ChangeNBit(70, NBITCONTROL_SET);
  ASSERT_TRUE(a->AddUniqueID(7, "uid", 3));
  ASSERT_TRUE(a->AddUniqueID(2, "xy", 2));
  NotifyData* nd = a->MakeNotifyList()->Append(77, 0x1000);
  nd->data.SetFloat(1, 0.5);
  nd->link->SetLink(b);
  GeData flag(Int32(1));
  ASSERT_TRUE(DescIdStore_CopyTo(a->GetSavedStore(), b->GetSavedStore(), nullptr));
  b->GetSavedStore() = NewObj<DescIdStore>();
  ASSERT_TRUE(b->GetSavedStore()->SetId(DescID(903), flag));
  b->GetDescription().SetInt32(1, 5);
  EXPECT_NE(nullptr, a->GetNthData(0));
}

TEST(NodeFile, TreeReadsBackEqualAndWritesTheSameBytes) {
  RootPluginNode list;
  BuildTree(list);
  Bytes first = scenetest::WriteNode(list);
  EXPECT_FALSE(list.GetFirst()->GetBit(0x100000));  // cleared by the write

  RootPluginNode back;
  ASSERT_TRUE(scenetest::ReadNode(first, back));
  PluginNode* a = back.GetFirst();
  ASSERT_NE(nullptr, a);
  PluginNode* b = static_cast<PluginNode*>(a->GetNext());
  ASSERT_NE(nullptr, b);
  PluginNode* c = static_cast<PluginNode*>(a->GetDown());
  ASSERT_NE(nullptr, c);
  EXPECT_EQ("a", Name(a));
  EXPECT_EQ(1, c->GetSlotCount());
  EXPECT_EQ(1234567, c->GetType());
  EXPECT_EQ("c", Name(c));
  EXPECT_EQ(42, a->GetDataInstance()->GetInt32(10));
  EXPECT_EQ(c, a->GetDataInstance()->GetLink(12));  // a link in a container, reconnected
  EXPECT_EQ(a, b->GetNodeLink().GetLink());
  EXPECT_EQ(b, c->GetNodeLink().GetLink());
  EXPECT_EQ(0x3, a->GetAllBits());
  EXPECT_TRUE(a->GetNBit(70));
  ASSERT_NE(nullptr, a->GetUniqueIDs());
  EXPECT_EQ(2, a->GetUniqueIDs()->GetCount());
  EXPECT_EQ(2, a->GetUniqueIDs()->Get(0).appId);
  const UniqueIDEntry* uid = a->GetUniqueIDs()->Find(7);
  ASSERT_NE(nullptr, uid);
  EXPECT_EQ(0, std::memcmp("uid", uid->bytes, 3));
  EXPECT_EQ(nullptr, a->GetUniqueIDs()->Find(3));
  ASSERT_NE(nullptr, a->GetNotifyList());
  ASSERT_EQ(1, a->GetNotifyList()->GetCount());
  EXPECT_EQ(b, a->GetNotifyList()->Get(0)->link->GetLink());
  ASSERT_NE(nullptr, b->GetSavedStore());
  EXPECT_EQ(1, b->GetSavedStore()->GetCount());
  EXPECT_EQ(5, b->GetDescription().GetInt32(1));
  EXPECT_EQ(list.GetFirst()->GetMarker(), a->GetMarker());
  EXPECT_EQ(1, a->GetSlotCount());

  Bytes second = scenetest::WriteNode(back);
  EXPECT_EQ("equal", scenetest::FirstDifference(scenetest::MaskIdentities(first),
                                                scenetest::MaskIdentities(second)));
}

// The node chunk written field by field for a level, as files of that level hold it.
std::string Chunk110050(Int32 level, bool old) {
  std::string s = "01 0001ADE2" + lumtest::ToHex(nullptr, 0);
  char buf[16];
  snprintf(buf, sizeof buf, "%08X", level);
  s += buf;
  s += "0F 00000005 0F 00000000";  // bits, spare
  // container id -1 with entry 20 = Int32 9
  s += "01 00000084 00000001 0F FFFFFFFF 0F 00000014 0F 0000000F 0F 00000009 02";
  s += "0C 00";                        // no goal
  s += "82 00000004 00410042";         // name "AB"
  if (level >= 1) s += "0F 00000000";  // no description
  if (level != 1) s += "0F 00000001 0F 00000001 01 00000063 00000000 0F 00000001 02";  // legacy
  if (old && level >= 3) s += "0F 00000000";
  if (old && level >= 4) s += "0F 00000002 0F 00000001 0F 00000002";
  if (old && level <= 3) return s + "0F 00000063 02";                // what follows is skipped
  if (level >= 5) s += "80 0000000E 616C69617332 0000000000000000";  // empty link
  if (level >= 6) s += "0C 01 80 00000010 000102030405060708090A0B0C0D0E0F";
  if (level >= 7) s += "15 00";
  if (level >= 8) s += "0F 00000001 0F 00000000";
  return s + "0F 00000063 02";  // a field of a later writer, skipped
}

TEST(NodeFile, EveryLevelOfTheNodeChunk) {
  for (Int32 version : {7000, 11000, 20000}) {
    for (Int32 level = 0; level <= 9; ++level) {
      const bool old = version < 11600;
      Bytes bytes = H("01 00000001 00000000" + Chunk110050(level, old) + "02");
      BaseList2D n(5);
      n.SetName(String("default"));
      n.GetDataInstance()->SetInt32(21, 3);  // a default the file does not mention
      lumtest::MemReader r(bytes, version);
      ASSERT_TRUE(n.ReadObject(&r.hf, true)) << version << "/" << level;
      EXPECT_TRUE(r.AtEnd()) << version << "/" << level;
      EXPECT_EQ(5, n.GetAllBits());
      if (version < 7500) {
        EXPECT_EQ("default", Name(&n));
        EXPECT_EQ(0, n.GetDataInstance()->GetInt32(20));
        continue;
      }
      EXPECT_EQ("AB", Name(&n)) << version << "/" << level;
      EXPECT_EQ(9, n.GetDataInstance()->GetInt32(20));
      EXPECT_EQ(3, n.GetDataInstance()->GetInt32(21));  // merged, not flushed
      const bool markerRead = level >= 6 && !(old && level <= 3);
      // The file's marker is 00 01 ... 0F; a fresh random one matches it with chance 2^-128.
      static const UChar kFileMarker[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
      EXPECT_EQ(markerRead, std::memcmp(n.GetMarker().GetBytes(), kFileMarker, 16) == 0)
          << version << "/" << level;
    }
  }
}

TEST(NodeFile, UnknownListsAndChunksAreKeptByteForByte) {
  // Chunks inserted into a written plug-in node: each is read back and written unchanged, also
  // by a copy, unless the file is old enough for its unknown chunks to be skipped.
  const std::string tracks = "01 0001AF51 00000003 0F 00000001 01 00000001 00000000 02 02";
  // An unknown chunk holding what a plug-in data chunk would (a mutated id, found by fuzzing).
  const std::string unknown = "01 2001ADF0 00000000 0F 19B08A09 0F 00000000 82 00000000 02";
  struct Case {
    const char* what;
    std::string chunk;
    bool atStart;  // before the node chunk; otherwise after the plug-in data
    Int32 version;
    bool kept;
  } cases[] = {
      {"track list (family not installed)", tracks, true, HYPERFILE_CURRENT_VERSION, true},
      {"unknown chunk", unknown, false, HYPERFILE_CURRENT_VERSION, true},
      {"unknown chunk, version 12000", unknown, false, 12000, true},
      {"unknown chunk, version 11924", unknown, false, 11924, false},
  };
  RootPluginNode list;
  list.InsertLast(Node("n"));
  const std::string hex = Hex(scenetest::WriteNode(list));
  const std::string member = lumtest::NormHex("01 0001AE14 00000000 01 0001ADEE 00000000");
  const size_t start = hex.find(member) + member.size() + 1;
  const size_t end = hex.size() - lumtest::NormHex("02 02 02").size();
  ASSERT_NE(std::string::npos, hex.find(member));
  for (const Case& c : cases) {
    const size_t at = c.atStart ? start : end;
    const Bytes with = H(hex.substr(0, at) + lumtest::NormHex(c.chunk) + " " + hex.substr(at));
    const Bytes expected = c.kept ? with : H(hex);
    RootPluginNode back;
    ASSERT_TRUE(scenetest::ReadNode(with, back, c.version)) << c.what;
    EXPECT_EQ("equal",
              scenetest::FirstDifference(scenetest::MaskIdentities(expected),
                                         scenetest::MaskIdentities(scenetest::WriteNode(back))))
        << c.what;
    RootPluginNode copy;
    ASSERT_TRUE(back.CopyTo(&copy, COPYFLAGS_IDENTITY, nullptr)) << c.what;
    EXPECT_EQ("equal",
              scenetest::FirstDifference(scenetest::MaskIdentities(expected),
                                         scenetest::MaskIdentities(scenetest::WriteNode(copy))))
        << c.what;
  }
  // A copy without tracks leaves the kept track list behind.
  RootPluginNode back, noTracks;
  const Bytes withTracks =
      H(hex.substr(0, start) + lumtest::NormHex(tracks) + " " + hex.substr(start));
  ASSERT_TRUE(scenetest::ReadNode(withTracks, back));
  EXPECT_TRUE(back.GetFirst()->HasAttachedList(ATTACHEDLIST_TRACKS));
  ASSERT_TRUE(back.CopyTo(&noTracks, COPYFLAGS_NO_TRACKS, nullptr));
  EXPECT_FALSE(noTracks.GetFirst()->HasAttachedList(ATTACHEDLIST_TRACKS));
}

TEST(NodeFile, ReadsStopWhereTheDocumentAsks) {
  struct Case {
    Int32 flags, id, level;
    bool stops;
  } cases[] = {
      {0x800, 110015, 0, true},  {0x400, 110024, 2, true}, {0x400, 110024, 1, false},
      {0x400, 110015, 0, false}, {0, 110015, 0, false},
  };
  for (const Case& c : cases) {
    char chunk[64];
    snprintf(chunk, sizeof chunk, "01 %08X %08X 02", c.id, c.level);
    Bytes bytes = H(std::string("01 00000001 00000000") + chunk + "01 0001AE1E 00000000 02 02");
    BaseList2D n;
    BaseDocument doc;
    doc.SetLoadFlags(c.flags);
    lumtest::MemReader r(bytes);
    r.hf.SetDocument(&doc);
    ASSERT_TRUE(n.ReadObject(&r.hf, true));
    EXPECT_EQ(c.stops, !r.AtEnd()) << c.flags << "/" << c.id;
  }
}

TEST(NodeFile, ReaderErrors) {
  struct Case {
    const char* hex;
    FILEERROR error;
  } cases[] = {
      {"0F 00000001", FILEERROR_WRONG_VALUE},  // no chunk before the node
      {"01 00000001 00000000 0F 00000001 02", FILEERROR_CHUNK_EXPECTED},  // a value in a node
      {"01 00000001 00000000 01 0001ADE2 00000008 0F", FILEERROR_CHUNKEND_MISSING},
      {"01 00000001 00000000 01 00000005 00000000 02", FILEERROR_NONE},  // cut: no node end
  };
  for (const Case& c : cases) {
    BaseList2D n;
    lumtest::MemReader r(H(c.hex));
    EXPECT_FALSE(n.ReadObject(&r.hf, true)) << c.hex;
    EXPECT_EQ(c.error, r.hf.GetError()) << c.hex;
  }
}

TEST(NodeFile, DeepNestingIsRefusedWithTheDepthError) {
  // Plug-in nodes nested 1200 deep: each 01 <110062> ... inside a 110100 list chunk.
  std::string open = "01 0001ADEE 00000000 01 0001AE14 00000000";
  std::string hex = "01 00000001 00000000";
  for (int i = 0; i < 1200; ++i) hex += open;
  RootPluginNode list;
  lumtest::MemReader r(H(hex));
  EXPECT_FALSE(list.ReadObject(&r.hf, true));
  EXPECT_EQ(FILEERROR_TOO_DEEP, r.hf.GetError());
  // A nesting within the limit reads.
  std::string ok = "01 00000001 00000000";
  for (int i = 0; i < 100; ++i) ok += open;
  for (int i = 0; i < 100; ++i) ok += "02 02";
  ok += "02";
  RootPluginNode deep;
  lumtest::MemReader r2(H(ok));
  EXPECT_TRUE(deep.ReadObject(&r2.hf, true));
}

TEST(NodeCopy, FlagsSteerWhatIsCopied) {
  struct Case {
    Int32 flags;
    bool bits, marker, children, overrides, slots;
  } cases[] = {
      {COPYFLAGS_NONE, true, false, true, true, true},
      {COPYFLAGS_IDENTITY, true, true, true, true, true},
      {COPYFLAGS_NO_BITS, false, false, true, true, true},
      {COPYFLAGS_NO_CHILDREN, true, false, false, true, true},
      {COPYFLAGS_NO_BRANCHES, true, false, true, false, true},
      {COPYFLAGS_NO_OVERRIDES, true, false, true, false, true},
      {COPYFLAGS_NO_PLUGINDATA, true, false, true, true, false},
  };
  for (const Case& c : cases) {
    PluginNode* src = Node("src", 1001101);
    src->SetBit(0x40);
    Node("kid")->InsertUnderLast(src);
    src->GetAttachedList(ATTACHEDLIST_OVERRIDES, true)->InsertLast(Node("ovr"));
    ASSERT_TRUE(src->AddUniqueID(3, "u", 1));
    PluginNode* dst = static_cast<PluginNode*>(src->GetClone(COPYFLAGS(c.flags), nullptr));
    ASSERT_NE(nullptr, dst) << c.flags;
    EXPECT_EQ(c.bits, dst->GetBit(0x40)) << c.flags;
    EXPECT_EQ(c.marker, dst->GetMarker() == src->GetMarker()) << c.flags;
    EXPECT_EQ(c.marker, dst->GetUniqueIDs() != nullptr) << c.flags;
    EXPECT_EQ(c.children, dst->GetDown() != nullptr) << c.flags;
    EXPECT_EQ(c.overrides, dst->GetFirstOverride() != nullptr) << c.flags;
    EXPECT_EQ(c.slots, dst->GetSlotCount() == 1) << c.flags;
    if (c.slots) {
      EXPECT_EQ(dst, dst->GetNthData(0)->GetNode());
    }
    EXPECT_EQ("src", Name(dst));
    PluginNode::Free(dst);
    PluginNode::Free(src);
  }
}

TEST(NodeCopy, NotifyEntriesFollowTheFilter) {
  const Int32 flags[] = {0x0, 0x400, 0x800, 0x1000, 0x1400, 0x1800};
  struct Case {
    Int32 copyFlags;
    const char* copied;  // of the six entries above, in order
  } cases[] = {
      {COPYFLAGS_NONE, "...xxx"},
      {COPYFLAGS_NOTIFY_ALTERNATE, ".x..x."},
      {COPYFLAGS_NOTIFY_MARKED, "..x..x"},
      {COPYFLAGS_NOTIFY_MARKED | COPYFLAGS_NOTIFY_ALTERNATE, "..x..x"},
  };
  for (const Case& c : cases) {
    BaseList2D target;
    BaseList2D src;
    for (Int32 i = 0; i < 6; ++i) {
      NotifyData* d = src.MakeNotifyList()->Append(i, flags[i]);
      d->link->SetLink(&target);
      d->data.SetInt32(1, i);
    }
    BaseList2D dst;
    ASSERT_TRUE(src.CopyTo(&dst, COPYFLAGS(c.copyFlags), nullptr));
    std::string got(6, '.');
    NotifyList* nl = dst.GetNotifyList();
    ASSERT_NE(nullptr, nl);
    for (Int32 i = 0; i < nl->GetCount(); ++i) {
      got[nl->Get(i)->id] = 'x';
      EXPECT_EQ(&target, nl->Get(i)->link->GetLink());
      EXPECT_EQ(nl->Get(i)->id, nl->Get(i)->data.GetInt32(1));
    }
    EXPECT_EQ(c.copied, got) << c.copyFlags;
  }
}

TEST(NodeParameters, NameAndLinkAreServedByTheNode) {
  BaseList2D n;
  BaseList2D other;
  n.SetName(String("me"));
  n.GetNodeLink().SetLink(&other);
  GeData v;
  ASSERT_TRUE(n.GetDParameter(DescID(900), v));
  EXPECT_EQ(String("me"), v.GetString());
  ASSERT_TRUE(n.SetDParameter(DescID(900), GeData(String("x"))));
  ASSERT_TRUE(n.GetDParameter(DescID(900), v));
  EXPECT_EQ(String("me"), v.GetString());
  EXPECT_EQ(String("x"), n.GetDataInstance()->GetString(900));
  ASSERT_TRUE(n.GetDParameter(DescID(898), v));
  EXPECT_EQ(&other, v.GetLink());
  EXPECT_TRUE(n.IsInstanceOf(0) && n.IsInstanceOf(110050) && !n.IsInstanceOf(5));
  n.SetID(5);
  EXPECT_TRUE(n.IsInstanceOf(5));
}

// ---- the provisional track hooks ----

class TestTrack : public BaseList2D {
 public:
  explicit TestTrack(std::initializer_list<Int32> ids) : BaseList2D(5350) {
    for (Int32 id : ids) _id.PushId(DescLevel(id));
  }
  const DescID* GetTrackDescID() const override { return &_id; }
  void SetTrackSynchronized(bool on) override { synced = on; }
  DescID _id;
  bool synced = false;
};

RootList2D* AllocTrackList() { return NewObj<RootList2D>(); }

std::string TrackOrder(BaseList2D& node) {
  std::string s;
  RootList2D* list = node.GetAttachedList(ATTACHEDLIST_TRACKS);
  for (GeListNode* m = list->GetFirst(); m != nullptr; m = m->GetNext()) {
    const DescID& id = *static_cast<TestTrack*>(m)->GetTrackDescID();
    for (Int32 i = 0; i < id.GetDepth(); ++i) s += (i ? "." : "") + std::to_string(id[i].id);
    s += " ";
  }
  return s;
}

TEST(NodeTracks, SortedInsertAndLookup) {
  GeSetAttachedListAllocator(ATTACHEDLIST_TRACKS, AllocTrackList);
  BaseList2D object(5155);
  object.GetDataInstance()->SetInt32(929, 1);  // quaternion rotation
  TestTrack* rot = NewObj<TestTrack>(std::initializer_list<Int32>{904});
  ASSERT_TRUE(object._InsertTrackSorted(rot));
  EXPECT_TRUE(rot->synced);
  for (auto ids : {std::initializer_list<Int32>{905}, {903, 1001}, {903, 1000}, {903}, {1000}})
    ASSERT_TRUE(object._InsertTrackSorted(NewObj<TestTrack>(ids)));
  EXPECT_EQ("903.1000 903.1001 903 905 904 1000 ", TrackOrder(object));
  EXPECT_EQ("903.1000",
            std::to_string((*object._FindTrack(DescID(903))->GetTrackDescID())[0].id) + "." +
                std::to_string((*object._FindTrack(DescID(903))->GetTrackDescID())[1].id));
  EXPECT_EQ(nullptr, object._FindTrack(DescID(906)));

  BaseList2D plain(1);  // not an object: 904 before 905, nothing synchronised
  TestTrack* r2 = NewObj<TestTrack>(std::initializer_list<Int32>{904});
  plain.GetDataInstance()->SetInt32(929, 1);
  ASSERT_TRUE(plain._InsertTrackSorted(NewObj<TestTrack>(std::initializer_list<Int32>{905})));
  ASSERT_TRUE(plain._InsertTrackSorted(r2));
  EXPECT_FALSE(r2->synced);
  EXPECT_EQ("904 905 ", TrackOrder(plain));
  GeSetAttachedListAllocator(ATTACHEDLIST_TRACKS, nullptr);
}

}  // namespace

namespace {

// Writes the seeds of fuzz/node_fuzz.cpp and fuzz/pluginnode_fuzz.cpp. Run by hand:
//   node_test --gtest_also_run_disabled_tests --gtest_filter=NodeSeeds.*
TEST(NodeSeeds, DISABLED_WriteFuzzCorpus) {
  RootPluginNode tree;
  BuildTree(tree);
  BaseList2D single(5);
  single.SetName(String("single"));
  single.GetDataInstance()->SetInt32(1, 2);
  single.GetNodeLink().SetLink(&single);
  struct Seed {
    const char* dir;
    const char* name;
    Bytes bytes;
    bool control;  // the plug-in target takes a version byte first
  } seeds[] = {
      {"node", "tree", scenetest::WriteNode(tree), false},
      {"node", "single", scenetest::WriteNode(single), false},
      {"node", "levels-old", H("01 00000001 00000000" + Chunk110050(4, false) + "02"), false},
      {"pluginnode", "tree", scenetest::WriteNode(tree), true},
      {"pluginnode", "node", scenetest::WriteNode(*tree.GetFirst()), true},
  };
  for (const Seed& s : seeds) {
    Bytes b = s.bytes;
    if (s.control) b.insert(b.begin(), 0x01);  // as a version-12000 file
    const std::string path =
        std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/" + s.dir + "/" + s.name;
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b)) << path;
  }
}

}  // namespace
