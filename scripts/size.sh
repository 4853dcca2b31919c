#!/usr/bin/env bash
# Prints the non-blank, non-comment lines of product code, tests and benchmarks per
# top-level folder, and the tests' share of the product code.
#   scripts/size.sh [git-revision]
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:-}

files() {
    if [ -n "$rev" ]; then git ls-tree -r --name-only "$rev"; else git ls-files; fi
}
# Blank and comment-only lines do not count; in tests neither do preprocessor lines
# (the same rule the project's size check uses).
count() { # $1: pattern of lines to skip; stdin: file names
    if [ -n "$rev" ]; then
        while read -r f; do git show "$rev:$f"; done
    else
        xargs -r cat
    fi | grep -c -v -E "$1" || true
}
code_skip='^\s*(//.*)?$'
test_skip='^\s*(//.*|#.*)?$'


declare -A product tests bench
while read -r f; do
    case "$f" in
        *.cpp|*.h|*.hpp) ;;
        tests/*.py|tests/*.sh|tests/*/*.py|tests/*/*.sh|tests/*/*/*.py|tests/*/*/*.sh) ;;
        *) continue ;;
    esac
    top=${f%%/*}
    case "$top" in
        tests) sub=${f#tests/}; sub=${sub%%/*}; tests[$sub]+="$f"$'\n' ;;
        bench) sub=${f#bench/}; sub=${sub%%/*}; bench[$sub]+="$f"$'\n' ;;
        *) [ "$top" = "$f" ] && top=. ; product[$top]+="$f"$'\n' ;;
    esac
done < <(files)

folders=$(printf '%s\n' "${!product[@]}" "${!tests[@]}" "${!bench[@]}" | sort -u)
printf '%-16s %8s %8s %8s\n' folder product tests bench
tp=0 tt=0 tb=0
for d in $folders; do
    p=$(printf '%s' "${product[$d]:-}" | sed '/^$/d' | count "$code_skip")
    t=$(printf '%s' "${tests[$d]:-}" | sed '/^$/d' | count "$test_skip")
    b=$(printf '%s' "${bench[$d]:-}" | sed '/^$/d' | count "$code_skip")
    printf '%-16s %8d %8d %8d\n' "$d" "$p" "$t" "$b"
    tp=$((tp + p)) tt=$((tt + t)) tb=$((tb + b))
done
printf '%-16s %8d %8d %8d\n' total "$tp" "$tt" "$tb"
[ "$tp" -gt 0 ] && echo "tests are $((100 * tt / tp))% of the product code"
