// Containers: the entry rules (kind keeping, tolerant floats, the change counter, repeated and
// negative ids), typed access with defaults and fallbacks, copies, merging and identity, path
// access through sub-container, vector and transparent levels, both file forms, and every
// allocating operation under allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes H(const std::string& hex) { return lumtest::FromHex(hex); }
std::string Hex(const Bytes& b) { return lumtest::ToHex(b); }
std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

Bytes WriteBC(const BaseContainer& bc) {
  lumtest::MemWriter w;
  EXPECT_TRUE(w.hf.WriteContainer(bc));
  return w.FinishUnchecked();
}

String Str(const char* utf8) { return String(utf8, STRINGENCODING_UTF8); }

// The ids of the entries in list order.
std::vector<Int32> Ids(const BaseContainer& bc) {
  std::vector<Int32> ids;
  for (Int32 i = 0; i < bc.GetCount(); ++i) ids.push_back(bc.GetIndexId(i));
  return ids;
}

Float64 Ulps(Float64 x, Int64 n) {
  Int64 bits;
  std::memcpy(&bits, &x, sizeof bits);
  bits += n;
  std::memcpy(&x, &bits, sizeof bits);
  return x;
}

DescID Path(std::initializer_list<DescLevel> levels) {
  DescID id;
  for (const DescLevel& l : levels) EXPECT_TRUE(id.PushId(l));
  return id;
}

GeData Bytes3(UChar a, UChar b, UChar c) {
  const UChar raw[3] = {a, b, c};
  ByteArray array;
  EXPECT_TRUE(array.Init(raw, 3));
  return GeData(array);
}

// ---- entry rules ----

TEST(BaseContainer, NumericEntriesKeepTheirKind) {
  BaseContainer bc;
  bc.SetFloat(5, 2.5);
  const UInt16 d = bc.GetDirty();
  bc.SetInt32(5, 7);
  EXPECT_EQ(VALUETYPE_FLOAT, bc.GetData(5)->GetType());
  EXPECT_EQ(7.0, bc.GetFloat(5));
  EXPECT_EQ(UInt16(d + 1), bc.GetDirty());

  bc.SetInt32(6, 3);
  bc.SetFloat(6, 2.9);
  EXPECT_EQ(VALUETYPE_INT32, bc.GetData(6)->GetType());
  EXPECT_EQ(2, bc.GetInt32(6));
  bc.SetFloat(6, -2.9);
  EXPECT_EQ(-2, bc.GetInt32(6));

  // The same number in the other kind still counts as a change of kind.
  const UInt16 before = bc.GetDirty();
  bc.SetInt32(5, 7);
  EXPECT_EQ(UInt16(before + 1), bc.GetDirty());

  // Any other change of kind replaces the value.
  bc.SetString(6, Str("text"));
  EXPECT_EQ(VALUETYPE_STRING, bc.GetData(6)->GetType());
  bc.SetInt32(6, 1);
  EXPECT_EQ(VALUETYPE_INT32, bc.GetData(6)->GetType());
  bc.SetUInt32(7, 0xFFFFFFFFu);
  EXPECT_EQ(-1, bc.GetInt32(7));
  bc.SetBool(8, true);
  EXPECT_EQ(1, bc.GetInt32(8));
  EXPECT_TRUE(bc.GetBool(8));
}

TEST(BaseContainer, TolerantFloatsDoNotCountAsChanges) {
  EXPECT_TRUE(CompareFloatTolerant(1.0, Ulps(1.0, 7)));
  EXPECT_FALSE(CompareFloatTolerant(1.0, Ulps(1.0, 8)));
  EXPECT_FALSE(CompareFloatTolerant(0.0, -0.0));
  // Patterns far apart must not overflow the difference.
  EXPECT_FALSE(CompareFloatTolerant(-1.7976931348623157e308, 1.7976931348623157e308));

  BaseContainer bc;
  bc.SetFloat(1, 1.0);
  UInt16 d = bc.GetDirty();
  bc.SetFloat(1, Ulps(1.0, 1));
  EXPECT_EQ(d, bc.GetDirty());
  EXPECT_EQ(Ulps(1.0, 1), bc.GetFloat(1));  // stored although unchanged
  bc.SetFloat(1, Ulps(1.0, 9));
  EXPECT_EQ(UInt16(d + 1), bc.GetDirty());

  bc.SetFloat(2, 0.0);
  d = bc.GetDirty();
  bc.SetFloat(2, -0.0);
  EXPECT_EQ(UInt16(d + 1), bc.GetDirty());
  EXPECT_TRUE(std::signbit(bc.GetFloat(2)));

  bc.SetVector(3, Vector64(1, 2, 3));
  d = bc.GetDirty();
  bc.SetVector(3, Vector64(Ulps(1, 2), Ulps(2, -3), 3));
  EXPECT_EQ(d, bc.GetDirty());
  EXPECT_EQ(Ulps(1, 2), bc.GetVector(3).x);
  bc.SetVector(3, Vector64(1, 2, 3.5));
  EXPECT_EQ(UInt16(d + 1), bc.GetDirty());
}

TEST(BaseContainer, DirtyCountsChangesAndWraps) {
  BaseContainer bc;
  EXPECT_EQ(0, bc.GetDirty());
  bc.SetInt32(1, 0);  // new entry
  EXPECT_EQ(1, bc.GetDirty());
  bc.SetInt32(1, 0);  // unchanged
  EXPECT_EQ(1, bc.GetDirty());
  bc.SetString(2, Str("a"));
  bc.SetString(2, Str("a"));
  EXPECT_EQ(2, bc.GetDirty());
  bc.SetString(2, Str("b"));
  EXPECT_EQ(3, bc.GetDirty());
  EXPECT_TRUE(bc.RemoveData(2));
  EXPECT_EQ(4, bc.GetDirty());
  EXPECT_FALSE(bc.RemoveData(2));
  EXPECT_EQ(4, bc.GetDirty());
  bc.InsData(3, GeData());
  bc.SetData(3, GeData());  // nil never equals nil
  EXPECT_EQ(6, bc.GetDirty());
  bc.FlushAll();  // one bump per entry; the id stays
  EXPECT_EQ(8, bc.GetDirty());
  EXPECT_EQ(0, bc.GetCount());

  BaseContainer w;
  for (Int32 i = 0; i < 65536; ++i) w.SetInt32(1, i);
  EXPECT_EQ(0, w.GetDirty());
}

TEST(BaseContainer, ByteArraysWithOtherBytesAreChanges) {
  BaseContainer a, b;
  a.SetData(1, Bytes3(1, 2, 3));
  b.SetData(1, Bytes3(1, 2, 3));
  EXPECT_TRUE(IdenticalContainer(a, b));
  const UInt16 d = a.GetDirty();
  a.SetData(1, Bytes3(1, 2, 4));
  EXPECT_EQ(UInt16(d + 1), a.GetDirty());
  EXPECT_FALSE(IdenticalContainer(a, b));
  EXPECT_EQ(4, static_cast<const UChar*>(a.GetData(1)->GetByteArray().data)[2]);
}

TEST(BaseContainer, MissingEntriesGiveDefaultsAndWrongKindsFallBackWithAlert) {
  BaseContainer bc;
  bc.SetString(1, Str("text"));
  bc.SetFloat(2, 2.0);
  lumtest::ResetAlerts();
  EXPECT_EQ(42, bc.GetInt32(9, 42));
  EXPECT_TRUE(bc.GetBool(9, true));
  EXPECT_EQ(1.5, bc.GetFloat(9, 1.5));
  EXPECT_EQ(Vector64(1, 2, 3), bc.GetVector(9, Vector64(1, 2, 3)));
  EXPECT_TRUE(bc.GetString(9, Str("dflt")) == Str("dflt"));
  EXPECT_TRUE(bc.GetString(9) == String());
  EXPECT_TRUE(bc.GetTime(9) == BaseTime());
  EXPECT_EQ(nullptr, bc.GetContainerInstance(9));
  EXPECT_EQ(nullptr, bc.GetLink(9));
  EXPECT_EQ(nullptr, bc.GetObjectLink(9));
  EXPECT_EQ(nullptr, bc.GetCustomDataType(9, CUSTOMDATATYPE_DESCID));
  EXPECT_EQ(VALUETYPE_NIL, bc.GetData(9)->GetType());
  EXPECT_EQ(0, lumtest::AlertCount());

  EXPECT_EQ(0, bc.GetInt32(1, 42));
  EXPECT_EQ(1, lumtest::AlertCount());
  EXPECT_FALSE(bc.GetBool(2, true));  // a float is no bool
  EXPECT_EQ(2, lumtest::AlertCount());
  EXPECT_EQ(Vector64(), bc.GetVector(1, Vector64(1, 2, 3)));
  EXPECT_TRUE(bc.GetString(2, Str("dflt")) == String());
  EXPECT_EQ(-1, bc.GetContainer(1).GetId());
  EXPECT_EQ(5, lumtest::AlertCount());
  EXPECT_EQ(2, bc.GetInt32(2, 42));  // float converts
  EXPECT_TRUE(bc.GetString(1) == Str("text"));
}

TEST(BaseContainer, RepeatedAndNegativeIds) {
  BaseContainer bc;
  bc.InsData(7, GeData(1));
  bc.InsData(8, GeData(2));
  bc.InsData(7, GeData(3));
  EXPECT_EQ(3, bc.GetCount());
  EXPECT_EQ(1, bc.GetInt32(7));
  EXPECT_EQ(0, bc.FindIndex(7));
  EXPECT_EQ(1, bc.FindIndex(8));
  EXPECT_EQ(-1, bc.FindIndex(9));
  bc.SetInt32(7, 10);  // the first one
  EXPECT_EQ(10, bc.GetInt32(7));
  EXPECT_EQ(3, bc.GetCount());
  EXPECT_TRUE(bc.RemoveData(7));
  EXPECT_EQ(3, bc.GetInt32(7));
  EXPECT_EQ((std::vector<Int32>{8, 7}), Ids(bc));
  // Removing the tail and appending again keeps the list whole.
  EXPECT_TRUE(bc.RemoveData(7));
  bc.SetInt32(11, 11);
  EXPECT_EQ((std::vector<Int32>{8, 11}), Ids(bc));

  EXPECT_EQ(-1, bc.GetIndexId(-1));
  EXPECT_EQ(-1, bc.GetIndexId(2));
  EXPECT_EQ(11, bc.GetIndexId(1));

  bc.InsData(-5, GeData(5));
  bc.SetInt32(-7, 6);  // finds the entry stored under -1
  EXPECT_EQ(-1, bc.GetIndexId(2));
  EXPECT_EQ(3, bc.GetCount());
  EXPECT_EQ(6, bc.GetInt32(-1));
  bc.InsContainer(-9, BaseContainer(4));
  EXPECT_EQ(-1, bc.GetIndexId(3));
}

TEST(BaseContainer, SettingAContainerEntryToItselfChangesNothing) {
  BaseContainer bc;
  BaseContainer inner(3);
  inner.SetInt32(1, 1);
  ASSERT_TRUE(bc.SetContainer(5, inner));
  BaseContainer* held = bc.GetContainerInstance(5);
  ASSERT_NE(nullptr, held);
  const UInt16 d = bc.GetDirty();
  lumtest::ResetAlerts();
  EXPECT_NE(nullptr, bc.SetData(5, *bc.GetData(5)));
  EXPECT_TRUE(bc.SetContainer(5, *held));
  EXPECT_EQ(2, lumtest::AlertCount());
  EXPECT_EQ(d, bc.GetDirty());
  EXPECT_EQ(held, bc.GetContainerInstance(5));
  EXPECT_EQ(1, held->GetInt32(1));

  // Setting it from a copy replaces the stored container; an identical one is no change.
  EXPECT_TRUE(bc.SetContainer(5, inner));
  EXPECT_EQ(d, bc.GetDirty());
  inner.SetInt32(2, 2);
  EXPECT_TRUE(bc.SetContainer(5, inner));
  EXPECT_EQ(UInt16(d + 1), bc.GetDirty());
  EXPECT_EQ(2, bc.GetContainerInstance(5)->GetInt32(2));
}

TEST(BaseContainer, TypedSettersStoreTheirKinds) {
  BaseContainer bc;
  bc.SetTime(1, BaseTime(1, 30));
  bc.SetFilename(2, Filename("/tmp/x"));
  bc.SetString(3, Str("s"));
  BaseContainer inner(9);
  bc.SetContainer(4, inner);
  EXPECT_EQ(VALUETYPE_TIME, bc.GetData(1)->GetType());
  EXPECT_TRUE(bc.GetTime(1) == BaseTime(1, 30));
  EXPECT_EQ(VALUETYPE_FILENAME, bc.GetData(2)->GetType());
  EXPECT_TRUE(bc.GetData(2)->GetFilename() == Filename("/tmp/x"));
  EXPECT_EQ(9, bc.GetContainer(4).GetId());
  EXPECT_EQ(9, bc.GetContainerInstance(4)->GetId());
  const BaseContainer& cref = bc;
  EXPECT_EQ(9, cref.GetContainerInstance(4)->GetId());

  GeData desc(CUSTOMDATATYPE_DESCID, DEFAULTVALUE);
  bc.SetData(5, desc);
  EXPECT_NE(nullptr, bc.GetCustomDataType(5, CUSTOMDATATYPE_DESCID));
  EXPECT_EQ(nullptr, bc.GetCustomDataType(5, CUSTOMDATATYPE_DATETIME));

  // Links: GetObjectLink answers only for objects (a named node of the object type is none),
  // null stores an empty link, and a link set over another value replaces it.
  BaseObject* object = BaseObject::Alloc(5154);
  ASSERT_NE(nullptr, object);
  BaseList2D named(5155);
  struct {
    Int32 id;
    BaseList2D* node;
    BaseObject* asObject;
  } links[] = {{6, object, object}, {7, &named, nullptr}, {8, nullptr, nullptr}, {3, object, object}};
  for (const auto& k : links) {
    ASSERT_TRUE(bc.SetLink(k.id, k.node)) << k.id;
    EXPECT_EQ(VALUETYPE_LINK, bc.GetData(k.id)->GetType()) << k.id;
    EXPECT_EQ(k.node, bc.GetLink(k.id)) << k.id;
    EXPECT_EQ(k.asObject, bc.GetObjectLink(k.id)) << k.id;
  }
  EXPECT_EQ(nullptr, bc.GetObjectLink(1));  // a time is no link
  BaseObject::Free(object);
  EXPECT_EQ(nullptr, bc.GetLink(6));
  EXPECT_EQ(nullptr, bc.GetObjectLink(3));
}

// ---- copies, merging, identity ----

TEST(BaseContainer, CopiesAreDeepAndTakeTheId) {
  BaseContainer src(12);
  src.SetInt32(1, 1);
  src.SetString(2, Str("two"));
  BaseContainer inner(5);
  inner.SetFloat(1, 0.5);
  src.SetContainer(3, inner);

  BaseContainer dst(99);
  dst.SetInt32(50, 50);
  ASSERT_TRUE(src.CopyTo(&dst, COPYFLAGS_NONE, nullptr));
  EXPECT_EQ(12, dst.GetId());
  EXPECT_EQ((std::vector<Int32>{1, 2, 3}), Ids(dst));
  EXPECT_TRUE(IdenticalContainer(src, dst));
  EXPECT_NE(src.GetContainerInstance(3), dst.GetContainerInstance(3));
  src.GetContainerInstance(3)->SetFloat(1, 9.0);
  EXPECT_EQ(0.5, dst.GetContainerInstance(3)->GetFloat(1));

  // The destination counts each appended entry and the copy itself; its old entries go without.
  BaseContainer fresh;
  src.CopyTo(&fresh, COPYFLAGS_NONE, nullptr);
  EXPECT_EQ(4, fresh.GetDirty());
  EXPECT_EQ(1, src.GetContainer(3).GetDirty());  // by value: one per entry copied

  BaseContainer* clone = src.GetClone(COPYFLAGS_NO_CHILDREN, nullptr);
  ASSERT_NE(nullptr, clone);
  EXPECT_TRUE(*clone == src);
  BaseContainer::Free(clone);
  EXPECT_EQ(nullptr, clone);

  BaseContainer assigned;
  assigned = src;
  EXPECT_FALSE(assigned != src);
  BaseContainer constructed(src);
  EXPECT_TRUE(IdenticalContainer(constructed, src));
  EXPECT_EQ(3, constructed.GetDirty());
  EXPECT_TRUE(src.CopyTo(&src, COPYFLAGS_NONE, nullptr));  // onto itself: nothing happens
  EXPECT_EQ(3, src.GetCount());
  EXPECT_FALSE(src.CopyTo(nullptr, COPYFLAGS_NONE, nullptr));
}

TEST(BaseContainer, CopyingAndMergingFromInsideTheDestination) {
  BaseContainer parent(1);
  parent.SetInt32(1, 1);
  BaseContainer child(2);
  child.SetString(1, Str("child"));
  child.SetInt32(3, 33);
  parent.SetContainer(3, child);

  // The child is replaced while it is being merged from: entry 3 of the child replaces the
  // parent's entry 3, the very container being read.
  EXPECT_TRUE(parent.MergeContainer(*parent.GetContainerInstance(3)));
  EXPECT_TRUE(parent.GetString(1) == Str("child"));  // int32 entry took the string
  EXPECT_EQ(33, parent.GetInt32(3));

  // A sub-container copied over its parent.
  parent.SetContainer(4, child);
  parent = *parent.GetContainerInstance(4);
  EXPECT_EQ(2, parent.GetId());
  EXPECT_TRUE(IdenticalContainer(parent, child));
}

TEST(BaseContainer, MergeSetsEveryEntryAndKeepsTheId) {
  BaseContainer base(1);
  base.SetFloat(1, 1.5);
  base.SetInt32(2, 2);
  BaseContainer other(2);
  other.SetInt32(1, 4);  // lands in the float entry as 4.0
  other.SetString(3, Str("new"));
  EXPECT_TRUE(base.MergeContainer(other));
  EXPECT_EQ(1, base.GetId());
  EXPECT_EQ((std::vector<Int32>{1, 2, 3}), Ids(base));
  EXPECT_EQ(VALUETYPE_FLOAT, base.GetData(1)->GetType());
  EXPECT_EQ(4.0, base.GetFloat(1));
  EXPECT_TRUE(base.GetString(3) == Str("new"));
  EXPECT_TRUE(base.MergeContainer(base));
  EXPECT_EQ(3, base.GetCount());
}

TEST(BaseContainer, IdentityNeedsSameIdOrderKindsAndValues) {
  BaseContainer a(1), b(1);
  a.SetInt32(1, 1);
  a.SetInt32(2, 2);
  b.SetInt32(2, 2);
  b.SetInt32(1, 1);
  EXPECT_FALSE(IdenticalContainer(a, b));  // order matters
  BaseContainer c(2);
  c = a;
  c.SetId(2);
  EXPECT_FALSE(IdenticalContainer(a, c));
  c.SetId(1);
  EXPECT_TRUE(IdenticalContainer(a, c));
  c.SetInt32(3, 3);
  EXPECT_FALSE(IdenticalContainer(a, c));
  EXPECT_FALSE(IdenticalContainer(c, a));

  // An int32 and a float of the same number are equal values but not the same kind.
  BaseContainer i, f;
  i.SetInt32(1, 5);
  f.SetFloat(1, 5.0);
  EXPECT_TRUE(*i.GetData(1) == *f.GetData(1));
  EXPECT_FALSE(IdenticalContainer(i, f));

  // A nil entry makes a container identical to nothing, not even itself.
  BaseContainer n;
  n.InsData(1, GeData());
  EXPECT_FALSE(IdenticalContainer(n, n));
  EXPECT_TRUE(IdenticalContainer(BaseContainer(), BaseContainer()));
}

TEST(BrowseContainer, YieldsEntriesInOrder) {
  BaseContainer bc;
  bc.SetInt32(3, 30);
  bc.SetInt32(1, 10);
  BrowseContainer browse(&bc);
  Int32 id = 0;
  GeData* data = nullptr;
  ASSERT_TRUE(browse.GetNext(&id, &data));
  EXPECT_EQ(3, id);
  EXPECT_EQ(30, data->GetInt32());
  data->SetInt32(31);  // values may be changed in place
  ASSERT_TRUE(browse.GetNext(nullptr, &data));
  EXPECT_EQ(10, data->GetInt32());
  EXPECT_FALSE(browse.GetNext(&id, nullptr));
  browse.Reset();
  ASSERT_TRUE(browse.GetNext(&id, nullptr));
  EXPECT_EQ(31, bc.GetInt32(3));
  BrowseContainer none(nullptr);
  EXPECT_FALSE(none.GetNext(&id, &data));
}

// ---- path access ----

TEST(BaseContainerPath, SubContainerLevels) {
  BaseContainer bc;
  bc.SetInt32(10, 1);
  bc.SetInt32(11, 2);
  const DescID path = Path({DescLevel(10, DTYPE_SUBCONTAINER, 0), DescLevel(3)});
  ASSERT_TRUE(bc.SetParameter(path, GeData(4)));
  // The int32 under 10 was replaced by a new container holding entry 3, appended at the end.
  EXPECT_EQ((std::vector<Int32>{11, 10}), Ids(bc));
  const BaseContainer* sub = bc.GetContainerInstance(10);
  ASSERT_NE(nullptr, sub);
  EXPECT_EQ(-1, sub->GetId());
  EXPECT_EQ(4, sub->GetInt32(3));

  GeData out;
  EXPECT_TRUE(bc.GetParameter(path, out));
  EXPECT_EQ(4, out.GetInt32());
  out = GeData(77);
  EXPECT_TRUE(bc.GetParameter(Path({DescLevel(10, DTYPE_SUBCONTAINER, 0), DescLevel(99)}), out));
  EXPECT_EQ(VALUETYPE_NIL, out.GetType());
  out = GeData(77);
  EXPECT_TRUE(bc.GetParameter(Path({DescLevel(11, DTYPE_SUBCONTAINER, 0), DescLevel(3)}), out));
  EXPECT_EQ(VALUETYPE_NIL, out.GetType());

  // Setting bumps the top container and every container descended into.
  const UInt16 top = bc.GetDirty();
  const UInt16 inner = sub->GetDirty();
  ASSERT_TRUE(bc.SetParameter(path, GeData(4)));  // same value
  EXPECT_EQ(UInt16(top + 1), bc.GetDirty());
  EXPECT_EQ(UInt16(inner + 1), sub->GetDirty());

  // Every entry under a non-container id goes, so that lookups find the new container.
  BaseContainer repeated;
  repeated.InsData(10, GeData(1));
  repeated.InsData(10, GeData(2));
  ASSERT_TRUE(repeated.SetParameter(path, GeData(5)));
  EXPECT_EQ(1, repeated.GetCount());
  EXPECT_EQ(5, repeated.GetContainerInstance(10)->GetInt32(3));

  // Two sub-container levels.
  const DescID deep = Path(
      {DescLevel(1, DTYPE_SUBCONTAINER, 0), DescLevel(2, DTYPE_SUBCONTAINER, 0), DescLevel(3)});
  ASSERT_TRUE(bc.SetParameter(deep, GeData(Str("deep"))));
  EXPECT_TRUE(bc.GetContainerInstance(1)->GetContainerInstance(2)->GetString(3) == Str("deep"));
  EXPECT_TRUE(bc.GetParameter(deep, out));
  EXPECT_TRUE(out.GetString() == Str("deep"));

  // Removing.
  const UInt16 beforeRemove = bc.GetDirty();
  EXPECT_TRUE(bc.RemoveParameter(path));
  EXPECT_EQ(0, sub->GetCount());
  EXPECT_EQ(UInt16(beforeRemove + 1), bc.GetDirty());
  EXPECT_TRUE(bc.RemoveParameter(path));  // nothing left to remove
  // A missing sub-container level is created on the way.
  EXPECT_TRUE(bc.RemoveParameter(Path({DescLevel(12, DTYPE_SUBCONTAINER, 0), DescLevel(1)})));
  ASSERT_NE(nullptr, bc.GetContainerInstance(12));
  EXPECT_EQ(0, bc.GetContainerInstance(12)->GetCount());
  // An entry that holds no container gets no shadowed container beside it.
  const Int32 count = bc.GetCount();
  EXPECT_TRUE(bc.RemoveParameter(Path({DescLevel(11, DTYPE_SUBCONTAINER, 0), DescLevel(1)})));
  EXPECT_EQ(count, bc.GetCount());
  EXPECT_EQ(2, bc.GetInt32(11));
}

TEST(BaseContainerPath, OneLevelAddressesThisContainer) {
  BaseContainer bc;
  ASSERT_TRUE(bc.SetParameter(DescID(5), GeData(2.5)));
  GeData out;
  EXPECT_TRUE(bc.GetParameter(DescID(5), out));
  EXPECT_EQ(2.5, out.GetFloat());
  const UInt16 d = bc.GetDirty();
  EXPECT_TRUE(bc.SetParameter(DescID(5), GeData(2.5)));
  EXPECT_EQ(d, bc.GetDirty());  // a single level adds no bump of its own
  EXPECT_TRUE(bc.RemoveParameter(DescID(5)));
  EXPECT_EQ(0, bc.GetCount());
  // An id without levels addresses nothing.
  out = GeData(1);
  EXPECT_FALSE(bc.GetParameter(DescID(), out));
  EXPECT_EQ(VALUETYPE_NIL, out.GetType());
  EXPECT_FALSE(bc.SetParameter(DescID(), GeData(1)));
  EXPECT_FALSE(bc.RemoveParameter(DescID()));
  EXPECT_EQ(0, bc.GetCount());
}

TEST(BaseContainerPath, VectorLevelsPickAComponent) {
  BaseContainer bc;
  bc.SetVector(7, Vector64(1, 2, 3));
  GeData out;
  for (Int32 c : {VECTOR_X, VECTOR_Y, VECTOR_Z}) {
    EXPECT_TRUE(bc.GetParameter(Path({DescLevel(7, DTYPE_VECTOR, 0), DescLevel(c)}), out));
    EXPECT_EQ(VALUETYPE_FLOAT, out.GetType());
    EXPECT_EQ(1.0 + (c - VECTOR_X), out.GetFloat()) << c;
  }
  out = GeData(77);
  EXPECT_TRUE(bc.GetParameter(Path({DescLevel(7, DTYPE_VECTOR, 0), DescLevel(1005)}), out));
  EXPECT_EQ(77, out.GetInt32());

  ASSERT_TRUE(
      bc.SetParameter(Path({DescLevel(7, DTYPE_VECTOR, 0), DescLevel(VECTOR_Z)}), GeData(9)));
  EXPECT_EQ(Vector64(1, 2, 9), bc.GetVector(7));
  EXPECT_EQ(1, bc.GetCount());  // no entry 1002 beside the vector
  const UInt16 d = bc.GetDirty();
  ASSERT_TRUE(bc.SetParameter(Path({DescLevel(7, DTYPE_VECTOR, 0), DescLevel(1005)}), GeData(5.0)));
  EXPECT_EQ(Vector64(1, 2, 9), bc.GetVector(7));
  EXPECT_EQ(UInt16(d + 1), bc.GetDirty());  // only the top's own bump

  // A missing vector starts from zero.
  ASSERT_TRUE(
      bc.SetParameter(Path({DescLevel(8, DTYPE_VECTOR, 0), DescLevel(VECTOR_X)}), GeData(4.0)));
  EXPECT_EQ(Vector64(4, 0, 0), bc.GetVector(8));
  EXPECT_FALSE(bc.RemoveParameter(Path({DescLevel(7, DTYPE_VECTOR, 0), DescLevel(VECTOR_X)})));
  EXPECT_EQ(2, bc.GetCount());

  // A vector inside a sub-container.
  const DescID nested = Path(
      {DescLevel(20, DTYPE_SUBCONTAINER, 0), DescLevel(21, DTYPE_VECTOR, 0), DescLevel(VECTOR_Y)});
  ASSERT_TRUE(bc.SetParameter(nested, GeData(6.5)));
  EXPECT_EQ(Vector64(0, 6.5, 0), bc.GetContainerInstance(20)->GetVector(21));
  EXPECT_TRUE(bc.GetParameter(nested, out));
  EXPECT_EQ(6.5, out.GetFloat());
}

TEST(BaseContainerPath, TransparentAndUnknownLevels) {
  BaseContainer bc;
  bc.SetInt32(3, 33);
  GeData out;
  const DescID transparent = Path({DescLevel(99, DTYPE_SUBCONTAINER_TRANSPARENT, 0), DescLevel(3)});
  EXPECT_TRUE(bc.GetParameter(transparent, out));
  EXPECT_EQ(33, out.GetInt32());
  const UInt16 d = bc.GetDirty();
  EXPECT_TRUE(bc.SetParameter(transparent, GeData(1)));
  EXPECT_EQ(33, bc.GetInt32(3));
  EXPECT_FALSE(bc.RemoveParameter(transparent));
  EXPECT_EQ(1, bc.GetCount());

  const DescID unknown = Path({DescLevel(3, 15, 0), DescLevel(4)});
  out = GeData(77);
  EXPECT_TRUE(bc.GetParameter(unknown, out));
  EXPECT_EQ(77, out.GetInt32());
  EXPECT_TRUE(bc.SetParameter(unknown, GeData(1)));
  EXPECT_FALSE(bc.RemoveParameter(unknown));
  EXPECT_EQ(1, bc.GetCount());
  EXPECT_EQ(33, bc.GetInt32(3));
  EXPECT_EQ(UInt16(d + 2), bc.GetDirty());  // the two multi-level sets bump the top only
}

// ---- file forms ----

TEST(ContainerFile, WritesAChunkWithIdAndEntries) {
  BaseContainer bc(7);
  bc.SetInt32(1, 5);
  bc.SetFloat(2, 1.5);
  bc.SetData(3, GeData(&bc, VOIDVALUE));  // pointers are never written
  bc.InsData(4, GeData());
  EXPECT_EQ(lumtest::NormHex("01 00000084 00000001  0f 00000007"
                             "  0f 00000001 0f 0000000f 0f 00000005"
                             "  0f 00000002 0f 00000013 13 3ff8000000000000"
                             "  0f 00000004 0f 00000000"
                             "  02"),
            Hex(WriteBC(bc)));
  EXPECT_EQ(lumtest::NormHex("01 00000084 00000001 0f ffffffff 02"), Hex(WriteBC(BaseContainer())));
}

TEST(ContainerFile, RoundTripsEveryKindAndNesting) {
  BaseContainer bc(3);
  bc.SetInt32(1, -4);
  bc.SetFloat(2, 0.25);
  bc.SetVector(3, Vector64(1, -2, 3));
  bc.SetTime(4, BaseTime(1, 25));
  bc.SetData(5, GeData(Matrix64(Vector64(1, 2, 3), Vector64(0, 1, 0), Vector64(1, 0, 0),
                                Vector64(0, 0, 2))));
  bc.SetData(6, GeData(Int64(1) << 40));
  bc.SetData(7, Bytes3(9, 8, 7));
  bc.SetString(8, Str("Grüße"));
  bc.SetFilename(9, Filename("/a/b.c"));
  BaseContainer inner(44);
  inner.SetInt32(1, 1);
  inner.InsData(1, GeData(2));
  bc.SetContainer(10, inner);
  bc.SetData(11, GeData(&bc, VOIDVALUE));
  bc.InsData(1, GeData(99));  // a repeated id
  const Bytes b = WriteBC(bc);

  lumtest::MemReader r(b);
  BaseContainer back;
  back.SetInt32(50, 50);  // flushed away
  ASSERT_TRUE(r.hf.ReadContainer(&back, true));
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(0, r.hf.GetChunkDepth());
  EXPECT_EQ(3, back.GetId());
  EXPECT_EQ((std::vector<Int32>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1}), Ids(back));
  bc.RemoveData(11);
  EXPECT_TRUE(IdenticalContainer(bc, back));
  EXPECT_EQ(2, back.GetContainerInstance(10)->GetCount());  // repeated ids survive
  EXPECT_EQ(Hex(b), Hex(WriteBC(back)));
}

TEST(ContainerFile, ReadingWithoutFlushSetsOverTheDefaults) {
  BaseContainer saved(8);
  saved.SetInt32(1, 10);
  saved.InsData(2, GeData(20));
  saved.InsData(2, GeData(21));
  const Bytes b = WriteBC(saved);

  BaseContainer defaults;
  defaults.SetFloat(1, 0.5);  // replaced by the int32 read: reading sets nil first
  defaults.SetInt32(3, 3);
  lumtest::MemReader r(b);
  ASSERT_TRUE(r.hf.ReadContainer(&defaults, false));
  EXPECT_EQ(8, defaults.GetId());
  EXPECT_EQ((std::vector<Int32>{1, 3, 2}), Ids(defaults));
  EXPECT_EQ(VALUETYPE_INT32, defaults.GetData(1)->GetType());
  EXPECT_EQ(21, defaults.GetInt32(2));  // the repeated id lands in one entry
}

TEST(ContainerFile, ChunkFormErrors) {
  {
    lumtest::MemReader r("0f 00000005");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  }
  {
    lumtest::MemReader r("02");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
    EXPECT_EQ(-1, r.hf.GetChunkDepth());
  }
  {
    lumtest::MemReader r("01 00000085 00000001 0f 00000000 02");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  }
  {
    // An entry header other than Int32, and a nested chunk.
    lumtest::MemReader r("01 00000084 00000001 0f 00000000 15 01");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
    lumtest::MemReader r2("01 00000084 00000001 0f 00000000 01 00000001 00000000 02 02");
    EXPECT_FALSE(r2.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r2.hf.GetError());
  }
  {
    // A value that cannot be read (a marker) fails with a recorded reason.
    lumtest::MemReader r("01 00000084 00000001 0f 00000000 0f 00000001 0f 00000100 02");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_NE(FILEERROR_NONE, r.hf.GetError());
  }
  {
    // Cut off before the chunk end.
    lumtest::MemReader r("01 00000084 00000001 0f 00000000 0f 00000001 0f 0000000f 0f 00000002");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
    EXPECT_EQ(2, bc.GetInt32(1));  // what was read is kept
  }
  {
    // Level 0: nothing more is read.
    lumtest::MemReader r("01 00000084 00000000 0f 00000005");
    BaseContainer bc(9);
    EXPECT_TRUE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(9, bc.GetId());
    Int32 next = 0;
    EXPECT_TRUE(r.hf.ReadInt32(&next));
    EXPECT_EQ(5, next);
  }
  {
    // A file in error reads nothing (but a flush still happens).
    lumtest::MemReader r("01 00000084 00000001 0f 00000000 02");
    r.hf.SetError(FILEERROR_READ);
    BaseContainer bc;
    bc.SetInt32(1, 1);
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(0, bc.GetCount());
    EXPECT_EQ(0, r.hf.GetPosition());
  }
}

TEST(ContainerFile, DeepNestingIsRefused) {
  const std::string level = "01 00000084 00000001 0f ffffffff 0f 00000001 0f 00000084 ";
  {
    std::string hex = Repeat(level, 40) + "01 00000084 00000001 0f 00000000 02" + Repeat("02", 40);
    lumtest::MemReader r(hex);
    BaseContainer bc;
    EXPECT_TRUE(r.hf.ReadContainer(&bc, true));
    EXPECT_TRUE(r.AtEnd());
  }
  {
    lumtest::MemReader r(Repeat(level, 1100));
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  }
}

// The older form: kind byte 132, raw Int32, Int32 id, then records of raw id, raw type byte and
// the value, ended by the raw id -1 and type byte 3.
const char* const kOldForm =
    "84 00000000 0f 00000009"
    " 00000001 0f 0f 0000002a"
    " 00000002 13 13 4004000000000000"
    " 00000003 82 82 00000004 0048 0069"
    " 00000004 84 84 00000000 0f 00000005  00000001 0f 0f 00000007  ffffffff 03"
    " 00000005 80 80 00000002 abcd"
    " 00000006 17 17 3ff0000000000000 4000000000000000 4008000000000000"
    " 00000001 0f 0f 0000002b"
    " ffffffff 03";

TEST(ContainerFile, ReadsTheOlderForm) {
  lumtest::MemReader r(kOldForm);
  BaseContainer bc;
  ASSERT_TRUE(r.hf.ReadContainer(&bc, true));
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(9, bc.GetId());
  EXPECT_EQ((std::vector<Int32>{1, 2, 3, 4, 5, 6, 1}), Ids(bc));
  EXPECT_EQ(42, bc.GetInt32(1));
  EXPECT_EQ(2.5, bc.GetFloat(2));
  EXPECT_TRUE(bc.GetString(3) == Str("Hi"));
  const BaseContainer* nested = bc.GetContainerInstance(4);
  ASSERT_NE(nullptr, nested);
  EXPECT_EQ(5, nested->GetId());
  EXPECT_EQ(7, nested->GetInt32(1));
  EXPECT_EQ(2, bc.GetData(5)->GetByteArray().length);
  EXPECT_EQ(Vector64(1, 2, 3), bc.GetVector(6));
}

TEST(ContainerFile, OlderFormWithoutFlushMergesIntoExistingContainers) {
  BaseContainer bc;
  BaseContainer existing(77);
  existing.SetInt32(8, 8);
  bc.SetContainer(4, existing);
  bc.SetFloat(1, 0.5);
  lumtest::MemReader r(kOldForm);
  ASSERT_TRUE(r.hf.ReadContainer(&bc, false));
  EXPECT_EQ((std::vector<Int32>{4, 1, 2, 3, 5, 6}), Ids(bc));
  EXPECT_EQ(VALUETYPE_FLOAT, bc.GetData(1)->GetType());  // SetData keeps the float kind
  EXPECT_EQ(43.0, bc.GetFloat(1));
  const BaseContainer* nested = bc.GetContainerInstance(4);
  EXPECT_EQ(5, nested->GetId());
  EXPECT_EQ(8, nested->GetInt32(8));
  EXPECT_EQ(7, nested->GetInt32(1));
}

TEST(ContainerFile, OlderFormErrors) {
  {
    // The end record must carry the id -1.
    lumtest::MemReader r("84 00000000 0f 00000009 00000000 03");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(9, bc.GetId());
  }
  {
    lumtest::MemReader r("84 00000000 0f 00000009 00000001 63 0f 00000001 ffffffff 03");
    BaseContainer bc;
    lumtest::ResetAlerts();
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
    ASSERT_GE(lumtest::AlertCount(), 1);
    EXPECT_EQ("source/lum_basecontainer", lumtest::Alerts()[0].file);
  }
  {
    // The value does not match its type byte.
    lumtest::MemReader r("84 00000000 0f 00000009 00000001 0f 13 4004000000000000 ffffffff 03");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_WRONG_VALUE, r.hf.GetError());
  }
  {
    lumtest::MemReader r("84 00000000 0f 00000009 00000001");
    BaseContainer bc;
    EXPECT_FALSE(r.hf.ReadContainer(&bc, true));
    EXPECT_EQ(FILEERROR_READ, r.hf.GetError());
  }
}

TEST(ContainerFile, OlderFormReadsTimesMatricesAndFileNames) {
  lumtest::MemReader r(
      "84 00000000 0f 00000003"
      " 00000001 16 16 4000000000000000 404e000000000000"
      " 00000002 19 19 3ff0000000000000 4000000000000000 4008000000000000 4010000000000000"
      " 4014000000000000 4018000000000000 401c000000000000 4020000000000000 4022000000000000"
      " 4024000000000000 4026000000000000 4028000000000000"
      " 00000003 83 83 00000004 0061 002f"
      " ffffffff 03");
  BaseContainer bc;
  ASSERT_TRUE(r.hf.ReadContainer(&bc, true));
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(bc.GetTime(1) == BaseTime(1.0, 30.0));
  EXPECT_EQ(Matrix64(Vector64(1, 2, 3), Vector64(4, 5, 6), Vector64(7, 8, 9), Vector64(10, 11, 12)),
            bc.GetData(2)->GetMatrix());
  EXPECT_TRUE(bc.GetData(3)->GetFilename() == Filename("a"));
}

namespace {

BaseContainer NestedSample() {
  BaseContainer inner(5);
  inner.SetString(1, Str("in"));
  BaseContainer bc(4);
  bc.SetInt32(1, 7);
  bc.SetFloat(2, 0.5);
  bc.SetContainer(3, inner);
  bc.SetVector(4, Vector64(1, 2, 3));
  return bc;
}

}  // namespace

TEST(ContainerFile, EveryCutOfAStoredContainerFailsInBothForms) {
  const Bytes forms[] = {WriteBC(NestedSample()), H(kOldForm)};
  for (const Bytes& full : forms) {
    for (size_t n = 0; n < full.size(); ++n) {
      lumtest::MemReader r(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
      BaseContainer bc;
      EXPECT_FALSE(r.hf.ReadContainer(&bc, true)) << Hex(full) << " cut to " << n;
      EXPECT_EQ(FILEERROR_READ, r.hf.GetError()) << Hex(full) << " cut to " << n;
    }
  }
}

TEST(ContainerFile, WriteFailsWithTheWriteErrorWhereverTheDiskFills) {
  const BaseContainer bc = NestedSample();
  const Int64 n = static_cast<Int64>(WriteBC(bc).size());
  for (Int64 room = 0; room <= n; ++room) {
    lumtest::FullFileWriter w(room);
    EXPECT_EQ(room == n, w.hf.WriteContainer(bc)) << room;
    EXPECT_EQ(room == n ? FILEERROR_NONE : FILEERROR_WRITE, w.hf.GetError()) << room;
  }
}

TEST(ContainerFile, ValuesCarryContainersThroughFiles) {
  BaseContainer inner(6);
  inner.SetString(1, Str("x"));
  GeData value(inner);
  lumtest::MemWriter w;
  ASSERT_TRUE(value.Write(&w.hf));
  const Bytes b = w.FinishUnchecked();
  EXPECT_EQ(lumtest::NormHex("0f 00000084 01 00000084 00000001 0f 00000006 0f 00000001"
                             " 0f 00000082 82 00000002 0078 02"),
            Hex(b));
  lumtest::MemReader r(b);
  GeData back;
  ASSERT_TRUE(back.Read(&r.hf));
  ASSERT_NE(nullptr, back.GetContainer());
  EXPECT_TRUE(IdenticalContainer(inner, *back.GetContainer()));
}

// ---- allocation failures ----

// Every scenario below arms the failure after its own set-up, so that only the operation under
// test meets it. The inputs are made once, before the sweeps.

BaseContainer* g_bc = nullptr;

struct Inputs {
  String other = Str("other");
  GeData nine{Str("nine")};
  DescID deep;
  DescID missing;
  Inputs() {
    deep.PushId(DescLevel(1, DTYPE_SUBCONTAINER, 0));
    deep.PushId(DescLevel(2, DTYPE_SUBCONTAINER, 0));
    deep.PushId(DescLevel(3));
    missing.PushId(DescLevel(5, DTYPE_SUBCONTAINER, 0));
    missing.PushId(DescLevel(6, DTYPE_SUBCONTAINER, 0));
    missing.PushId(DescLevel(3));
  }
};
Inputs* g_in = nullptr;

void MakeSample() {
  BaseContainer::Free(g_bc);
  g_bc = BaseContainer::Alloc();
  g_bc->SetId(4);
  g_bc->SetInt32(1, 1);
  g_bc->SetString(2, Str("two"));
  BaseContainer inner(5);
  inner.SetString(1, Str("inner"));
  inner.SetVector(2, Vector64(1, 2, 3));
  g_bc->SetContainer(3, inner);
}

// A container's entries as bytes and its counter, to compare states.
std::string State(const BaseContainer& bc) {
  return Hex(WriteBC(bc)) + "/" + std::to_string(bc.GetDirty());
}

TEST(ContainerAllocation, EntryOperationsLeaveTheContainerUnchanged) {
  struct Op {
    const char* name;
    bool (*run)(BaseContainer&);
    bool (*done)(const BaseContainer&);  // the effect once the operation succeeded
    bool allOrNothing;
  };
  static const Op ops[] = {
      {"InsData", [](BaseContainer& bc) { return bc.InsData(9, g_in->nine) != nullptr; },
       [](const BaseContainer& bc) { return bc.GetString(9) == Str("nine"); }, true},
      {"SetData new", [](BaseContainer& bc) { return bc.SetData(9, g_in->nine) != nullptr; },
       [](const BaseContainer& bc) { return bc.GetString(9) == Str("nine"); }, true},
      {"SetString replace", [](BaseContainer& bc) { return bc.SetString(2, g_in->other); },
       [](const BaseContainer& bc) { return bc.GetString(2) == Str("other"); }, true},
      {"SetData kind", [](BaseContainer& bc) { return bc.SetData(1, g_in->nine) != nullptr; },
       [](const BaseContainer& bc) { return bc.GetString(1) == Str("nine"); }, true},
      {"InsContainer", [](BaseContainer& bc) { return bc.InsContainer(9, *g_bc) != nullptr; },
       [](const BaseContainer& bc) { return bc.GetContainer(9) == *g_bc; }, true},
      {"SetContainer", [](BaseContainer& bc) { return bc.SetContainer(3, *g_bc); },
       [](const BaseContainer& bc) { return bc.GetContainer(3) == *g_bc; }, true},
      {"SetParameter", [](BaseContainer& bc) { return bc.SetParameter(g_in->deep, g_in->nine); },
       [](const BaseContainer& bc) {
         GeData out;
         return bc.GetParameter(g_in->deep, out) && out == g_in->nine;
       },
       false},
      {"RemoveParameter", [](BaseContainer& bc) { return bc.RemoveParameter(g_in->missing); },
       [](const BaseContainer& bc) {
         const BaseContainer* five = bc.GetContainerInstance(5);
         return five != nullptr && five->GetContainerInstance(6) != nullptr;
       },
       false},
  };
  static const Op* current = nullptr;
  MakeSample();
  g_in = NewObj<Inputs>();
  for (const Op& op : ops) {
    current = &op;
    lumtest::SweepAllocationFailures(op.name, [](std::int64_t n, void*) {
      lumtest::StopFailing();
      BaseContainer work;
      work = *g_bc;
      const std::string before = State(work);
      lumtest::FailNthAllocation(n);
      const bool ok = current->run(work);
      const bool injected = lumtest::InjectedFailureHappened();
      lumtest::StopFailing();
      if (ok) return current->done(work);
      // A path may have completed its first levels; everything else is all or nothing.
      return injected && (!current->allOrNothing || State(work) == before);
    });
  }
  DeleteObj(g_in);
  BaseContainer::Free(g_bc);
}

TEST(ContainerAllocation, CopiesNeverReportMissingEntriesAsSuccess) {
  MakeSample();
  lumtest::SweepAllocationFailures("GetClone", [](std::int64_t, void*) {
    BaseContainer* c = g_bc->GetClone(COPYFLAGS_NONE, nullptr);
    const bool fine = c == nullptr || IdenticalContainer(*c, *g_bc);
    BaseContainer::Free(c);
    return fine;
  });
  lumtest::SweepAllocationFailures("CopyTo", [](std::int64_t n, void*) {
    lumtest::StopFailing();
    BaseContainer dst(1);
    dst.SetString(7, Str("old"));
    lumtest::FailNthAllocation(n);
    const bool ok = g_bc->CopyTo(&dst, COPYFLAGS_NONE, nullptr);
    const bool injected = lumtest::InjectedFailureHappened();
    lumtest::StopFailing();
    if (ok) return IdenticalContainer(dst, *g_bc);
    // The entries that could be copied are there, in order; the failure was reported.
    return injected && dst.GetId() == 4 && dst.GetCount() < 3 && dst.FindIndex(7) == -1;
  });
  lumtest::SweepAllocationFailures("copy constructor and GetContainer", [](std::int64_t, void*) {
    BaseContainer copy(*g_bc);
    BaseContainer sub = g_bc->GetContainer(3);
    return copy.GetCount() <= 3 && sub.GetCount() <= 2;
  });
  lumtest::SweepAllocationFailures("MergeContainer", [](std::int64_t n, void*) {
    lumtest::StopFailing();
    BaseContainer dst;
    dst.SetFloat(1, 5.0);
    lumtest::FailNthAllocation(n);
    const bool ok = dst.MergeContainer(*g_bc);
    lumtest::StopFailing();
    if (ok) return dst.GetCount() == 3 && dst.GetFloat(1) == 1.0;
    return dst.GetCount() < 3 || !(dst.GetContainer(3) == *g_bc->GetContainerInstance(3));
  });
  BaseContainer::Free(g_bc);
}

TEST(ContainerAllocation, ReadingFailsWithAReason) {
  MakeSample();
  static Bytes current;
  current = WriteBC(*g_bc);
  BaseContainer::Free(g_bc);
  for (int form = 0; form < 2; ++form) {
    if (form == 1) current = H(kOldForm);
    for (int flush = 0; flush < 2; ++flush) {
      static bool doFlush;
      doFlush = flush != 0;
      lumtest::SweepAllocationFailures("ReadContainer", [](std::int64_t n, void*) {
        lumtest::StopFailing();
        lumtest::MemReader r(current);
        BaseContainer bc;
        lumtest::FailNthAllocation(n);
        const bool ok = r.hf.ReadContainer(&bc, doFlush);
        lumtest::StopFailing();
        if (ok) return r.AtEnd() && Hex(WriteBC(bc)).size() > 0;
        return r.hf.GetError() != FILEERROR_NONE;
      });
    }
  }
}

}  // namespace
