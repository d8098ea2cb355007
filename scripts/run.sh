#!/usr/bin/env bash
# Installs the dependencies, builds Zarn and runs its main job on the built-in default:
# dictation of a recorded sample through the whole pipeline.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what runs: the two programs, the speech runtime and the shipped model, not the tests.
cmake --build build -j"$(nproc)" --target zarn zarn-app
./build/src/cli/zarn --version
# A recording Debian ships (pocketsphinx-testdata, 16 kHz 16-bit mono samples): recognised,
# cleaned up, corrected by the dictionary and printed, as a dictation would be.
./build/src/cli/zarn transcribe --engine apple --raw-rate 16000 /usr/share/pocketsphinx/test/data/goforward.raw
