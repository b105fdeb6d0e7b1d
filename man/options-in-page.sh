#!/bin/sh
# options-in-page.sh PAGE COMMAND [ARG...] -- runs COMMAND for its help text
# (from either stream, whatever its exit status) and names every option the
# text lists (a word starting with - or --) that the man page PAGE, as
# mandoc renders it, does not show.  Exits 1 when one is missing.
page=$1
shift
text=$(mandoc -T ascii "$page" | col -b) || exit 2
options=$("$@" 2>&1 | grep -oE '(^|[[:space:][|])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[^-]*//' | sort -u)
[ -n "$options" ] || { echo "no options in the help text of $*"; exit 2; }
missing=0
for option in $options; do
  printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)" ||
    { echo "$page does not show $option"; missing=1; }
done
exit $missing
