#!/bin/sh
# Compiles a configuration and looks every key up with Debian's generic cdb
# tools (tinycdb's "cdb -q", freecdb's "cdbget"): each must find the data
# that pellow prints first for that key.
# Usage: cdb_lookup_test.sh CORVANE_MAKE PELLOW CONFIG
set -eu
make_prog=$1 pellow=$2 config=$3
for tool in cdb cdbget; do
    command -v $tool >/dev/null || { echo "missing $tool (packages tinycdb, freecdb)"; exit 1; }
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$make_prog" "$dir/db" "$dir/tmp" "$config"
"$pellow" < "$dir/db" > "$dir/dump"
sed -n 's/^client \(.*\) {$/\1/p' "$dir/dump" | sort -u > "$dir/keys"
[ -s "$dir/keys" ] || { echo "no keys in the dump"; exit 1; }
count=0
while IFS= read -r key; do
    # The first block of this key in the dump, as name="value"; lines.
    awk -v head="client $key {" '
        !found && $0 == head { found = 1; next }
        found && $0 == "  }" { exit }
        found { sub(/^  /, ""); print }' "$dir/dump" > "$dir/expected"
    as_items() { tr '\0' '\n' | sed 's/=/="/; s/$/";/'; }
    cdb -q "$dir/db" "$key" | as_items > "$dir/tiny"
    cdbget "$key" < "$dir/db" | as_items > "$dir/free"
    cmp -s "$dir/expected" "$dir/tiny" || { echo "cdb -q differs for $key"; diff "$dir/expected" "$dir/tiny"; exit 1; }
    cmp -s "$dir/expected" "$dir/free" || { echo "cdbget differs for $key"; diff "$dir/expected" "$dir/free"; exit 1; }
    count=$((count + 1))
done < "$dir/keys"
echo "$count keys found by cdb -q and cdbget"
