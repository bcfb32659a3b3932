// Writes Klaymo documents around a thumbnail, for the sample document, the tests and the fuzz
// seeds. Any block version (4 and 5 layouts, the 4-byte segment prefix from 6 on), any split of
// the picture into segments, run-length coding with repeat runs, literal runs or both.
#ifndef KLAYMO_WRITER_H
#define KLAYMO_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace klaymo {

constexpr int kThumbSide = 96;
constexpr std::size_t kThumbBytes = kThumbSide * kThumbSide * 4;  // 36864
constexpr std::size_t kHeadSize = 37000;

enum class RunCoding {
  kMixed,         // repeat runs for 3 or more equal bytes, literal runs for the rest
  kLiteralsOnly,  // literal runs of up to 128 bytes
  kRepeatsOnly,   // every byte a repeat run (of up to 127 equal bytes)
};

struct DocumentOptions {
  int version = 6;       // the block's version byte (0 ... 255; 128 and up read as negative)
  int blockStart = 200;  // B; the decoder looks at 194 ... 233
  // Decoded bytes of each segment; empty = one segment holding the whole picture. Version 4
  // takes up to four, later versions up to two.
  std::vector<std::size_t> segmentBytes;
  RunCoding coding = RunCoding::kMixed;
  // Unused bytes after each segment's terminator, counted in its stored size.
  std::size_t slack = 0;
  // Further document bytes after the thumbnail block (scene data a reader of the thumbnail
  // never looks at).
  std::size_t trailingBytes = 2048;
};

// Where things landed in the written document.
struct DocumentLayout {
  std::size_t blockStart = 0;
  std::size_t sizesAt = 0;  // offset of the first stored-size field
  std::size_t dataStart = 0;
  std::vector<std::size_t> segmentStart;
  std::vector<std::int32_t> storedSize;
  std::size_t blockEnd = 0;
};

// The run-length stream of `bytes`, terminator included.
std::vector<std::uint8_t> EncodeRuns(const std::uint8_t* bytes, std::size_t n, RunCoding coding);

// The decoded form of a segment holding `n` interleaved pixel bytes: q = n / 4 pixels in planar
// order, followed by the n - 4q bytes that do not make a whole pixel.
std::vector<std::uint8_t> ToPlanar(const std::uint8_t* interleaved, std::size_t n);

// Writes a document whose thumbnail decodes to `pixels` (4 bytes per pixel: red, green, blue,
// unused; normally kThumbBytes, but any length is written as asked). The segments must add up
// to pixels.size(). False with a reason when the options cannot be written (too many segments,
// a stored size that does not fit its field, a block start below 0).
bool WriteDocument(const std::vector<std::uint8_t>& pixels, const DocumentOptions& options,
                   std::vector<std::uint8_t>* out, DocumentLayout* layout = nullptr,
                   std::string* error = nullptr);

// The sample picture: a 96 x 96 scene (a house on a hill, a tree, the sun), 4 bytes per pixel.
std::vector<std::uint8_t> SamplePicture();

}  // namespace klaymo

#endif  // KLAYMO_WRITER_H
