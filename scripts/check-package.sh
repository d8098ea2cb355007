#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it: lintian without errors, every
# file of the installed layout inside, the desktop entry, the AppStream file and the manual
# pages valid, and the programs working from the unpacked package alone (no LD_LIBRARY_PATH,
# a private home), so the runtime and the model are found from the installed layout.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-$(bash scripts/package.sh | tail -n 1)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "check-package: $*" >&2
  failed=1
}

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian found errors"

expected=(
  usr/bin/zarn usr/bin/zarn-app
  usr/lib/zarn/libtranscribe.so.1
  usr/share/zarn/models/pocketsphinx-en-us.gguf
  usr/share/applications/zarn-app.desktop
  usr/share/icons/hicolor/scalable/apps/zarn.svg
  usr/share/metainfo/dev.zarn.Zarn.metainfo.xml
  usr/share/man/man1/zarn-app.1.gz
  usr/share/doc/zarn/copyright usr/share/doc/zarn/changelog.gz
)
for size in 16 22 24 32 48 64 128 256 512; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/zarn.png")
done
# The command line's page and completion come with its own sources; checked once they exist.
[ -e data/man/zarn.1 ] && expected+=(usr/share/man/man1/zarn.1.gz)
[ -e data/completion/zarn ] && expected+=(usr/share/bash-completion/completions/zarn)
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./||')
for file in "${expected[@]}"; do
  grep -qx "$file" <<<"$contents" || fail "$file is not in the package"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/zarn-app.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net "$root/usr/share/metainfo/dev.zarn.Zarn.metainfo.xml" || fail "the AppStream file is not valid"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# The installed programs in a clean environment: nothing of the build tree's, nothing of the
# user's. The run of the downloaded model names the runtime it loaded (the loader's trace).
home=$work/home
mkdir -p "$home/config" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
installed() {
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$home/runtime" LANG=C.UTF-8 "$@"
}
sample=/usr/share/pocketsphinx/test/data/goforward.raw
expect() {
  local want=$1 got
  shift
  got=$(installed "$@" 2>"$work/err") || true
  [ "$got" = "$want" ] || fail "$* printed '$got', not '$want': $(cat "$work/err")"
}
expect "Go forward ten meters." "$root/usr/bin/zarn" transcribe --engine apple --raw-rate 16000 "$sample"
expect "$(printf 'installed\n%s' "$home/data/Zarn/models/pocketsphinx-en-us.gguf")" "$root/usr/bin/zarn" model download
installed "$root/usr/bin/zarn" model status | grep -q "from file://$root/usr/share/zarn/models/" ||
  fail "the model was not downloaded from the installed copy"
expect "Go forward ten meters." env LD_DEBUG=libs "$root/usr/bin/zarn" transcribe --engine nemotron --raw-rate 16000 "$sample"
grep -q "calling init: $root/usr/lib/zarn/libtranscribe.so.1" "$work/err" ||
  fail "the speech runtime was not loaded from $root/usr/lib/zarn"
expect "zarn-app $(sed -n 's/^project(Zarn VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)" "$root/usr/bin/zarn-app" --version

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "check-package: $(basename "$deb") passed; installed size $(dpkg-deb --field "$deb" Installed-Size) KiB"
