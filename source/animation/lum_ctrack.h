// CTrack: the animation of one parameter of one node; RootCTrack, a node's list of tracks.
//
// A track names the parameter it animates by a DescID, owns a main curve and up to nine further
// curves (created on demand, kept after reading only when they hold keys) and carries a link,
// two settings, four reserved integers and a synchronisation flag that ties the three component
// tracks of a vector parameter together. GetValue evaluates the main curve at a time
// (lum_ccurve.h); an object's transform at a time is lum_playback.h.
//
// Node ids: 5350 for an ordinary track; 5353 for a special track (one whose description id
// starts with 100004812, 100004822 or 1029124), whose GetType is that first level id. The time
// track animates the single level (-1, 19, 0) and is named "Time Track".
//
// Every named node keeps its tracks in a RootCTrack (chunk 110417 of the node). The track list
// allocator is installed in the node tree when this family is linked into a program (that is,
// when the program uses any of it); a program that never touches animation keeps track lists
// as raw bytes, written back unchanged.
//
// Object rules: on an object (IsInstanceOf(5155)) the scale track (905) sorts before the
// rotation track (904), and a rotation track inserted into an object that rotates by
// quaternions (BaseList2D::UsesQuaternionRotation) is synchronised. The chunk layouts are in
// doc/scene-format.md.
#ifndef LUM_CTRACK_H
#define LUM_CTRACK_H

#include "animation/lum_ccurve.h"
#include "scene/lum_rootlist2d.h"

namespace lumora {

constexpr Int32 TYPE_CTRACK = 5350;
constexpr Int32 TYPE_CTRACK_SPECIAL = 5353;
constexpr Int32 CHUNK_CTRACK_DATA = 110414;
constexpr Int32 CHUNK_CTRACK_CURVES = 110418;
constexpr Int32 CHUNK_CTRACK_SPECIAL = 110064;
// The first level ids of special tracks.
constexpr Int32 CTRACK_SPECIAL_IDS[3] = {100004812, 100004822, 1029124};

// Which curve of a track: 0 and 1 (and every value outside 2-10) the main curve, 2-10 the
// further curves. What the further curves stand for is the application's.
enum CCURVE : Int32 {
  CCURVE_CURVE = 0,
  CCURVE_MAIN = 1,
  CCURVE_FURTHER_FIRST = 2,
  CCURVE_FURTHER_LAST = 10,
};

// The track kind, set by SetDescriptionID.
enum CTRACKKIND : Int32 {
  CTRACKKIND_UNSET = 0,
  CTRACKKIND_VALUE = 1,  // keys carry a Float (the time track too)
  CTRACKKIND_DATA = 2,   // keys carry a GeData
  CTRACKKIND_SPECIAL = 3,
};

// Track parameters (first level of the DescID).
enum : Int32 {
  CTRACK_ON = 904,    // 1 while node bit 0x20000 is clear
  CTRACK_SOLO = 905,  // node bit 0x40000; the document is notified
  CTRACK_LINK = 909,
  CTRACK_SETTING_A = 910,
  CTRACK_SETTING_B = 911,
  CTRACK_LOCKED = 918,  // node bit 0x80000 (set only; read through the container)
};
constexpr Int32 CTRACK_BIT_OFF = 0x20000;
constexpr Int32 CTRACK_BIT_SOLO = 0x40000;
constexpr Int32 CTRACK_BIT_LOCKED = 0x80000;

class CTrack : public BaseList2D {
 public:
  // A track of node id nodeId (5350 or 5353), with empty description id.
  explicit CTrack(Int32 nodeId = TYPE_CTRACK);
  // Frees the further curves and removes the track from its list.
  ~CTrack() override;
  // Its curves hang from it outside any list.
  bool HoldsNodes() const override { return true; }

  // A new track for parameter id of owner, named name (the time track is named "Time Track"
  // whatever name says); not inserted anywhere. Null when owner is null or out of memory.
  static CTrack* Alloc(BaseList2D* owner, const DescID& id, const String& name);
  static void Free(CTrack*& track);

  // True for 0, 110050, 5350, the node id and GetType.
  bool IsInstanceOf(Int32 id) const override;
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  // The special type for node id 5353, else the node id.
  Int32 GetType() const override;
  Int32 GetInstanceType() const override { return TYPE_CTRACK; }
  bool Write(HyperFile* hf) override;
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  bool GetDParameter(const DescID& id, GeData& out) override;
  bool SetDParameter(const DescID& id, const GeData& value) override;
  // A new track with the same node id filled by CopyTo; null when that fails.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;
  // The node id (the chunk id the track is stored under).
  Int32 GetDiskType() const override { return BaseList2D::GetType(); }
  const DescID* GetTrackDescID() const override { return &_descId; }
  void SetTrackSynchronized(bool on) override { _synchronized = on; }

  const DescID& GetDescriptionID() const { return _descId; }
  // Sets the description id and the track kind (and the time track's id and name). owner is
  // not used.
  void SetDescriptionID(BaseList2D* owner, const DescID& id);
  CTRACKKIND GetTrackKind() const { return _kind; }

  // The curve for which (see CCURVE). A missing further curve is created (owned, its track
  // pointer set) only with create; null otherwise or when out of memory.
  CCurve* GetCurve(CCURVE which = CCURVE_CURVE, bool create = true);
  // The CCURVE value of curve in this track (the main curve: 0); false for null or a curve of
  // another track.
  bool FindCurve(const CCurve* curve, CCURVE& which) const;

  // The value of the main curve at t (CCurve::GetValue).
  Float GetValue(const BaseTime& t) const { return _main.GetValue(t); }
  // The main curve, read-only.
  const CCurve* GetMainCurve() const { return &_main; }

  bool IsSynchronized() const { return _synchronized; }
  void SetSynchronized(bool on) { _synchronized = on; }
  // The animated node (not owned); set when the track enters a node's list.
  BaseList2D* GetObject() const { return _object; }
  void SetObject(BaseList2D* node) { _object = node; }
  Int32 GetSpecialType() const { return _specialType; }
  const BaseLink& GetLink() const { return _link; }
  Int32 GetReserved(Int32 i) const { return i >= 0 && i < 4 ? _reserved[i] : 0; }
  // The document the track belongs to: its own, else its node's.
  BaseDocument* GetTrackDocument() const;

  CTrack* GetNext() const { return static_cast<CTrack*>(GeListNode::GetNext()); }
  CTrack* GetPred() const { return static_cast<CTrack*>(GeListNode::GetPred()); }

 private:
  bool WriteCurves(HyperFile* hf);
  bool ReadCurves(HyperFile* hf, Int32 level);
  // Allocates further curve which when missing, reads it, and frees it again when it holds no
  // keys.
  bool ReadFurtherCurve(HyperFile* hf, Int32 which);
  bool ReadData(HyperFile* hf, Int32 level);

  CCurve _main;
  CCurve* _further[9] = {};
  DescID _descId;
  BaseLink _link;
  Int32 _settingA = 1;
  Int32 _settingB = 1;
  Int32 _cachedIndex = -1;
  Int32 _reserved[4] = {-1, -1, -1, -1};
  CTRACKKIND _kind = CTRACKKIND_UNSET;
  bool _synchronized = false;
  BaseList2D* _object = nullptr;
  Int32 _specialType = 0;
};

// The first track of node, in list order, whose description id begins with every level id of
// id (tracks with an empty id are passed over); null when none or id is empty. The third
// argument is not used.
CTrack* C_FindTrack(BaseList2D* node, const DescID& id, CTrack* unused = nullptr);

}  // namespace lumora

#endif  // LUM_CTRACK_H
