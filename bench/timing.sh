# SPDX-License-Identifier: MIT
# Sourced by the benches: time_us runs "$@" with its standard output
# discarded and prints its wall time in microseconds.
time_us() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}
