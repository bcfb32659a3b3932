"""Objects and tags: transforms, hierarchy, geometry and tag arrays through numpy, the tags that
may occur only once, and object lists written to files and read back byte for byte."""
import gc
import math

import numpy as np
import pytest

import lumora
from conftest import mask_identities


def mesh(points=8, seed=3):
    m = lumora.PolygonObject()
    m.name = "mesh"
    rng = np.random.default_rng(seed)
    m.points = rng.random((points, 3)) * 100 - 50
    m.polygons = rng.integers(0, points, size=(points // 2, 4), dtype=np.int32)
    return m


def round_trip(objects, path):
    lumora.write_objects(path, objects)
    return lumora.read_objects(path)


def scene():
    lst = lumora.RootObject()
    root = lumora.BaseObject()
    root.name = "root"
    lst.append(root)
    m = mesh()
    m.insert_under(root)
    cam = lumora.BaseObject.alloc(5103)
    cam.name = "camera"
    lst.append(cam)
    return lst


TRANSFORMS = [
    ("rel_pos", (1.0, -2.0, 3.5)),
    ("rel_rot", (0.1, 0.2, 0.3)),
    ("rel_scale", (2.0, 1.0, 0.5)),
    ("frozen_pos", (5.0, 0.0, -5.0)),
    ("frozen_scale", (1.0, 3.0, 1.0)),
    ("rotation_order", lumora.ROTATIONORDER_YZX),
]


@pytest.mark.parametrize("attr,value", TRANSFORMS)
def test_transforms_set_and_survive_a_file(attr, value, path):
    lst = lumora.RootObject()
    o = lumora.BaseObject()
    lst.append(o)
    setattr(o, attr, value)
    assert getattr(o, attr) == pytest.approx(value)
    back = round_trip(lst, path)[0]
    assert getattr(back, attr) == pytest.approx(value)
    assert np.allclose(back.mg, o.mg, atol=1e-12)


def test_matrices_in_each_form_place_the_object():
    parent, child = lumora.BaseObject(), lumora.BaseObject()
    child.insert_under(parent)
    parent.rel_pos = (10.0, 0.0, 0.0)
    c, s = math.cos(0.5), math.sin(0.5)
    hom = np.array([[c, 0, s, 1], [0, 1, 0, 2], [-s, 0, c, 3], [0, 0, 0, 1]])
    forms = [hom, hom[:3], ((1, 2, 3), (c, 0, -s), (0, 1, 0), (s, 0, c))]
    for form in forms:
        child.ml = form
        assert np.allclose(child.ml, hom, atol=1e-12)
        assert np.allclose(child.mg[:3, 3], [11, 2, 3])
    child.mg = hom
    assert np.allclose(child.ml[:3, 3], [-9, 2, 3]) and np.allclose(child.mg, hom)
    for bad in (np.zeros((2, 4)), np.eye(4) * 2, "matrix"):
        with pytest.raises((ValueError, TypeError)):
            child.ml = bad


def test_million_point_mesh_round_trips(path):
    n = 1_000_000
    rng = np.random.default_rng(7)
    points = rng.random((n, 3))
    polygons = rng.integers(0, n, size=(n // 2, 4), dtype=np.int32)
    lst = lumora.RootObject()
    m = lumora.PolygonObject()
    lst.append(m)
    m.set_geometry(points, polygons)
    back = round_trip(lst, path)[0]
    assert isinstance(back, lumora.PolygonObject)
    assert np.array_equal(back.points, points) and np.array_equal(back.polygons, polygons)
    # Fewer points than the polygons name are refused, and the mesh stays whole.
    with pytest.raises(ValueError, match="names point"):
        m.points = points[:10]
    assert m.point_count == n and m.polygon_count == n // 2


@pytest.mark.parametrize("attr,value,error", [
    ("points", np.zeros((4, 2)), ValueError),
    ("points", np.zeros(12), ValueError),
    ("polygons", np.zeros((2, 3), dtype=np.int32), ValueError),
    ("polygons", np.array([[0, 1, 2, 8]], dtype=np.int32), ValueError),  # point 8 of 8
    ("polygons", np.array([[0, 1, -1, 2]], dtype=np.int32), ValueError),
    ("points", [["a", "b", "c"]], TypeError),
])
def test_bad_geometry_is_refused_and_changes_nothing(attr, value, error):
    m = mesh()
    before = (m.points.copy(), m.polygons.copy())
    with pytest.raises(error):
        setattr(m, attr, value)
    assert np.array_equal(m.points, before[0]) and np.array_equal(m.polygons, before[1])


def test_hierarchy_takes_objects_only():
    lst = scene()
    root, cam = lst
    assert [c.name for c in root.children] == ["mesh"] and root.children[0].parent is root
    with pytest.raises(TypeError):
        lumora.PluginNode(465001514).insert_under(root)
    with pytest.raises(TypeError):
        lumora.BaseObject().insert_under(lumora.PluginNode(465001514))
    with pytest.raises(TypeError):
        lst.append(lumora.BaseTag.alloc(lumora.TAG_DISPLAY))
    loose = lumora.BaseObject()
    loose.insert_after(root)
    assert [o.name for o in lst][:2] == ["root", ""]


# One row per tag kind: its type, the attribute, a value set and what reads back (after the file
# too); decoded arrays compare within their stored precision.
TAGS = [
    (lumora.TAG_POINT, "points", np.arange(12.0).reshape(4, 3), 0),
    (lumora.TAG_POLYGON, "polygons", np.array([[0, 1, 2, 3], [1, 2, 3, 3]], np.int32), 0),
    (lumora.TAG_UVW, "uvw", np.linspace(0, 1, 24).reshape(2, 4, 3), 1e-4),
    (lumora.TAG_UVW, "words", np.arange(16, dtype=np.uint32).reshape(2, 8) * 2, 0),
    (lumora.TAG_NORMAL, "normals", np.tile([0.0, 0.6, 0.8], 8).reshape(2, 4, 3), 1 / 32000),
    (lumora.TAG_NORMAL, "raw", np.arange(24, dtype=np.int16).reshape(2, 12), 0),
    (lumora.TAG_VERTEXMAP, "weights", np.array([0.0, 0.25, 0.5, 1.0], np.float32), 0),
    (lumora.TAG_POINTSELECTION, "selected", np.array([0, 2, 3, 9], np.int32), 0),
    (lumora.TAG_POLYGONSELECTION, "selected", np.array([1], np.int32), 0),
    (lumora.TAG_EDGESELECTION, "selected", np.array([], np.int32), 0),
]


@pytest.mark.parametrize("kind,attr,value,tolerance", TAGS)
def test_tag_arrays_round_trip(kind, attr, value, tolerance, path, tmp_path):
    lst = lumora.RootObject()
    o = lumora.BaseObject()
    lst.append(o)
    tag = o.make_tag(kind)
    tag.name = "t"  # a texture tag read without a name is named "UVW"
    assert tag.object is o and o.get_tag(kind) is tag and tag.type == kind
    setattr(tag, attr, value)
    assert np.allclose(getattr(tag, attr), value, atol=tolerance)
    first = path
    back = round_trip(lst, first)
    got = back[0].get_tag(kind)
    assert type(got) is type(tag)
    assert np.allclose(getattr(got, attr), value, atol=tolerance)
    again = tmp_path / "again.lum"
    lumora.write_objects(again, back)
    assert mask_identities(again.read_bytes()) == mask_identities(first.read_bytes())


def test_tags_held_by_python_are_spared_when_replaced():
    o = lumora.BaseObject()
    first = o.make_tag(lumora.TAG_DISPLAY)
    second = o.make_tag(lumora.TAG_DISPLAY)  # a display tag occurs once: replaces the first
    assert o.tags == [second] and first.object is None and not first.in_list
    first.name = "still here"
    other = lumora.BaseTag.alloc(lumora.TAG_DISPLAY)
    o.insert_tag(other, second)
    assert o.tags == [other] and second.object is None
    with pytest.raises(ValueError):
        o.insert_tag(other)  # in a list already
    with pytest.raises(ValueError):
        o.insert_tag(lumora.BaseTag.alloc(lumora.TAG_UVW), first)  # pred of no object here
    uvws = [o.make_tag(lumora.TAG_UVW) for _ in range(2)]  # several allowed
    assert len([t for t in o.tags if t.type == lumora.TAG_UVW]) == 2
    # A tag kept while its object goes lives on, out of the list.
    del o
    gc.collect()
    assert uvws[0].object is None and len(uvws[0]) == 0


def test_whole_scene_round_trips_byte_for_byte(path, tmp_path):
    lst = scene()
    m = lst[0].children[0]
    uvw = m.make_tag(lumora.TAG_UVW)
    uvw.uvw = np.full((m.polygon_count, 4, 3), 0.5)
    uvw.name = "UVW"
    m.make_tag(lumora.TAG_PROTECTION)
    back = round_trip(lst, path)
    root, cam = back
    assert root.name == "root" and cam.type == 5103
    got = root.children[0]
    assert np.array_equal(got.points, m.points) and np.array_equal(got.polygons, m.polygons)
    assert [t.type for t in got.tags] == [t.type for t in m.tags]
    again = tmp_path / "again.lum"
    lumora.write_objects(again, back)
    assert mask_identities(again.read_bytes()) == mask_identities(path.read_bytes())


def test_damaged_object_files_raise_file_errors(path, tmp_path):
    lumora.write_objects(path, scene())
    data = path.read_bytes()
    cut = tmp_path / "cut.lum"
    for n in list(range(0, 64, 3)) + list(range(64, len(data), 97)):
        cut.write_bytes(data[:n])
        with pytest.raises(lumora.FileError) as e:
            lumora.read_objects(cut)
        assert e.value.code != lumora.FILEERROR_NONE
    with pytest.raises(lumora.FileError):
        lumora.read_objects(tmp_path / "missing.lum")
