# Sourced by the other scripts: sets PYTHON to a CPython 3.13 interpreter
# (python3.13 on PATH, pyenv's 3.13, or the system's own), or to another
# version when QUARNEL_PYTHON_VERSION asks for one (3.11, 3.12).
want="${QUARNEL_PYTHON_VERSION:-3.13}"
candidates=("python$want")
if command -v pyenv >/dev/null 2>&1; then
    root="$(pyenv root)"
    for v in $(pyenv versions --bare 2>/dev/null | grep -E "^${want//./\\.}(\\.[0-9]+)?\$" | sort -rV); do
        candidates+=("$root/versions/$v/bin/python$want")
    done
fi
candidates+=("/usr/bin/python$want" "/usr/local/bin/python$want")
PYTHON=""
for cand in "${candidates[@]}"; do
    if "$cand" -c "import sys; sys.exit(sys.version_info[:2] != tuple(map(int, '$want'.split('.'))))" >/dev/null 2>&1; then
        PYTHON="$(command -v "$cand")"
        break
    fi
done
if [ -z "$PYTHON" ]; then
    echo "error: no CPython $want found (tried python$want on PATH, pyenv, /usr/bin)" >&2
    exit 1
fi
