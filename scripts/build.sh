#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh DIR [cmake options...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S "$here" -B "$dir" "${gen[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
