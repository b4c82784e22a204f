"""The in-tree build backend (PEP 517) of the midifolio Python package.

pip hands it the source tree; it configures the project with CMake (the library and the
extension only), builds the target midifolio_python, installs the component "python" into a
staging folder -- the package with libmidifolio's shared library bundled beside the extension,
which finds it through its $ORIGIN RPATH -- and zips that folder as a wheel. It needs nothing
from the Python package index: CMake, a C++17 compiler, pybind11's CMake files and numpy
(Debian: cmake g++ pybind11-dev python3-numpy), so it is used with
`pip install --no-build-isolation .` in a `python3 -m venv --system-site-packages` environment.

Settings (`pip install -C key=value`, or environment variables):
  build-dir   CMake build folder, kept for the next build (MIDIFOLIO_WHEEL_BUILD_DIR); default:
              a temporary folder
  jobs        parallel build jobs (CMAKE_BUILD_PARALLEL_LEVEL); default 2
  cmake-args  further arguments for the configure step, separated by blanks
"""
from __future__ import annotations

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional

ROOT = Path(__file__).resolve().parents[2]
NAME = "midifolio"


def _project() -> Dict[str, object]:
    """The [project] table of pyproject.toml, and the version from CMakeLists.txt."""
    table: Dict[str, object] = {}
    try:
        import tomllib  # Python 3.11+

        with open(ROOT / "pyproject.toml", "rb") as f:
            table = dict(tomllib.load(f).get("project", {}))
    except ImportError:
        pass
    cmake = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*midifolio\s+VERSION\s+([0-9.]+)", cmake)
    if not match:
        raise RuntimeError("no project version in CMakeLists.txt")
    table["version"] = match.group(1)
    return table


def _metadata() -> str:
    p = _project()
    lines = [
        "Metadata-Version: 2.1",
        "Name: %s" % NAME,
        "Version: %s" % p["version"],
        "Summary: %s" % p.get("description", "Read, edit, analyse and write Standard MIDI Files"),
        "Requires-Python: %s" % p.get("requires-python", ">=3.8"),
    ]
    for dep in p.get("dependencies", ["numpy"]):  # type: ignore[union-attr]
        lines.append("Requires-Dist: %s" % dep)
    readme = ROOT / "docs" / "python.md"
    body = readme.read_text() if readme.exists() else ""
    lines.append("Description-Content-Type: text/markdown")
    return "\n".join(lines) + "\n\n" + body


def _tag() -> str:
    interpreter = "cp%d%d" % sys.version_info[:2]
    abi = interpreter + getattr(sys, "abiflags", "")
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (interpreter, abi, platform)


def _dist_info() -> str:
    return "%s-%s.dist-info" % (NAME, _project()["version"])


def _setting(config: Optional[Dict[str, object]], key: str, env: str, default: str = "") -> str:
    value = (config or {}).get(key)
    if isinstance(value, list):  # pip passes repeated keys as a list
        value = " ".join(str(v) for v in value)
    return str(value) if value else os.environ.get(env, default)


def _run(command: List[str]) -> None:
    print("midifolio_build:", " ".join(command), file=sys.stderr, flush=True)
    subprocess.run(command, check=True, stdout=sys.stderr)


def _build(config: Optional[Dict[str, object]], stage: Path) -> None:
    build = _setting(config, "build-dir", "MIDIFOLIO_WHEEL_BUILD_DIR")
    temporary = None
    if not build:
        temporary = tempfile.mkdtemp(prefix="midifolio-wheel-build-")
        build = temporary
    jobs = _setting(config, "jobs", "CMAKE_BUILD_PARALLEL_LEVEL", "2")
    configure = [
        "cmake", "-S", str(ROOT), "-B", build,
        "-DCMAKE_BUILD_TYPE=Release",
        "-DMIDIFOLIO_BUILD_TESTS=OFF",
        "-DMIDIFOLIO_BUILD_CLI=OFF",
        "-DMIDIFOLIO_BUILD_EXAMPLES=OFF",
        "-DMIDIFOLIO_BUILD_PYTHON=ON",
        "-DPython3_EXECUTABLE=%s" % sys.executable,
        "-DMIDIFOLIO_PYTHON_INSTALL_DIR=.",
        "-DMIDIFOLIO_PYTHON_BUNDLE_LIBRARY=ON",
    ]
    if shutil.which("ninja") and not (Path(build) / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    configure += _setting(config, "cmake-args", "MIDIFOLIO_CMAKE_ARGS").split()
    try:
        _run(configure)
        _run(["cmake", "--build", build, "--target", "midifolio_python", "-j", jobs])
        _run(["cmake", "--install", build, "--component", "python", "--prefix", str(stage)])
    finally:
        if temporary:
            shutil.rmtree(temporary, ignore_errors=True)
    if not (stage / NAME / "__init__.py").exists():
        raise RuntimeError(
            "CMake did not build the Python package: it needs pybind11's CMake files and numpy "
            "(Debian: pybind11-dev python3-numpy python3-dev)"
        )


def _record_line(arcname: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (arcname, digest, len(data))


# ---------------------------------------------------------------------- PEP 517 hooks


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = Path(metadata_directory) / _dist_info()
    info.mkdir(parents=True, exist_ok=True)
    (info / "METADATA").write_text(_metadata())
    return info.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    with tempfile.TemporaryDirectory(prefix="midifolio-wheel-stage-") as staging:
        stage = Path(staging)
        _build(config_settings, stage)
        version = _project()["version"]
        wheel_name = "%s-%s-%s.whl" % (NAME, version, _tag())
        info = _dist_info()
        files = {}
        for path in sorted((stage / NAME).rglob("*")):
            if path.is_file() and "__pycache__" not in path.parts:
                files[path.relative_to(stage).as_posix()] = path.read_bytes()
        files[info + "/METADATA"] = _metadata().encode()
        files[info + "/WHEEL"] = (
            "Wheel-Version: 1.0\nGenerator: midifolio_build\nRoot-Is-Purelib: false\n"
            "Tag: %s\n" % _tag()
        ).encode()
        files[info + "/top_level.txt"] = (NAME + "\n").encode()
        record = [_record_line(name, data) for name, data in files.items()]
        record.append(info + "/RECORD,,")
        files[info + "/RECORD"] = ("\n".join(record) + "\n").encode()
        target = Path(wheel_directory) / wheel_name
        with zipfile.ZipFile(target, "w", compression=zipfile.ZIP_DEFLATED) as wheel:
            for name, data in files.items():
                entry = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
                entry.external_attr = (0o755 if name.endswith(".so") or ".so." in name else 0o644) << 16
                entry.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(entry, data)
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    version = _project()["version"]
    base = "%s-%s" % (NAME, version)
    try:
        listed = subprocess.run(
            ["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True
        ).stdout.split(b"\0")
        names = [os.fsdecode(n) for n in listed if n]
    except (OSError, subprocess.CalledProcessError):
        names = [
            p.relative_to(ROOT).as_posix()
            for p in ROOT.rglob("*")
            if p.is_file() and not p.relative_to(ROOT).parts[0].startswith(("build", ".git"))
        ]
    target = Path(sdist_directory) / (base + ".tar.gz")
    with tarfile.open(target, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for name in sorted(names):
            if (ROOT / name).is_file():
                sdist.add(ROOT / name, arcname=base + "/" + name, recursive=False)
        info = tarfile.TarInfo(base + "/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        import io

        sdist.addfile(info, io.BytesIO(data))
    return target.name
