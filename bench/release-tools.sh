# SPDX-License-Identifier: MIT
# Sourced by the lcrmerge benches: sets `bin` to the lcrmerge to measure
# (the first argument, or the release build, built here when none is
# given) and `lcrtool` to the lcrtool of the same build, which makes the
# images. Expects to run from the project's root.
bin=${1:-}
if [ -z "$bin" ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release --target lcrmerge lcrtool >/dev/null
    bin=build/release/lcrmerge/lcrmerge
fi
bin=$(realpath "$bin")
lcrtool=$(realpath "$(dirname "$bin")/../lcrtool/lcrtool")
