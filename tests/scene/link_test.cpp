// Links between nodes: destruction in any order empties them, goals list their links newest
// first, copies of node sets re-point links inside the set and resolve or empty the others,
// file records of every size, and link values in GeData and containers.
#include <gtest/gtest.h>

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

PluginNode* Node(Int32 type = 465001514) { return PluginNode::Alloc(type); }

TEST(Links, DestroyingANodeEmptiesEveryLinkToIt) {
  // Orders of destruction: target first, link holder first, a link inside the target itself,
  // a link in a child pointing at its parent, a parent's link to its child.
  for (int order = 0; order < 5; ++order) {
    PluginNode* target = Node();
    PluginNode* holder = Node();
    BaseLink outside;
    outside.SetLink(target);
    holder->GetNodeLink().SetLink(target);
    target->GetNodeLink().SetLink(target);  // a link inside the node to itself
    PluginNode* child = Node();
    child->InsertUnderLast(target);
    child->GetNodeLink().SetLink(target);
    target->GetDataInstance()->SetData(5, GeData(outside));  // a container link to itself
    holder->GetDataInstance()->SetData(6, GeData(outside));
    BaseLink toChild;
    toChild.SetLink(child);
    EXPECT_EQ(6, target->GetAliasGoal().GetLinkCount());
    switch (order) {
      case 0:
        PluginNode::Free(target);
        EXPECT_EQ(nullptr, holder->GetNodeLink().GetLink());
        EXPECT_EQ(nullptr, holder->GetDataInstance()->GetLink(6));
        PluginNode::Free(holder);
        break;
      case 1:
        PluginNode::Free(holder);
        EXPECT_EQ(4, target->GetAliasGoal().GetLinkCount());
        PluginNode::Free(target);
        break;
      case 2:
        target->GetNodeLink().SetLink(nullptr);
        target->GetDataInstance()->FlushAll();
        EXPECT_EQ(4, target->GetAliasGoal().GetLinkCount());
        PluginNode::Free(target);
        PluginNode::Free(holder);
        break;
      case 3: {
        child->Remove();
        PluginNode* c = child;
        PluginNode::Free(c);  // the child's link to its former parent goes with it
        EXPECT_EQ(nullptr, toChild.GetLink());
        EXPECT_EQ(5, target->GetAliasGoal().GetLinkCount());
        PluginNode::Free(holder);
        PluginNode::Free(target);
        break;
      }
      default:
        PluginNode::Free(target);  // children go first, with their links
        EXPECT_EQ(nullptr, toChild.GetLink());
        PluginNode::Free(holder);
        break;
    }
    EXPECT_EQ(nullptr, outside.GetLink()) << order;
    EXPECT_TRUE(outside.IsEmpty()) << order;
  }
}

TEST(Links, AGoalListsItsLinksNewestFirst) {
  BaseList2D node;
  BaseLink* first = BaseLink::Alloc();
  BaseLink second;
  first->SetLink(&node);
  second.SetLink(&node);
  BaseLink third;
  third.SetLink(&node);
  BrowseGoal browse;
  int seen = 0;
  for (GeAliasXLink* x = node.GetAliasGoal().GetFirstLink(browse); x != nullptr;
       x = browse.GetNext())
    ++seen;
  EXPECT_EQ(3, seen);
  third.SetLink(nullptr);
  EXPECT_EQ(node.GetAliasGoal().GetID(), first->GetID());
  EXPECT_NE(0u, first->GetID());
  BaseLink::Free(first);
  EXPECT_EQ(&node, second.GetLink());
  EXPECT_EQ(1, node.GetAliasGoal().GetLinkCount());
  second.SetLink(nullptr);
  EXPECT_EQ(0u, node.GetAliasGoal().GetID());
  EXPECT_EQ(nullptr, node.GetAliasGoal().GetFirstLink(browse));
  EXPECT_EQ(nullptr, browse.GetNext());
  // An invisible goal resolves to nothing; a link to a list head too.
  second.SetLink(&node);
  node.GetAliasGoal().SetVisibility(false);
  EXPECT_EQ(nullptr, second.GetLink());
  RootPluginNode list;
  second.SetLink(&list);
  EXPECT_EQ(nullptr, second.GetLink());
  EXPECT_EQ(&list.GetAliasGoal(), second.GetLinkGoal());
}

// A (with children A1) and B are copied as one list; C stays outside. Links inside A point at
// B, A1, C and A itself.
TEST(Links, CopiesRepointLinksInsideTheSetAndResolveOrEmptyTheRest) {
  for (int mode = 0; mode < 3;
       ++mode) {  // 0: CopyTo's own translation, 1: Zap(true), 2: Zap(false)
    RootPluginNode list;
    PluginNode* a = Node();
    PluginNode* b = Node();
    PluginNode* a1 = Node();
    PluginNode* c = Node();
    list.InsertLast(a);
    list.InsertLast(b);
    a1->InsertUnderLast(a);
    GeData toB(VALUETYPE_LINK, DEFAULTVALUE);
    toB.GetBaseLink()->SetLink(b);
    a->GetDataInstance()->SetData(1, toB);
    a->GetNodeLink().SetLink(c);
    a1->GetNodeLink().SetLink(a);
    b->GetNodeLink().SetLink(a1);
    RootPluginNode copy;
    if (mode == 0) {
      ASSERT_TRUE(list.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
    } else {
      AliasTrans trans;
      ASSERT_TRUE(trans.Init());
      ASSERT_TRUE(list.CopyTo(&copy, COPYFLAGS_NONE, &trans));
      trans.Zap(mode == 1);
    }
    PluginNode* ca = copy.GetFirst();
    ASSERT_NE(nullptr, ca);
    PluginNode* cb = static_cast<PluginNode*>(ca->GetNext());
    PluginNode* ca1 = static_cast<PluginNode*>(ca->GetDown());
    ASSERT_NE(nullptr, cb);
    ASSERT_NE(nullptr, ca1);
    EXPECT_EQ(cb, ca->GetDataInstance()->GetLink(1)) << mode;
    EXPECT_EQ(ca, ca1->GetNodeLink().GetLink()) << mode;
    EXPECT_EQ(ca1, cb->GetNodeLink().GetLink()) << mode;
    EXPECT_EQ(mode == 2 ? nullptr : c, ca->GetNodeLink().GetLink()) << mode;
    // The originals are untouched.
    EXPECT_EQ(b, a->GetDataInstance()->GetLink(1));
    EXPECT_EQ(c, a->GetNodeLink().GetLink());
    PluginNode::Free(c);
    EXPECT_EQ(nullptr, ca->GetNodeLink().GetLink());
  }
  // A ring of many nodes, each linking to the next: the translation grows its index again and
  // again, and every copy links to the copy of its successor.
  const size_t n = 700;
  RootPluginNode ring;
  std::vector<PluginNode*> nodes;
  for (size_t i = 0; i < n; ++i) {
    nodes.push_back(Node());
    ring.InsertLast(nodes.back());
  }
  for (size_t i = 0; i < n; ++i) nodes[i]->GetNodeLink().SetLink(nodes[(i + 1) % n]);
  RootPluginNode copy;
  ASSERT_TRUE(ring.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
  std::vector<BaseList2D*> copies;
  for (GeListNode* m = copy.GetFirst(); m != nullptr; m = m->GetNext())
    copies.push_back(static_cast<BaseList2D*>(m));
  ASSERT_EQ(n, copies.size());
  for (size_t i = 0; i < n; ++i)
    ASSERT_EQ(copies[(i + 1) % n], copies[i]->GetNodeLink().GetLink()) << i;

  // Identities whose hashes share their high half share the index's slot and the tag it keeps
  // there; each still gets its own goal, before and after the index grows (40 of them, with
  // links translated before or after their goal).
  {
    const UInt64 mul = 0x9E3779B97F4A7C15ull;  // the index's hash
    UInt64 inverse = mul;
    for (int i = 0; i < 6; ++i) inverse *= 2 - mul * inverse;
    const size_t count = 40;
    RootPluginNode holder;
    std::vector<PluginNode*> goals;
    std::vector<BaseLink> links(count);
    AliasTrans trans;
    ASSERT_TRUE(trans.Init());
    GeAliasXTrans* x = trans.GetTrans();
    for (size_t k = 0; k < count; ++k) {
      const GeAliasID id = ((UInt64(0x5A5A5A5Au) << 32) + k + 1) * inverse;
      goals.push_back(Node());
      holder.InsertLast(goals.back());
      if (k % 2 == 0) {
        ASSERT_TRUE(x->SetAliasFromID(id, &links[k], nullptr));
      }
      ASSERT_TRUE(x->XSetGoalFromID(id, &goals[k]->GetAliasGoal()));
      if (k % 2 == 1) {
        ASSERT_TRUE(x->SetAliasFromID(id, &links[k], nullptr));
      }
    }
    EXPECT_EQ(Int32(count), x->GetCount());
    trans.Zap(true);
    for (size_t k = 0; k < count; ++k) EXPECT_EQ(goals[k], links[k].GetLink()) << k;
  }

  // A goal registered again under the identity it stands for (its own, as a node copied onto
  // itself registers it, or one it was registered under already) keeps the links translated to
  // it before, and takes those after; only a foreign identity starts it clean.
  for (bool own : {true, false}) {
    RootPluginNode holder;
    PluginNode* g = Node();
    holder.InsertLast(g);
    BaseLink before;
    before.SetLink(g);
    AliasTrans trans;
    ASSERT_TRUE(trans.Init());
    GeAliasXTrans* x = trans.GetTrans();
    const GeAliasID id = own ? g->GetAliasGoal().GetID() : GeAliasID(0x1234);
    ASSERT_TRUE(x->XSetGoalFromID(id, &g->GetAliasGoal()));
    BaseLink mid;
    ASSERT_TRUE(x->SetAliasFromID(id, &mid, nullptr));
    ASSERT_TRUE(x->XSetGoalFromID(id, &g->GetAliasGoal()));
    BaseLink after;
    ASSERT_TRUE(x->SetAliasFromID(id, &after, nullptr));
    trans.Zap(true);
    EXPECT_EQ(own ? g : nullptr, before.GetLink()) << own;
    EXPECT_EQ(g, mid.GetLink()) << own;
    EXPECT_EQ(g, after.GetLink()) << own;
  }
}

TEST(Links, FileRecordsOfEverySize) {
  struct Case {
    const char* block;  // the memory value's bytes
    bool hasText;
    const char* text;
  } cases[] = {
      {"616C69617332 0000000000000000", false, ""},
      {"616C69617332 00000000000000", false, ""},    // 13 bytes: unchanged link
      {"616C69617331 0000000000000000", false, ""},  // another prefix: ignored
      {"616C69617332 0000000000000000 00000002 646E", true, "dn"},
      {"616C69617332 0000000000000000 000000FF 646E", true, "dn"},  // length beyond the block
      {"616C69617332 0000000000000000 0000", false, ""},            // 16 bytes: no whole length
      {"616C69617332 0000000000000000 00000080", true, ""},         // 128 bytes of text
  };
  const std::string longText(128, 'n');
  for (const Case& c : cases) {
    Bytes block = H(c.block);
    const bool isLong = c.hasText && c.text[0] == 0;
    if (isLong) block.insert(block.end(), longText.begin(), longText.end());
    char head[32];
    snprintf(head, sizeof head, "80 %08zX", block.size());
    Bytes all = H(head);
    all.insert(all.end(), block.begin(), block.end());
    lumtest::MemReader r(all);
    BaseLink link;
    ASSERT_TRUE(link.Read(&r.hf)) << c.block;
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(c.hasText, link.GetText() != nullptr) << c.block;
    if (c.hasText) {
      EXPECT_EQ(String(isLong ? longText.c_str() : c.text), *link.GetText()) << c.block;
    }
  }
  // Written: 14 bytes, or 18 + the text's bytes.
  BaseLink plain;
  BaseLink texted;
  ASSERT_TRUE(texted.SetText(String("dn")));
  lumtest::MemWriter w;
  ASSERT_TRUE(plain.Write(&w.hf));
  ASSERT_TRUE(texted.Write(&w.hf));
  EXPECT_EQ(lumtest::NormHex("80 0000000E 616C69617332 0000000000000000"
                             "80 00000014 616C69617332 0000000000000000 00000002 646E"),
            lumtest::ToHex(w.Finish()));
  // Goal records: 14 bytes give the identity, 13 give 0 (nothing registered).
  for (const char* hex :
       {"80 0000000E 61676F616C31 0100000000000000", "80 0000000D 61676F616C31 01000000000000"}) {
    BaseList2D node;
    BaseLink waiting;
    BaseDocument doc;
    AliasTrans trans;
    ASSERT_TRUE(trans.Init());
    doc.SetAliasTrans(&trans);
    lumtest::MemReader r(H(std::string(hex) + "80 0000000E 616C69617332 0100000000000000"));
    r.hf.SetDocument(&doc);
    ASSERT_TRUE(node.GetAliasGoal().Read(&r.hf));
    ASSERT_TRUE(waiting.Read(&r.hf));
    trans.Zap(false);
    EXPECT_EQ(std::string(hex).find("0D") == std::string::npos ? &node : nullptr, waiting.GetLink())
        << hex;
  }
}

TEST(Links, GoalsReadFromAFileAreWrittenBackWhenNothingInTheReadNamesThem) {
  // A list head and its member, named by links outside the list; the list read alone (as a
  // checker reads one list of a file) and a copy of what was read keep both goal records.
  RootPluginNode list;
  PluginNode* member = Node();
  list.InsertLast(member);
  BaseLink toMember, toList;
  toMember.SetLink(member);
  toList.SetLink(&list);
  auto written = [](PrivateChunk& node) {
    const Bytes b = scenetest::MaskIdentities(scenetest::WriteNode(node));
    return std::string(b.begin(), b.end());
  };
  auto goals = [](const std::string& bytes) {
    size_t n = 0;
    for (size_t i = bytes.find("agoal1"); i != std::string::npos; i = bytes.find("agoal1", i + 1))
      ++n;
    return n;
  };
  const std::string first = written(list);
  ASSERT_EQ(2u, goals(first));
  RootPluginNode back;
  ASSERT_TRUE(scenetest::ReadNode(scenetest::WriteNode(list), back));
  EXPECT_EQ(first, written(back));
  RootPluginNode copy;
  ASSERT_TRUE(back.CopyTo(&copy, COPYFLAGS_IDENTITY, nullptr));  // the same markers
  EXPECT_EQ(first, written(copy));
  // Without links, what a program built writes no goal record.
  toMember.SetLink(nullptr);
  toList.SetLink(nullptr);
  EXPECT_EQ(0u, goals(written(list)));
}

TEST(Links, LinkValuesReadCopyAndCompare) {
  // A container with a link, followed by more values: it reads (no -100) and so does the rest.
  BaseList2D target;
  BaseContainer bc;
  BaseLink l;
  l.SetLink(&target);
  ASSERT_NE(nullptr, bc.SetData(1, GeData(l)));
  bc.SetInt32(2, 7);
  lumtest::MemWriter w;
  ASSERT_TRUE(w.hf.WriteContainer(bc));
  ASSERT_TRUE(w.hf.WriteInt32(99));
  Bytes bytes = w.Finish();
  lumtest::MemReader r(bytes);
  BaseContainer back;
  ASSERT_TRUE(r.hf.ReadContainer(&back, true));
  Int32 after = 0;
  ASSERT_TRUE(r.hf.ReadInt32(&after));
  EXPECT_EQ(99, after);
  EXPECT_EQ(7, back.GetInt32(2));
  EXPECT_EQ(VALUETYPE_LINK, back.GetData(1)->GetType());
  EXPECT_EQ(nullptr, back.GetLink(1));  // read without a translation: not reconnected
  // Copies point at the same node; equality is "resolves to the same node".
  BaseContainer copy(bc);
  EXPECT_EQ(&target, copy.GetLink(1));
  BaseLink assigned;
  assigned = l;
  const BaseLink& itself = assigned;
  assigned = itself;  // a no-op
  EXPECT_EQ(&target, assigned.GetLink());
  EXPECT_TRUE(*bc.GetData(1) == *copy.GetData(1));
  EXPECT_FALSE(*bc.GetData(1) == *back.GetData(1));
  GeData empty1(VALUETYPE_LINK, DEFAULTVALUE), empty2(VALUETYPE_LINK, DEFAULTVALUE);
  EXPECT_TRUE(empty1 == empty2);
  // SetBaseLink overwrites in place.
  GeData v(l);
  BaseList2D other;
  BaseLink lo;
  lo.SetLink(&other);
  BaseLink* before = v.GetBaseLink();
  v.SetBaseLink(lo);
  EXPECT_EQ(before, v.GetBaseLink());
  EXPECT_EQ(&other, v.GetLink());
  v.SetBaseLink(*v.GetBaseLink());  // its own link: nothing changes
  EXPECT_EQ(&other, v.GetLink());
  GeData number(Int32(3));  // a value of another kind becomes the link
  number.SetBaseLink(lo);
  EXPECT_EQ(VALUETYPE_LINK, number.GetType());
  EXPECT_EQ(&other, number.GetLink());
}

// A stand-in object: instance of 5155, with children and a cache.
class PathObject : public BaseList2D {
 public:
  PathObject() : BaseList2D(TYPE_ANYOBJECT) { SetChildren(NewObj<RootList2D>()); }
  BaseList2D* GetLinkPathCache() const override { return cache; }
  BaseList2D* cache = nullptr;
};

TEST(Links, LinkAtomWalksThePathOfObjects) {
  RootList2D top;
  PathObject* a = NewObj<PathObject>();
  PathObject* b = NewObj<PathObject>();
  PathObject* b1 = NewObj<PathObject>();
  PathObject* cached = NewObj<PathObject>();
  top.InsertLast(a);
  top.InsertLast(b);
  b1->InsertUnderLast(b);
  b1->cache = cached;
  struct Case {
    const char* text;
    BaseList2D* expected;
  } cases[] = {
      {"", a},    {"n", b},       {"dn", b1},      {"Gdn", cached}, {"Ddn", cached},
      {"xnx", b}, {"d", nullptr}, {"nn", nullptr}, {"Dn", nullptr},
  };
  for (const Case& c : cases) {
    BaseLink link;
    link.SetLink(a);
    ASSERT_TRUE(link.SetText(String(c.text)));
    EXPECT_EQ(c.expected, link.GetLinkAtom(nullptr, 0)) << c.text;
  }
  // Through a file: the text survives, the instance type filters.
  BaseLink link;
  link.SetLink(a);
  ASSERT_TRUE(link.SetText(String("dn")));
  BaseLink copied;  // a copy takes the text along
  ASSERT_TRUE(link.CopyData(&copied, nullptr) && copied.GetText() != nullptr);
  EXPECT_EQ(String("dn"), *copied.GetText());
  lumtest::MemWriter w;
  ASSERT_TRUE(a->GetAliasGoal().Write(&w.hf));
  ASSERT_TRUE(link.Write(&w.hf));
  Bytes bytes = w.Finish();
  BaseDocument doc;
  AliasTrans trans;
  ASSERT_TRUE(trans.Init());
  doc.SetAliasTrans(&trans);
  lumtest::MemReader r(bytes);
  r.hf.SetDocument(&doc);
  PathObject* a2 = NewObj<PathObject>();
  top.InsertLast(a2);  // a2 stands for a; its next is nothing
  BaseLink back;
  ASSERT_TRUE(a2->GetAliasGoal().Read(&r.hf));
  ASSERT_TRUE(back.Read(&r.hf));
  trans.Zap(false);
  EXPECT_EQ(nullptr, back.GetLinkAtom(nullptr, 0));  // "dn" from a2: no next object
  a2->Remove();
  a2->InsertAfter(a);
  EXPECT_EQ(b1, back.GetLinkAtom(nullptr, 0));  // a2's next is b, whose first child is b1
  BaseList2D plain(5);
  back.SetLink(&plain);
  EXPECT_EQ(&plain, back.GetLinkAtom(nullptr, 0));  // no object: the path is not walked
  EXPECT_EQ(&plain, back.GetLinkAtom(nullptr, 5));
  EXPECT_EQ(nullptr, back.GetLinkAtom(nullptr, 6));
  b1->cache = nullptr;
  DeleteObj(cached);
}

}  // namespace
