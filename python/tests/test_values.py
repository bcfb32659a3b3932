"""GeData, BaseContainer and DescID: Python values of every kind, the mapping protocol, and the
round trip of each through a file."""
import pathlib

import numpy as np
import pytest

import lumora

# (Python value, kind stored, value read back)
VALUES = [
    (None, lumora.VALUETYPE_NIL, None),
    (True, lumora.VALUETYPE_INT32, 1),
    (-7, lumora.VALUETYPE_INT32, -7),
    (2**40, lumora.VALUETYPE_INT64, 2**40),
    (0.25, lumora.VALUETYPE_FLOAT, 0.25),
    (lumora.BaseTime(1, 25), lumora.VALUETYPE_TIME, lumora.BaseTime(1, 25)),
    ((1, 2, 3), lumora.VALUETYPE_VECTOR, (1.0, 2.0, 3.0)),
    (np.array([1.0, 2.0, 3.0]), lumora.VALUETYPE_VECTOR, (1.0, 2.0, 3.0)),
    (np.eye(4, 3), lumora.VALUETYPE_MATRIX,
     ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0), (0.0, 0.0, 0.0))),
    ("text \u00e9", lumora.VALUETYPE_STRING, "text \u00e9"),
    (pathlib.Path("/tmp/x.tif"), lumora.VALUETYPE_FILENAME, pathlib.PurePosixPath("/tmp/x.tif")),
    (b"\x00\x01\xff", lumora.VALUETYPE_BYTEARRAY, b"\x00\x01\xff"),
    (lumora.BaseContainer({1: 2}, id=5), lumora.VALUETYPE_CONTAINER, lumora.BaseContainer({1: 2}, id=5)),
    (lumora.DescID(1, (2, 5, 0)), lumora.CUSTOMDATATYPE_DESCID, lumora.DescID(1, (2, 5, 0))),
]


@pytest.mark.parametrize("value,kind,back", VALUES, ids=[str(k) + "-" + str(i) for i, (_, k, _) in enumerate(VALUES)])
def test_values_keep_their_kind_in_memory_and_in_files(path, value, kind, back):
    d = lumora.GeData(value)
    assert d.type == kind
    assert d.value == back
    bc = lumora.BaseContainer()
    bc[10] = value
    assert bc[10] == back
    with lumora.HyperFile(path, "w") as hf:
        hf.write_gedata(d)
        hf.write_container(bc)
    with lumora.HyperFile(path) as hf:
        assert hf.read_gedata() == back
        assert hf.read_container()[10] == back


def test_explicit_kinds_and_refusals():
    assert lumora.GeData(5, lumora.VALUETYPE_INT64).type == lumora.VALUETYPE_INT64
    assert lumora.GeData(5, lumora.VALUETYPE_FLOAT).value == 5.0
    with pytest.raises(TypeError):
        lumora.GeData("x", lumora.VALUETYPE_VECTOR)
    with pytest.raises(TypeError):
        lumora.GeData(object())
    with pytest.raises(TypeError):
        lumora.GeData((1, 2))
    assert lumora.GeData(1) == lumora.GeData(1.0)  # int32 and float compare across kinds
    assert lumora.GeData() != lumora.GeData()  # nil equals nothing


def test_container_is_a_mapping():
    bc = lumora.BaseContainer(id=3)
    for i, v in [(5, "a"), (1, 2.5), (9, (0, 0, 1))]:
        bc[i] = v
    assert len(bc) == 3 and list(bc) == [5, 1, 9] and bc.keys() == [5, 1, 9]
    assert 1 in bc and 2 not in bc
    assert bc.items() == [(5, "a"), (1, 2.5), (9, (0.0, 0.0, 1.0))]
    assert bc.get(2, "dflt") == "dflt" and bc.get(2) is None
    with pytest.raises(KeyError):
        bc[2]
    with pytest.raises(KeyError):
        del bc[2]
    del bc[5]
    assert list(bc) == [1, 9]
    bc[1] = 7  # a float entry keeps its kind
    assert bc[1] == 7.0 and isinstance(bc[1], float)
    bc.ins_data(1, "again")  # a second entry with the same id
    assert len(bc) == 3 and bc[1] == 7.0
    copy = bc.copy()
    assert copy == bc and copy.id == 3
    copy[1] = 8.0
    assert copy != bc


def test_nested_containers_are_copies_and_parameters_walk_them():
    outer = lumora.BaseContainer()
    outer[1] = lumora.BaseContainer({2: 1})
    inner = outer[1]
    inner[2] = 99  # a copy: the stored one keeps its value
    assert outer[1][2] == 1
    outer[1] = inner
    assert outer[1][2] == 99
    outer.set_parameter(lumora.DescID((1, 5, 0), 3), "deep")
    assert outer.get_parameter(lumora.DescID((1, 5, 0), 3)) == "deep"
    outer[4] = (1.0, 2.0, 3.0)
    assert outer.get_parameter(lumora.DescID((4, 23, 0), 1001)) == 2.0


def test_descid_levels_and_equality():
    d = lumora.DescID(5, lumora.DescLevel(6, 23, 100), (0, 0, 0), 7)
    assert len(d) == 4 and d.depth == 2
    assert d[1] == lumora.DescLevel(6, 23, 100) and d[-1].id == 7
    assert d == lumora.DescID(5, 6)  # type and creator 0 are wildcards
    assert lumora.DescID(5) != lumora.DescID(5, 10)
    with pytest.raises(IndexError):
        d[4]
    d.push_id(8)
    assert len(d) == 5


def test_custom_values_without_a_class_survive_items_and_a_file(path):
    path.write_bytes(bytes.fromhex("0f0012d687 01 00000000 00000000 13 3ff0000000000000 02"))
    with lumora.HyperFile(path) as hf:
        d = hf.read_gedata()
    assert isinstance(d, lumora.GeData) and d.type == lumora.VALUETYPE_UNKNOWNCUSTOM
    assert d.value is None and "1234567" in repr(d)
    bc = lumora.BaseContainer()
    bc[4] = d
    rebuilt = lumora.BaseContainer(dict(bc.items()))
    with lumora.HyperFile(path, "w") as hf:
        hf.write_container(rebuilt)
    with lumora.HyperFile(path) as hf:
        back = hf.read_container()[4]
    assert back.type == lumora.VALUETYPE_UNKNOWNCUSTOM and repr(back) == repr(d)
