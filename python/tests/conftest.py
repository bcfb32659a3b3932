"""Shared helpers of the module's tests."""
import os

import pytest

import lumora

# The plug-in type the node tests use: one this library keeps as plain bytes.
PLUGIN_TYPE = 465001514


def mask_identities(data):
    """Zeroes the 8 identity bytes after every goal and link record: they are addresses of the
    writing process."""
    out = bytearray(data)
    for marker in (b"agoal1", b"alias2"):
        i = out.find(marker)
        while i >= 0:
            out[i + 6:i + 14] = bytes(8)
            i = out.find(marker, i + 14)
    return bytes(out)


def node(name, type=PLUGIN_TYPE):
    n = lumora.PluginNode(type)
    n.name = name
    return n


@pytest.fixture
def path(tmp_path):
    return tmp_path / "scene.lum"


@pytest.fixture
def sample():
    return os.environ.get("LUMORA_SAMPLE", os.path.join(os.path.dirname(__file__), "..", "..",
                                                        "samples", "sample.klaymo"))
