"""Tracks, curves and keys: built from Python, through a file and back, and the ownership of
curves and keys Python holds."""
import gc

import numpy as np
import pytest

import lumora
from conftest import mask_identities

POS_X = lumora.DescID((903, 23, 0), (1000, 19, 0))
POS_Y = lumora.DescID((903, 23, 0), (1001, 19, 0))


def animated(rows):
    lst = lumora.RootObject()
    o = lumora.BaseObject()
    o.name = "cube"
    lst.append(o)
    for id, name, keys in rows:
        curve = o.make_track(id, name).curve
        for time, value, interpolation in keys:
            k = curve.add_key(time)
            k.value = value
            k.interpolation = interpolation
    return lst


S, L, T = lumora.CINTERPOLATION_SPLINE, lumora.CINTERPOLATION_LINEAR, lumora.CINTERPOLATION_STEP
CASES = [
    [(POS_X, "Position . X", [(0, 0.0, S), (1, 300.0, L), (2, 0.0, T)])],
    [(POS_Y, "Position . Y", [(lumora.BaseTime(1, 2), 0.0, S), (1.5, 150.0, S)]),
     (POS_X, "Position . X", [(-3, -1e6, L)])],
    [(POS_X, "", [(t / 30, t * 0.5, L) for t in range(300)])],
    [(POS_X, "empty", [])],
]


@pytest.mark.parametrize("rows", CASES)
def test_tracks_round_trip(rows, path, tmp_path):
    lst = animated(rows)
    lumora.write_objects(path, lst)
    back = lumora.read_objects(path)
    tracks = back[0].tracks
    by_id = sorted(rows, key=lambda r: r[1])  # X sorts before Y by id and by name
    assert [t.name for t in tracks] == [r[1] for r in by_id]
    for track, (id, name, keys) in zip(tracks, by_id):
        assert track.description_id == id and track.object is back[0]
        got = [(k.time, k.value, k.interpolation) for k in track.curve.keys]
        want = sorted(((t if isinstance(t, lumora.BaseTime) else lumora.BaseTime(t), v, i)
                       for t, v, i in keys), key=lambda r: r[0].get())
        assert got == want
    assert back[0].find_track(POS_X) is not None
    again = tmp_path / "again.lum"
    lumora.write_objects(again, back)
    assert mask_identities(again.read_bytes()) == mask_identities(path.read_bytes())


def test_keys_and_curves_python_holds_outlive_their_scene():
    lst = animated(CASES[0])
    curve = lst[0].tracks[0].curve
    key = curve[1]
    assert curve.find_key(1.2, lumora.FINDANIM_LEFT) is key
    assert curve.find_key(1.2) is None
    with pytest.raises(ValueError):
        curve.del_key(1)  # Python holds it
    with pytest.raises(TypeError):
        key.remove()  # would leave the curve's index pointing at it
    curve.del_key(0)
    assert [k.value for k in curve.keys] == [300.0, 0.0]
    del lst, curve
    gc.collect()
    # The key keeps its curve, the curve its track; the scene is gone.
    assert key.value == 300.0 and key.in_list
    assert key.time == lumora.BaseTime(1)
    with pytest.raises(ValueError):
        lumora.BaseObject().make_track(POS_X).curve.add_key(20000)
    with pytest.raises(IndexError):
        lumora.BaseObject().make_track(POS_X).curve[0]


def test_tracks_move_between_nodes():
    a, b = lumora.BaseObject(), lumora.BaseObject()
    t = a.make_track(POS_X, "x")
    with pytest.raises(ValueError):
        b.insert_track(t)  # still a's
    t.remove()
    b.insert_track(t)
    assert a.tracks == [] and b.tracks == [t] and t.object is b
    with pytest.raises(TypeError):
        lumora.BaseObject().insert_under(t)


def test_evaluation_at_times():
    o = lumora.BaseObject()
    o.rel_pos = (0.0, 7.0, 0.0)
    o.rel_rot = (0.5, 0.0, 0.0)
    curve = o.make_track(POS_X, "x").curve
    for t, v, i in [(0, 0.0, L), (1, 10.0, T), (2, 4.0, S)]:
        k = curve.add_key(t)
        k.value, k.interpolation = v, i
    track = o.tracks[0]
    assert curve.value_at(0.25) == pytest.approx(2.5)
    assert curve.value_at(lumora.BaseTime(3, 2)) == track.value_at(1.5) == 10.0
    times = np.array([[-1.0, 0.25], [1.0, 0.999999]])
    values = curve.values_at(times)
    assert values.shape == (2, 2)
    assert values.tolist() == [[curve.value_at(t) for t in row] for row in times.tolist()]
    assert values[1, 1] == pytest.approx(9.99999)  # between keys, to the microsecond
    # The step to 4 at 2 s needs a sample a microsecond before it.
    assert curve.sample(0.01) == [lumora.BaseTime(0), lumora.BaseTime(1),
                                  lumora.BaseTime(1999999, 1000000), lumora.BaseTime(2)]
    # The animated matrix is the matrix of the values set by hand; y and the rotation stay.
    ml = o.ml_at(0.5)
    assert o.rel_pos == (0.0, 7.0, 0.0)
    o.rel_pos = (5.0, 7.0, 0.0)
    assert np.array_equal(ml, o.ml)
