#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks: the compiler and build tools, GoogleTest, libpng for
# FramePreview, libhdf5 for HDF5 stacks with h5py and the bitshuffle/LZ4
# filter plugins, liblz4 and libdeflate (compressed chunks decoded on every
# thread) (the HDF5 tests write their files with h5py), groff for the
# manual-page check, fabio and Pillow (real readers of our frame files and
# PNG previews), pybind11, the Python headers and pytest for the Python
# module, Slurm with munge and GNU parallel for the cluster tests (the
# Slurm test starts and stops its own daemons), and strace, which counts the
# threads StackCollapse starts.  Needs root.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v groff >/dev/null || need+=(groff-base)
[ -e /usr/include/png.h ] || need+=(libpng-dev)
/usr/bin/python3 -c 'import fabio' 2>/dev/null || need+=(python3-fabio)
[ -e /usr/include/hdf5/serial/hdf5.h ] || need+=(libhdf5-dev)
/usr/bin/python3 -c 'import h5py' 2>/dev/null || need+=(python3-h5py)
plugins=/usr/lib/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)/hdf5/serial/plugins
[ -e "$plugins/libh5bshuf.so" ] || need+=(bitshuffle)
[ -e "$plugins/libh5lz4.so" ] || need+=(hdf5-filter-plugin)
[ -e /usr/include/lz4.h ] || need+=(liblz4-dev)
[ -e /usr/include/libdeflate.h ] || need+=(libdeflate-dev)
/usr/bin/python3 -c 'import PIL, numpy' 2>/dev/null || need+=(python3-pil python3-numpy)
/usr/bin/python3 -c 'import pytest' 2>/dev/null || need+=(python3-pytest)
[ -e /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
[ -e "/usr/include/python3.$(/usr/bin/python3 -c 'import sys; print(sys.version_info[1])' 2>/dev/null)/Python.h" ] || need+=(python3-dev)
command -v slurmctld >/dev/null || need+=(slurm-wlm)
command -v munged >/dev/null || need+=(munge)
command -v parallel >/dev/null || need+=(parallel)
command -v strace >/dev/null || need+=(strace)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing ${need[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
