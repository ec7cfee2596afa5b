#!/usr/bin/env bash
# Installs the built program into a prefix: the program and its helper programs in bin, the desktop entry
# in share/applications and the icon in the hicolor theme. What it put there is listed in
# share/pictolarium/installed-files, which scripts/uninstall.sh reads: the files, and with a trailing slash
# the folders this install made.
set -euo pipefail
build="$1"
prefix="$2"

# The folders the install will use, found by installing into a scratch copy first: those missing now are
# ours to take away again.
stage="$(mktemp -d)"
trap 'rm -rf -- "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >/dev/null
made="$stage/made-folders"
: >"$made"
while IFS= read -r dir; do
    folder="${dir#"$stage"}"
    [ -e "$folder" ] || echo "$folder/" >>"$made"
done < <(find "$stage$prefix" -mindepth 1 -type d)

cmake --install "$build" --prefix "$prefix" >/dev/null
list="$prefix/share/pictolarium/installed-files"
mkdir -p "$(dirname "$list")"
# A former install's list is kept in as well, so that nothing an older version put there is forgotten.
{ cat "$build/install_manifest.txt"; echo; cat "$made"; [ -f "$list" ] && cat "$list"; echo "$list"; } |
    grep -v '^$' | sort -u >"$list.new"
mv "$list.new" "$list"

if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$prefix/share/applications" || true
fi
echo "Installed into $prefix (the program is $prefix/bin/pictolarium)."
