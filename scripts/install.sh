#!/usr/bin/env bash
# Installs the built program into a prefix: the program and its helper programs in bin, the desktop entry
# in share/applications and the icon in the hicolor theme. What it put there is listed in
# share/pictolarium/installed-files, which scripts/uninstall.sh reads.
set -euo pipefail
build="$1"
prefix="$2"

cmake --install "$build" --prefix "$prefix" >/dev/null
list="$prefix/share/pictolarium/installed-files"
mkdir -p "$(dirname "$list")"
# A former install's list is kept in as well, so that nothing an older version put there is forgotten.
{ cat "$build/install_manifest.txt"; echo; [ -f "$list" ] && cat "$list"; echo "$list"; } |
    grep -v '^$' | sort -u >"$list.new"
mv "$list.new" "$list"

if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$prefix/share/applications" || true
fi
echo "Installed into $prefix (the program is $prefix/bin/pictolarium)."
