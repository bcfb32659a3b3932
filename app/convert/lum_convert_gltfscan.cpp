// The importer's first look at a glTF file's JSON: the node transforms at double precision, the
// cameras' angles, the materials and whether anything of the extras is there. A forward-only
// scanner over the bytes: nothing is allocated per token, and what the importer does not need
// (the accessors, most of a large file's JSON) is only checked for being well formed and passed.
// Text that is not JSON gives nothing, as it would from a full parser.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "convert/lum_convert_internal.h"

namespace lumora {

namespace {

class Scanner {
 public:
  Scanner(const char* p, const char* end) : _p(p), _end(end) {}

  void Space() {
    while (_p < _end && (*_p == ' ' || *_p == '\t' || *_p == '\n' || *_p == '\r')) ++_p;
  }
  // The next character after white space is c, which is taken.
  bool Take(char c) {
    Space();
    if (_p == _end || *_p != c) return false;
    ++_p;
    return true;
  }
  // Nothing but white space is left; a NUL byte ends the text (a glb's JSON chunk may be
  // padded with them).
  bool AtEnd() {
    Space();
    return _p == _end || *_p == 0;
  }

  // A string, decoded into out (UTF-8, always terminated) when out is given; *length is its
  // decoded length, which may exceed size - 1 (out then holds its beginning).
  bool String(char* out = nullptr, size_t size = 0, size_t* length = nullptr) {
    if (!Take('"')) return false;
    size_t n = 0;
    auto put = [&](char c) {
      if (out != nullptr && n + 1 < size) out[n] = c;
      ++n;
    };
    for (;;) {
      if (_p == _end || UInt8(*_p) < 0x20) return false;
      const char c = *_p++;
      if (c == '"') break;
      if (UInt8(c) >= 0x80) {
        if (!Utf8(UInt8(c), put)) return false;
        continue;
      }
      if (c != '\\') {
        put(c);
        continue;
      }
      if (_p == _end) return false;
      const char e = *_p++;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          put(e);
          continue;
        case 'b':
          put('\b');
          continue;
        case 'f':
          put('\f');
          continue;
        case 'n':
          put('\n');
          continue;
        case 'r':
          put('\r');
          continue;
        case 't':
          put('\t');
          continue;
        case 'u':
          break;
        default:
          return false;
      }
      UInt32 cp = 0;
      if (!Hex4(cp)) return false;
      if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        UInt32 low = 0;
        if (_end - _p < 2 || _p[0] != '\\' || _p[1] != 'u') return false;
        _p += 2;
        if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      if (cp < 0x80) {
        put(char(cp));
      } else if (cp < 0x800) {
        put(char(0xC0 | cp >> 6)), put(char(0x80 | (cp & 0x3F)));
      } else if (cp < 0x10000) {
        put(char(0xE0 | cp >> 12)), put(char(0x80 | (cp >> 6 & 0x3F))),
            put(char(0x80 | (cp & 0x3F)));
      } else {
        put(char(0xF0 | cp >> 18)), put(char(0x80 | (cp >> 12 & 0x3F)));
        put(char(0x80 | (cp >> 6 & 0x3F))), put(char(0x80 | (cp & 0x3F)));
      }
    }
    if (out != nullptr && size > 0) out[std::min(n, size - 1)] = 0;
    if (length != nullptr) *length = n;
    return true;
  }

  // A number as JSON writes them, converted into value when given; whole says it is a plain
  // non-negative integer (an index).
  bool Number(Float64* value, bool& whole) {
    Space();
    const char* start = _p;
    if (_p < _end && *_p == '-') ++_p;
    if (_p == _end || !Digit(*_p)) return false;
    if (*_p++ != '0')
      while (_p < _end && Digit(*_p)) ++_p;
    whole = *start != '-';
    if (_p < _end && *_p == '.') {
      whole = false;
      if (++_p == _end || !Digit(*_p)) return false;
      while (_p < _end && Digit(*_p)) ++_p;
    }
    const bool exponent = _p < _end && (*_p == 'e' || *_p == 'E');
    if (exponent) {
      whole = false;
      if (++_p < _end && (*_p == '+' || *_p == '-')) ++_p;
      if (_p == _end || !Digit(*_p)) return false;
      while (_p < _end && Digit(*_p)) ++_p;
    }
    // Beyond a double's range, too small is zero and too large makes the text one no reader
    // takes. A number passed over is converted only when it may be that large.
    const Int64 magnitude = exponent || _p - start > 300 ? Magnitude(start, _p) : 0;
    if (value == nullptr && magnitude < 309) return true;
    Float64 v;
    const std::from_chars_result r = std::from_chars(start, _p, v);
    if (r.ec == std::errc::result_out_of_range) v = 0.0;
    if (value != nullptr) *value = v;
    return r.ec == std::errc::result_out_of_range ? Magnitude(start, _p) < 0 : r.ptr == _p;
  }

  // An index: a plain integer that fits; anything else is consumed and gives false in ok.
  bool Index(size_t& index, bool& ok) {
    Space();
    if (_p == _end || (*_p != '-' && !Digit(*_p))) {
      ok = false;
      return Value();
    }
    const char* start = _p;
    bool whole;
    if (!Number(nullptr, whole)) return false;
    const std::from_chars_result r = std::from_chars(start, _p, index);
    ok = whole && r.ec == std::errc() && r.ptr == _p;
    return true;
  }

  // Any value, checked for being well formed and passed; containers are followed with a stack
  // of their kinds, not by recursion, so that depth costs no stack; text nested deeper than
  // 65,536 levels is taken for one that is not JSON.
  bool Value() {
    UInt64 kinds[1024];  // bit set: an object
    Int32 depth = 0;
    for (;;) {
      Space();
      if (_p == _end) return false;
      const char c = *_p;
      bool closed = false;
      if (c == '{' || c == '[') {
        if (depth == 64 * 1024) return false;
        const UInt64 bit = UInt64(1) << (depth % 64);
        kinds[depth / 64] = c == '{' ? kinds[depth / 64] | bit : kinds[depth / 64] & ~bit;
        ++depth;
        ++_p;
        if (Take(c == '{' ? '}' : ']')) {
          --depth;
          closed = true;
        } else if (c == '{' && (!String() || !Take(':'))) {
          return false;
        }
        if (!closed) continue;
      } else if (!Scalar()) {
        return false;
      }
      // After a value: the next member or element, or the end of containers.
      for (;;) {
        if (depth == 0) return true;
        const bool object = (kinds[(depth - 1) / 64] >> ((depth - 1) % 64) & 1) != 0;
        if (Take(',')) {
          if (object && (!String() || !Take(':'))) return false;
          break;
        }
        if (!Take(object ? '}' : ']')) return false;
        --depth;
      }
    }
  }

  // The members of an object: member(key) consumes each value (key null for a name too long
  // to be one the caller knows).
  template <typename F>
  bool Object(F&& member) {
    if (!Take('{')) return false;
    if (Take('}')) return true;
    do {
      char key[32];
      size_t length = 0;
      if (!String(key, sizeof key, &length) || !Take(':') ||
          !member(length < sizeof key ? key : nullptr))
        return false;
    } while (Take(','));
    return Take('}');
  }

  // The elements of an array: element(i) consumes each.
  template <typename F>
  bool Array(F&& element) {
    if (!Take('[')) return false;
    if (Take(']')) return true;
    size_t i = 0;
    do {
      if (!element(i++)) return false;
    } while (Take(','));
    return Take(']');
  }

  char Peek() {
    Space();
    return _p < _end ? *_p : 0;
  }

 private:
  static bool Digit(char c) { return c >= '0' && c <= '9'; }

  // The decimal exponent of a number's text, roughly: positive for one of magnitude 10 or more.
  static Int64 Magnitude(const char* p, const char* end) {
    Int64 m = 0, e = 0;
    bool seen = false, fraction = false, negative = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
      if (*p == '.') {
        fraction = true;
      } else if (Digit(*p)) {
        seen = seen || *p != '0';
        if (!fraction && seen) ++m;
        if (fraction && !seen) --m;
      }
    }
    if (p < end && (*++p == '-' || *p == '+')) negative = *p++ == '-';
    for (; p < end && e < 1000000; ++p) e = 10 * e + (*p - '0');
    return m + (negative ? -e : e);
  }

  // The rest of a UTF-8 sequence that began with lead, each byte given to put; false for bytes
  // that are no UTF-8 (overlong forms, surrogates and code points beyond U+10FFFF among them).
  template <typename Put>
  bool Utf8(UInt8 lead, Put& put) {
    put(char(lead));
    Int32 more = lead >= 0xC2 && lead <= 0xDF   ? 1
                 : lead >= 0xE0 && lead <= 0xEF ? 2
                 : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                : 0;
    if (more == 0) return false;
    // The second byte's range narrows after E0, ED, F0 and F4.
    UInt8 lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    UInt8 hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (; more > 0; --more, lo = 0x80, hi = 0xBF) {
      if (_p == _end || UInt8(*_p) < lo || UInt8(*_p) > hi) return false;
      put(*_p++);
    }
    return true;
  }

  bool Hex4(UInt32& v) {
    if (_end - _p < 4) return false;
    for (int i = 0; i < 4; ++i) {
      const char c = *_p++;
      const int d = Digit(c)               ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return false;
      v = v << 4 | UInt32(d);
    }
    return true;
  }

  bool Word(const char* w) {
    const size_t n = std::strlen(w);
    if (size_t(_end - _p) < n || std::memcmp(_p, w, n) != 0) return false;
    _p += n;
    return true;
  }

  bool Scalar() {
    const char c = Peek();
    if (c == '"') return String();
    if (c == 't') return Word("true");
    if (c == 'f') return Word("false");
    if (c == 'n') return Word("null");
    bool whole;
    return Number(nullptr, whole);
  }

  const char* _p;
  const char* _end;
};

bool Is(const char* key, const char* name) { return key != nullptr && std::strcmp(key, name) == 0; }

// Up to n numbers of an array into out (an element that is no number leaves its entry); the
// array's length in count.
bool Numbers(Scanner& s, Float64* out, size_t n, size_t& count) {
  count = 0;
  if (s.Peek() != '[') return s.Value();
  return s.Array([&](size_t i) {
    ++count;
    const char c = s.Peek();
    if (i >= n || !(c == '-' || (c >= '0' && c <= '9'))) return s.Value();
    bool whole;
    return s.Number(&out[i], whole);
  });
}

// A node: its name, transform and camera. A node without a name, or one too long, is not kept.
struct NodeRead {
  char name[sizeof(GltfNodeMatrix::name)];
  bool named = false;
  Float64 m[16], t[3], r[4], s[3];
  size_t mCount = 0, tCount = 0, rCount = 0, sCount = 0;
  size_t camera = 0;
  bool hasCamera = false;
};

bool ReadNode(Scanner& s, NodeRead& n) {
  if (s.Peek() != '{') return s.Value();
  return s.Object([&](const char* key) {
    if (Is(key, "name")) {
      if (s.Peek() != '"') return n.named = false, s.Value();
      size_t length = 0;
      if (!s.String(n.name, sizeof n.name, &length)) return false;
      n.named = length < sizeof n.name;
      return true;
    }
    if (Is(key, "matrix")) {
      std::fill(n.m, n.m + 16, 0.0);
      return Numbers(s, n.m, 16, n.mCount);
    }
    if (Is(key, "translation")) {
      std::fill(n.t, n.t + 3, 0.0);
      return Numbers(s, n.t, 3, n.tCount);
    }
    if (Is(key, "rotation")) {
      const Float64 unit[4] = {0, 0, 0, 1};
      std::copy(unit, unit + 4, n.r);
      return Numbers(s, n.r, 4, n.rCount);
    }
    if (Is(key, "scale")) {
      std::fill(n.s, n.s + 3, 1.0);
      return Numbers(s, n.s, 3, n.sCount);
    }
    if (Is(key, "camera")) return s.Index(n.camera, n.hasCamera);
    return s.Value();
  });
}

// The node's local matrix: its matrix (column-major) when it has one of 16 entries, otherwise
// translation, rotation and scale, each where it has its full length.
Matrix64 Compose(const NodeRead& n) {
  const Float64* a = n.m;
  if (n.mCount == 16)
    return Matrix64(Vector64(a[12], a[13], a[14]), Vector64(a[0], a[1], a[2]),
                    Vector64(a[4], a[5], a[6]), Vector64(a[8], a[9], a[10]));
  const Float64 t[3] = {n.tCount == 3 ? n.t[0] : 0, n.tCount == 3 ? n.t[1] : 0,
                        n.tCount == 3 ? n.t[2] : 0};
  const bool q = n.rCount == 4, k = n.sCount == 3;
  const Float64 x = q ? n.r[0] : 0, y = q ? n.r[1] : 0, z = q ? n.r[2] : 0, w = q ? n.r[3] : 1;
  const Vector64 c1(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w));
  const Vector64 c2(2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w));
  const Vector64 c3(2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y));
  return Matrix64(Vector64(t[0], t[1], t[2]), (k ? n.s[0] : 1) * c1, (k ? n.s[1] : 1) * c2,
                  (k ? n.s[2] : 1) * c3);
}

// A camera's perspective angle and aspect (0 where it has none).
struct CameraRead {
  Float64 yfov = 0.0, aspect = 0.0;
};

bool ReadCamera(Scanner& s, CameraRead& c) {
  if (s.Peek() != '{') return s.Value();
  return s.Object([&](const char* key) {
    if (!Is(key, "perspective") || s.Peek() != '{') return s.Value();
    c = CameraRead();
    return s.Object([&](const char* k) {
      Float64* to = Is(k, "yfov") ? &c.yfov : Is(k, "aspectRatio") ? &c.aspect : nullptr;
      const char p = s.Peek();
      bool whole;
      if (to == nullptr || !(p == '-' || (p >= '0' && p <= '9'))) return s.Value();
      return s.Number(to, whole);
    });
  });
}

// Whether a string value is the given text (a value of another kind is passed and is not).
bool StringIs(Scanner& s, const char* text, bool& is) {
  if (s.Peek() != '"') return s.Value();
  char value[16];
  size_t length = 0;
  if (!s.String(value, sizeof value, &length)) return false;
  is = length < sizeof value && std::strcmp(value, text) == 0;
  return true;
}

// The elements of an array that are objects, each member of each given to member; anything
// else passed.
template <typename F>
bool EachObject(Scanner& s, F&& member) {
  if (s.Peek() != '[') return s.Value();
  return s.Array([&](size_t) { return s.Peek() == '{' ? s.Object(member) : s.Value(); });
}

}  // namespace

bool _ScanGltfJson(const char* text, Int32 length, BaseArray<GltfNodeMatrix>& out,
                   GltfSummary& summary) {
  out.Flush();
  summary = GltfSummary();
  Scanner s(text, text + length);
  BaseArray<CameraRead> cameras;
  BaseArray<Int64> cameraOf;  // per entry of out, its camera index or -1
  bool memory = true;
  Int32 materials = 0;
  bool wants = false;
  const bool read = s.Object([&](const char* key) {
    if (Is(key, "nodes")) {
      out.Flush();
      cameraOf.Flush();
      if (s.Peek() != '[') return s.Value();
      return s.Array([&](size_t) {
        NodeRead n;
        if (!ReadNode(s, n)) return false;
        if (!n.named) return true;
        GltfNodeMatrix entry;
        std::memcpy(entry.name, n.name, sizeof entry.name);
        entry.ml = Compose(n);
        entry.yfov = entry.aspect = 0.0;
        memory = memory && out.Append(entry) &&
                 cameraOf.Append(n.hasCamera && n.camera < size_t(1) << 40 ? Int64(n.camera) : -1);
        return memory;
      });
    }
    if (Is(key, "cameras")) {
      if (s.Peek() != '[') return s.Value();
      cameras.Flush();
      return s.Array([&](size_t) {
        CameraRead c;
        if (!ReadCamera(s, c)) return false;
        memory = cameras.Append(c);
        return memory;
      });
    }
    if (Is(key, "materials")) {
      if (s.Peek() != '[') return materials = 0, s.Value();
      materials = 0;
      return s.Array([&](size_t) {
        bool ours = false;
        const bool ok = s.Peek() != '{' ? s.Value() : s.Object([&](const char* k) {
          return Is(k, "name") ? StringIs(s, "default", ours) : s.Value();
        });
        materials += ours ? 0 : 1;
        return ok;
      });
    }
    if (Is(key, "meshes"))
      return EachObject(s, [&](const char* k) {
        if (!Is(k, "primitives")) return s.Value();
        return EachObject(s, [&](const char* a) {
          if (!Is(a, "attributes") || s.Peek() != '{') return s.Value();
          return s.Object([&](const char* name) {
            wants = wants || name == nullptr || name[0] == '_';
            return s.Value();
          });
        });
      });
    if (Is(key, "animations"))
      return EachObject(s, [&](const char* k) {
        if (!Is(k, "samplers")) return s.Value();
        return EachObject(s, [&](const char* a) {
          bool cubic = false;
          if (!Is(a, "interpolation")) return s.Value();
          if (!StringIs(s, "CUBICSPLINE", cubic)) return false;
          wants = wants || cubic;
          return true;
        });
      });
    return s.Value();
  });
  if (!memory) return false;
  if (!read || !s.AtEnd()) {
    out.Flush();
    return true;
  }
  for (Int32 i = 0; i < out.GetCount(); ++i)
    if (cameraOf[i] >= 0 && cameraOf[i] < cameras.GetCount()) {
      out[i].yfov = cameras[Int32(cameraOf[i])].yfov;
      out[i].aspect = cameras[Int32(cameraOf[i])].aspect;
    }
  summary.readable = true;
  summary.materials = materials;
  summary.wantsExtras = wants;
  return true;
}

}  // namespace lumora
