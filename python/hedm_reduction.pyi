"""The exact far-field kernels of the HEDM reduction programs for numpy arrays, series of frames and detector files."""
import os
from typing import Any, Callable, Iterable, Protocol, Sequence, Union, overload

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

class _HasData(Protocol):
    """A fabio image or frame: its pixels in `data`, a 2-D uint16 or uint32 array."""
    data: npt.NDArray[Any]

# A frame: a 2-D (rows, columns) uint16 or uint32 array, or an object holding one as `data`.
_Frame = Union[npt.NDArray[np.uint16], npt.NDArray[np.uint32], _HasData]
# A series of frames: a 3-D (frames, rows, columns) uint16 or uint32 array (a memmap too), an h5py
# dataset, a sequence or iterable of frames (hexrd's image series, a generator), or a stack's path.
Frames = Union[npt.NDArray[np.uint16], npt.NDArray[np.uint32], Sequence[_Frame], Iterable[_Frame],
               str, bytes, os.PathLike[str], Any]

def median(
    frames: Frames, *, progress: Callable[[int, int], object] | None = None
) -> npt.NDArray[np.uint16] | npt.NDArray[np.uint32]:
    """The exact lower median (rows, columns) of any series of frames, of the frames' type, byte for byte
    StackCollapse's; read a frame at a time in bounded memory; progress(done, total) hears of the bytes handled."""

@overload
def saturated_counts(frames: Frames, threshold: int) -> npt.NDArray[np.int64]:
    """Per frame of a series, the pixels at or above threshold, as ClipCount counts them: a 1-D int64 array."""
@overload
def saturated_counts(frames: Frames, dark: Frames | _Frame | None, threshold: int) -> npt.NDArray[np.int64]:
    """The same less the dark's count (its saturated pixels over all its frames by its whole frames), as ClipCount prints them."""

def scale_image(image: npt.NDArray[np.float32]) -> npt.NDArray[np.uint16]:
    """PanelPack's conversion of a float32 image: the brightest pixel becomes 14000."""
