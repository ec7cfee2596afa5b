#!/usr/bin/env bash
# Removes what scripts/install.sh put into a prefix, by its list, and nothing else.
set -euo pipefail
prefix="$1"
list="$prefix/share/pictolarium/installed-files"

if [ ! -f "$list" ]; then
    echo "Nothing to remove: Pictolarium was not installed into $prefix ($list is missing)."
    exit 0
fi
root="$(cd "$prefix" && pwd -P)"
while IFS= read -r file; do
    [ -n "$file" ] || continue
    # Only files inside the prefix, whatever the list says.
    dir="$(dirname "$file")"
    [ -d "$dir" ] || continue
    case "$(cd "$dir" && pwd -P)/" in
        "$root"/*) rm -f -- "$file" ;;
        *) echo "Skipped $file: outside $prefix" >&2 ;;
    esac
done <"$list"
rm -f -- "$list"
rmdir "$prefix/share/pictolarium" 2>/dev/null || true

# The desktop database's cache: refreshed without our entry, or gone with the last entry it listed.
apps="$prefix/share/applications"
if [ -d "$apps" ] && ! compgen -G "$apps/*.desktop" >/dev/null; then
    rm -f -- "$apps/mimeinfo.cache"
elif [ -d "$apps" ] && command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$apps" || true
fi
echo "Removed Pictolarium from $prefix."
