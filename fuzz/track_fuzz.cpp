// Any bytes read as a list of tracks and as an animated node, in the stream the last byte picks
// (nodefuzz::LayoutOfLast): read, write, read, write (see node_fuzz_support.h for the check). The
// tracks read are then worked on: every key is looked up, its tangents computed, and keys are added
// and moved, so that whatever a file holds, the curve operations stay within their arrays, and the
// curves are evaluated and sampled.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "node_fuzz_support.h"

namespace {

using namespace lumora;

// Values at and between the keys, the segments found, and samples at a tolerance in scale with
// the keys' values.
void Evaluate(const CCurve* c) {
  Float scale = 0.0;
  for (Int32 i = 0; i < c->GetKeyCount(); ++i) {
    const CKey* k = c->GetKey(i);
    c->GetValue(k->GetTime());
    c->GetGeData(BaseTime(k->GetTime().Get() + 0.0005));
    const CKey* left = nullptr;
    const CKey* right = nullptr;
    c->FindSegment(BaseTime(k->GetTime().Get() + 0.0005), &left, &right);
    nodefuzz::Check(left == nullptr || left->GetCurve() == c);
    nodefuzz::Check(right == nullptr || right->GetCurve() == c);
    scale = std::fmax(scale, std::fabs(k->GetValue()) + std::fabs(k->GetValueLeft()) +
                                 std::fabs(k->GetValueRight()));
  }
  BaseArray<BaseTime> times;
  // Key times from a file may be fractions whose order the grid's cannot be compared with
  // exactly, so only the bound is checked here; the order is the tests' business.
  if (std::isfinite(scale) && SampleCurve(c, 1e-3 * scale + 1e-3, times))
    nodefuzz::Check(times.GetCount() <= (1 << 24));
}

void WorkOn(CCurve* c) {
  for (Int32 i = 0; i < c->GetKeyCount(); ++i) {
    CKey* k = c->GetKey(i);
    Int32 at = -2;
    CKey* found = c->FindKey(k->GetTime(), &at, FINDANIM_EXACT);
    nodefuzz::Check(found == nullptr ? at == -1 : c->GetKey(at) == found);
    for (FINDANIM mode : {FINDANIM_LEFT, FINDANIM_RIGHT}) {
      found = c->FindKey(BaseTime(k->GetTime().Get() + 0.0005), &at, mode);
      nodefuzz::Check(found == nullptr ? at == -1 : c->GetKey(at) == found);
    }
    Float vl = k->GetValueLeft(), vr = k->GetValueRight();
    BaseTime tl, tr;
    c->CalcSoftTangents(i, &vl, &vr, &tl, &tr);
    c->CalcRemoveOvershoot(i, &vl, &vr, &tl, &tr);
    c->AdjustTangentAutoWeight(i);
    GeData v;
    k->GetDParameter(DescID(CKEY_VALUE), v);
    k->SetDParameter(DescID(CKEY_AUTO), GeData(Int32(0)));
  }
  Evaluate(c);
  const Int32 before = c->GetKeyCount();
  CKey* added = c->AddKey(BaseTime(1, 7));
  nodefuzz::Check(added != nullptr && c->GetKeyCount() <= before + 1);
  if (c->GetKeyCount() > 1) c->MoveKey(BaseTime(-9999.0), c->GetKeyCount() - 1);
  for (Int32 i = 0; i < c->GetKeyCount(); ++i) nodefuzz::Check(c->GetKey(i)->GetCurve() == c);
}

void ReadAndWorkOn(const uint8_t* data, size_t size) {
  BaseList2D node(1);
  if (!nodefuzz::Read(node, data, Int64(size), HYPERFILE_CURRENT_VERSION)) return;
  for (CTrack* t = node.GetFirstCTrack(); t != nullptr; t = t->GetNext()) {
    nodefuzz::Check(t->GetObject() == &node);
    for (Int32 w = 0; w <= 10; ++w) {
      CCurve* c = t->GetCurve(CCURVE(w), false);
      if (c != nullptr && w != 1) WorkOn(c);
    }
  }
  nodefuzz::Written again;
  nodefuzz::Write(again, node);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const nodefuzz::Layout layout = nodefuzz::LayoutOfLast(data, size);
  nodefuzz::RoundTrip<lumora::RootCTrack>(data, size, layout);
  nodefuzz::RoundTrip<lumora::BaseList2D>(data, size, layout);
  ReadAndWorkOn(data, size);
  return 0;
}
