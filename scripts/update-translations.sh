#!/bin/sh
# Refreshes resources/language/zh_CN.ts from the sources. Translations already in the
# file are kept; new texts come in marked unfinished and need a translation before the
# translation test passes. Texts that left the sources are dropped.
#
#   scripts/update-translations.sh [output.ts]
#
# LUPDATE may name the lupdate binary; otherwise the Qt 6 one is looked up.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
ts=${1:-$root/resources/language/zh_CN.ts}

lupdate=${LUPDATE:-}
if [ -z "$lupdate" ]; then
    for candidate in /usr/lib/qt6/bin/lupdate lupdate6 lupdate-qt6 lupdate; do
        if command -v "$candidate" >/dev/null 2>&1; then
            lupdate=$(command -v "$candidate")
            break
        fi
    done
fi
if [ -z "$lupdate" ]; then
    echo "lupdate not found; install qt6-l10n-tools or set LUPDATE" >&2
    exit 1
fi

cd "$root"
folders=
for folder in app connection session terminal codec settings logging transfer bridge forms; do
    [ -d "$folder" ] && folders="$folders $folder"
done
# Labels translated at run time from tables lupdate cannot read.
folders="$folders resources/language/choicelabels.h"

# -I . resolves the repository-relative includes, so tr() gets its class as context.
# No locations: they would churn the file on every unrelated edit.
# shellcheck disable=SC2086
exec "$lupdate" -I . $folders -no-obsolete -locations none -target-language zh_CN -ts "$ts"
