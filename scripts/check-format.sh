#!/usr/bin/env bash
# Checks, changing nothing, that every C++ source and header of the project is laid out as
# .clang-format says; names each file that is not and fails. With --fix it formats them in
# place instead. Part of the test command (scripts/test.sh).
#
#   scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
case "${1:-}" in
"") ;;
--fix) fix=1 ;;
*) echo "usage: scripts/check-format.sh [--fix]" >&2; exit 2 ;;
esac
scripts/lib/install-deps.sh clang-format

# The project's own files: those git tracks or would add (build trees and the demo output are
# ignored), or, outside a git checkout, every one but those in build trees.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    listed=$(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
    listed=$(find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print |
        sed 's|^\./||')
fi
files=()
while IFS= read -r file; do
    [ -f "$file" ] && files+=("$file") # a tracked file removed from the working tree is gone
done <<<"$listed"

if [ "$fix" = 1 ]; then
    clang-format -i "${files[@]}"
    echo "format: ${#files[@]} files formatted in place"
    exit 0
fi
unformatted=()
for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
echo "format: ${#files[@]} files checked, ${#unformatted[@]} not formatted"
if [ "${#unformatted[@]}" -gt 0 ]; then
    for file in "${unformatted[@]}"; do
        echo "  $file" >&2
    done
    # The first differences, as clang-format reports them.
    clang-format --dry-run "${unformatted[@]}" 2>&1 | head -n 40 >&2
    echo "scripts/check-format.sh --fix formats them" >&2
    exit 1
fi
