// CCurve: the keys of one curve of a track, in time order, and the tangent computations over
// them.
//
// A curve keeps two views of its keys: the key list (RootCKey), which owns them and is what
// gets written, and the key index, an array of the keys in ascending time order for binary
// search. Each index entry holds a copy of its key's time beside the pointer, so that a search
// reads one contiguous array instead of every key it passes; a key's time changes only through
// its curve (MoveKey), which keeps the copy right. Both hold the same keys, except keys read from a
// file with times beyond +-10000 s, which stay in the list only. Times compare by BaseTime's rule.
//
// Costs on a curve of n keys: FindKey O(log n); MoveKey, AddKey and DelKey O(log n) to find
// plus O(n) to shift the index (O(1) amortised at the end, so n keys added in time order cost
// O(n log n) at most).
//
// A curve never moves in a node tree: Remove and the Insert operations do nothing. The chunk
// layout is in doc/scene-format.md.
#ifndef LUM_CCURVE_H
#define LUM_CCURVE_H

#include "animation/lum_ckey.h"
#include "animation/lum_rootckey.h"

namespace lumora {

// The type id of a curve, and the id of the chunk each curve of a track is written as.
constexpr Int32 TYPE_CCURVE = 5351;
constexpr Int32 CHUNK_CCURVE = 110415;
constexpr Int32 CHUNK_CCURVE_KEYS = 110419;

// FindKey's modes.
enum FINDANIM : Int32 {
  FINDANIM_EXACT = 0,  // the key at the time
  FINDANIM_LEFT = 1,   // the key at or before the time
  FINDANIM_RIGHT = 2,  // the key at or after the time
};

class CCurve : public BaseList2D {
 public:
  CCurve();
  ~CCurve() override;

  // True for 0, 110050 and 5351.
  bool IsInstanceOf(Int32 id) const override;
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  bool Write(HyperFile* hf) override;
  // BaseList2D's copy; with COPYFLAGS_NO_BRANCHES nothing more. Otherwise the destination's
  // keys are destroyed and it gets a clone of every key of this curve's list, in list order
  // (those within +-10000 s also in its index). False when a clone fails.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // Does nothing: a curve stays with its track.
  GeToolNode2D* Remove() override { return nullptr; }
  void InsertBefore(GeListNode*) {}
  void InsertAfter(GeListNode*) {}
  void InsertUnder(GeListNode*) {}
  void InsertUnderLast(GeListNode*) {}
  void FlushChilds() {}

  CTrack* GetTrack() const { return _track; }
  void SetTrack(CTrack* track) { _track = track; }

  Int32 GetKeyCount() const { return _index.GetCount(); }
  // The key at position index of the index array, or null (this library's own addition).
  CKey* GetKey(Int32 index) const {
    return index >= 0 && index < GetKeyCount() ? _index[index].key : nullptr;
  }
  // The key list (every key, in list order).
  RootCKey* GetKeyList() { return &_keys; }

  // The key for t by mode (see FINDANIM); *index (may be null) gets its position, or -1 with a
  // null result.
  CKey* FindKey(const BaseTime& t, Int32* index, FINDANIM mode);
  const CKey* FindKey(const BaseTime& t, Int32* index, FINDANIM mode) const;

  // Moves the key at position index to time t in dest (this curve when dest is null) and returns
  // the position of the key that now precedes it in dest (-1 when it is first). A key already at
  // t in dest is destroyed (with a debug alert). -1 and nothing changed for a time beyond
  // +-10000 s, a bad index, or when dest's index cannot grow. The flag is not used.
  Int32 MoveKey(const BaseTime& t, Int32 index, CCurve* dest = nullptr, bool flag = false);

  // This library's own additions for building animation in a program. AddKey: a new key at t,
  // inserted in time order, or the key already at t; null for a time beyond +-10000 s or when
  // out of memory. DelKey: destroys the key at position index; false for a bad index.
  CKey* AddKey(const BaseTime& t);
  bool DelKey(Int32 index);

  // Destroys every key. With propagate and a synchronised track, the keys of the three
  // component curves (the tracks of the vector's x, y and z on the track's node, the curve of the
  // same CCURVE value in each) are destroyed instead; nothing at all when the track cannot name
  // this curve, has no node or does not animate a vector.
  void FlushKeys(bool propagate);

  // Automatic tangents of the key at index (value left, value right, time left, time right);
  // the key is not changed. Zero for a bad index or a key without neighbours. Neighbours are the
  // nearest keys with bit 40 clear.
  void CalcSoftTangents(Int32 index, Float* vl, Float* vr, BaseTime* tl, BaseTime* tr) const;
  // Limits the value tangents given in *vl and *vr so that the curve does not overshoot the
  // neighbouring values; the times are left alone (zeroed, with the values, for a bad index).
  void CalcRemoveOvershoot(Int32 index, Float* vl, Float* vr, BaseTime* tl, BaseTime* tr) const;
  // Rescales the tangents of the key at index to a quarter of the distance to its neighbours.
  void AdjustTangentAutoWeight(Int32 index);

  // ---- evaluation (this library's own addition; doc/animation.md has the formulas) ----

  // The value of the curve at t: the first key's value before the first key and the last key's
  // after the last; between two keys, by the left key's interpolation: its value (step), a
  // straight line (linear) or, for every other value, a cubic Bezier segment through the left
  // key's right tangent and the right key's left tangent, with the time handles clamped to the
  // segment. Keys with bit 40 set are passed over, as the tangent computations pass them over;
  // where two keys share a time, the later one in the index holds from that time on. 0 for a
  // curve without keys (or whose every key is passed over).
  Float GetValue(const BaseTime& t) const;
  // The data of a data-track key for t: that of the key whose segment holds t (the first key's
  // before the first key); an empty value for a curve without keys.
  const GeData& GetGeData(const BaseTime& t) const;
  // The keys evaluation uses around t, over the keys with bit 40 clear: *left the last at or
  // before t (null before the first), *right the first after t (null after the last). Both
  // null for a curve without such keys.
  void FindSegment(const BaseTime& t, const CKey** left, const CKey** right) const;

  // Rebuilds the index from the list after reading: the keys within +-10000 s, in time order.
  // False when the index cannot grow.
  bool _LoadKeysHack();

 private:
  friend class CKey;

  bool ReadKeys(HyperFile* hf);
  // The position of the last key at or before t (the later one where two keys share a time),
  // or -1: the one key search evaluation makes.
  Int32 SearchAtOrBefore(const BaseTime& t) const;
  // The first position at or after from whose key has bit 40 clear, or -1.
  Int32 ActiveFrom(Int32 from) const;
  // Takes key out of both views (it stays alive); its curve pointer is cleared.
  void Unlink(Int32 index);
  // The nearest keys before and after position index whose bit 40 is clear.
  const CKey* PrevNeighbour(Int32 index) const;
  const CKey* NextNeighbour(Int32 index) const;

  // Room for one more key in the index; false when out of memory.
  bool MakeRoom() { return _index.EnsureRoom(1); }
  // Inserts key (whose time is set) at position at; room has been made.
  void IndexInsert(Int32 at, CKey* key);

  struct IndexEntry {
    BaseTime time;  // the key's time
    CKey* key;
  };
  BaseArray<IndexEntry, 16> _index;
  RootCKey _keys;
  CTrack* _track = nullptr;
};

// Sample times of curve such that the straight lines between its values at those times stay
// within tolerance of the curve between the first and the last key: every key's time, and
// between keys as many times as the curve's bend needs (on a grid of 1/1000000 s). Where the
// curve jumps (a step, two keys at one time) a time just before the jump is added too; within
// that microsecond no line can follow the jump. times is replaced; it is empty for a curve
// without keys. False (and times empty) for a null curve, a tolerance that is not positive, or
// when memory runs out.
Bool SampleCurve(const CCurve* curve, Float tolerance, BaseArray<BaseTime>& times);

// The window of key times the index holds, in seconds.
constexpr Float CCURVE_TIME_LIMIT = 10000.0;
// Whether t lies within +-10000 s.
bool _CCurveTimeInWindow(const BaseTime& t);

}  // namespace lumora

#endif  // LUM_CCURVE_H
