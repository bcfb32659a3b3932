"""The thumbnail as a numpy array, and saved as JPEG exactly as klaymo-thumbnail saves it."""
import os
import subprocess

import numpy as np
import pytest

import lumora


def test_the_picture_is_the_tools_picture(sample, tmp_path):
    pixels = lumora.thumbnail(sample, required=True)
    assert pixels.shape == (96, 96, 3) and pixels.dtype == np.uint8
    assert pixels.std() > 10  # a picture, not a flat fill
    ours = tmp_path / "ours.jpg"
    lumora.save_jpeg(pixels, ours)
    tool = os.environ.get("LUMORA_THUMBNAIL_TOOL")
    if tool is None:
        pytest.skip("LUMORA_THUMBNAIL_TOOL not set")
    theirs = tmp_path / "theirs.jpg"
    subprocess.run([tool, sample, str(theirs)], check=True)
    assert ours.read_bytes() == theirs.read_bytes()


def test_documents_without_a_thumbnail_and_bad_requests(tmp_path):
    empty = tmp_path / "empty.klaymo"
    empty.write_bytes(b"\x00" * 100)
    assert not lumora.thumbnail(empty).any()
    with pytest.raises(ValueError):
        lumora.thumbnail(empty, required=True)
    with pytest.raises(FileNotFoundError):
        lumora.thumbnail(tmp_path / "missing.klaymo")
    with pytest.raises(ValueError):
        lumora.save_jpeg(np.zeros((4, 4)), tmp_path / "x.jpg")
    with pytest.raises(OSError):
        lumora.save_jpeg(np.zeros((4, 4, 3), np.uint8), tmp_path / "no" / "x.jpg")
