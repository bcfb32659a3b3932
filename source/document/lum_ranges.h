// Ranges for range-for over the library's lists:
//
//   for (lumora::BaseObject* child : lumora::Children(object)) ...
//   for (lumora::BaseObject* top : lumora::Objects(scene.GetObjects())) ...
//   for (lumora::BaseTag* tag : lumora::Tags(object)) ...
//   for (lumora::CTrack* track : lumora::Tracks(node)) ...
//   for (lumora::CKey* key : lumora::Keys(curve)) ...
//
// A range reads the next member before it hands out the current one, so the loop body may
// remove (or free) the member it is given; it must not remove the next one. A null list, object
// or curve gives an empty range.
#ifndef LUM_RANGES_H
#define LUM_RANGES_H

#include "animation/lum_ccurve.h"
#include "animation/lum_ctrack.h"
#include "objects/lum_baseobject.h"
#include "objects/lum_basetag.h"

namespace lumora {

// Members of a list linked by GetNext, from first on.
template <typename T>
class NodeRange {
 public:
  class iterator {
   public:
    explicit iterator(T* node) : _node(node), _next(node != nullptr ? Next(node) : nullptr) {}
    T* operator*() const { return _node; }
    iterator& operator++() {
      _node = _next;
      _next = _node != nullptr ? Next(_node) : nullptr;
      return *this;
    }
    bool operator!=(const iterator& other) const { return _node != other._node; }

   private:
    static T* Next(T* node) { return static_cast<T*>(node->GetNext()); }
    T* _node;
    T* _next;
  };

  explicit NodeRange(T* first) : _first(first) {}
  iterator begin() const { return iterator(_first); }
  iterator end() const { return iterator(nullptr); }

 private:
  T* _first;
};

// The keys of a curve in time order, by index: the curve must keep its keys while the loop runs.
class KeyRange {
 public:
  class iterator {
   public:
    iterator(const CCurve* curve, Int32 i) : _curve(curve), _i(i) {}
    CKey* operator*() const { return _curve->GetKey(_i); }
    iterator& operator++() {
      ++_i;
      return *this;
    }
    bool operator!=(const iterator& other) const { return _i != other._i; }

   private:
    const CCurve* _curve;
    Int32 _i;
  };

  explicit KeyRange(const CCurve* curve) : _curve(curve) {}
  iterator begin() const { return iterator(_curve, 0); }
  iterator end() const { return iterator(_curve, _curve != nullptr ? _curve->GetKeyCount() : 0); }

 private:
  const CCurve* _curve;
};

inline NodeRange<BaseObject> Objects(const RootObject* list) {
  return NodeRange<BaseObject>(list != nullptr ? list->GetFirst() : nullptr);
}
inline NodeRange<BaseObject> Children(const BaseObject* object) {
  return NodeRange<BaseObject>(object != nullptr ? object->GetDown() : nullptr);
}
inline NodeRange<BaseTag> Tags(const BaseObject* object) {
  return NodeRange<BaseTag>(object != nullptr ? object->GetFirstTag() : nullptr);
}
inline NodeRange<CTrack> Tracks(const BaseList2D* node) {
  return NodeRange<CTrack>(node != nullptr ? node->GetFirstCTrack() : nullptr);
}
inline KeyRange Keys(const CCurve* curve) { return KeyRange(curve); }

}  // namespace lumora

#endif  // LUM_RANGES_H
