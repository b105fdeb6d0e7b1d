#!/bin/sh
# help-in-readme.sh FILE LINE COMMAND [ARG...] -- checks that the fenced
# block right after the line LINE of FILE is what COMMAND prints, byte for
# byte.  Prints the differences and exits 1 when there are any.
file=$1
line=$2
shift 2
copy=$(awk -v line="$line" '
  $0 == line { found = 1; next }
  found && /^```/ { if (inside) exit; inside = 1; next }
  inside { print }' "$file")
[ -n "$copy" ] || { echo "no block after \"$line\" in $file"; exit 2; }
output=$("$@") || { echo "$* failed"; exit 2; }
[ "$copy" = "$output" ] && exit 0
echo "the copy in $file differs from what $* prints (-copy, +output):"
printf '%s\n' "$output" >"${TMPDIR:-/tmp}/help-output.$$"
printf '%s\n' "$copy" | diff - "${TMPDIR:-/tmp}/help-output.$$" | grep '^[<>]' | sed 's/^</-/; s/^>/+/'
rm -f "${TMPDIR:-/tmp}/help-output.$$"
exit 1
