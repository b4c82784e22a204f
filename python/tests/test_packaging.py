"""The package as users get it: installed by CMake, installed by pip from the source tree
without the package index, typed by its stubs, and documented by examples that run."""
import ast
import doctest
import importlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import midifolio
from conftest import DATA, SANITIZED, SOURCE

BUILD = os.environ.get("MIDIFOLIO_BUILD_DIR")
SAMPLE = str(DATA / "cli" / "sample.mid")
CHECK = (
    "import midifolio, sys\n"
    "song = midifolio.load(sys.argv[1])\n"
    "print(midifolio.__file__)\n"
    "print(len(song.notes()), song.summary()['bars'])\n"
    "import midifolio._audio\n"  # the engine's own extension, found where the package is
    "print(not midifolio._midifolio.HAVE_AUDIO or len(midifolio._audio.messages(song)[0]) > 0)\n"
)


def clean_env(**extra):
    """The environment without this build tree's package on the path."""
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    env.update(extra)
    return env


@pytest.mark.skipif(not BUILD, reason="MIDIFOLIO_BUILD_DIR names no build tree (run through ctest)")
def test_cmake_install_gives_a_package_that_finds_its_library(tmp_path):
    prefix = tmp_path / "prefix"
    tool_env = clean_env()
    tool_env.pop("LD_PRELOAD", None)  # a sanitizer build's runtimes are for the interpreter only
    subprocess.run(["cmake", "--install", BUILD, "--prefix", str(prefix)], check=True,
                   capture_output=True, env=tool_env, timeout=600)
    packages = [p.parent for p in prefix.rglob("midifolio/__init__.py")]
    assert len(packages) == 1
    package = packages[0]
    for name in ("py.typed", "core.pyi", "_midifolio.pyi", "core.py"):
        assert (package / name).is_file(), name
    site = package.parent
    result = subprocess.run(
        [sys.executable, "-c", CHECK, SAMPLE], cwd=tmp_path, capture_output=True, text=True,
        env=clean_env(PYTHONPATH=str(site)),
    )
    assert result.returncode == 0, result.stderr
    where, figures, engine = result.stdout.splitlines()
    assert where == str(package / "__init__.py") and figures == "282 12" and engine == "True"


@pytest.mark.skipif(not BUILD, reason="MIDIFOLIO_BUILD_DIR names no build tree (run through ctest)")
@pytest.mark.skipif(SANITIZED, reason="the pip route builds an optimised tree of its own; "
                    "the optimised build's test run covers it")
def test_pip_installs_the_package_into_a_venv_without_the_package_index(tmp_path):
    venv = Path(BUILD) / "python" / "pip-venv"
    shutil.rmtree(venv, ignore_errors=True)
    env = clean_env(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    env.pop("LD_PRELOAD", None)
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True, env=env)
    python = str(venv / "bin" / "python")
    result = subprocess.run(
        [python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-cache-dir",
         "--config-settings", "build-dir=%s" % (Path(BUILD) / "python" / "pip-build"), str(SOURCE)],
        capture_output=True, text=True, env=env, timeout=1800,
    )
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    # Imported from outside the source tree, from the venv.
    result = subprocess.run([python, "-c", CHECK, SAMPLE], cwd=tmp_path, capture_output=True,
                            text=True, env=env)
    assert result.returncode == 0, result.stderr
    where, figures, engine = result.stdout.splitlines()
    assert where.startswith(str(venv)) and figures == "282 12" and engine == "True"


# ------------------------------------------------------------------ stubs


def stub_names(path):
    """Top-level names of a stub file, and the members of each class it declares."""
    tree = ast.parse(Path(path).read_text())
    names, members = set(), {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names.add(node.name)
            members[node.name] = {
                n.name if isinstance(n, (ast.FunctionDef, ast.AsyncFunctionDef)) else n.target.id
                for n in node.body
                if isinstance(n, (ast.FunctionDef, ast.AsyncFunctionDef))
                or (isinstance(n, ast.AnnAssign) and isinstance(n.target, ast.Name))
            }
        elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
    return names, members


def public(cls):
    return {n for n in dir(cls) if not n.startswith("_") or n in ("__len__", "__iter__", "__eq__", "__hash__")}


@pytest.mark.parametrize("name, stub", [
    ("midifolio.core", "core.pyi"),
    ("midifolio._midifolio", "_midifolio.pyi"),
    pytest.param("midifolio._midifolio_audio", "_midifolio_audio.pyi", marks=pytest.mark.skipif(
        not midifolio._midifolio.HAVE_AUDIO, reason="built without audio rendering")),
])
def test_the_stubs_declare_what_the_extension_has(name, stub):
    module = importlib.import_module(name)
    names, members = stub_names(Path(midifolio.__file__).parent / stub)
    runtime = {n for n in dir(module) if not n.startswith("__")} - {"core"}
    assert {n for n in names if not n.startswith("__")} - {"core"} == runtime
    for cls_name, declared in members.items():
        cls = getattr(module, cls_name)
        if isinstance(cls, type) and cls_name != "TIME_FORMAT":
            wanted = public(cls) - {"__eq__", "__hash__"} if cls_name != "POSITION" else public(cls)
            assert wanted <= declared | {"__init__"}, (cls_name, wanted - declared)
            assert {d for d in declared if not d.startswith("__")} <= public(cls), cls_name


def test_the_package_is_marked_typed_and_lists_its_api():
    package = Path(midifolio.__file__).parent
    assert (package / "py.typed").is_file()
    for name in midifolio.__all__:
        assert hasattr(midifolio, name), name
    for name in ("load", "Song", "scan", "summary_row", "pitch"):
        assert getattr(midifolio, name).__doc__


def test_every_public_function_and_method_has_a_docstring():
    for name in midifolio.__all__:
        obj = getattr(midifolio, name)
        if callable(obj):
            assert obj.__doc__, name
    for name, member in vars(midifolio.Song).items():
        if not name.startswith("_") and (callable(member) or isinstance(member, property)):
            assert member.__doc__, name
    for cls in (midifolio.core.CMidiFolio, midifolio.core.CMidiTrack, midifolio.core.CMidiTempo):
        assert cls.__doc__


# ------------------------------------------------------------------ documentation


@pytest.mark.parametrize("doc", [
    "docs/python.md",
    "README.md",
])
def test_the_documented_examples_print_what_the_documents_show(doc, monkeypatch):
    path = SOURCE / doc
    if not path.exists():
        pytest.skip("%s is not there" % doc)
    monkeypatch.chdir(SOURCE)
    failures, tried = doctest.testfile(
        str(path), module_relative=False, optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE,
        globs={}, verbose=False, report=True)
    assert failures == 0
    if doc == "docs/python.md":
        assert tried >= 30
