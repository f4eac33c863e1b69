#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets (the fuzz preset, clang) and runs each for a
# given time on its committed corpus. Exits non-zero on any finding: a
# crash, a broken property, a leak, a timeout or running out of memory.
#
#   fuzz/run.sh [-t SECONDS] [-B BUILD_DIR] [-k KEEP_DIR] [--seed] [TARGET...]
#
#   -t SECONDS   run time per target (default 60)
#   -B DIR       build directory (default build/fuzz)
#   -k DIR       keep what each run adds to the corpus in DIR/TARGET
#                (default: a scratch directory, removed afterwards)
#   --seed       write the seed corpora under fuzz/corpus anew with
#                make_corpus, then stop
#   TARGET       lcr_load, lcr_merge, lcrtool_image, lcrtool_text,
#                burnimg_options (default: all)
#
# Findings are written to BUILD_DIR/fuzz-findings/TARGET/.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=60
build=$root/build/fuzz
keep=
seed=
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        -t) seconds=$2; shift 2 ;;
        -B) build=$(realpath -m "$2"); shift 2 ;;
        -k) keep=$(realpath -m "$2"); shift 2 ;;
        --seed) seed=1; shift ;;
        -*) echo "fuzz/run.sh: unknown option $1" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -eq 0 ] && targets=(lcr_load lcr_merge lcrtool_image lcrtool_text burnimg_options)

# Longest input per target: a loader input may run past the most the loader
# reads (16392 bytes); a merge input holds two images; a text may hold
# more rules than the compiler's 499 trie records take.
max_len() {
    case $1 in
        lcr_load) echo 20000 ;;
        lcr_merge | lcrtool_image) echo 34000 ;;
        lcrtool_text) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

cmake --preset fuzz -B "$build" >/dev/null || exit 1
cmake --build "$build" --target fuzzers -j 2 || exit 1

if [ -n "$seed" ]; then
    tmp=$(mktemp -d)
    "$build/fuzz/make_corpus" "$tmp" 2>/dev/null || exit 1
    for t in "${targets[@]}"; do
        rm -rf "fuzz/corpus/$t"
        mkdir -p fuzz/corpus
        cp -r "$tmp/$t" "fuzz/corpus/$t"
        echo "fuzz/corpus/$t: $(ls "fuzz/corpus/$t" | wc -l) seeds"
    done
    rm -rf "$tmp"
    exit 0
fi

failed=()
for t in "${targets[@]}"; do
    bin=$build/fuzz/${t}_fuzzer
    findings=$build/fuzz-findings/$t
    mkdir -p "$findings"
    if [ -n "$keep" ]; then
        work=$keep/$t
        mkdir -p "$work"
    else
        work=$(mktemp -d)
    fi
    log=$build/fuzz-$t.log
    echo "--- $t: $seconds s on fuzz/corpus/$t ($(ls "fuzz/corpus/$t" | wc -l) seeds)"
    # Output of the code under test is dropped (-close_fd_mask=3); libFuzzer
    # keeps its own reports. Leak checking is on by default under ASan.
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$(max_len "$t")" -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" | tail -2
    grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log"
    echo "corpus now: $(ls "$work" | wc -l) new units"
    [ -z "$keep" ] && rm -rf "$work"
    if [ $rc -ne 0 ]; then
        echo "*** $t: finding (exit $rc), see $log and $findings"
        grep -E 'ERROR|SUMMARY|property broken|Test unit written' "$log" | head -5
        failed+=("$t")
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz findings in: ${failed[*]}"
    exit 1
fi
echo "fuzz: no findings (${targets[*]})"
