// Helpers the scene suites share: writing and reading node lists through memory streams, and
// masking the goal identities (addresses of the writing process) out of written bytes.
#ifndef LUMORA_SCENE_SUPPORT_H
#define LUMORA_SCENE_SUPPORT_H

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

namespace scenetest {

using Bytes = std::vector<unsigned char>;

// Zeroes the 8 identity bytes after every "agoal1" and "alias2".
inline Bytes MaskIdentities(Bytes b) {
  for (size_t i = 0; i + 14 <= b.size(); ++i) {
    if (std::memcmp(&b[i], "agoal1", 6) == 0 || std::memcmp(&b[i], "alias2", 6) == 0) {
      std::memset(&b[i + 6], 0, 8);
      i += 13;
    }
  }
  return b;
}

// Where two byte strings first differ, with the bytes around it (for failure messages).
inline std::string FirstDifference(const Bytes& a, const Bytes& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  if (i == a.size() && i == b.size()) return "equal";
  size_t from = i > 24 ? i - 24 : 0;
  auto cut = [&](const Bytes& x) {
    size_t to = std::min(x.size(), i + 24);
    return lumtest::ToHex(x.data() + std::min(from, x.size()), to > from ? to - from : 0);
  };
  return "at " + std::to_string(i) + " of " + std::to_string(a.size()) + "/" +
         std::to_string(b.size()) + ":\n  " + cut(a) + "\n  " + cut(b);
}

// The list as one object chunk (id 1).
inline Bytes WriteNode(lumora::PrivateChunk& node,
                       lumora::Int32 version = lumora::HYPERFILE_CURRENT_VERSION) {
  lumtest::MemWriter w;
  w.hf.SetFileVersion(version);
  EXPECT_TRUE(node.WriteObject(&w.hf, 1));
  return w.FinishUnchecked();
}

// Reads what WriteNode wrote into node, through a document with an alias translation that is
// resolved afterwards. version is the file version the reader reports.
inline bool ReadNode(const Bytes& bytes, lumora::PrivateChunk& node,
                     lumora::Int32 version = lumora::HYPERFILE_CURRENT_VERSION,
                     lumora::BaseDocument* doc = nullptr) {
  lumtest::MemReader r(bytes, version);
  lumora::BaseDocument own;
  lumora::AliasTrans trans;
  if (doc == nullptr) doc = &own;
  if (!trans.Init()) return false;
  doc->SetAliasTrans(&trans);
  r.hf.SetDocument(doc);
  const bool ok = node.ReadObject(&r.hf, true);
  trans.Zap(false);
  doc->SetAliasTrans(nullptr);
  return ok && r.hf.GetError() == lumora::FILEERROR_NONE;
}

}  // namespace scenetest

#endif  // LUMORA_SCENE_SUPPORT_H
