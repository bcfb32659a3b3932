// make-sample: writes the sample Klaymo document, its picture, or seed documents for the
// thumbnail fuzz target.
//
//   make-sample OUT.klaymo        the sample document (samples/sample.klaymo)
//   make-sample --ppm OUT.ppm     the sample picture as a binary PPM, to look at
//   make-sample --corpus DIR      seed documents (every version and layout) into DIR
#include <cstdio>
#include <string>
#include <vector>

#include "klaymo_writer.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "make-sample: cannot create %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "make-sample: cannot write %s\n", path.c_str());
  return ok;
}

bool Write(const std::vector<std::uint8_t>& pixels, const klaymo::DocumentOptions& options,
           std::vector<std::uint8_t>* doc, klaymo::DocumentLayout* layout) {
  std::string why;
  if (!klaymo::WriteDocument(pixels, options, doc, layout, &why)) {
    std::fprintf(stderr, "make-sample: %s\n", why.c_str());
    return false;
  }
  return true;
}

int Sample(const std::string& path) {
  klaymo::DocumentOptions options;
  options.version = 6;
  options.blockStart = 212;
  options.segmentBytes = {klaymo::kThumbBytes / 2, klaymo::kThumbBytes / 2};
  options.trailingBytes = 49152;
  std::vector<std::uint8_t> doc;
  klaymo::DocumentLayout layout;
  if (!Write(klaymo::SamplePicture(), options, &doc, &layout)) return 1;
  if (layout.blockEnd > klaymo::kHeadSize) {
    std::fprintf(stderr, "make-sample: the thumbnail does not fit the document head\n");
    return 1;
  }
  return WriteFile(path, doc) ? 0 : 1;
}

int Ppm(const std::string& path) {
  std::vector<std::uint8_t> px = klaymo::SamplePicture();
  std::string header = "P6\n96 96\n255\n";
  std::vector<std::uint8_t> out(header.begin(), header.end());
  for (std::size_t i = 0; i < px.size(); i += 4) out.insert(out.end(), &px[i], &px[i] + 3);
  return WriteFile(path, out) ? 0 : 1;
}

int Corpus(const std::string& dir) {
  const std::vector<std::uint8_t> picture = klaymo::SamplePicture();
  // A small picture keeps some seeds short, which the fuzzer mutates faster.
  std::vector<std::uint8_t> small(64);
  for (std::size_t i = 0; i < small.size(); ++i)
    small[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 0xFF : (i / 8) * 16);

  struct Seed {
    const char* name;
    const std::vector<std::uint8_t>* pixels;
    klaymo::DocumentOptions options;
  };
  const std::size_t quarter = klaymo::kThumbBytes / 4;
  const std::size_t half = klaymo::kThumbBytes / 2;
  std::vector<Seed> seeds;
  auto add = [&](const char* name, const std::vector<std::uint8_t>* px, int version, int b,
                 std::vector<std::size_t> split, klaymo::RunCoding coding, std::size_t slack) {
    klaymo::DocumentOptions o;
    o.version = version;
    o.blockStart = b;
    o.segmentBytes = std::move(split);
    o.coding = coding;
    o.slack = slack;
    seeds.push_back({name, px, o});
  };
  using klaymo::RunCoding;
  add("v4-four-segments", &picture, 4, 194, {quarter, quarter, quarter, quarter}, RunCoding::kMixed,
      0);
  add("v5-two-segments-literals", &picture, 5, 233, {half, half}, RunCoding::kLiteralsOnly, 0);
  add("v6-one-segment", &picture, 6, 212, {}, RunCoding::kMixed, 3);
  add("v6-repeats", &picture, 6, 200, {half, half}, RunCoding::kRepeatsOnly, 0);
  add("v7-small", &small, 7, 220, {40, 24}, RunCoding::kMixed, 0);
  add("v4-small-odd-split", &small, 4, 201, {10, 30, 4, 20}, RunCoding::kMixed, 1);
  add("v3-rejected", &small, 3, 200, {}, RunCoding::kMixed, 0);

  for (const Seed& s : seeds) {
    std::vector<std::uint8_t> doc;
    klaymo::DocumentLayout layout;
    klaymo::DocumentOptions o = s.options;
    o.trailingBytes = 64;
    if (!Write(*s.pixels, o, &doc, &layout)) return 1;
    if (doc.size() > klaymo::kHeadSize) doc.resize(klaymo::kHeadSize);  // all the tool reads
    if (!WriteFile(dir + "/" + s.name + ".klaymo", doc)) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0][0] != '-') return Sample(args[0]);
  if (args.size() == 2 && args[0] == "--ppm") return Ppm(args[1]);
  if (args.size() == 2 && args[0] == "--corpus") return Corpus(args[1]);
  std::fprintf(stderr,
               "usage: make-sample OUT.klaymo | make-sample --ppm OUT.ppm | "
               "make-sample --corpus DIR\n");
  return 2;
}
