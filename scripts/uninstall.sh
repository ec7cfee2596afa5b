#!/usr/bin/env bash
# Removes what scripts/install.sh put into a prefix, by its list, and nothing else: its files, then the
# folders it made once they are empty. The user's settings and the language model stay.
set -euo pipefail
prefix="$1"
list="$prefix/share/pictolarium/installed-files"

if [ ! -f "$list" ]; then
    echo "Nothing to remove: Pictolarium was not installed into $prefix ($list is missing)."
    exit 0
fi
root="$(cd "$prefix" && pwd -P)"
# Whether the folder $1 is the prefix or inside it ($2 names the entry for the message).
inside() {
    [ -d "$1" ] || return 1
    case "$(cd "$1" && pwd -P)/" in
        "$root"/*) return 0 ;;
        *) echo "Skipped $2: outside $prefix" >&2; return 1 ;;
    esac
}
folders=()
while IFS= read -r file; do
    [ -n "$file" ] || continue
    case "$file" in
        */) folders+=("${file%/}"); continue ;;
    esac
    # Only files inside the prefix, whatever the list says.
    inside "$(dirname "$file")" "$file" && rm -f -- "$file"
done <"$list"
rm -f -- "$list"

# The desktop database's cache: refreshed without our entry, or gone with the last entry it listed.
apps="$prefix/share/applications"
if [ -d "$apps" ] && ! compgen -G "$apps/*.desktop" >/dev/null; then
    rm -f -- "$apps/mimeinfo.cache"
elif [ -d "$apps" ] && command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$apps" || true
fi

# Deepest first, and only when empty: a folder that has since taken something else of the user's stays.
rmdir "$prefix/share/pictolarium" 2>/dev/null || true
if [ ${#folders[@]} -gt 0 ]; then
    while IFS= read -r folder; do
        [ "$folder" != "$prefix" ] && inside "$folder" "$folder/" && rmdir -- "$folder" 2>/dev/null || true
    done < <(printf '%s\n' "${folders[@]}" | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2-)
fi

config="${XDG_CONFIG_HOME:-$HOME/.config}/Pictolarium"
data="${XDG_DATA_HOME:-$HOME/.local/share}/Pictolarium"
echo "Removed Pictolarium from $prefix."
echo "Left in place, as they are your own: the settings in $config and the language model in $data/llm" \
    "(delete them to start afresh), and your screenshots."
