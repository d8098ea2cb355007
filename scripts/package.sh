#!/usr/bin/env bash
# Builds the Debian package zarn_<version>_<arch>.deb in the repository root: a Release build
# of the programs, the runtime and the shipped model only (no tests, no benchmarks) in its own
# folder, with Debian's hardening flags, packed by CPack. Then: sudo apt install ./zarn_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ZARN_PACKAGE_BUILD_DIR:-build-package}
# The flags a Debian build uses (fortified functions, stack protector, relro, bind now),
# without debugging information: the package is stripped anyway. CMake reads them once, at
# the first configuration of the folder.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g \
  dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF "${launcher[@]}"
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/zarn_*.deb)
cp "$deb" .
echo "$PWD/$(basename "$deb")"
