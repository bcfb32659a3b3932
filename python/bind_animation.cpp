// The animation family in Python: tracks (CTrack) on any named node, their curves (CCurve) and
// the curves' keys (CKey).
//
// Ownership. A track is a node of its node's track list, under the rule of lum_py.h. A curve is
// part of its track (its main curve is a member of it): it is never freed by its wrapper, and
// its wrapper keeps the track's wrapper alive. A key is a member of its curve's key list; the
// keys a curve hands out keep the curve's wrapper (and so the track's) alive, and a key Python
// holds is taken out of its curve before the curve frees its keys. del_key refuses a key
// Python holds.
#include <chrono>
#include <cmath>
#include <string>

#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

BaseTime ToTime(py::handle t) {
  if (py::isinstance<BaseTime>(t)) return t.cast<BaseTime>();
  return BaseTime(py::cast<Float64>(t));
}

// An evaluation time: a BaseTime as it is; seconds rounded to the microsecond (finer than the
// millisecond of key times, for sampling between keys).
BaseTime EvalTime(Float64 seconds) { return BaseTime(std::floor(seconds * 1e6 + 0.5), 1e6); }

BaseTime ToEvalTime(py::handle t) {
  if (py::isinstance<BaseTime>(t)) return t.cast<BaseTime>();
  return EvalTime(py::cast<Float64>(t));
}

using TimeArray = py::array_t<Float64, py::array::c_style | py::array::forcecast>;

py::array_t<Float64> ValuesAt(const CCurve& c, const TimeArray& times) {
  py::array_t<Float64> out(std::vector<py::ssize_t>(times.shape(), times.shape() + times.ndim()));
  const Float64* in = times.data();
  Float64* values = out.mutable_data();
  const py::ssize_t n = times.size();
  py::gil_scoped_release unlocked;
  for (py::ssize_t i = 0; i < n; ++i) values[i] = c.GetValue(EvalTime(in[i]));
  return out;
}

// The C++ path of bench/python_animation_bench.py: the same evaluations in a plain loop, timed
// inside. Seconds.
double ValuesAtCpp(const CCurve& c, const TimeArray& times) {
  const Float64* in = times.data();
  const py::ssize_t n = times.size();
  std::vector<Float64> values(static_cast<size_t>(n));
  const auto start = std::chrono::steady_clock::now();
  for (py::ssize_t i = 0; i < n; ++i) values[size_t(i)] = c.GetValue(EvalTime(in[i]));
  const auto end = std::chrono::steady_clock::now();
  volatile Float64 sink = n > 0 ? values[size_t(n - 1)] : 0.0;
  (void)sink;
  return std::chrono::duration<double>(end - start).count();
}

py::list SampleTimes(const CCurve& c, Float64 tolerance) {
  if (!(tolerance > 0.0)) throw py::value_error("the tolerance must be positive");
  BaseArray<BaseTime> times;
  if (!SampleCurve(&c, tolerance, times))
    throw py::value_error("the curve needs more than 2**24 times at that tolerance, or memory ran out");
  py::list out;
  for (const BaseTime& t : times) out.append(t);
  return out;
}

bool CurvesArePartsOfTracks(GeListNode* node) {
  auto* curve = dynamic_cast<CCurve*>(node);
  return curve != nullptr && curve->GetTrack() != nullptr;
}

// A curve's keys, and the lists a curve holds as any named node does (its tracks ...).
void VisitCurve(CCurve* curve, ListVisitor visit) {
  if (curve == nullptr) return;
  visit(curve->GetKeyList());
  for (Int32 i = 0; i < ATTACHEDLIST_COUNT; ++i)
    visit(curve->GetAttachedList(ATTACHEDLIST(i), false));
}

// Tracks take nothing through the generic insertions: insert_track keeps their order.
void VisitKeyLists(GeListNode* node, ListVisitor visit) {
  auto* track = dynamic_cast<CTrack*>(node);
  if (track == nullptr) return;
  VisitCurve(track->GetCurve(CCURVE_CURVE, false), visit);
  for (Int32 w = CCURVE_FURTHER_FIRST; w <= CCURVE_FURTHER_LAST; ++w)
    VisitCurve(track->GetCurve(CCURVE(w), false), visit);
}

BaseList2D* TrackOwner(const CTrack& track) {
  auto* list = dynamic_cast<RootCTrack*>(track.GetListHead());
  return list != nullptr ? list->OwnerNode() : nullptr;
}

py::list Tracks(BaseList2D& node) {
  py::list out;
  for (CTrack* t = node.GetFirstCTrack(); t != nullptr; t = t->GetNext())
    out.append(py::cast(t, py::return_value_policy::reference));
  return out;
}

void InsertTrack(BaseList2D& node, CTrack& track) {
  if (!node.InsertTrackSorted(&track)) {
    if (track.IsInList())
      throw py::value_error("the track is in a list already: remove() it first");
    if (node.GetAttachedList(ATTACHEDLIST_TRACKS, false) == nullptr) throw std::bad_alloc();
    throw py::value_error("a track cannot go into its own track list or one beneath it");
  }
  track.SetObject(&node);
}

CTrack* MakeTrack(BaseList2D& node, py::handle id, py::handle name) {
  CTrack* track = CTrack::Alloc(&node, ToDescID(id), name.is_none() ? String() : ToString(name));
  if (track == nullptr) throw std::bad_alloc();
  if (!node.InsertTrackSorted(track)) {
    CTrack::Free(track);
    throw std::bad_alloc();
  }
  track->SetObject(&node);
  return track;
}

py::object KeyOut(CKey* key, py::handle curve) {
  return py::cast(key, py::return_value_policy::reference_internal, curve);
}

CKey* CheckedKey(CCurve& c, Int32 i) {
  const Int32 n = c.GetKeyCount();
  if (i < -n || i >= n) throw py::index_error("no key at that position");
  return c.GetKey(i < 0 ? i + n : i);
}

void BindAnimation(py::module_& m) {
  py::class_<CTrack, NodeHolder<CTrack>, BaseList2D>(
      m, "CTrack", "The animation of one parameter of a node: node.make_track(id, name).")
      .def_property_readonly("description_id", [](const CTrack& t) { return DescID(t.GetDescriptionID()); })
      .def_property_readonly("kind", [](const CTrack& t) { return Int32(t.GetTrackKind()); })
      .def_property_readonly("disk_type", &CTrack::GetDiskType)
      .def_property("synchronized", &CTrack::IsSynchronized, &CTrack::SetSynchronized)
      .def_property_readonly("object", &TrackOwner, py::return_value_policy::reference,
                             "The node whose track list holds the track, or None.")
      .def_property_readonly(
          "curve", [](CTrack& t) { return t.GetCurve(CCURVE_CURVE, false); },
          py::return_value_policy::reference_internal, "The main curve.")
      .def(
          "get_curve",
          [](CTrack& t, Int32 which, bool create) {
            CCurve* c = t.GetCurve(CCURVE(which), create);
            if (c == nullptr && create) throw std::bad_alloc();
            return c;
          },
          py::arg("which") = 0, py::arg("create") = false,
          py::return_value_policy::reference_internal,
          "Curve 0/1 (the main one) or a further curve 2-10 (None unless it exists or create).")
      .def(
          "value_at", [](const CTrack& t, py::handle time) { return t.GetValue(ToEvalTime(time)); },
          py::arg("time"), "The main curve's value at the time (BaseTime, or seconds).");

  py::class_<CCurve, NodeHolder<CCurve>, BaseList2D>(m, "CCurve",
                                                     "The keys of one curve of a track, by time.")
      .def("__len__", &CCurve::GetKeyCount)
      .def_property_readonly("key_count", &CCurve::GetKeyCount)
      .def("__getitem__",
           [](py::object self, Int32 i) { return KeyOut(CheckedKey(self.cast<CCurve&>(), i), self); })
      .def_property_readonly("keys",
                             [](py::object self) {
                               CCurve& c = self.cast<CCurve&>();
                               py::list out;
                               for (Int32 i = 0; i < c.GetKeyCount(); ++i)
                                 out.append(KeyOut(c.GetKey(i), self));
                               return out;
                             })
      .def_property_readonly(
          "track", [](CCurve& c) { return c.GetTrack(); }, py::return_value_policy::reference)
      .def(
          "add_key",
          [](py::object self, py::handle t) {
            CKey* key = self.cast<CCurve&>().AddKey(ToTime(t));
            if (key == nullptr) throw py::value_error("keys lie within 10000 s of 0");
            return KeyOut(key, self);
          },
          py::arg("time"), "A new key at the time (seconds or BaseTime), or the key already there.")
      .def(
          "find_key",
          [](py::object self, py::handle t, Int32 mode) -> py::object {
            if (mode < FINDANIM_EXACT || mode > FINDANIM_RIGHT)
              throw py::value_error("mode is FINDANIM_EXACT, _LEFT or _RIGHT");
            CKey* key = self.cast<CCurve&>().FindKey(ToTime(t), nullptr, FINDANIM(mode));
            return key != nullptr ? KeyOut(key, self) : py::none();
          },
          py::arg("time"), py::arg("mode") = 0)
      .def(
          "del_key",
          [](CCurve& c, Int32 i) {
            CKey* key = CheckedKey(c, i);
            if (IsWrapped(key))
              throw py::value_error("Python holds that key: let it go before deleting it");
            c.DelKey(i < 0 ? i + c.GetKeyCount() : i);
          },
          py::arg("index"))
      .def(
          "value_at", [](const CCurve& c, py::handle t) { return c.GetValue(ToEvalTime(t)); },
          py::arg("time"),
          "The curve's value at the time (BaseTime, or seconds rounded to the microsecond).")
      .def("values_at", &ValuesAt, py::arg("times"),
           "The values at an array of times in seconds, as an array of the same shape.")
      .def(
          "data_at",
          [](const CCurve& c, py::handle t) { return GeDataToPython(c.GetGeData(ToEvalTime(t))); },
          py::arg("time"), "The data of a data track's curve at the time.")
      .def("sample", &SampleTimes, py::arg("tolerance"),
           "Times (BaseTime) at which straight lines between the curve's values stay within "
           "tolerance of it.");

  py::class_<CKey, NodeHolder<CKey>, BaseList2D>(m, "CKey", "A key: time, value, tangents.")
      .def(
          "remove",
          [](CKey& k) {
            // The curve indexes its keys beside its list: a key leaves both or neither.
            if (k.GetCurve() != nullptr || k.GetListHead() != nullptr)
              throw py::type_error("a key leaves its curve through CCurve.del_key");
          },
          "Keys leave their curve through CCurve.del_key only.")
      .def_property_readonly("time", [](const CKey& k) { return k.GetTime(); })
      .def_property(
          "value", &CKey::GetValue, [](CKey& k, Float v) { k.SetValue(k.GetCurve(), v); })
      .def_property(
          "value_left", &CKey::GetValueLeft,
          [](CKey& k, Float v) { k.SetValueLeft(k.GetCurve(), v); })
      .def_property(
          "value_right", &CKey::GetValueRight,
          [](CKey& k, Float v) { k.SetValueRight(k.GetCurve(), v); })
      .def_property(
          "time_left", [](const CKey& k) { return k.GetTimeLeft(); },
          [](CKey& k, py::handle t) { k.SetTimeLeft(k.GetCurve(), ToTime(t)); })
      .def_property(
          "time_right", [](const CKey& k) { return k.GetTimeRight(); },
          [](CKey& k, py::handle t) { k.SetTimeRight(k.GetCurve(), ToTime(t)); })
      .def_property(
          "interpolation", [](const CKey& k) { return Int32(k.GetInterpolation()); },
          [](CKey& k, Int32 v) {
            if (v < CINTERPOLATION_SPLINE || v > CINTERPOLATION_STEP)
              throw py::value_error("interpolation is CINTERPOLATION_SPLINE, _LINEAR or _STEP");
            k.SetInterpolation(k.GetCurve(), CINTERPOLATION(v));
          })
      .def_property(
          "data", [](const CKey& k) { return GeDataToPython(k.GetGeData()); },
          [](CKey& k, py::handle v) { k.SetGeData(k.GetCurve(), PythonToGeData(v)); },
          "The value of a key of a data track.");

  py::class_<BaseList2D, NodeHolder<BaseList2D>, GeListNode> named = m.attr("BaseList2D");
  named.def_property_readonly("tracks", &Tracks, "The node's tracks, in list order.")
      .def("make_track", &MakeTrack, py::arg("id"), py::arg("name") = py::none(),
           py::return_value_policy::reference,
           "A new track animating parameter id of the node, in the node's track list.")
      .def("insert_track", &InsertTrack, py::arg("track"),
           "Puts a track that is in no list into the node's track list, in its order.")
      .def(
          "find_track", [](BaseList2D& n, py::handle id) { return n.FindCTrack(ToDescID(id)); },
          py::arg("id"), py::return_value_policy::reference,
          "The first track whose id begins with id, or None.");

  py::class_<BaseObject, NodeHolder<BaseObject>, BaseList2D> object = m.attr("BaseObject");
  object.def(
      "ml_at",
      [](const BaseObject& o, py::handle t) {
        return MatrixToArray(GetAnimatedMl(&o, ToEvalTime(t)));
      },
      py::arg("time"),
      "The local matrix at the time from the position, rotation and scale tracks, as a 4 x 4 "
      "array like ml; the object is not changed.");
  m.def("_values_at_cpp", &ValuesAtCpp,
        "For bench/python_animation_bench.py: the C++ loop of values_at, in seconds.");

  m.attr("CINTERPOLATION_SPLINE") = Int32(CINTERPOLATION_SPLINE);
  m.attr("CINTERPOLATION_LINEAR") = Int32(CINTERPOLATION_LINEAR);
  m.attr("CINTERPOLATION_STEP") = Int32(CINTERPOLATION_STEP);
  m.attr("FINDANIM_EXACT") = Int32(FINDANIM_EXACT);
  m.attr("FINDANIM_LEFT") = Int32(FINDANIM_LEFT);
  m.attr("FINDANIM_RIGHT") = Int32(FINDANIM_RIGHT);
}

}  // namespace

void RegisterAnimation(py::module_& m) {
  AddPartRule(&CurvesArePartsOfTracks);
  AddNodeListWalker(&VisitKeyLists);
  AddNodeClass<CTrack>();
  AddNodeClass<CCurve>();
  AddNodeClass<CKey>();
  BindAnimation(m);
}

}  // namespace lumpy
