"""median_file judges a file by its content: a compressed frame file is
refused naming its format, as the programs refuse it.

Run by CTest with the other module tests (HEDM_BUILD names the build)."""
import pytest

import hedm_reduction as h

SIGNATURES = {"gzip": b"\x1f\x8b\x08", "bzip2": b"BZh9", "xz": b"\xfd7zXZ\x00", "zstd": b"\x28\xb5\x2f\xfd"}


@pytest.mark.parametrize("fmt", sorted(SIGNATURES))
def test_median_file_refuses_a_compressed_file(tmp_path, fmt):
    path = tmp_path / "dark_stack.ge3"
    # As long as a frame file of two whole frames: read as pixels it would pass.
    path.write_bytes(SIGNATURES[fmt] + b"\x41" * (8192 + 2 * 8388608 - len(SIGNATURES[fmt])))
    with pytest.raises(ValueError, match=f"is compressed with {fmt}: decompress it first"):
        h.median_file(str(path))
