"""HyperFile: every value kind written and read back, chunks as context managers, numpy arrays,
and the errors of bad files raised as FileError with code and offset."""
import math
import pathlib

import numpy as np
import pytest

import lumora

VEC = (1.5, -2.25, 3.0)
MAT = ((1.0, 2.0, 3.0), (1.0, 0.0, 0.0), (0.0, 0.5, 0.0), (0.0, 0.0, 2.0))

# (writer, reader, value written, value expected back)
KINDS = [
    ("uchar", "uchar", 200, 200),
    ("int32", "int32", -2147483648, -2147483648),
    ("uint32", "uint32", 4294967295, 4294967295),
    ("int64", "int64", -(2**63), -(2**63)),
    ("float32", "float32", 0.5, 0.5),
    ("float", "float", math.pi, math.pi),
    ("float", "float", 1e300, 1e300),
    ("float", "float", math.inf, 0.0),  # infinities are stored as 0
    ("bool", "bool", True, True),
    ("time", "time", lumora.BaseTime(5, 30), lumora.BaseTime(1, 6)),
    ("vector", "vector", VEC, VEC),
    ("vector32", "vector32", VEC, VEC),
    ("vector64", "vector64", np.array(VEC), VEC),
    ("matrix", "matrix", MAT, MAT),
    ("matrix", "matrix", np.array(MAT), MAT),
    ("string", "string", "", ""),
    ("string", "string", "Grüße \U0001F600 \ud800", "Grüße \U0001F600 \ud800"),
    ("filename", "filename", pathlib.PurePosixPath("/a/b c.tif"), pathlib.PurePosixPath("/a/b c.tif")),
    ("memory", "memory", b"", b""),
    ("memory", "memory", bytes(range(256)), bytes(range(256))),
]


@pytest.mark.parametrize("byte_order", ["big", "little"])
def test_every_value_kind_reads_back(path, byte_order):
    with lumora.HyperFile(path, "w", byte_order=byte_order) as hf:
        for writer, _, value, _ in KINDS:
            getattr(hf, "write_" + writer)(value)
    with lumora.HyperFile(path, "r", byte_order=byte_order) as hf:
        for writer, reader, _, expected in KINDS:
            assert getattr(hf, "read_" + reader)() == expected, writer
        assert hf.position == hf.length


def test_float32_mode_narrows_floats_and_vectors(path):
    with lumora.HyperFile(path, "w", float32=True) as hf:
        hf.write_float(0.1)
        hf.write_vector((0.1, 0.2, 0.3))
    with lumora.HyperFile(path, "r", float32=True) as hf:
        assert hf.read_float() == float(np.float32(0.1))
        assert hf.read_vector() == tuple(float(np.float32(x)) for x in (0.1, 0.2, 0.3))
    assert path.stat().st_size == (1 + 4) + (1 + 12)


@pytest.mark.parametrize("dtype", [np.int8, np.uint8, np.int16, np.int32, np.int64, np.float32,
                                   np.float64])
def test_typed_arrays_read_back_as_numpy(path, dtype):
    values = (np.arange(1000) * 7 - 3000).astype(dtype)
    with lumora.HyperFile(path, "w") as hf:
        hf.write_array(values)
        hf.write_array(values[::3])  # a strided view is written as its elements
    read_dtype = np.int8 if dtype == np.uint8 else dtype
    with lumora.HyperFile(path) as hf:
        np.testing.assert_array_equal(hf.read_array(read_dtype, 1000), values.astype(read_dtype))
        np.testing.assert_array_equal(hf.read_array(read_dtype, 334), values[::3].astype(read_dtype))


@pytest.mark.parametrize("n", [0, 1, 1000])
def test_vector_arrays_read_back(path, n):
    points = np.arange(3 * n, dtype=np.float64).reshape(n, 3) * 0.5
    with lumora.HyperFile(path, "w") as hf:
        hf.write_vector_array(points)
        hf.write_vector_array(points.astype(np.float32)[::-1])  # converted, reversed view
    with lumora.HyperFile(path) as hf:
        np.testing.assert_array_equal(hf.read_vector_array(), points)
        np.testing.assert_array_equal(hf.read_vector_array(), points[::-1])
        assert hf.position == hf.length
    with lumora.HyperFile(path, "w") as hf:
        with pytest.raises(ValueError):
            hf.write_vector_array(np.zeros((4, 2)))


def test_chunks_nest_and_reading_skips_what_is_left(path):
    with lumora.HyperFile(path, "w") as hf:
        with hf.chunk(1000, level=3):
            hf.write_int32(1)
            with hf.chunk(1001):
                hf.write_string("skipped")
            hf.write_int32(2)
        hf.write_int32(3)
    with lumora.HyperFile(path) as hf:
        with hf.chunk() as c:
            assert (c.id, c.level) == (1000, 3)
            assert hf.read_int32() == 1
            assert hf.chunk_depth == 1
        assert hf.chunk_depth == 0
        assert hf.read_int32() == 3


def test_containers_and_values_read_back(path):
    bc = lumora.BaseContainer({1: 5, 2: "two", 3: VEC, 4: lumora.BaseContainer({9: 1.5}, id=77)}, id=12)
    with lumora.HyperFile(path, "w") as hf:
        hf.write_container(bc)
        hf.write_gedata(lumora.GeData(7, lumora.VALUETYPE_INT64))
        hf.write_gedata(lumora.DescID(5, (6, 23, 0)))
    with lumora.HyperFile(path) as hf:
        assert hf.read_container() == bc
        assert hf.read_gedata() == 7
        assert hf.read_gedata() == lumora.DescID(5, (6, 23, 0))


def write_sample(path):
    with lumora.HyperFile(path, "w") as hf:
        hf.write_int32(1)
        with hf.chunk(5):
            hf.write_string("abc")
        hf.write_container(lumora.BaseContainer({1: "x" * 100}))


def test_errors_carry_the_code_and_the_offset(path):
    write_sample(path)
    with lumora.HyperFile(path) as hf:
        hf.read_int32()
        with pytest.raises(lumora.FileError) as e:
            hf.read_string()  # a chunk comes next
        assert (e.value.code, e.value.name, e.value.offset) == (lumora.FILEERROR_WRONG_VALUE, "WRONG_VALUE", 5)
        assert isinstance(e.value, OSError)
        with pytest.raises(lumora.FileError):  # the stream stays failed
            hf.read_int32()

    data = path.read_bytes()
    path.write_bytes(data[:-10])
    with lumora.HyperFile(path) as hf:
        hf.read_int32()
        with hf.chunk():
            pass
        start = hf.position
        with pytest.raises(lumora.FileError) as e:
            hf.read_container()
        # Where the stream stopped: the value inside the container that the end cut.
        assert e.value.code == lumora.FILEERROR_READ and start < e.value.offset < len(data) - 10
        assert e.value.errno is None

    with pytest.raises(lumora.FileError) as e:
        lumora.HyperFile(path.parent / "missing" / "x.lum", "w")
    assert e.value.code != lumora.FILEERROR_NONE
    with pytest.raises(ValueError):
        lumora.HyperFile(path, "a")
    hf = lumora.HyperFile(path)
    hf.close()
    with pytest.raises(ValueError):
        hf.read_int32()


def test_every_prefix_of_a_file_fails_cleanly(path):
    """Readers meet every truncation of a file and raise FileError, never crash."""
    write_sample(path)
    data = path.read_bytes()
    for n in range(len(data)):
        path.write_bytes(data[:n])
        with lumora.HyperFile(path) as hf:
            with pytest.raises(lumora.FileError):
                hf.read_int32()
                with hf.chunk():
                    pass
                hf.read_container()


def test_random_bytes_never_crash_the_readers(path):
    rng = np.random.default_rng(7)
    readers = ["read_container", "read_gedata", "read_string", "read_memory"]
    for i in range(300):
        data = bytes([0x01, 0, 0, 0, 0x84, 0, 0, 0, 1]) + rng.integers(0, 256, 40, dtype=np.uint8).tobytes()
        path.write_bytes(data if i % 2 else data[8:])
        with lumora.HyperFile(path) as hf:
            try:
                getattr(hf, readers[i % len(readers)])()
            except lumora.FileError as e:
                assert e.code != lumora.FILEERROR_NONE
