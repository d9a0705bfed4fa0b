"""The build backend of `pip install .`: builds the Python module
hedm_reduction with the project's own CMake build (for the Python that runs
pip, so that the module loads in it) and packs it, with its type stubs, into
a wheel.  Nothing is fetched: CMake, a C++ compiler, pybind11 and the Python
headers must be on the machine (Debian: cmake g++ pybind11-dev python3-dev).

The CMake build folder is .wheel-build in the source tree (kept, so that a
second install builds only what changed), or the one named by
`--config-settings build-dir=FOLDER`.
"""
import base64
import csv
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NAME = "hedm_reduction"


def _version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*hedm_reduction\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


def _tag():
    """This Python's wheel tag: cp311-cp311-linux_x86_64."""
    py = f"cp{sys.version_info.major}{sys.version_info.minor}"
    return f"{py}-{py}-" + sysconfig.get_platform().replace("-", "_").replace(".", "_")


def _metadata():
    summary = "The exact far-field kernels of the HEDM reduction programs for numpy arrays, series of frames and files"
    return (f"Metadata-Version: 2.1\nName: hedm-reduction\nVersion: {_version()}\nSummary: {summary}\n"
            "Requires-Python: >=3.9\nRequires-Dist: numpy\n")


def _build_module(config_settings):
    """Configures and builds the module target; returns the module's path."""
    build = (config_settings or {}).get("build-dir") or os.path.join(ROOT, ".wheel-build")
    build = os.path.abspath(build)
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DHEDM_TESTS=OFF",
                 "-DHEDM_SANITIZE=OFF", f"-DPython3_EXECUTABLE={sys.executable}"]
    if shutil.which("ninja") and not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        configure += ["-G", "Ninja"]
    # The build's messages go to standard error: pip shows them with -v, or when the build fails.
    subprocess.run(configure, check=True, stdout=sys.stderr)
    subprocess.run(["cmake", "--build", build, "--target", NAME], check=True, stdout=sys.stderr)
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    module = os.path.join(build, NAME + suffix)
    if not os.path.isfile(module):
        raise RuntimeError(f"the build made no {NAME}{suffix} in {build}: are pybind11 and the Python headers there?")
    return module


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return [name, f"sha256={digest}", str(len(data))]


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    module = _build_module(config_settings)
    info = f"{NAME}-{_version()}.dist-info"
    wheel_text = f"Wheel-Version: 1.0\nGenerator: hedm_build\nRoot-Is-Purelib: false\nTag: {_tag()}\n"
    with open(module, "rb") as f:
        files = [(os.path.basename(module), f.read())]
    with open(os.path.join(ROOT, "python", NAME + ".pyi"), "rb") as f:
        files.append((NAME + ".pyi", f.read()))
    files += [(f"{info}/METADATA", _metadata().encode()), (f"{info}/WHEEL", wheel_text.encode()),
              (f"{info}/top_level.txt", f"{NAME}\n".encode())]
    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    for name, data in files:
        writer.writerow(_record_line(name, data))
    writer.writerow([f"{info}/RECORD", "", ""])
    files.append((f"{info}/RECORD", record.getvalue().encode()))
    wheel_name = f"{NAME}-{_version()}-{_tag()}.whl"
    partial = os.path.join(wheel_directory, wheel_name + ".part")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as whl:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            entry.external_attr = (0o755 if name.endswith(".so") else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            whl.writestr(entry, data)
    os.replace(partial, os.path.join(wheel_directory, wheel_name))  # never a half-written wheel
    return wheel_name
