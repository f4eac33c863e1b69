#!/usr/bin/env bash
# Builds the tools and runs their main job on sample data made here.
set -eu
cd "$(dirname "$0")/.."
scripts/test.sh deps >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# burnimg: (added with the program)

# lcrmerge: (added with the program)
