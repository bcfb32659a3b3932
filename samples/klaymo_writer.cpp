// Writer of Klaymo documents around a thumbnail; see klaymo_writer.h.
#include "klaymo_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace klaymo {
namespace {

const std::uint8_t kSignature[8] = {0x00, 0x90, 0x00, 0x00, 0x04, 0x00, 0x80, 0x01};

void Put16(std::vector<std::uint8_t>& out, std::int32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

void PutText(std::vector<std::uint8_t>& out, const char* text) {
  out.insert(out.end(), text, text + std::strlen(text) + 1);
}

void Set16(std::vector<std::uint8_t>& out, std::size_t at, std::int32_t v) {
  out[at] = static_cast<std::uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void Set32(std::vector<std::uint8_t>& out, std::size_t at, std::int32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + i] = static_cast<std::uint8_t>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
}

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

// The document's own header in front of the thumbnail block: magic, format, title, author,
// dates and settings, padded with non-zero bytes up to the block (so no stray signature can
// appear in front of the block).
void WriteDocumentHeader(std::vector<std::uint8_t>& out, std::size_t blockStart) {
  out.insert(out.end(), {'K', 'L', 'Y', 'M', 'D', 'O', 'C', 0x1A});
  Put32(out, 0x00060002);  // application format 6.2
  Put32(out, 1);           // one scene
  PutText(out, "Sample sculpture");
  PutText(out, "lumora sample generator");
  PutText(out, "2024-05-01T10:00:00Z");
  PutText(out, "units=mm;symmetry=x;subdiv=3;brush=clay-buildup");
  for (std::size_t i = 0; out.size() < blockStart; ++i)
    out.push_back(static_cast<std::uint8_t>(0x21 + (i * 7) % 90));
  out.resize(blockStart);
}

// Scene data after the thumbnail: records of a tag, a length and a payload.
void WriteTrailingData(std::vector<std::uint8_t>& out, std::size_t n) {
  std::uint32_t state = 0x1234567u;
  std::size_t end = out.size() + n;
  while (out.size() < end) {
    out.insert(out.end(), {'M', 'E', 'S', 'H'});
    std::size_t len = 64 + state % 192;
    Put32(out, static_cast<std::uint32_t>(len));
    for (std::size_t i = 0; i < len; ++i) {
      state = state * 1664525u + 1013904223u;
      out.push_back(static_cast<std::uint8_t>(state >> 24));
    }
  }
  out.resize(end);
}

}  // namespace

std::vector<std::uint8_t> EncodeRuns(const std::uint8_t* bytes, std::size_t n, RunCoding coding) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> literal;
  auto flush = [&] {
    if (literal.empty()) return;
    out.push_back(static_cast<std::uint8_t>(-static_cast<int>(literal.size())));
    out.insert(out.end(), literal.begin(), literal.end());
    literal.clear();
  };
  std::size_t i = 0;
  while (i < n) {
    if (coding == RunCoding::kLiteralsOnly) {
      literal.push_back(bytes[i++]);
      if (literal.size() == 128) flush();
      continue;
    }
    std::size_t run = 1;
    while (i + run < n && run < 127 && bytes[i + run] == bytes[i]) ++run;
    if (coding == RunCoding::kRepeatsOnly || run >= 3) {
      flush();
      out.push_back(static_cast<std::uint8_t>(run));
      out.push_back(bytes[i]);
      i += run;
    } else {
      literal.push_back(bytes[i++]);
      if (literal.size() == 128) flush();
    }
  }
  flush();
  out.push_back(0);
  return out;
}

std::vector<std::uint8_t> ToPlanar(const std::uint8_t* interleaved, std::size_t n) {
  std::size_t q = n / 4;
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < q; ++i)
    for (std::size_t k = 0; k < 4; ++k) out[k * q + i] = interleaved[4 * i + k];
  std::copy(interleaved + 4 * q, interleaved + n, out.begin() + 4 * q);
  return out;
}

bool WriteDocument(const std::vector<std::uint8_t>& pixels, const DocumentOptions& options,
                   std::vector<std::uint8_t>* out, DocumentLayout* layout, std::string* error) {
  if (options.blockStart < 0) return Fail(error, "block start below 0");
  if (options.version < 0 || options.version > 255) return Fail(error, "version is one byte");
  const int version = static_cast<std::int8_t>(options.version);
  const bool wideSizes = version >= 5;
  const bool prefixed = version >= 6;
  const std::size_t fields = wideSizes ? 2 : 4;

  std::vector<std::size_t> split = options.segmentBytes;
  if (split.empty()) split.push_back(pixels.size());
  if (split.size() > fields) return Fail(error, "more segments than the version has sizes for");
  std::size_t total = 0;
  for (std::size_t s : split) total += s;
  if (total != pixels.size()) return Fail(error, "segments do not add up to the picture");

  std::vector<std::uint8_t>& doc = *out;
  doc.clear();
  DocumentLayout where;
  const std::size_t b = static_cast<std::size_t>(options.blockStart);
  WriteDocumentHeader(doc, b);
  where.blockStart = b;

  doc.push_back(static_cast<std::uint8_t>(options.version));
  doc.insert(doc.end(), {0x60, 0x00, 0x60, 0x00, 0x20});  // width, height, depth
  doc.insert(doc.end(), kSignature, kSignature + 8);
  if (wideSizes) {
    Put32(doc, 1);  // coding
    Put32(doc, static_cast<std::uint32_t>(split.size()));
    Put32(doc, 0);  // flags
  }
  where.sizesAt = doc.size();
  for (std::size_t j = 0; j < fields; ++j) {
    if (wideSizes)
      Put32(doc, 0);
    else
      Put16(doc, 0);
  }
  where.dataStart = doc.size();

  std::size_t at = 0;
  for (std::size_t j = 0; j < split.size(); ++j) {
    std::vector<std::uint8_t> planar = ToPlanar(pixels.data() + at, split[j]);
    at += split[j];
    std::size_t start = doc.size();
    where.segmentStart.push_back(start);
    if (prefixed) Put32(doc, static_cast<std::uint32_t>(split[j]));
    std::vector<std::uint8_t> runs = EncodeRuns(planar.data(), planar.size(), options.coding);
    doc.insert(doc.end(), runs.begin(), runs.end());
    for (std::size_t k = 0; k < options.slack; ++k) doc.push_back(static_cast<std::uint8_t>(k));
    std::size_t stored = doc.size() - start;
    if (wideSizes) {
      if (stored > 0x7FFFFFFF) return Fail(error, "segment too large for its size field");
      Set32(doc, where.sizesAt + 4 * j, static_cast<std::int32_t>(stored));
    } else {
      if (stored > 0x7FFF) return Fail(error, "segment too large for a version 4 size field");
      Set16(doc, where.sizesAt + 2 * j, static_cast<std::int32_t>(stored));
    }
    where.storedSize.push_back(static_cast<std::int32_t>(stored));
  }
  where.blockEnd = doc.size();
  WriteTrailingData(doc, options.trailingBytes);
  if (layout != nullptr) *layout = where;
  return true;
}

// ---- the sample picture ---------------------------------------------------------------------

namespace {

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

bool InCircle(double x, double y, double cx, double cy, double r) {
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

bool InRect(double x, double y, double x0, double y0, double x1, double y1) {
  return x >= x0 && x < x1 && y >= y0 && y < y1;
}

// A house with a red roof on a green hill, a tree, the sun and a cloud in a blue sky.
Rgb SceneAt(double x, double y) {
  const Rgb sky = Mix({70, 130, 220}, {185, 215, 245}, std::min(1.0, y / 64.0));
  Rgb c = sky;
  if (InCircle(x, y, 76, 17, 13)) c = Mix(sky, {255, 240, 170}, 0.35);  // halo
  if (InCircle(x, y, 76, 17, 9)) c = {255, 215, 60};                    // sun
  if (InCircle(x, y, 16, 20, 7) || InCircle(x, y, 25, 16, 9) || InCircle(x, y, 34, 21, 6) ||
      InRect(x, y, 16, 20, 34, 27))
    c = {250, 250, 252};                                    // cloud
  if (y > 64 + 5 * std::sin(x / 14.0)) c = {110, 185, 80};  // far hill
  if (y > 78 + 3 * std::cos(x / 9.0)) c = {70, 150, 55};    // near hill
  // House.
  if (InRect(x, y, 56, 29, 61, 42)) c = {140, 50, 40};  // chimney
  if (InRect(x, y, 26, 46, 66, 80)) c = {235, 215, 175};
  if (y >= 26 && y < 46 && std::fabs(x - 46) <= (y - 26) * 1.1 + 0.5) c = {195, 55, 45};
  if (InRect(x, y, 41, 60, 51, 80)) c = {120, 70, 35};  // door
  if (InCircle(x, y, 49, 70, 0.9)) c = {240, 200, 60};  // door knob
  for (double wx : {30.0, 55.0}) {
    if (InRect(x, y, wx, 53, wx + 8, 63)) {
      c = {150, 200, 240};  // window
      if (std::fabs(x - (wx + 4)) < 0.6 || std::fabs(y - 58) < 0.6) c = {255, 255, 255};
    }
  }
  if (y >= 80 && std::fabs(x - 46) <= 5 + (y - 80) * 0.5) c = {215, 190, 130};  // path
  // Tree.
  if (InRect(x, y, 80, 60, 85, 84)) c = {110, 70, 40};
  if (InCircle(x, y, 82.5, 52, 10) || InCircle(x, y, 77, 58, 6) || InCircle(x, y, 88, 58, 6))
    c = {40, 120, 45};
  return c;
}

}  // namespace

std::vector<std::uint8_t> SamplePicture() {
  std::vector<std::uint8_t> px(kThumbBytes);
  const int ss = 4;  // samples per pixel along each axis
  for (int y = 0; y < kThumbSide; ++y) {
    for (int x = 0; x < kThumbSide; ++x) {
      Rgb sum{0, 0, 0};
      for (int sy = 0; sy < ss; ++sy)
        for (int sx = 0; sx < ss; ++sx) {
          Rgb c = SceneAt(x + (sx + 0.5) / ss, y + (sy + 0.5) / ss);
          sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
        }
      std::uint8_t* p = &px[(static_cast<std::size_t>(y) * kThumbSide + x) * 4];
      p[0] = static_cast<std::uint8_t>(std::lround(sum.r / (ss * ss)));
      p[1] = static_cast<std::uint8_t>(std::lround(sum.g / (ss * ss)));
      p[2] = static_cast<std::uint8_t>(std::lround(sum.b / (ss * ss)));
      p[3] = 0xFF;
    }
  }
  return px;
}

}  // namespace klaymo
