// IESLightParser (see lum_ieslight.h): reading an IES file, line by line and token by token,
// and resampling the tables of type A and B files onto the grid of the downward frame.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "lights/lum_ieslight.h"
#include "lights/lum_ieslight_private.h"
#include "lum_memory.h"

namespace lumora {

namespace {

struct Keyword {
  const char* text;
  Int32 number;
};

constexpr Keyword kKeywords[] = {
    {"IESNA91", IESKEYWORD_IESNA91},
    {"IESNA:LM-63-1995", IESKEYWORD_LM63_1995},
    {"IESNA:LM-63-2002", IESKEYWORD_LM63_2002},
    {"TILT", IESKEYWORD_TILT},
    {"NONE", IESKEYWORD_NONE},
    {"INCLUDE", IESKEYWORD_INCLUDE},
    {"[MANUFAC]", IESKEYWORD_MANUFAC},
    {"[LUMCAT]", IESKEYWORD_LUMCAT},
    {"[LUMINAIRE]", IESKEYWORD_LUMINAIRE},
    {"[LAMPCAT]", IESKEYWORD_LAMPCAT},
    {"[LAMP]", IESKEYWORD_LAMP},
};

bool IsBlank(Char c) { return c == ' ' || c == '\t'; }

}  // namespace

// ---- files of photometric type A and B ----

namespace {

// Photometric types of an IES file.
constexpr Int32 kPhotometricB = 2;
constexpr Int32 kPhotometricA = 3;

// The table of a type A or B file on its own grid: vertical angles v, horizontal angles h, the
// value for horizontal index j and vertical index i at j * nv + i.
struct FileGrid {
  const Float* v;
  Int32 nv;
  const Float* h;
  Int32 nh;
  const Float* table;
  bool vAscending;
  bool hAscending;

  // The value at vertical angle a and horizontal angle b (degrees), interpolated as the light
  // interpolates its own table (cubic along the vertical angles, linear across); 0 outside the
  // grid. Horizontal angles from 0 up give one side of a luminaire whose other side mirrors it;
  // a single horizontal angle holds at every horizontal angle.
  Float At(Float a, Float b) const {
    if (!(a >= v[0] && a <= v[nv - 1])) return 0.0;
    Int32 i0 = FirstInterval(nv, vAscending, [&](Int32 i) { return a < v[i]; });
    Int32 i1 = i0 + 1;
    if (i0 < 0) {
      i1 = nv < 2 ? 0 : nv - 1;
      i0 = nv < 2 ? 0 : nv - 2;
    }
    const Float dv = v[i1] - v[i0];
    const Float t = dv > 0 ? (a - v[i0]) / dv : 1.0;
    Int32 j0 = 0, j1 = 0;
    Float s = 1.0;
    if (nh > 1) {
      if (h[0] >= 0) b = std::fabs(b);
      if (!(b >= h[0] && b <= h[nh - 1])) return 0.0;
      j0 = FirstInterval(nh, hAscending, [&](Int32 j) { return b < h[j]; });
      j1 = j0 + 1;
      if (j0 < 0) {
        j1 = nh - 1;
        j0 = nh - 2;
      }
      const Float dh = h[j1] - h[j0];
      s = dh > 0 ? (b - h[j0]) / dh : 1.0;
    }
    const Float lower = HermiteRowValue(v, nv, table + static_cast<Int64>(j0) * nv, i0, i1, t);
    const Float upper = HermiteRowValue(v, nv, table + static_cast<Int64>(j1) * nv, i0, i1, t);
    const Float value = s * upper + (1 - s) * lower;
    return value > 0 ? value : 0.0;
  }
};

// The finest positive step between neighbouring angles of a and of b; 0 when there is none.
Float FinestStep(const Float* a, Int32 na, const Float* b, Int32 nb) {
  Float finest = 0.0;
  auto scan = [&finest](const Float* x, Int32 n) {
    for (Int32 i = 0; i + 1 < n; ++i) {
      const Float d = std::fabs(x[i + 1] - x[i]);
      if (d > 0 && (finest == 0 || d < finest)) finest = d;
    }
  };
  scan(a, na);
  scan(b, nb);
  return finest;
}

// The step of the downward grid a file is resampled onto: the coarsest of these that is no
// coarser than the file's finest step; 0.5 degrees at the finest (361 x 721 values).
Float ResampleStep(Float finest) {
  static constexpr Float kSteps[] = {5.0, 2.5, 2.0, 1.0, 0.5};
  if (finest == 0) return kSteps[0];
  for (Float step : kSteps) {
    if (step <= finest) return step;
  }
  return kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
}

Float Clamp11(Float x) { return x < -1 ? -1.0 : (x > 1 ? 1.0 : x); }

// Resamples the table of a type A or B file onto the grid of the downward frame the light
// evaluates in: vertical angles 0 .. 180 from straight down, horizontal angles 0 .. 360 from +y
// towards +x, each value the file's table in the direction the sample stands for.
//
// Both frames have the beam axis (vertical and horizontal angle 0) straight down, positive
// horizontal angles towards +x and positive vertical angles towards +y. Type B turns its
// measuring planes about the x axis: the vertical angle is the plane's turn, the horizontal
// angle the latitude within the plane (+-90 at the axis). Type A turns them about the y axis:
// the horizontal angle is the turn, the vertical angle the latitude.
// False when out of memory (out then holds nothing new).
bool ResampleToDownwardFrame(Int32 type, const FileGrid& file, Tables* out, Int32* nv, Int32* nh) {
  const Float step = ResampleStep(FinestStep(file.v, file.nv, file.h, file.nh));
  Int32 nvOut = static_cast<Int32>(180.0 / step) + 1;
  const Int32 nhOut = static_cast<Int32>(360.0 / step) + 1;
  Tables t;
  t.vertical = AllocFloats(nvOut);
  t.horizontal = AllocFloats(nhOut);
  t.candela = AllocFloats(static_cast<Int64>(nvOut) * nhOut);
  if (t.vertical == nullptr || t.horizontal == nullptr || t.candela == nullptr) return false;
  constexpr Float kRadians = kPi / 180.0;
  constexpr Float kDegrees = 180.0 / kPi;
  for (Int32 i = 0; i < nvOut; ++i) t.vertical[i] = i * step;
  for (Int32 j = 0; j < nhOut; ++j) t.horizontal[j] = j * step;
  for (Int32 j = 0; j < nhOut; ++j) {
    const Float sinC = std::sin(t.horizontal[j] * kRadians);
    const Float cosC = std::cos(t.horizontal[j] * kRadians);
    Float* row = t.candela + static_cast<Int64>(j) * nvOut;
    for (Int32 i = 0; i < nvOut; ++i) {
      const Float sinG = std::sin(t.vertical[i] * kRadians);
      const Float x = sinG * sinC;
      const Float y = sinG * cosC;
      const Float down = std::cos(t.vertical[i] * kRadians);  // -z
      if (type == kPhotometricB) {
        row[i] = file.At(std::atan2(y, down) * kDegrees, std::asin(Clamp11(x)) * kDegrees);
      } else {
        row[i] = file.At(std::asin(Clamp11(y)) * kDegrees, std::atan2(x, down) * kDegrees);
      }
    }
  }
  // The grid ends where the light does: vertical angles before the first and after the last
  // value that is not 0 are dropped (the light is 0 outside its grid), so that a luminaire
  // lighting one hemisphere stops at its rim instead of fading over one more step.
  Int32 first = nvOut, last = -1;
  for (Int32 j = 0; j < nhOut; ++j) {
    const Float* row = t.candela + static_cast<Int64>(j) * nvOut;
    for (Int32 i = 0; i < nvOut; ++i) {
      if (row[i] != 0) {
        first = std::min(first, i);
        last = std::max(last, i);
      }
    }
  }
  if (last >= first) {
    const Int32 count = last - first + 1;
    std::memmove(t.vertical, t.vertical + first, count * sizeof(Float));
    for (Int32 j = 0; j < nhOut; ++j) {
      std::memmove(t.candela + static_cast<Int64>(j) * count,
                   t.candela + static_cast<Int64>(j) * nvOut + first, count * sizeof(Float));
    }
    nvOut = count;
  }
  std::swap(out->vertical, t.vertical);
  std::swap(out->horizontal, t.horizontal);
  std::swap(out->candela, t.candela);
  *nv = nvOut;
  *nh = nhOut;
  return true;
}

}  // namespace

// ---- IESLightParser ----

bool IESLightParser::FillBlock() {
  const Int64 left = _length - _position;
  if (left <= 0) return false;
  const Int64 want = std::min<Int64>(left, kBlockSize);
  const Int64 got = _file->ReadBytes(_block, want, true);
  if (got <= 0) return false;
  _fill = static_cast<Int32>(got);
  _read = 0;
  _position += got;
  return true;
}

bool IESLightParser::ReadLine() {
  _lineLength = 0;
  _linePos = 0;
  for (;;) {
    if (_read >= _fill && !FillBlock()) return _lineLength > 0;
    while (_read < _fill) {
      const Char c = static_cast<Char>(_block[_read++]);
      if (c == '\r') continue;
      if (c == '\n') {
        if (_lineLength > 0) return true;
        continue;
      }
      _line[_lineLength++] = c;
      if (_lineLength == kMaxLine) return true;
    }
  }
}

bool IESLightParser::LineToken() {
  while (_linePos < _lineLength && IsBlank(_line[_linePos])) ++_linePos;
  if (_linePos >= _lineLength) return false;
  _tokenStart = _linePos;
  _tokenLength = 0;
  while (_linePos < _lineLength) {
    const Char c = _line[_linePos++];
    if (IsBlank(c) || c == ',' || c == '=') break;
    if (_tokenLength < kMaxToken) _token[_tokenLength++] = c;
  }
  _token[_tokenLength] = 0;
  return true;
}

bool IESLightParser::NextToken() {
  while (!LineToken()) {
    if (!ReadLine()) return false;
  }
  return true;
}

void IESLightParser::RestOfLine(String* text) {
  while (_linePos < _lineLength && IsBlank(_line[_linePos])) ++_linePos;
  const Int32 n = std::min(_lineLength - _linePos, kMaxToken);
  if (n <= 0) {
    text->SetCString(nullptr, 0);
    return;
  }
  text->SetCString(_line + _linePos, n);
  _linePos = _lineLength;
}

bool IESLightParser::NumbersFit(Int64 count) const {
  const Int64 left = (_length - _position) + (_fill - _read) + (_lineLength - _linePos);
  return count <= left;
}

bool IESLightParser::ParseSymbolKeyword(IESSymbols& symbol) {
  symbol.keyword = IESKEYWORD_NONE_FOUND;
  for (const Keyword& k : kKeywords) {
    if (std::strcmp(_token, k.text) == 0) {
      symbol.keyword = k.number;
      return true;
    }
  }
  // Many files write a bracketed keyword and its text without a blank between them: the text
  // starts right after the bracket.
  if (_tokenLength == 0 || _token[0] != '[') return true;
  for (const Keyword& k : kKeywords) {
    const Int32 n = static_cast<Int32>(std::strlen(k.text));
    if (k.text[0] == '[' && n < _tokenLength && std::strncmp(_token, k.text, n) == 0) {
      symbol.keyword = k.number;
      _linePos = _tokenStart + n;
      return true;
    }
  }
  return true;
}

bool IESLightParser::ParseSymbolNumberFloat(Float& value) {
  if (!NextToken()) return false;
  if (_tokenLength == 0) {
    value = 0.0;
    return true;
  }
  bool negative = false, negativeExponent = false, point = false, exponentMark = false;
  Float integer = 0.0, fraction = 0.0, scale = 1.0, exponent = 0.0;
  for (Int32 i = 0; i < _tokenLength; ++i) {
    const Char c = _token[i];
    if (c >= '0' && c <= '9') {
      const Float digit = c - '0';
      if (exponentMark) {
        exponent = exponent * 10.0 + digit;
      } else if (point) {
        scale *= 0.1;
        fraction += digit * scale;
      } else {
        integer = integer * 10.0 + digit;
      }
    } else if (c == '+') {
    } else if (c == '-') {
      if (i == 0) {
        negative = true;
      } else if (exponentMark) {
        negativeExponent = true;
      } else {
        return false;
      }
    } else if (c == '.' && !point) {
      point = true;
    } else if ((c == 'E' || c == 'e') && !exponentMark) {
      exponentMark = true;
    } else {
      return false;
    }
  }
  Float result = integer + fraction;
  if (exponent != 0) result *= std::pow(10.0, negativeExponent ? -exponent : exponent);
  value = negative ? -result : result;
  return true;
}

bool IESLightParser::ParseIESLight(IESLight* light) {
  if (light->_tilt == 0) return false;
  auto number = [this](Float* v) { return ParseSymbolNumberFloat(*v); };
  Float skipped = 0.0;
  if (light->_tilt == 2) {
    Float count = 0.0;
    if (!number(&skipped) || !number(&count)) return false;
    // Angles and multipliers, read and dropped; every number takes a byte of the file, so a
    // count beyond them fails at the end of the file.
    const Int64 n = count > 0 ? static_cast<Int64>(std::min(count, 1e15)) : 0;
    for (Int64 k = 0; k < 2 * n; ++k) {
      if (!number(&skipped)) return false;
    }
  }
  Float multiplier, nvValue, nhValue, photometric, units, w, l, h;
  if (!number(&skipped) || !number(&skipped) || !number(&multiplier) || !number(&nvValue) ||
      !number(&nhValue) || !number(&photometric) || !number(&units) || !number(&w) || !number(&l) ||
      !number(&h))
    return false;
  const Int32 nv = TruncateCount(nvValue);
  const Int32 nh = TruncateCount(nhValue);
  ClassifyOpening(w, l, h, &light->_shape, &light->_size);
  if (units >= 1 && units < 2) {
    light->_size.x *= kFoot;
    light->_size.y *= kFoot;
    light->_size.z *= kFoot;
  }
  Float ballast, factor;
  if (!number(&ballast) || !number(&factor) || !number(&skipped)) return false;
  if (factor < 0.0001) factor = 1.0;
  if (static_cast<UInt32>(nv) > static_cast<UInt32>(IES_MAX_ANGLES) ||
      static_cast<UInt32>(nh) > static_cast<UInt32>(IES_MAX_ANGLES))
    return false;
  const Int64 cells = static_cast<Int64>(nv) * nh;
  if (!NumbersFit(nv + nh + cells)) return false;
  Tables t;
  t.vertical = AllocFloats(nv);
  t.horizontal = AllocFloats(nh);
  t.candela = AllocFloats(cells);
  if ((nv > 0 && t.vertical == nullptr) || (nh > 0 && t.horizontal == nullptr) ||
      (cells > 0 && t.candela == nullptr))
    return false;
  for (Int32 i = 0; i < nv; ++i) {
    if (!number(&t.vertical[i])) return false;
  }
  for (Int32 j = 0; j < nh; ++j) {
    if (!number(&t.horizontal[j])) return false;
  }
  const Float scale = multiplier * ballast * factor;
  for (Int64 c = 0; c < cells; ++c) {
    if (!number(&t.candela[c])) return false;
    t.candela[c] *= scale;
  }
  // Type A and B tables become type C ones here: the light evaluates and stores type C only.
  Int32 nvLight = nv, nhLight = nh;
  const Int32 type = TruncateCount(photometric);
  if ((type == kPhotometricB || type == kPhotometricA) && cells > 0) {
    const FileGrid file = {t.vertical,
                           nv,
                           t.horizontal,
                           nh,
                           t.candela,
                           Ascending(t.vertical, nv),
                           Ascending(t.horizontal, nh)};
    Tables resampled;
    if (!ResampleToDownwardFrame(type, file, &resampled, &nvLight, &nhLight)) return false;
    std::swap(t.vertical, resampled.vertical);
    std::swap(t.horizontal, resampled.horizontal);
    std::swap(t.candela, resampled.candela);
  }
  light->AdoptTables(nvLight, t.vertical, nhLight, t.horizontal, t.candela);
  t.vertical = t.horizontal = t.candela = nullptr;
  light->ComputePowerRatio();
  return true;
}

bool IESLightParser::ParseIESFile(BaseFile* file, IESLight* light) {
  if (file == nullptr || light == nullptr) return false;
  _file = file;
  _length = file->GetLength();
  _position = file->GetPosition();
  _fill = _read = 0;
  _lineLength = _linePos = 0;
  _tokenLength = 0;
  _token[0] = 0;
  while (ReadLine()) {
    if (!LineToken()) continue;
    IESSymbols symbol;
    ParseSymbolKeyword(symbol);
    switch (symbol.keyword) {
      case IESKEYWORD_IESNA91:
      case IESKEYWORD_LM63_1995:
      case IESKEYWORD_LM63_2002:
        light->_format = symbol.keyword;
        break;
      case IESKEYWORD_MANUFAC:
      case IESKEYWORD_LUMCAT:
      case IESKEYWORD_LUMINAIRE:
      case IESKEYWORD_LAMPCAT:
      case IESKEYWORD_LAMP:
        RestOfLine(&light->_texts[symbol.keyword - IESKEYWORD_MANUFAC]);
        break;
      case IESKEYWORD_TILT: {
        // A TILT that names a file (neither NONE nor INCLUDE) leaves no usable tilt, whatever
        // the light held before.
        Int32 tilt = 0;
        if (NextToken()) {
          if (std::strcmp(_token, "INCLUDE") == 0) tilt = 2;
          if (std::strcmp(_token, "NONE") == 0) tilt = 1;
        }
        light->_tilt = tilt;
        return ParseIESLight(light);
      }
      default:
        break;
    }
  }
  return false;
}

}  // namespace lumora
