// Include/exclude lists: building and reading entries, comparison over every field, copies of
// node sets that re-point the links (and destruction that empties them), the file form at both
// levels with links resolved through a document's translation, and counts the stream cannot
// hold.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

std::string I32(Int32 v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
  return buf;
}
std::string Int(Int32 v) { return "0f" + I32(v); }

// Zeroes the 8 identity bytes after every goal and link record.
Bytes Masked(Bytes b) {
  for (size_t i = 0; i + 14 <= b.size(); ++i) {
    if (std::memcmp(&b[i], "agoal1", 6) == 0 || std::memcmp(&b[i], "alias2", 6) == 0) {
      std::memset(&b[i + 6], 0, 8);
      i += 13;
    }
  }
  return b;
}

InExcludeData* Of(const GeData& d) {
  return InExcludeData::From(d.GetCustomDataType(CUSTOMDATATYPE_INEXCLUDE_LIST));
}

bool Insert(InExcludeData* list, GeListNode* node, Int32 flags) {
  BaseLink link;
  link.SetLink(node);
  return list->InsertObject(link, flags);
}

// Goal records of the nodes, then the value, as a file holding the nodes before the list would.
Bytes WriteWithGoals(const std::vector<BaseList2D*>& nodes, const GeData& value) {
  lumtest::MemWriter w;
  for (BaseList2D* n : nodes) EXPECT_TRUE(n->GetAliasGoal().Write(&w.hf));
  EXPECT_TRUE(w.hf.WriteGeData(value));
  return w.Finish();
}

// Reads what WriteWithGoals wrote: the nodes take the goal records, the links are resolved.
bool ReadWithGoals(const Bytes& bytes, const std::vector<BaseList2D*>& nodes, GeData* value) {
  lumtest::MemReader r(bytes);
  BaseDocument doc;
  AliasTrans trans;
  if (!trans.Init()) return false;
  doc.SetAliasTrans(&trans);
  r.hf.SetDocument(&doc);
  bool ok = true;
  for (BaseList2D* n : nodes) ok = ok && n->GetAliasGoal().Read(&r.hf);
  ok = ok && r.hf.ReadGeData(value);
  trans.Zap(false);
  return ok && r.AtEnd();
}

}  // namespace

TEST(InExclude, EntriesAreBuiltAndRead) {
  BaseList2D a, b;
  GeData d(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE);
  InExcludeData* list = Of(d);
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(0, list->GetObjectCount());
  ASSERT_TRUE(list->InsertObject(&a, 3));
  ASSERT_TRUE(Insert(list, &b, 5));
  ASSERT_TRUE(list->InsertObject(nullptr, 7));  // an empty link
  EXPECT_EQ(3, list->GetObjectCount());
  EXPECT_EQ(&a, list->ObjectFromIndex(nullptr, 0));
  EXPECT_EQ(&b, list->ObjectFromIndex(nullptr, 1));
  for (Int32 index : {2, -1, 3}) EXPECT_EQ(nullptr, list->ObjectFromIndex(nullptr, index));
  EXPECT_EQ(5, list->GetFlags(1));
  EXPECT_EQ(0, list->GetFlags(3));
  EXPECT_TRUE(list->SetFlags(1, 9));
  EXPECT_FALSE(list->SetFlags(-1, 9));
  EXPECT_EQ(9, list->GetFlags(1));
  ASSERT_NE(nullptr, list->GetData(0));
  EXPECT_EQ(0, list->GetData(0)->GetCount());
  list->GetData(0)->SetInt32(1, 42);
  EXPECT_EQ(nullptr, list->GetData(3));
  EXPECT_EQ(1, list->GetObjectIndex(nullptr, &b));
  EXPECT_EQ(-1, list->GetObjectIndex(nullptr, nullptr));
  ASSERT_NE(nullptr, list->GetLink(0));
  EXPECT_EQ(&a, list->GetLink(0)->GetLink());
  EXPECT_TRUE(list->DeleteObject(0));
  EXPECT_FALSE(list->DeleteObject(2));
  EXPECT_EQ(2, list->GetObjectCount());
  EXPECT_EQ(&b, list->ObjectFromIndex(nullptr, 0));
  EXPECT_EQ(-1, list->GetObjectIndex(nullptr, &a));
  EXPECT_EQ(1, b.GetAliasGoal().GetLinkCount());  // the deleted entry's link is gone
}

TEST(InExclude, ComparisonCoversEveryField) {
  BaseList2D a, b;
  auto make = [&](GeData* d) {
    d->InitType(CUSTOMDATATYPE_INEXCLUDE_LIST);
    Insert(Of(*d), &a, 1);
    Insert(Of(*d), &b, 2);
    Of(*d)->GetData(1)->SetInt32(10, 4);
  };
  GeData base;
  make(&base);
  struct Change {
    const char* name;
    void (*apply)(InExcludeData*, BaseList2D*);
  } changes[] = {
      {"count", [](InExcludeData* l, BaseList2D*) { l->DeleteObject(1); }},
      {"flags", [](InExcludeData* l, BaseList2D*) { l->SetFlags(0, 8); }},
      {"node",
       [](InExcludeData* l, BaseList2D* other) {
         l->DeleteObject(1);
         Insert(l, other, 2);
         l->GetData(1)->SetInt32(10, 4);
       }},
      {"settings", [](InExcludeData* l, BaseList2D*) { l->GetData(1)->SetInt32(10, 5); }},
      {"settings id", [](InExcludeData* l, BaseList2D*) { l->GetData(0)->SetId(3); }},
      {"mark", [](InExcludeData* l,
                  BaseList2D*) { static_cast<iIncludeExcludeData*>(l)->entries[0]->mark = 1; }},
  };
  for (const Change& c : changes) {
    GeData other;
    make(&other);
    EXPECT_TRUE(base == other) << c.name;
    c.apply(Of(other), &a);
    EXPECT_FALSE(base == other) << c.name;
  }
  EXPECT_EQ(1, InExcludeDataTypeClass::Compare(
                   base.GetCustomDataType(CUSTOMDATATYPE_INEXCLUDE_LIST), nullptr));
  // Two empty links resolve alike.
  GeData e1(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE), e2(e1);
  Insert(Of(e1), nullptr, 0);
  Insert(Of(e2), nullptr, 0);
  EXPECT_TRUE(e1 == e2);
}

TEST(InExclude, CopiesOfNodeSetsRepointLinksAndDestructionEmptiesThem) {
  for (int mode = 0; mode < 3;
       ++mode) {  // 0: CopyTo's own translation, 1: Zap(true), 2: Zap(false)
    RootPluginNode set;
    PluginNode* holder = PluginNode::Alloc(465001514);
    PluginNode* a = PluginNode::Alloc(465001514);
    PluginNode* outside = PluginNode::Alloc(465001514);
    set.InsertLast(holder);
    set.InsertLast(a);
    GeData value(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE);
    Insert(Of(value), a, 1);
    Insert(Of(value), holder, 2);
    Insert(Of(value), outside, 3);
    Of(value)->GetData(2)->SetInt32(1, 77);
    holder->GetDataInstance()->SetData(20000, value);

    RootPluginNode copy;
    if (mode == 0) {
      ASSERT_TRUE(set.CopyTo(&copy, COPYFLAGS_NONE, nullptr));
    } else {
      AliasTrans trans;
      ASSERT_TRUE(trans.Init());
      ASSERT_TRUE(set.CopyTo(&copy, COPYFLAGS_NONE, &trans));
      trans.Zap(mode == 1);
    }
    PluginNode* ch = copy.GetFirst();
    ASSERT_NE(nullptr, ch);
    PluginNode* ca = static_cast<PluginNode*>(ch->GetNext());
    const InExcludeData* list = InExcludeData::From(
        ch->GetDataInstance()->GetCustomDataType(20000, CUSTOMDATATYPE_INEXCLUDE_LIST));
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(3, list->GetObjectCount());
    EXPECT_EQ(ca, list->ObjectFromIndex(nullptr, 0)) << mode;
    EXPECT_EQ(ch, list->ObjectFromIndex(nullptr, 1)) << mode;
    EXPECT_EQ(mode == 2 ? nullptr : outside, list->ObjectFromIndex(nullptr, 2)) << mode;
    EXPECT_EQ(2, list->GetFlags(1));
    EXPECT_EQ(77, list->GetData(2)->GetInt32(1));
    // The original still points at the originals.
    EXPECT_EQ(a, Of(*holder->GetDataInstance()->GetData(20000))->ObjectFromIndex(nullptr, 0));

    PluginNode* victim = ca;
    victim->Remove();
    PluginNode::Free(victim);
    PluginNode::Free(outside);
    EXPECT_EQ(nullptr, list->ObjectFromIndex(nullptr, 0));
    EXPECT_EQ(nullptr, list->ObjectFromIndex(nullptr, 2));
    EXPECT_EQ(ch, list->ObjectFromIndex(nullptr, 1));
    EXPECT_EQ(3, list->GetObjectCount());  // entries stay, their links are empty
  }
}

// An entry whose link resolves to nothing keeps its place, flags and settings, with an empty
// link record: dropping it lost the entry with everything it carried.
TEST(InExcludeFile, EveryEntryIsWrittenAndOneThatResolvesToNothingKeepsItsPlace) {
  BaseList2D a, b;
  GeData d(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE);
  Insert(Of(d), &a, 3);
  {
    BaseList2D temp;
    Insert(Of(d), &temp, 4);
  }  // the second link resolves to nothing now
  Insert(Of(d), &b, 5);
  Of(d)->GetData(2)->SetInt32(9, 6);
  const std::string link = "80 0000000e 616c69617332 0000000000000000";
  const std::string empty = "01 00000084 00000001" + Int(-1) + "02";
  const std::string settings = "01 00000084 00000001" + Int(-1) + Int(9) + Int(15) + Int(6) + "02";
  const std::string body =
      Int(3) + Int(3) + link + Int(4) + link + Int(5) + link + empty + empty + settings;
  const std::string goal = "80 0000000e 61676f616c31 0000000000000000";
  const Bytes bytes = WriteWithGoals({&a, &b}, d);
  EXPECT_EQ(lumtest::NormHex(goal + goal + Int(CUSTOMDATATYPE_INEXCLUDE_LIST) +
                             "01 00000000 00000002" + body + "02"),
            lumtest::ToHex(Masked(bytes)));

  BaseList2D a2, b2;
  GeData back;
  ASSERT_TRUE(ReadWithGoals(bytes, {&a2, &b2}, &back));
  InExcludeData* list = Of(back);
  ASSERT_EQ(3, list->GetObjectCount());
  EXPECT_EQ(&a2, list->ObjectFromIndex(nullptr, 0));
  EXPECT_EQ(nullptr, list->ObjectFromIndex(nullptr, 1));
  EXPECT_EQ(4, list->GetFlags(1));
  EXPECT_EQ(&b2, list->ObjectFromIndex(nullptr, 2));
  EXPECT_EQ(5, list->GetFlags(2));
  EXPECT_EQ(6, list->GetData(2)->GetInt32(9));
  EXPECT_EQ(Masked(bytes), Masked(WriteWithGoals({&a2, &b2}, back)));

  // Level 1 has no settings: they stay empty and the rest of the chunk is skipped.
  Bytes level1 = bytes;
  for (size_t i = 0; i + 9 <= level1.size(); ++i) {
    if (lumtest::ToHex(&level1[i], 9) == "01 00 00 00 00 00 00 00 02") {
      level1[i + 8] = 1;
      break;
    }
  }
  BaseList2D a3, b3;
  ASSERT_TRUE(ReadWithGoals(level1, {&a3, &b3}, &back));
  ASSERT_EQ(3, Of(back)->GetObjectCount());
  EXPECT_EQ(&b3, Of(back)->ObjectFromIndex(nullptr, 2));
  EXPECT_EQ(0, Of(back)->GetData(2)->GetCount());

  // Without a translation the links cannot find their nodes.
  lumtest::MemReader r(bytes);
  BaseList2D a4, b4;
  ASSERT_TRUE(a4.GetAliasGoal().Read(&r.hf) && b4.GetAliasGoal().Read(&r.hf));
  ASSERT_TRUE(r.hf.ReadGeData(&back));
  EXPECT_EQ(3, Of(back)->GetObjectCount());
  EXPECT_EQ(nullptr, Of(back)->ObjectFromIndex(nullptr, 0));
}

TEST(InExcludeFile, EmptyListsAndBrokenChunks) {
  GeData d(CUSTOMDATATYPE_INEXCLUDE_LIST, DEFAULTVALUE);
  lumtest::MemWriter w;
  ASSERT_TRUE(w.hf.WriteGeData(d));
  EXPECT_EQ(
      lumtest::NormHex(Int(CUSTOMDATATYPE_INEXCLUDE_LIST) + "01 00000000 00000002" + Int(0) + "02"),
      lumtest::ToHex(w.Finish()));
  const std::string head = Int(CUSTOMDATATYPE_INEXCLUDE_LIST) + "01 00000000 00000002";
  // A negative count reads as empty.
  {
    lumtest::MemReader r(head + Int(-5) + "02");
    GeData v;
    ASSERT_TRUE(r.hf.ReadGeData(&v));
    EXPECT_EQ(0, Of(v)->GetObjectCount());
  }
  const std::string link = "80 0000000e 616c69617332 0000000000000000";
  for (const std::string& contents : {
           Int(100000000) + Int(1) + link,   // more entries than the stream holds
           Int(2) + Int(1) + link + Int(1),  // the second link is missing
           Int(1) + link,                    // flags missing
           Int(1) + Int(1) + link,           // settings missing at level 2
           Int(1) + Int(1) + link + Int(4),  // settings that are no container
       }) {
    lumtest::MemReader r(head + contents + "02");
    GeData v(5);
    const std::int64_t calls = lumtest::AllocationCalls();
    EXPECT_FALSE(r.hf.ReadGeData(&v)) << contents;
    EXPECT_EQ(VALUETYPE_NIL, v.GetType());
    EXPECT_NE(FILEERROR_NONE, r.hf.GetError());
    EXPECT_LT(lumtest::AllocationCalls() - calls, 20);
  }
}
