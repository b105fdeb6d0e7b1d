#!/bin/sh
# doc-links.sh FILE.md... -- checks every relative link of the Markdown files
# (outside code blocks): the file it names exists and, for a link with an
# anchor, that file (or the linking one) has a heading of that anchor, made
# as GitHub makes them (lower case, punctuation dropped, blanks as hyphens,
# -1, -2, ... for repeats).  Prints each broken link and exits 1 when there
# is one.
# The anchors of a Markdown file's headings, one a line.
anchors() {
  awk '/^```/ { code = !code; next }
    !code && /^#+ / {
      a = tolower($0); sub(/^#+ +/, "", a); gsub(/[^a-z0-9 _-]/, "", a); gsub(/ /, "-", a)
      print seen[a]++ ? a "-" seen[a] - 1 : a }' "$1"
}
broken=0
for file in "$@"; do
  dir=$(dirname "$file")
  links=$(awk '/^```/ { code = !code; next } !code' "$file" |
    grep -o '\]([^)]*)' | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:')
  for link in $links; do
    path=${link%%#*}
    target=$dir/$path
    [ -n "$path" ] || target=$file
    if [ ! -e "$target" ]; then
      echo "$file: $link: no file $target"; broken=1
    elif [ "$path" != "$link" ] && ! anchors "$target" | grep -qx -- "${link#*#}"; then
      echo "$file: $link: no heading of that anchor in $target"; broken=1
    fi
  done
done
exit $broken
