# Sourced by every bench: the build folder it was given, relative to the
# caller's current directory or absolute, as an absolute path (the benches
# change directory, so a relative one would point elsewhere later). A bench
# that configures a missing build folder itself passes "create".
# Usage: build=$(absolute_build_dir DIR [create])
absolute_build_dir() {
    if [ "${2:-}" = create ]; then mkdir -p "$1"; fi
    (cd "$1" 2>/dev/null && pwd) || { echo "no build folder $1" >&2; return 1; }
}
