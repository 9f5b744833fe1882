#!/bin/sh
# lint_page.sh PAGE: fails when mandoc reports anything about the page at
# warning level or above, or when mandoc is missing (make check installs it).
page=$1
if ! command -v mandoc >/dev/null 2>&1; then
    echo "mandoc not found: install the Debian package mandoc" >&2
    exit 1
fi
report=$(mandoc -Tlint -W warning "$page" 2>&1)
status=$?
if [ -n "$report" ] || [ "$status" -ne 0 ]; then
    printf '%s\n' "$report"
    echo "mandoc -Tlint -W warning $page: exit status $status" >&2
    exit 1
fi
