"""The exact far-field kernels of the HEDM reduction programs for numpy arrays and detector frame files."""
import os
from typing import Callable, overload

import numpy as np
import numpy.typing as npt

__version__: str

@overload
def median_frame(stack: npt.NDArray[np.uint16]) -> npt.NDArray[np.uint16]:
    """The exact lower median over axis 0 of a (frames, rows, columns) uint16 stack, as StackCollapse computes it."""
@overload
def median_frame(stack: npt.NDArray[np.uint32]) -> npt.NDArray[np.uint32]:
    """The same for a uint32 stack (a photon-counting detector's), as StackCollapse computes a 32-bit HDF5 stack's."""

def median_file(
    path: str | os.PathLike[str], *, progress: Callable[[int, int], object] | None = None
) -> npt.NDArray[np.uint16] | npt.NDArray[np.uint32]:
    """The median frame of any stack StackCollapse reads (a frame file, an HDF5 dataset or series), byte for byte its frame;
    progress(done, total) hears of the bytes handled."""

def saturated_counts(stack: npt.NDArray[np.uint16], threshold: int) -> npt.NDArray[np.int64]:
    """Per frame of a (frames, rows, columns) uint16 stack, the pixels at or above threshold, as ClipCount counts them."""

def scale_image(image: npt.NDArray[np.float32]) -> npt.NDArray[np.uint16]:
    """PanelPack's conversion of a float32 image: the brightest pixel becomes 14000."""
