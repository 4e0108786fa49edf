"""The scripts that lay out a package of their own (sanitizer, valgrind and
aarch64 runs) follow the package's layout: subpackages included, no C++,
no stale build products from src/."""

import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGE = ROOT / "src" / "quarnel"


def python_files(top):
    return {p.relative_to(top).as_posix() for p in top.rglob("*")
            if p.is_file() and "__pycache__" not in p.parts
            and (p.suffix in (".py", ".pyi") or p.name == "py.typed")}


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")
def test_package_tree_holds_every_module_and_the_installed_extensions(tmp_path):
    # A build whose install step puts one extension in place, as CMake's does.
    build = tmp_path / "build"
    build.mkdir()
    (build / "_fake.cpython-313-x86_64-linux-gnu.so").write_bytes(b"\x7fELF")
    (build / "cmake_install.cmake").write_text(
        'file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/quarnel" TYPE FILE '
        f'FILES "{build}/_fake.cpython-313-x86_64-linux-gnu.so")\n')
    dest = tmp_path / "pkg"
    (dest / "quarnel" / "stale").mkdir(parents=True)     # left from an earlier run
    subprocess.run(["bash", "-c", f'set -euo pipefail; here="{ROOT}"; . scripts/package-tree.sh; '
                    f'package_tree "{build}" "{dest}"'], cwd=ROOT, check=True)

    laid = dest / "quarnel"
    want = python_files(PACKAGE)
    assert any("/" in name for name in want), "the package has subpackages to lay out"
    assert python_files(laid) == want
    everything = {p.relative_to(laid).as_posix() for p in laid.rglob("*") if p.is_file()}
    assert everything - want == {"_fake.cpython-313-x86_64-linux-gnu.so"}
    assert not (laid / "stale").exists()
