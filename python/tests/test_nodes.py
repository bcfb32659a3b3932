"""Nodes: hierarchy, the insertion checks, the ownership rule, and lists written and read back
byte for byte."""
import gc
import struct

import numpy as np
import pytest

import lumora
from conftest import PLUGIN_TYPE, mask_identities, node


def names(nodes):
    return [n.name for n in nodes]


def build_tree():
    lst = lumora.RootPluginNode()
    a, b, c, d = node("a"), node("b"), node("c"), node("d")
    lst.append(a)
    lst.append(b)
    c.insert_under(a)
    d.insert_under_last(a)
    a.data[10] = 42
    a.data[11] = "text"
    a.data[12] = d  # a link
    b.link = c
    a.bits = 3
    a.change_nbit(70, lumora.NBITCONTROL_SET)
    return lst


def test_hierarchy_walks_both_ways():
    lst = build_tree()
    a, b = lst
    assert names(lst) == ["a", "b"] and len(lst) == 2
    assert names(a.children) == ["c", "d"] and names(a) == ["c", "d"]
    c, d = a.children
    assert c.parent is a and d.pred is c and c.next is d and a.down is c
    assert a.parent is None and a.next is b and lst[-1] is b and lst.first is a
    e = node("e")
    e.insert_before(d)
    f = node("f")
    f.insert_after(b)
    assert names(a.children) == ["c", "e", "d"] and names(lst) == ["a", "b", "f"]
    e.remove()
    assert not e.in_list and names(a.children) == ["c", "d"]
    lst.insert(e, None)
    assert names(lst) == ["e", "a", "b", "f"]


def test_insertions_that_would_break_the_tree_are_refused():
    lst = build_tree()
    a = lst[0]
    c = a.children[0]
    with pytest.raises(ValueError):
        c.insert_under(lst[1])  # in a list already
    loose = node("x")
    with pytest.raises(ValueError):
        loose.insert_before(node("y"))  # beside a node in no list
    a.remove()
    with pytest.raises(ValueError):
        a.insert_under(c)  # beneath itself
    with pytest.raises(TypeError):
        lumora.BaseList2D().insert_under(a)  # a plug-in node's children are plug-in nodes
    with pytest.raises(TypeError):
        lst.append(lumora.BaseList2D())
    with pytest.raises(TypeError):
        node("z").insert_under(lumora.BaseList2D())  # no children


def test_python_keeps_what_it_holds_when_the_tree_goes():
    lst = build_tree()
    a = lst[0]
    c, d = a.children
    del lst, a
    gc.collect()
    # The tree is gone; c and d, held by Python, were taken out of it first.
    assert not c.in_list and c.parent is None and c.name == "c"
    assert d.name == "d" and d.data is not None
    # A node whose wrapper goes while it sits in a tree is the tree's.
    parent = node("p")
    node("kid").insert_under(parent)
    gc.collect()
    assert names(parent.children) == ["kid"]
    # A container handed out keeps its node alive.
    data = node("q").data
    data[1] = 5
    gc.collect()
    assert data[1] == 5


def test_lists_read_back_and_write_the_same_bytes(path, tmp_path):
    lst = build_tree()
    with lumora.HyperFile(path, "w") as hf:
        lst.write(hf)
    first = path.read_bytes()
    with lumora.HyperFile(path) as hf:
        back = lumora.RootPluginNode.read(hf)
    a, b = back
    c, d = a.children
    assert names(back) == ["a", "b"] and names(a.children) == ["c", "d"]
    assert a.type == PLUGIN_TYPE and a.slot_count == 1
    assert a.data[10] == 42 and a.data[11] == "text"
    assert a.data[12] is d and b.link is c  # links reconnected
    assert a.bits == 3 and a.get_nbit(70)
    again = tmp_path / "again.lum"
    with lumora.HyperFile(again, "w") as hf:
        back.write(hf)
    assert mask_identities(again.read_bytes()) == mask_identities(first)

    copy = a.copy()
    assert names(copy.children) == ["c", "d"] and not copy.in_list


def test_single_nodes_read_back(path):
    n = node("solo")
    n.data[1] = (1.0, 2.0, 3.0)
    with lumora.HyperFile(path, "w") as hf:
        n.write(hf)
    with lumora.HyperFile(path) as hf:
        back = lumora.PluginNode.read(hf)
    assert back.name == "solo" and back.data[1] == (1.0, 2.0, 3.0)


def test_damaged_lists_raise_file_errors(path):
    lst = build_tree()
    with lumora.HyperFile(path, "w") as hf:
        hf.write_int32(9)
        lst.write(hf)
    data = path.read_bytes()
    for n in range(5, len(data), 7):
        path.write_bytes(data[:n])
        with lumora.HyperFile(path) as hf:
            hf.read_int32()
            with pytest.raises(lumora.FileError) as e:
                lumora.RootPluginNode.read(hf)
            # The offset is where the stream stopped: inside the list, within the bytes left.
            assert e.value.code != lumora.FILEERROR_NONE and 5 <= e.value.offset <= n


def build_scene():
    import numpy as np
    lst = lumora.RootObject()
    m = lumora.PolygonObject()
    lst.append(m)
    m.set_geometry(np.arange(12.0).reshape(4, 3), np.array([[0, 1, 2, 3]], np.int32))
    m.make_tag(lumora.TAG_UVW).uvw = np.full((1, 4, 3), 0.25)
    m.make_tag(lumora.TAG_POLYGONSELECTION).selected = [0]
    m.make_track(lumora.DescID((903, 23, 0), (1000, 19, 0)), "x").curve.add_key(1.0).value = 2.0
    lumora.BaseObject.alloc(5102).insert_under(m)
    return lst


def touch(node):
    """Reads what a node read from damaged bytes offers: geometry, tags, tracks, keys."""
    for o in node:
        if isinstance(o, lumora.PolygonObject):
            o.points, o.polygons
        for t in getattr(o, "tags", []):
            t.name
        for t in o.tracks:
            [k.value for k in t.curve.keys]
        touch(o.children)


@pytest.mark.parametrize("build,read", [(build_tree, lumora.RootPluginNode.read),
                                        (build_scene, lumora.RootObject.read)])
def test_mutated_lists_read_or_fail_cleanly(build, read, path):
    """Bytes of a written list changed at random: the read succeeds or raises FileError, and
    what it gives can be walked and written again."""
    import random
    lst = build()
    with lumora.HyperFile(path, "w") as hf:
        lst.write(hf)
    data = path.read_bytes()
    rng = random.Random(11)
    failures = 0
    for _ in range(400):
        mutated = bytearray(data)
        for _ in range(rng.randint(1, 4)):
            mutated[rng.randrange(len(mutated))] = rng.randrange(256)
        path.write_bytes(bytes(mutated))
        try:
            with lumora.HyperFile(path) as hf:
                back = read(hf)
        except lumora.FileError as e:
            assert e.code != lumora.FILEERROR_NONE
            failures += 1
            continue
        touch(back)
        with lumora.HyperFile(path.with_suffix(".again"), "w") as hf:
            back.write(hf)
    assert 0 < failures < 400


POS_X = lumora.DescID((903, 23, 0), (1000, 19, 0))
POS_Y = lumora.DescID((903, 23, 0), (1001, 19, 0))


def track_on_a_curve_outlives_its_node(path):
    o = lumora.BaseObject()
    t = o.make_track(POS_X).curve.make_track(POS_Y)
    del o
    gc.collect()
    assert not t.in_list and t.object is None


def selection_ending_at_the_largest_index(path):
    tag = lumora.BaseTag.alloc(lumora.TAG_POINTSELECTION)
    for i in (2**31 - 1, 2**31 - 2, 3):
        tag.select(i)
    assert list(tag.selected) == [3, 2**31 - 2, 2**31 - 1]


def memory_from_strided_views(path):
    a = np.arange(16, dtype=np.uint8)
    with lumora.HyperFile(path, "w") as hf:
        hf.write_memory(a[::-1])
        hf.write_memory(a[::3])
    with lumora.HyperFile(path, "r") as hf:
        assert hf.read_memory() == bytes(a[::-1])
        assert hf.read_memory() == bytes(a[::3])


def key_beyond_the_window_leaves_its_curve(path):
    lst = lumora.RootObject()
    o = lumora.BaseObject()
    lst.append(o)
    curve = o.make_track(POS_X).curve
    curve.add_key(1).value = 1.0
    curve.add_key(7).value = 7.0
    del curve, o
    lumora.write_objects(path, lst)
    seven = struct.pack(">Bdd", 22, 7.0, 1.0)
    data = path.read_bytes()
    assert data.count(seven) == 1
    path.write_bytes(data.replace(seven, struct.pack(">Bdd", 22, 20000.0, 1.0)))
    back = lumora.read_objects(path)
    curve = back[0].tracks[0].curve
    assert len(curve) == 1  # the index holds keys within 10000 s only
    far = curve[0].next
    assert far.time == lumora.BaseTime(20000)
    del back, curve
    gc.collect()
    far.remove()  # out of the list and of the curve: nothing to refuse
    far.value = 2.0
    assert far.value == 2.0 and not far.in_list


def reading_into_a_list_python_holds_members_of(path):
    lst = lumora.RootPluginNode()
    a = node("a")
    lst.append(a)
    with lumora.HyperFile(path, "w") as hf:
        lst.write(hf)
    with lumora.HyperFile(path, "r") as hf:
        hf._read_object(lst)
    assert a.name == "a" and not a.in_list
    assert [n.name for n in lst] == ["a"] and lst[0] is not a


def track_into_its_own_list(path):
    o = lumora.BaseObject()
    t = o.make_track(POS_X)
    key = t.curve.add_key(1)
    t.remove()
    with pytest.raises(ValueError):
        t.insert_track(t)
    with pytest.raises(ValueError):
        key.insert_track(t)
    o.insert_track(t)
    assert t.object is o


def deep_chain_released_from_python(path):
    bottom = node("bottom")
    top = bottom
    for _ in range(200000):  # built upwards: each parent is new, so no insertion walks the chain
        parent = lumora.PluginNode(PLUGIN_TYPE)
        top.insert_under(parent)
        top = parent
    del parent
    del top  # the release walks all generations down to the one Python still holds
    gc.collect()
    assert bottom.name == "bottom" and not bottom.in_list


@pytest.mark.parametrize("misuse", [
    track_on_a_curve_outlives_its_node,
    selection_ending_at_the_largest_index,
    memory_from_strided_views,
    key_beyond_the_window_leaves_its_curve,
    reading_into_a_list_python_holds_members_of,
    track_into_its_own_list,
    deep_chain_released_from_python,
])
def test_misuse_that_crashed_is_refused_or_sound(misuse, path):
    misuse(path)
