"""Outputs written under a temporary name beside their target, renamed
into place together when everything has succeeded."""

from __future__ import annotations

import os
import pathlib
import tempfile

from quarnel.command.failure import Failure


class Staging:
    def __init__(self) -> None:
        self.pending: list[tuple[pathlib.Path, pathlib.Path]] = []

    def temporary(self, target: pathlib.Path) -> pathlib.Path:
        folder = target.parent
        try:
            fd, name = tempfile.mkstemp(dir=folder, prefix=f".{target.name}.", suffix=".part")
        except OSError as e:
            raise Failure(f"{target}: cannot write in {folder}/: {e.strerror}") from None
        os.close(fd)
        tmp = pathlib.Path(name)
        self.pending.append((tmp, target))
        return tmp

    def commit(self) -> None:
        for tmp, target in self.pending:
            try:
                os.chmod(tmp, 0o666 & ~_umask())
                os.replace(tmp, target)
            except OSError as e:
                raise Failure(f"{target}: cannot write: {e.strerror}") from None
        self.pending.clear()

    def abort(self) -> None:
        for tmp, _ in self.pending:
            tmp.unlink(missing_ok=True)
        self.pending.clear()


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask

