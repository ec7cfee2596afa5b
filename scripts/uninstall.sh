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

if command -v update-desktop-database >/dev/null 2>&1 && [ -d "$prefix/share/applications" ]; then
    update-desktop-database -q "$prefix/share/applications" || true
fi
echo "Removed Pictolarium from $prefix."
