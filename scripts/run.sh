#!/usr/bin/env bash
# Installs the dependencies, builds Zarn and runs its main job on the built-in default:
# dictation of a recorded sample through the whole pipeline.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
./build/src/cli/zarn --version
./build/src/cli/zarn --help
