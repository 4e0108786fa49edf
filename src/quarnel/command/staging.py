"""Outputs written under a temporary name beside their target (a file, or
a directory for a Zarr store), renamed into place together when everything
has succeeded: an interrupted or failed run leaves an existing output as it
was."""

from __future__ import annotations

import os
import pathlib
import shutil
import tempfile

from quarnel.command.failure import Failure


class Staging:
    def __init__(self) -> None:
        self.pending: list[tuple[pathlib.Path, pathlib.Path]] = []

    def temporary(self, target: pathlib.Path, directory: bool = False) -> pathlib.Path:
        folder = target.parent
        prefix, suffix = f".{target.name}.", ".part"
        try:
            if directory:
                tmp = pathlib.Path(tempfile.mkdtemp(dir=folder, prefix=prefix, suffix=suffix))
            else:
                fd, name = tempfile.mkstemp(dir=folder, prefix=prefix, suffix=suffix)
                os.close(fd)
                tmp = pathlib.Path(name)
        except OSError as e:
            raise Failure(f"{target}: cannot write in {folder}/: {e.strerror}") from None
        self.pending.append((tmp, target))
        return tmp

    def commit(self) -> None:
        for tmp, target in self.pending:
            try:
                if tmp.is_dir():
                    _replace_directory(tmp, target)
                else:
                    os.chmod(tmp, 0o666 & ~_umask())
                    os.replace(tmp, target)
            except OSError as e:
                raise Failure(f"{target}: cannot write: {e.strerror}") from None
        self.pending.clear()

    def abort(self) -> None:
        for tmp, _ in self.pending:
            if tmp.is_dir():
                shutil.rmtree(tmp, ignore_errors=True)
            else:
                tmp.unlink(missing_ok=True)
        self.pending.clear()


def _replace_directory(tmp: pathlib.Path, target: pathlib.Path) -> None:
    # A directory cannot replace another in one rename: the old one is moved
    # aside first and removed once the new one is in place.
    os.chmod(tmp, 0o777 & ~_umask())
    if not target.exists() and not target.is_symlink():
        os.replace(tmp, target)
        return
    aside = pathlib.Path(tempfile.mkdtemp(dir=target.parent, prefix=f".{target.name}.", suffix=".old"))
    old = aside / target.name
    os.replace(target, old)
    try:
        os.replace(tmp, target)
    except OSError:
        os.replace(old, target)
        raise
    finally:
        shutil.rmtree(aside, ignore_errors=True)


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask
