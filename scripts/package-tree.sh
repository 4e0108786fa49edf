# Sourced by the scripts that test a build of their own (sanitize.sh,
# valgrind.sh, aarch64.sh): package_tree BUILD DEST lays out the package in
# DEST as the wheel does: the extensions CMake installs from BUILD, and every
# Python module, stub and marker under src/quarnel, subpackages included.
package_tree() {
    local build="$1" dest="$2"
    rm -rf "$dest"
    cmake --install "$build" --prefix "$dest" >/dev/null
    (cd "$here/src" && find quarnel -name __pycache__ -prune -o -type f \
        \( -name "*.py" -o -name "*.pyi" -o -name py.typed \) -print0 | xargs -0 cp --parents -t "$dest")
}
