// lumora-dump: the tree and JSON of streams the library writes, every cut of them, --check on
// lists of nodes as written and altered, and the program's command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lum_version.h"
#include "lumora.h"
#include "lumora_dump.h"
#include "stream_support.h"
#include "test_support.h"

namespace {

using namespace lumora;
using lumtest::Bytes;

struct Result {
  int status;
  std::string out;
  std::string err;
};

void Append(const char* bytes, size_t n, void* data) {
  static_cast<std::string*>(data)->append(bytes, n);
}

Result Dump(const Bytes& bytes, lumdump::Options options = {}) {
  Filename name;
  name.SetMemoryData(bytes.empty() ? nullptr : bytes.data(), static_cast<Int64>(bytes.size()),
                     false);
  Result r{0, "", ""};
  r.status = lumdump::Run(name, "s", options, {Append, &r.out}, {Append, &r.err});
  return r;
}

lumdump::Options Json() {
  lumdump::Options o;
  o.json = true;
  return o;
}

// ---- a small JSON reader: enough to take the output apart again ----

struct JValue {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  bool b = false;
  double number = 0;
  std::string text;
  std::vector<JValue> items;
  std::map<std::string, JValue> members;
  const JValue& operator[](const char* key) const {
    static const JValue kMissing;
    auto it = members.find(key);
    return it != members.end() ? it->second : kMissing;
  }
  bool Has(const char* key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& s) : _s(s) {}
  // False unless the whole text is one JSON value.
  bool Parse(JValue* out) {
    if (!Value(out)) return false;
    Blank();
    return _i == _s.size();
  }

 private:
  void Blank() {
    while (_i < _s.size() && std::strchr(" \t\r\n", _s[_i]) != nullptr) ++_i;
  }
  bool Eat(char c) {
    Blank();
    if (_i < _s.size() && _s[_i] == c) {
      ++_i;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    const size_t n = std::strlen(w);
    if (_s.compare(_i, n, w) != 0) return false;
    _i += n;
    return true;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (_i < _s.size() && _s[_i] != '"') {
      char c = _s[_i++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (_i >= _s.size()) return false;
        char e = _s[_i++];
        if (e == 'n')
          c = '\n';
        else if (e == 't')
          c = '\t';
        else if (e == '"' || e == '\\' || e == '/')
          c = e;
        else if (e == 'u' && _i + 4 <= _s.size()) {
          unsigned v = static_cast<unsigned>(std::stoul(_s.substr(_i, 4), nullptr, 16));
          _i += 4;
          out->append("\\u" + std::to_string(v));  // kept visible for the comparisons
          continue;
        } else {
          return false;
        }
      }
      out->push_back(c);
    }
    return Eat('"');
  }
  bool Value(JValue* v) {
    Blank();
    if (_i >= _s.size()) return false;
    const char c = _s[_i];
    if (c == '{') {
      ++_i;
      v->type = JValue::kObject;
      if (Eat('}')) return true;
      do {
        std::string key;
        JValue member;
        if (!String(&key) || !Eat(':') || !Value(&member)) return false;
        v->members[key] = member;
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++_i;
      v->type = JValue::kArray;
      if (Eat(']')) return true;
      do {
        v->items.emplace_back();
        if (!Value(&v->items.back())) return false;
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') {
      v->type = JValue::kString;
      return String(&v->text);
    }
    if (Word("true") || Word("false")) {
      v->type = JValue::kBool;
      v->b = _s[_i - 1] == 'e' && _s[_i - 2] == 'u';
      return true;
    }
    if (Word("null")) return true;
    size_t used = 0;
    v->type = JValue::kNumber;
    v->number = std::stod(_s.substr(_i, 40), &used);
    _i += used;
    return used > 0;
  }
  const std::string& _s;
  size_t _i = 0;
};

JValue ParseJson(const std::string& text) {
  JValue v;
  EXPECT_TRUE(JsonReader(text).Parse(&v)) << text;
  return v;
}

// ---- the streams ----

// Every value the writers make, inside an object chunk, then a container and a chunk of a kind
// the table does not name.
Bytes EveryValue(bool float32 = false, BYTEORDER order = BYTEORDER_MOTOROLA) {
  lumtest::MemWriter w(float32, order);
  HyperFile& hf = w.hf;
  std::vector<UChar> small = {0x61, 0x67, 0x00, 0xff};
  std::vector<UChar> large(100);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<UChar>(i);
  const Int16 shorts[3] = {1, -2, 3};
  const Char bytes[2] = {-1, 2};
  const Int64 longs[2] = {-9000000000ll, 5};
  const Float32 singles[2] = {0.5f, -2.0f};
  std::vector<Float64> floats(300);
  for (size_t i = 0; i < floats.size(); ++i) floats[i] = 0.5 * static_cast<double>(i);
  Matrix64 m;
  m.off = Vector64(1, 2, 3);
  BaseContainer bc;
  bc.SetId(7);
  bc.SetInt32(1000, -5);
  bc.SetString(1001, String("name"));
  bc.SetVector(1002, Vector64(0.25, 0, -1));
  BaseContainer inner;
  inner.SetBool(1, true);
  bc.SetContainer(1003, inner);
  EXPECT_TRUE(hf.WriteChunkStart(5100, 0) && hf.WriteUChar(200) && hf.WriteInt32(-7) &&
              hf.WriteUInt32(4000000000u) && hf.WriteInt64(-9000000000ll) &&
              hf.WriteFloat32(1.5f) && hf.WriteFloat(0.1) && hf.WriteBool(true) &&
              hf.WriteTime(BaseTime(1, 30)) && hf.WriteVector(Vector64(1, 2, 3)) &&
              hf.WriteVector32(Vector32(4, 5, 6)) && hf.WriteVector64(Vector64(7, 8, 9)) &&
              hf.WriteMatrix(m) && hf.WriteString(String("Hi \"q\"\n\\", STRINGENCODING_UTF8)) &&
              hf.WriteString(String("\xC3\xA9\xE2\x82\xAC", STRINGENCODING_UTF8)) &&
              hf.WriteFilename(Filename("/tmp/a b")) && hf.WriteMemory(small.data(), 4) &&
              hf.WriteMemory(large.data(), 100) &&
              hf.WriteArray(shorts, HYPERFILEARRAY_INT16, 2, 3) &&
              hf.WriteArray(floats.data(), HYPERFILEARRAY_FLOAT64, 8, 300) &&
              hf.WriteArray(bytes, HYPERFILEARRAY_CHAR, 1, 2) &&
              hf.WriteArray(longs, HYPERFILEARRAY_INT64, 8, 2) &&
              hf.WriteArray(singles, HYPERFILEARRAY_FLOAT32, 4, 2) && hf.WriteChunkEnd());
  EXPECT_TRUE(hf.WriteContainer(bc));
  EXPECT_TRUE(hf.WriteChunkStart(123456789, -3) && hf.WriteChunkStart(0, 0) && hf.WriteChunkEnd() &&
              hf.WriteChunkEnd());
  return w.Finish();
}

const char kEveryValueText[] = R"(chunk 5100 (polygon object) level 0
  uchar 200
  int32 -7
  uint32 4000000000
  int64 -9000000000
  float32 1.5
  float 0.1
  bool true
  time 1/30
  vector (1, 2, 3)
  vector32 (4, 5, 6)
  vector64 (7, 8, 9)
  matrix (1, 2, 3) (1, 0, 0) (0, 1, 0) (0, 0, 1)
  string "Hi \"q\"\n\\"
  string "é€"
  filename "/tmp/a b"
  memory 4 bytes: 61 67 00 ff
  memory 100 bytes: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ...
  array int16 x3: 1 -2 3
  array float64 x300: 0 0.5 1 1.5 2 2.5 3 3.5 ...
  array int8 x2: -1 2
  array int64 x2: -9000000000 5
  array float32 x2: 0.5 -2
chunk 132 (container) level 1
  int32 7  [container id]
  int32 1000  [entry id]
  int32 15  [type int32]
  int32 -5
  int32 1001  [entry id]
  int32 130  [type string]
  string "name"
  int32 1002  [entry id]
  int32 23  [type vector]
  vector (0.25, 0, -1)
  int32 1003  [entry id]
  int32 132  [type container]
  chunk 132 (container) level 1
    int32 -1  [container id]
    int32 1  [entry id]
    int32 15  [type int32]
    int32 1
chunk 123456789 level -3
  chunk 0 level 0
)";

TEST(DumpTest, TextOfEveryValueInEveryLayout) {
  // The same tree whatever the float mode and byte order the stream was written in.
  struct Case {
    bool float32;
    BYTEORDER order;
  } cases[] = {{false, BYTEORDER_MOTOROLA}, {true, BYTEORDER_MOTOROLA}, {false, BYTEORDER_INTEL}};
  for (const Case& c : cases) {
    lumdump::Options o;
    o.float32 = c.float32;
    o.littleEndian = c.order == BYTEORDER_INTEL;
    Result r = Dump(EveryValue(c.float32, c.order), o);
    std::string expected = kEveryValueText;
    if (c.float32) {
      // 0.1 as a 32-bit float, shortest in 64 bits.
      const size_t at = expected.find("float 0.1");
      expected.replace(at, 9, "float 0.10000000149011612");
    }
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(expected, r.out) << "float32 " << c.float32;
    EXPECT_EQ("", r.err);
  }
}

TEST(DumpTest, OffsetsDepthAndIdSelectWhatIsShown) {
  const Bytes b = EveryValue();
  lumdump::Options o;
  o.offsets = true;
  o.depth = 0;
  // The last chunk (two chunk starts, two ends) is the last 20 bytes.
  const std::string last = std::to_string(b.size() - 20);
  const std::string top = Dump(b, o).out;
  EXPECT_EQ(0u, top.find("         0 chunk 5100 (polygon object) level 0\n")) << top;
  EXPECT_NE(std::string::npos, top.find(" chunk 132 (container) level 1\n")) << top;
  EXPECT_EQ(top.size() - 36,
            top.find(std::string(10 - last.size(), ' ') + last + " chunk 123456789 level -3\n"))
      << top;
  EXPECT_EQ(3, std::count(top.begin(), top.end(), '\n'));
  o = {};
  o.onlyId = true;
  o.id = 132;
  Result r = Dump(b, o);
  EXPECT_EQ(0, r.status);
  // Both containers, the inner one once on its own and once inside the outer.
  const std::string text = kEveryValueText;
  const std::string outer =
      text.substr(text.find("chunk 132"), text.find("chunk 123456789") - text.find("chunk 132"));
  EXPECT_EQ(outer, r.out);
  o.depth = 0;
  EXPECT_EQ("chunk 132 (container) level 1\n", Dump(b, o).out);
}

TEST(DumpTest, JsonReadsBackAsTheTree) {
  for (bool offsets : {false, true}) {
    lumdump::Options o = Json();
    o.offsets = offsets;
    const Bytes b = EveryValue();
    Result r = Dump(b, o);
    ASSERT_EQ(0, r.status) << r.err;
    JValue top = ParseJson(r.out);
    ASSERT_EQ(JValue::kArray, top.type);
    ASSERT_EQ(3u, top.items.size());
    const JValue& object = top.items[0];
    EXPECT_EQ("chunk", object["kind"].text);
    EXPECT_EQ(5100, object["id"].number);
    EXPECT_EQ("polygon object", object["name"].text);
    EXPECT_EQ(offsets, object.Has("offset"));
    const std::vector<JValue>& v = object["items"].items;
    ASSERT_EQ(22u, v.size());
    EXPECT_EQ(200, v[0]["value"].number);
    EXPECT_EQ(4000000000.0, v[2]["value"].number);
    EXPECT_EQ(-9000000000.0, v[3]["value"].number);
    EXPECT_EQ(0.1, v[5]["value"].number);
    EXPECT_TRUE(v[6]["value"].b);
    EXPECT_EQ(30, v[7]["value"].items[1].number);
    EXPECT_EQ(12u, v[11]["value"].items.size());
    EXPECT_EQ("Hi \"q\"\n\\", v[12]["value"].text);
    EXPECT_EQ("/tmp/a b", v[14]["value"].text);
    EXPECT_EQ(100, v[16]["size"].number);
    EXPECT_EQ(16u, v[16]["first"].items.size());
    EXPECT_EQ(255, v[15]["first"].items[3].number);
    EXPECT_EQ("float64", v[18]["type"].text);
    EXPECT_EQ(300, v[18]["count"].number);
    EXPECT_EQ(3.5, v[18]["first"].items[7].number);
    const JValue& container = top.items[1];
    EXPECT_EQ("container id", container["items"].items[0]["role"].text);
    EXPECT_EQ("string", container["items"].items[5]["type"].text);
    EXPECT_EQ(132, container["items"].items[12]["id"].number);
    EXPECT_EQ(4u, container["items"].items[12]["items"].items.size());
    if (offsets) {
      EXPECT_EQ(static_cast<double>(b.size() - 20), top.items[2]["offset"].number);
    }
  }
}

// The tree of a long stream of values drawn from small pools (so that values repeat back to
// back and differ in one field, -0 against 0, a size, one element), read from a file (values in
// the read buffer and across its edges), is the text of each value dumped on its own from memory
// (every value read piece by piece, nothing of an earlier value to reuse), in both byte orders.
TEST(DumpTest, LongStreamFromAFileIsEachValueOnItsOwn) {
  std::mt19937 rng(6);
  const Float64 numbers[] = {0.0, -0.0, 1.0, 0.5, -2.25, 1e300};
  const Int64 ints[] = {0, -1, 7, 1ll << 40};
  auto pick = [&](auto& pool) { return pool[rng() % (sizeof pool / sizeof pool[0])]; };
  const size_t sizes[] = {0, 1, 8, 9, 16, 17, 40};
  const char* texts[] = {"", "Cube", "Cube.1", "\"q\"\n", "\xC3\xA9t\xC3\xA9"};
  for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
    std::string each;
    lumtest::MemWriter whole(false, order);
    for (int i = 0; i < 6000; ++i) {
      lumtest::MemWriter one(false, order);
      const std::mt19937 start = rng;
      for (HyperFile* hf : {&whole.hf, &one.hf}) {
        rng = start;  // the same value into both streams
        const size_t n = pick(sizes);
        std::vector<Float64> f(n);
        std::vector<Int64> l(n);
        std::vector<UChar> b(n);
        for (size_t j = 0; j < n; ++j) {
          f[j] = pick(numbers);
          l[j] = pick(ints);
          b[j] = static_cast<UChar>(l[j]);
        }
        Matrix64 m;
        m.off = Vector64(pick(numbers), 0, pick(numbers));
        m.v2 = Vector64(pick(numbers), 1, 0);
        bool ok = true;
        switch (rng() % 9) {
          case 0:
            ok = hf->WriteMatrix(m);
            break;
          case 1:
            ok = hf->WriteMemory(b.data(), static_cast<Int64>(n));
            break;
          case 2:
            ok = hf->WriteString(String(pick(texts), STRINGENCODING_UTF8));
            break;
          case 3:
            ok = hf->WriteArray(f.data(), HYPERFILEARRAY_FLOAT64, 8, static_cast<Int32>(n));
            break;
          case 4:
            ok = hf->WriteArray(l.data(), HYPERFILEARRAY_INT64, 8, static_cast<Int32>(n));
            break;
          case 5:
            ok = hf->WriteArray(b.data(), HYPERFILEARRAY_CHAR, 1, static_cast<Int32>(n));
            break;
          case 6:
            ok = hf->WriteVector(Vector64(pick(numbers), pick(numbers), 0));
            break;
          case 7:
            ok = hf->WriteTime(BaseTime(static_cast<Float64>(pick(ints)), 30)) &&
                 hf->WriteFloat(pick(numbers));
            break;
          default:
            ok = hf->WriteInt64(pick(ints)) && hf->WriteInt32(static_cast<Int32>(pick(ints)));
            break;
        }
        ASSERT_TRUE(ok);
      }
      lumdump::Options o;
      o.littleEndian = order == BYTEORDER_INTEL;
      each += Dump(one.Finish(), o).out;
    }
    const std::string file = lumtest::TempPath("long.hf");
    ASSERT_TRUE(lumtest::WriteFileBytes(file, whole.Finish()));
    lumdump::Options o;
    o.littleEndian = order == BYTEORDER_INTEL;
    Result r{0, "", ""};
    r.status = lumdump::Run(Filename(file.c_str()), "s", o, {Append, &r.out}, {Append, &r.err});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_GT(r.out.size(), 200000u);
    EXPECT_TRUE(r.out == each) << "byte order " << order;
  }
}

// Every cut of a stream: the tree up to the fault (a prefix of the whole stream's tree), one
// line on stderr with an offset within the cut, exit status 1; a cut between whole top-level
// items is a whole stream. The JSON stays well formed.
TEST(DumpTest, EveryCutIsReportedWithItsOffset) {
  const Bytes whole = EveryValue();
  const std::string full = Dump(whole).out;
  std::vector<size_t> boundaries = {0};
  {
    lumdump::Options o;
    o.offsets = true;
    o.depth = 0;
    const std::string s = Dump(whole, o).out;
    for (size_t at = 0; at < s.size(); at = s.find('\n', at) + 1)
      boundaries.push_back(std::stoul(s.substr(at, 10)));
    boundaries.push_back(whole.size());
  }
  for (size_t n = 0; n <= whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
    const bool clean = std::find(boundaries.begin(), boundaries.end(), n) != boundaries.end();
    Result r = Dump(cut);
    EXPECT_EQ(clean ? 0 : 1, r.status) << n;
    EXPECT_EQ(0u, full.find(r.out)) << n;
    if (!clean) {
      ASSERT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
      const size_t at = r.err.find(": offset ");
      ASSERT_NE(std::string::npos, at) << r.err;
      EXPECT_LE(std::stoul(r.err.substr(at + 9)), n) << r.err;
      EXPECT_NE(std::string::npos, r.err.find("expected")) << r.err;
    }
    Result j = Dump(cut, Json());
    EXPECT_EQ(r.status, j.status);
    JValue parsed;
    EXPECT_TRUE(JsonReader(j.out).Parse(&parsed)) << n << "\n" << j.out;
  }
}

// Layouts the writers no longer make: older array kinds, the older array header, arrays of the
// large form and of an unknown element type, Memory64.
TEST(DumpTest, OlderAndRareLayouts) {
  std::string units65;
  for (int i = 0; i < 65; ++i) units65 += " 0041";
  struct Case {
    std::string hex;
    Int32 version;
    std::string text;
  } cases[] = {
      {"89 00000008 3f800000 40000000", HYPERFILE_CURRENT_VERSION,
       "float32array count 8, 8 bytes\n"},
      {"85 0000000c 3ff0000000000000 4000000000000000 4008000000000000", 11924,
       "vectorarray count 12, 24 bytes\n"},
      {"8c 03 00000008 00000001 00000002", 11903, "array int32 x2: 1 2\n"},
      {"8c 00000000 02 0000000000000004 0001 ffff", HYPERFILE_CURRENT_VERSION,
       "array int16 x2: 1 -1\n"},
      {"8c 00000003 09 0102", HYPERFILE_CURRENT_VERSION, "array type 9 x0, 2 bytes\n"},
      {"8b 0000000000000002 abcd", HYPERFILE_CURRENT_VERSION, "memory64 2 bytes: ab cd\n"},
      {"0b ff 0d fffe 0e fffe 12 ffffffffffffffff", HYPERFILE_CURRENT_VERSION,
       "char -1\nint16 -2\nuint16 65534\nuint64 18446744073709551615\n"},
      // Floats: beyond any integer, negative zero, the largest shown in plain digits.
      {"14 7e37e43c8800759c 14 8000000000000000 14 42dc12218377de40", HYPERFILE_CURRENT_VERSION,
       "float64 1e+300\nfloat64 -0\nfloat64 123456789012345\n"},
      {"82 00000004 d83d de00", HYPERFILE_CURRENT_VERSION, "string \"\xF0\x9F\x98\x80\"\n"},
      {"82 00000002 d83d", HYPERFILE_CURRENT_VERSION, "string \"\\ud83d\"\n"},
      {"82 00000002 0009 15 00", HYPERFILE_CURRENT_VERSION, "string \"\\t\"\nbool false\n"},
      // A high surrogate before a letter, a lone low one, DEL and a control character; a string
      // longer than is shown.
      {"82 0000000a d83d 0041 dc00 007f 0001", HYPERFILE_CURRENT_VERSION,
       "string \"\\ud83dA\\udc00\\u007f\\u0001\"\n"},
      // Containers: a nil and a custom type, an unknown one, ids that are no int32.
      {"01 00000084 00000001 0f 00000007 0f 000003e8 0f 00000000 0f 000003e9 0f 000f4240"
       " 0f 00000005 0f 000003ea 0f 000003e7 0f 00000001 02 01 00000084 00000001 15 01 02"
       " 01 00000084 00000001 0f 00000007 15 01 02",
       HYPERFILE_CURRENT_VERSION,
       "chunk 132 (container) level 1\n  int32 7  [container id]\n  int32 1000  [entry id]\n"
       "  int32 0  [type nil]\n  int32 1001  [entry id]\n  int32 1000000  [type custom]\n"
       "  int32 5\n  int32 1002  [entry id]\n  int32 999\n  int32 1\n"
       "chunk 132 (container) level 1\n  bool true\n"
       "chunk 132 (container) level 1\n  int32 7  [container id]\n  bool true\n"},
      {"82 00000082" + units65, HYPERFILE_CURRENT_VERSION,
       "string \"" + std::string(64, 'A') + "\"... (65 units)\n"},
      // Matrices of both float sizes, the older counted kinds and those no writer uses.
      {"1a 3ff0000000000000 0000000000000000 0000000000000000 0000000000000000"
       " 4000000000000000 0000000000000000 0000000000000000 0000000000000000"
       " 0000000000000000 0000000000000000 0000000000000000 bff0000000000000",
       HYPERFILE_CURRENT_VERSION, "matrix64 (1, 0, 0) (0, 2, 0) (0, 0, 0) (0, 0, -1)\n"},
      {"1c 3f800000 00000000 00000000 00000000 40000000 00000000 00000000 00000000"
       " 00000000 00000000 00000000 bf800000",
       HYPERFILE_CURRENT_VERSION, "matrix32 (1, 0, 0) (0, 2, 0) (0, 0, 0) (0, 0, -1)\n"},
      {"84 00000002 abcd 86 00000000 87 00000002 0001 88 00000000 81 00000000 8a 00000000", 11903,
       "oldcontainer count 2, 2 bytes\npolygonarray count 0, 0 bytes\n"
       "uint16array count 2, 2 bytes\noldrecordarray count 0, 0 bytes\n"
       "value count 0, 0 bytes\nvalue count 0, 0 bytes\n"},
      {"8c 00000000 01 0000000000000002 01ff 8c 00000000 04 0000000000000008 0000000000000005"
       " 8c 00000000 05 0000000000000004 bf800000",
       HYPERFILE_CURRENT_VERSION, "array int8 x2: 1 -1\narray int64 x1: 5\narray float32 x1: -1\n"},
  };
  for (const Case& c : cases) {
    lumdump::Options o;
    o.fileVersion = c.version;
    Result r = Dump(lumtest::FromHex(c.hex), o);
    EXPECT_EQ(0, r.status) << c.hex << r.err;
    EXPECT_EQ(c.text, r.out) << c.hex;
    o.json = true;
    JValue parsed;
    EXPECT_TRUE(JsonReader(Dump(lumtest::FromHex(c.hex), o).out).Parse(&parsed)) << c.hex;
  }
}

// Chunks nested 2000 deep: lines stop growing at their indentation's limit (the tree names the
// depth), so the output stays in proportion to the stream; the JSON stays whole, also when the
// stream ends inside all of them.
TEST(DumpTest, DeepNestingStaysInProportion) {
  const int depth = 2000;
  std::string hex;
  for (int i = 0; i < depth; ++i) hex += "01 00000005 00000000 ";
  const Bytes open = lumtest::FromHex(hex);
  Bytes whole = open;
  whole.insert(whole.end(), depth, 2);
  Result r = Dump(whole);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_LT(r.out.size(), static_cast<size_t>(depth) * 200);
  EXPECT_NE(std::string::npos,
            r.out.find("\n" + std::string(128, ' ') + "(depth 1999) chunk 5 level 0\n"));
  for (const Bytes* b : {static_cast<const Bytes*>(&whole), static_cast<const Bytes*>(&open)}) {
    Result j = Dump(*b, Json());
    EXPECT_EQ(b == &whole ? 0 : 1, j.status);
    EXPECT_LT(j.out.size(), static_cast<size_t>(depth) * 300);
    JValue top = ParseJson(j.out);
    const JValue* v = &top;
    int levels = 0;
    while (v->type == JValue::kArray && !v->items.empty()) {
      v = &v->items[0]["items"];
      ++levels;
    }
    EXPECT_EQ(depth, levels);
  }
}

TEST(DumpTest, MalformedBytesNameWhatWasExpected) {
  struct Case {
    const char* hex;
    const char* err;
    Int32 version = HYPERFILE_CURRENT_VERSION;
  } cases[] = {
      {"0f00000001 07", "offset 5: expected a value, found byte 0x07"},
      {"02", "offset 0: expected a value or a chunk start, found a chunk end with no chunk open"},
      {"01 00000005 00000000 0f00000001",
       "offset 14: expected the end of chunk 5 (opened at offset 0)"},
      {"82 7fffffff 0041", "offset 0: expected a whole string value"},
      {"80 ffffffff", "offset 0: expected a whole memory value"},
      {"8c 00000000 03 7fffffffffffffff", "offset 0: expected a whole array value"},
      {"8d 00000000", "offset 0: expected a value, found byte 0x8d"},
      // A value of every other kind cut short, named by its kind.
      {"0b", "offset 0: expected a whole char value"},
      {"0d 00", "offset 0: expected a whole int16 value"},
      {"0e 00", "offset 0: expected a whole uint16 value"},
      {"12 00", "offset 0: expected a whole uint64 value"},
      {"14 00", "offset 0: expected a whole float64 value"},
      {"1a 00", "offset 0: expected a whole matrix64 value"},
      {"1c 00", "offset 0: expected a whole matrix32 value"},
      {"8b 0000000000000009 00", "offset 0: expected a whole memory64 value"},
      {"8b 00000000", "offset 0: expected a whole memory64 value"},
      {"8c 00000000 02 0000", "offset 0: expected a whole array value"},
      {"8c 03 0000", "offset 0: expected a whole array value", 11903},
      {"89 00000009 00", "offset 0: expected a whole float32array value"},
      {"84 00000009 00", "offset 0: expected a whole oldcontainer value", 11903},
      {"85 00000009 00", "offset 0: expected a whole vectorarray value", 11903},
      {"86 00000009 00", "offset 0: expected a whole polygonarray value", 11903},
      {"87 00000009 00", "offset 0: expected a whole uint16array value", 11903},
      {"88 0000002c 00", "offset 0: expected a whole oldrecordarray value", 11903},
      {"81 00000009 00", "offset 0: expected a whole value value", 11903},
  };
  for (const Case& c : cases) {
    lumdump::Options o;
    o.fileVersion = c.version;
    Result r = Dump(lumtest::FromHex(c.hex), o);
    EXPECT_EQ(1, r.status) << c.hex;
    EXPECT_NE(std::string::npos, r.err.find(c.err)) << c.hex << ": " << r.err;
  }
}

// ---- --check ----

// A list of plug-in nodes of types without a class, with a time in each container, as the
// library writes it back after reading it (the second generation of a file: what the classes
// write the way they read it).
Bytes PluginNodeList(int count, BYTEORDER order = BYTEORDER_MOTOROLA) {
  RootPluginNode* list = RootPluginNode::Alloc();
  for (int i = 0; i < count; ++i) {
    PluginNode* n = PluginNode::Alloc(999001 + i);
    n->SetName(String("node"));
    n->GetDataInstance()->SetInt32(1, i);
    n->GetDataInstance()->SetTime(2, BaseTime(1, 30));
    list->InsertLast(n);
  }
  lumtest::MemWriter w(false, order);
  EXPECT_TRUE(list->WriteObject(&w.hf, 1));
  RootPluginNode::Free(list);
  lumtest::MemReader r(w.Finish(), HYPERFILE_CURRENT_VERSION, false, order);
  BaseDocument document;
  AliasTrans trans;
  EXPECT_TRUE(trans.Init());
  document.SetAliasTrans(&trans);
  r.hf.SetDocument(&document);
  RootPluginNode* read = RootPluginNode::Alloc();
  EXPECT_TRUE(read->ReadObject(&r.hf, true));
  trans.Zap(false);
  lumtest::MemWriter again(false, order);
  EXPECT_TRUE(read->WriteObject(&again.hf, 1));
  RootPluginNode::Free(read);
  return again.Finish();
}

lumdump::Options CheckOptions() {
  lumdump::Options o;
  o.check = true;
  return o;
}

TEST(DumpTest, CheckFindsWrittenListsIdenticalAndAlteredOnesAtTheirByte) {
  const Bytes b = PluginNodeList(3);
  Result r = Dump(b, CheckOptions());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(
      "offset 9: node list, 3 members of type 110062 (plug-in node): identical\n"
      "1 node lists checked, 0 differ, 0 not checked\n",
      r.out);

  // A time stored as 2/60 reads as 1/30 and is written back so: the check names the byte.
  const std::string hex = lumtest::ToHex(b);
  const std::string time = "16 3f f0 00 00 00 00 00 00 40 3e 00 00 00 00 00 00";
  ASSERT_NE(std::string::npos, hex.find(time));
  const size_t pos = hex.find(time) / 3 + 1;  // the numerator's first byte
  Bytes altered = b;
  const Bytes twoSixtieths = lumtest::FromHex("4000000000000000 404e000000000000");
  std::copy(twoSixtieths.begin(), twoSixtieths.end(), altered.begin() + static_cast<long>(pos));
  r = Dump(altered, CheckOptions());
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("differs at offset " + std::to_string(pos) + " "))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("1 node lists checked, 1 differ")) << r.out;

  // Lists whose members no class reads, and empty lists, are named and not counted as failures.
  const Bytes other = lumtest::FromHex("01 0001ae14 00000000 01 00001111 00000000 02 02");
  r = Dump(other, CheckOptions());
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("members of type 4369: not checked")) << r.out;
  r = Dump(lumtest::FromHex("01 0001ae14 00000000 02"), CheckOptions());
  EXPECT_NE(std::string::npos, r.out.find("empty node list: not checked")) << r.out;

  // A cut list is a fault.
  r = Dump(Bytes(b.begin(), b.end() - 3), CheckOptions());
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("offset 9: expected the end of the node list")) << r.err;
}

// Every cut of a list, in both byte orders, and every allocation of a check failing in turn:
// the check reports a fault on stderr (or, for an allocation the classes' read met, names the
// list it could not read), never a clean result, and nothing leaks.
TEST(DumpTest, CheckFailsCleanlyAtEveryCutAndEveryAllocation) {
  for (BYTEORDER order : {BYTEORDER_MOTOROLA, BYTEORDER_INTEL}) {
    lumdump::Options o = CheckOptions();
    o.littleEndian = order == BYTEORDER_INTEL;
    const Bytes b = PluginNodeList(2, order);
    EXPECT_EQ(0, Dump(b, o).status);
    for (size_t n = 1; n < b.size(); ++n) {
      const Result r = Dump(Bytes(b.begin(), b.begin() + static_cast<long>(n)), o);
      EXPECT_EQ(1, r.status) << n;
      EXPECT_NE(std::string::npos, r.err.find("expected")) << n << ": " << r.err;
    }
    for (std::int64_t n = 1;; ++n) {
      lumtest::FailNthAllocation(n);
      const Result r = Dump(b, o);
      const bool met = lumtest::InjectedFailureHappened();
      lumtest::StopFailing();
      if (!met) break;
      EXPECT_EQ(1, r.status) << n;
      EXPECT_TRUE(!r.err.empty() || r.out.find("cannot read it") != std::string::npos)
          << n << ": " << r.out;
    }
  }
  lumdump::Options missing = CheckOptions();
  Result r{0, "", ""};
  r.status = lumdump::Check(Filename("/nonexistent/lumora-dump-input"), "gone", missing,
                            {Append, &r.out}, {Append, &r.err});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot open gone")) << r.err;
}

TEST(DumpTest, CheckReadsNamedNodeLists) {
  // Named nodes of disk type 110050, written the way a list of them is stored.
  lumtest::MemWriter w;
  BaseList2D a(TYPE_BASELIST2D);
  a.SetName(String("a"));
  ASSERT_TRUE(w.hf.WriteChunkStart(CHUNK_NODELIST, 0) && a.WriteObject(&w.hf, TYPE_BASELIST2D) &&
              a.WriteObject(&w.hf, TYPE_BASELIST2D) && w.hf.WriteChunkEnd());
  Result r = Dump(w.Finish(), CheckOptions());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("2 members of type 110050 (named node): identical"))
      << r.out;
}

// Lists of the scene families as the library writes them back after reading them (the second
// generation). The first member of each carries a time 1/30 in its container, which a reader
// also takes from 2/60 and writes back as 1/30: the byte the altered copy changes.
template <typename List>
Bytes SecondGeneration(List* list, List* (*alloc)(), void (*free)(List*)) {
  lumtest::MemWriter w;
  EXPECT_TRUE(list->WriteObject(&w.hf, 1));
  free(list);
  lumtest::MemReader r(w.Finish());
  BaseDocument document;
  AliasTrans trans;
  EXPECT_TRUE(trans.Init());
  document.SetAliasTrans(&trans);
  r.hf.SetDocument(&document);
  List* read = alloc();
  EXPECT_TRUE(read->ReadObject(&r.hf, true));
  trans.Zap(false);
  lumtest::MemWriter again;
  EXPECT_TRUE(read->WriteObject(&again.hf, 1));
  free(read);
  return again.Finish();
}

CTrack* PositionTrack(BaseList2D* owner) {
  CTrack* t = CTrack::Alloc(owner, DescID(DescLevel(903, VALUETYPE_VECTOR, 0),
                                          DescLevel(VECTOR_X, VALUETYPE_FLOAT, 0)),
                            String("x"));
  CCurve* curve = t->GetCurve();
  for (int i = 0; i < 3; ++i) {
    CKey* k = curve->AddKey(BaseTime(i, 30));
    k->SetValue(curve, 0.5 * i);
  }
  return t;
}

RootObject* AllocObjects() { return AllocAlienRootObject(); }
void FreeObjects(RootObject* list) { RootObject::Free(list); }
RootTag* AllocTags() { return NewObj<RootTag>(); }
void FreeTags(RootTag* list) { DeleteObj(list); }
RootCTrack* AllocTracks() { return RootCTrack::Alloc(); }
void FreeTracks(RootCTrack* list) { RootCTrack::Free(list); }

// Objects of every built-in kind, a polygon object with tags, a track and a child.
Bytes ObjectList() {
  RootObject* list = AllocObjects();
  BaseObject* mesh = list->AllocObject(TYPE_POLYGONOBJECT);
  mesh->SetName(String("mesh"));
  mesh->GetDataInstance()->SetTime(2, BaseTime(1, 30));
  mesh->MakeTag(TAG_TEXTURE);
  mesh->MakeTag(TAG_PROTECTION);
  EXPECT_TRUE(mesh->InsertTrackSorted(PositionTrack(mesh)));
  list->InsertLast(mesh);
  for (Int32 type : {TYPE_SPLINEOBJECT, TYPE_LIGHTOBJECT, TYPE_CAMERAOBJECT, TYPE_OBJECT})
    list->InsertLast(list->AllocObject(type));
  BaseObject* child = BaseObject::Alloc(TYPE_OBJECT);
  child->SetName(String("child"));
  child->InsertUnder(mesh);
  return SecondGeneration(list, AllocObjects, FreeObjects);
}

Bytes TagList() {
  RootTag* list = AllocTags();
  for (Int32 type : {TAG_TEXTURE, TAG_PROTECTION, TAG_DISPLAY}) {
    BaseTag* tag = BaseTag::Alloc(type);
    if (type == TAG_TEXTURE) tag->GetDataInstance()->SetTime(2, BaseTime(1, 30));
    list->InsertLast(tag);
  }
  return SecondGeneration(list, AllocTags, FreeTags);
}

Bytes TrackList() {
  RootCTrack* list = AllocTracks();
  BaseList2D owner(TYPE_BASELIST2D);
  CTrack* t = PositionTrack(&owner);
  t->GetDataInstance()->SetTime(2, BaseTime(1, 30));
  list->InsertLast(t);
  list->InsertLast(CTrack::Alloc(&owner, DescID(DescLevel(-1, 0, 0)), String("time")));
  return SecondGeneration(list, AllocTracks, FreeTracks);
}

TEST(DumpTest, CheckReadsObjectTagAndTrackLists) {
  const struct {
    const char* what;
    Bytes bytes;
    const char* members;
  } cases[] = {
      {"objects", ObjectList(), "5 members of several types (objects)"},
      {"tags", TagList(), "3 members of several types (tags)"},
      {"tracks", TrackList(), "2 members of type 5350 (track)"},
  };
  const std::string time = "16 3f f0 00 00 00 00 00 00 40 3e 00 00 00 00 00 00";
  for (const auto& c : cases) {
    Result r = Dump(c.bytes, CheckOptions());
    EXPECT_EQ(0, r.status) << c.what << ": " << r.err;
    EXPECT_EQ(std::string("offset 9: node list, ") + c.members +
                  ": identical\n1 node lists checked, 0 differ, 0 not checked\n",
              r.out)
        << c.what;

    const std::string hex = lumtest::ToHex(c.bytes);
    ASSERT_NE(std::string::npos, hex.find(time)) << c.what;
    const size_t pos = hex.find(time) / 3 + 1;
    Bytes altered = c.bytes;
    const Bytes twoSixtieths = lumtest::FromHex("4000000000000000 404e000000000000");
    std::copy(twoSixtieths.begin(), twoSixtieths.end(), altered.begin() + static_cast<long>(pos));
    r = Dump(altered, CheckOptions());
    EXPECT_EQ(1, r.status) << c.what;
    EXPECT_NE(std::string::npos,
              r.out.find(std::string(c.members) + ": differs at offset " + std::to_string(pos) +
                         " "))
        << c.what << ": " << r.out;
  }

  // Members of two families in one list: no class reads them together.
  lumtest::MemWriter w;
  BaseObject* o = BaseObject::Alloc(TYPE_OBJECT);
  BaseTag* t = BaseTag::Alloc(TAG_TEXTURE);
  ASSERT_TRUE(w.hf.WriteChunkStart(CHUNK_NODELIST, 0) && o->WriteObject(&w.hf, TYPE_OBJECT) &&
              t->WriteObject(&w.hf, TAG_TEXTURE) && w.hf.WriteChunkEnd());
  BaseObject::Free(o);
  BaseTag::Free(t);
  Result r = Dump(w.Finish(), CheckOptions());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("2 members of several types: not checked")) << r.out;
  // Shaders (5707) sit amid the tags' types but are read as shaders.
  lumtest::MemWriter sw;
  BaseShader* noise = BaseShader::Alloc(1011116);
  BaseShader* child = BaseShader::Alloc(1012161);
  child->InsertUnderLast(noise);
  ASSERT_TRUE(sw.hf.WriteChunkStart(CHUNK_NODELIST, 0) && noise->WriteObject(&sw.hf, 5707) &&
              sw.hf.WriteChunkEnd());
  BaseShader::Free(noise);
  r = Dump(sw.Finish(), CheckOptions());
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("1 members of type 5707 (shader): identical")) << r.out;
}

// The lists above as seeds of the dump fuzz target, checked (first byte 0x30: --check).
TEST(DumpSeeds, DISABLED_WriteFuzzCorpus) {
  const struct {
    const char* name;
    Bytes bytes;
  } seeds[] = {{"check-objects", ObjectList()}, {"check-tags", TagList()},
               {"check-tracks", TrackList()}};
  for (const auto& s : seeds) {
    Bytes b = s.bytes;
    b.insert(b.begin(), 0x30);
    const std::string path = std::string(LUMORA_SOURCE_DIR) + "/fuzz/corpus/dump/" + s.name;
    ASSERT_TRUE(lumtest::WriteFileBytes(path, b)) << path;
  }
}

TEST(DumpTest, NameTablesAreOrderedForTheirSearch) {
  EXPECT_TRUE(lumdump::NameTablesSorted());
  EXPECT_STREQ("plug-in node", lumdump::ChunkName(110062));
  EXPECT_STREQ("key", lumdump::ChunkName(5352));
  EXPECT_EQ(nullptr, lumdump::ChunkName(4));
  // Every disk type the families write has a name.
  for (Int32 id : {TYPE_POLYGONOBJECT, TYPE_SPLINEOBJECT, TYPE_LIGHTOBJECT, TYPE_CAMERAOBJECT,
                   TYPE_SPLINEOBJECT_OLD, TYPE_OBJECT, TYPE_ANYOBJECT, TYPE_POINTOBJECTDATA_DISK,
                   TYPE_POLYGONOBJECTDATA_DISK, TYPE_JOINTOBJECT, TYPE_CTRACK, TYPE_CTRACK_SPECIAL,
                   TYPE_CCURVE, TYPE_CKEY, TAG_ANY, TAG_PLUGIN, TAG_POINT, TAG_POLYGON, TAG_DISPLAY,
                   TAG_TEXTURE, TAG_TANGENT, TAG_PROTECTION, TAG_COMPOSITING, TAG_UVW, TAG_SEGMENT,
                   TAG_POINTSELECTION, TAG_POLYGONSELECTION, TAG_TARGETLINKS, TAG_VERTEXMAP,
                   TAG_EDGESELECTION, TAG_OLDVERTEXMAP, TAG_NORMAL, TAG_SELECTIONSET,
                   TAG_POSEMORPH, TAG_VERTEXCOLOR, TYPE_TAKE, TYPE_OVERRIDE, TYPE_TAKEFOLDER,
                   TYPE_OVERRIDEGROUP, ID_TAKESYSTEMHOOK})
    EXPECT_NE(nullptr, lumdump::ChunkName(id)) << id;
  EXPECT_STREQ("custom", lumdump::ValueTypeName(1234567));
  EXPECT_STREQ("gradient", lumdump::ValueTypeName(1000481));
}

TEST(DumpTest, NumbersAreTheShortestThatReadBack) {
  // Float against the general conversion (whole numbers below 10^15 in plain digits): short
  // decimals (its fast path) at every scale and both signs, random bit patterns (NaN,
  // infinities, subnormals, 17 digits), and the edges of each path.
  auto expectFloat = [](double v) {
    char got[32], want[32];
    const std::string text(got, lumdump::Float(got, v));
    const bool whole = std::fabs(v) < 1e15 && v == std::trunc(v) && !(v == 0 && std::signbit(v));
    if (whole) {
      EXPECT_EQ(std::to_string(static_cast<long long>(v)), text);
    } else {
      EXPECT_EQ(std::string(want, std::to_chars(want, want + 32, v).ptr), text) << v;
    }
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {0.0, -0.0, 0.5, -0.5, 1.5, 2.5, 0.1, 0.001, 0.00099999999999999, 1e-3,
                   999999999999999.0, 999999999999999.5, 1e15, 1e15 + 2, 123456789012.375,
                   4503599627370495.5, std::numeric_limits<double>::denorm_min(),
                   -std::numeric_limits<double>::denorm_min(),
                   std::numeric_limits<double>::min() * (1 - 1e-16),
                   std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
                   -std::numeric_limits<double>::max(), inf, -inf,
                   std::numeric_limits<double>::quiet_NaN(),
                   -std::numeric_limits<double>::quiet_NaN()})
    expectFloat(v);
  std::mt19937_64 rng(37);
  for (int i = 0; i < 200000; ++i) {
    double v;
    if (i % 2 == 0) {
      const double m = static_cast<double>(rng() % 1000000000000000ull);
      v = m / std::pow(10.0, static_cast<int>(rng() % 40)) * ((i & 2) != 0 ? -1 : 1);
    } else {
      const std::uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
    }
    expectFloat(v);
  }
  // Integers (and whole floats) on both sides of every count of digits, the extremes, and
  // random ones of every bit length.
  auto expectInteger = [](long long n) {
    char got[32], want[32];
    EXPECT_EQ(std::string(want, std::to_chars(want, want + 32, n).ptr),
              std::string(got, lumdump::Integer(got, n)));
  };
  // p up to 10^18 (the next power would overflow a long long).
  for (long long p = 10;; p *= 10) {
    for (long long n : {p - 1, p, -(p - 1), -p}) {
      expectInteger(n);
      if (p <= 100000000000000ll) expectFloat(static_cast<double>(n));
    }
    if (p == 1000000000000000000ll) break;
  }
  for (long long n : {0ll, 1ll, -1ll, 9ll, -9ll, 4294967295ll, 4294967296ll, -4294967296ll,
                      std::numeric_limits<long long>::max(), std::numeric_limits<long long>::min()})
    expectInteger(n);
  for (int i = 0; i < 20000; ++i) expectInteger(static_cast<long long>(rng() >> (rng() % 64)));
}

// ---- the program ----

Result RunProgram(const std::vector<std::string>& args) {
  const lumtest::ProgramRun run = lumtest::RunProgram(LUMORA_DUMP_PATH, args);
  return Result{run.status, run.out, run.err};
}

TEST(DumpTest, CommandLine) {
  const std::string file = lumtest::TempPath("stream.hf");
  ASSERT_TRUE(lumtest::WriteFileBytes(file, EveryValue()));
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* inOut;
    const char* inErr;
  } cases[] = {
      {{file}, 0, "chunk 5100 (polygon object) level 0\n", ""},
      {{"--depth", "0", "--", file}, 0, "chunk 123456789 level -3\n", ""},
      {{"--json", file}, 0, "\"kind\":\"chunk\"", ""},
      {{"--help"}, 0, "--check", ""},
      {{"--version"}, 0, "lumora-dump (lumora) " LUMORA_VERSION "\n", ""},
      {{}, 2, "", "no FILE"},
      {{"--depth"}, 2, "", "--depth needs a number"},
      {{"--depth", "-1", file}, 2, "", "not a valid number: -1"},
      {{"--id", "12x", file}, 2, "", "not a valid number: 12x"},
      {{"--bogus", file}, 2, "", "unknown option --bogus"},
      {{file, file}, 2, "", "more than one FILE"},
      {{"--check", "--json", file}, 2, "", "--check takes none of"},
      {{"--check", "--depth", "1", file}, 2, "", "--check takes none of"},
      {{"--check", "--id", "+5", file}, 2, "", "--check takes none of"},
      {{"--id", "4294967296", file}, 2, "", "not a valid number: 4294967296"},
      {{"-"}, 1, "", "cannot open -"},
      {{lumtest::TempPath("missing.hf")}, 1, "", "cannot open"},
      {{"--check", file}, 0, "0 node lists checked", ""},
      // Each reading option takes effect: an offset column, or the stream read another way
      // (a kind older files lack, 32-bit floats, the other byte order) fails where it differs.
      {{"--offsets", "--depth", "0", file}, 0, "      2979 chunk 123456789 level -3\n", ""},
      {{"--file-version", "11000", file}, 1, "", "offset 2188: expected a value"},
      {{"--float32", file}, 1, "", "offset 40: expected a value"},
      {{"--little-endian", file}, 1, "", "offset 223: expected a whole string value"},
  };
  for (const Case& c : cases) {
    Result r = RunProgram(c.args);
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(c.status, r.status) << line << r.err;
    EXPECT_NE(std::string::npos, r.out.find(c.inOut)) << line << r.out;
    EXPECT_NE(std::string::npos, r.err.find(c.inErr)) << line << r.err;
    if (c.status == 2) {
      EXPECT_NE(std::string::npos, r.err.find("usage: lumora-dump")) << line;
    }
  }
}

}  // namespace
