"""Records the outputs the job layer and the command are pinned to
(tests/support/pinned_cases.py) in tests/data/pinned/.

Usage: PYTHONPATH=src python scripts/pin_outputs.py [--inputs] [CASE ...]

CASEs named: only those are recorded anew, the others kept as they were.

--inputs draws the inputs anew as well (they are kept otherwise: the
outputs of the same inputs are what a change is compared on).
"""

from __future__ import annotations

import json
import pathlib
import sys
import tempfile

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

from support import pinned_cases as P  # noqa: E402


def main(argv: list[str]) -> int:
    P.PINNED.mkdir(parents=True, exist_ok=True)
    if "--inputs" in argv or not (P.PINNED / "inputs.npz").exists():
        np.savez_compressed(P.PINNED / "inputs.npz", **P.make_inputs())
    inputs = P.load("inputs.npz")
    # Named cases are recorded anew, the others kept as they were.
    chosen = [a for a in argv if not a.startswith("--")]
    unknown = sorted(set(chosen) - set(P.CASES))
    if unknown:
        print(f"no such case: {', '.join(unknown)}", file=sys.stderr)
        return 2
    outputs: dict[str, np.ndarray] = {}
    if chosen:
        with np.load(P.PINNED / "outputs.npz") as kept:
            outputs = {k: kept[k] for k in kept.files if k.partition(":")[0] not in chosen}
    for name, run in P.CASES.items():
        if chosen and name not in chosen:
            continue
        with tempfile.TemporaryDirectory() as tmp:
            results = run(inputs, pathlib.Path(tmp))
        for k, v in P.pinned(results).items():
            outputs[f"{name}:{k}"] = v
    np.savez_compressed(P.PINNED / "outputs.npz", **outputs)
    meta = {**P.fingerprint(), "cases": list(P.CASES)}
    (P.PINNED / "meta.json").write_text(json.dumps(meta, indent=1) + "\n", encoding="utf-8")
    size = sum(p.stat().st_size for p in P.PINNED.iterdir())
    print(f"{len(P.CASES)} cases, {len(outputs)} arrays, {size / 1024:.0f} KiB in {P.PINNED}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
