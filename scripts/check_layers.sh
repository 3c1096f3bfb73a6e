#!/usr/bin/env bash
# Every include between the project's folders points down: a folder includes only folders on
# a lower floor (or itself). Prints each include that points up or sideways; exit 1 if any.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A floor=([host]=0 [sim]=0 [image]=1 [port]=2 [link]=3 [diag]=4 [batch]=4 [view]=5
    [app]=6 [cli]=6)
bad=0
for folder in "${!floor[@]}"; do
    while IFS=: read -r file _ include; do
        target=${include#*\"}
        target=${target%%/*}
        [ -n "${floor[$target]+set}" ] || continue
        if [ "$target" != "$folder" ] && [ "${floor[$target]}" -ge "${floor[$folder]}" ]; then
            echo "$file includes $target/ (floor ${floor[$target]}) from floor ${floor[$folder]}"
            bad=1
        fi
    done < <(grep -rn '^#include "' "$folder" --include='*.h' --include='*.cpp' || true)
done
[ "$bad" -eq 0 ] && echo "includes: every one points down (${#floor[@]} folders)"
exit "$bad"
