#!/bin/sh
# exit-status-in-page.sh DOC PAGE -- checks the EXIT STATUS section of the
# man page PAGE, as mandoc renders it, against the exit-code table of the
# user doc DOC (the first table after the heading that names exit codes):
# the same codes in the same order, each with the same meaning word for
# word.  Markup (code spans, links, bold, quotes around literals), the case
# of a meaning's first letter and a closing full stop do not count.  Prints
# the differences and exits 1 when there are any.
doc=$1
page=$2
# Words only: entities decoded, markup dropped, blanks collapsed.
plain() {
  sed -e 's/&#34;/"/g; s/&#39;/'"'"'/g; s/&lt;/</g; s/&gt;/>/g; s/&amp;/\&/g' \
      -e 's/\[\([^]]*\)\]([^)]*)/\1/g' -e "s/'\`\([^\`]*\)\`'/\1/g" -e 's/[`*\\]//g' \
      -e 's/  */ /g; s/ *$//; s/\.$//' |
    awk -F '\t' '{ print $1 "\t" tolower(substr($2, 1, 1)) substr($2, 2) }'
}
table=$(awk -F '|' '
  /^## .*[Ee]xit codes/ { section = 1; next }
  section && /^\|/ { rows++; if (rows > 2) { gsub(/^ +| +$/, "", $2); gsub(/^ +| +$/, "", $3); print $2 "\t" $3 }; next }
  rows { exit }' "$doc" | plain)
listed=$(mandoc -T markdown "$page" | awk '
  /^# / { section = ($0 == "# EXIT STATUS"); next }
  !section || /^$/ { next }
  /^(\t|> )/ { sub(/^(\t|> )/, ""); text = text " " $0; next }
  { if (tag != "" && text != "") print tag "\t" text; tag = $0; text = "" }
  END { if (tag != "" && text != "") print tag "\t" text }' | sed 's/\t /\t/' | plain)
[ -n "$table" ] || { echo "no exit-code table in $doc"; exit 2; }
[ "$table" = "$listed" ] && exit 0
echo "the EXIT STATUS of $page differs from the exit-code table of $doc (-table, +page):"
printf '%s\n' "$table" >"${TMPDIR:-/tmp}/exit-table.$$"
printf '%s\n' "$listed" | diff "${TMPDIR:-/tmp}/exit-table.$$" - | grep '^[<>]' | sed 's/^</-/; s/^>/+/'
rm -f "${TMPDIR:-/tmp}/exit-table.$$"
exit 1
