#!/bin/sh
# kelo-help.sh KELO -- prints kelo's help and the help of every command it
# lists, for options-in-page.sh.
"$1" --help || exit 2
for command in $("$1" --help | sed -n 's/^  kelo \([a-z]*\) .*/\1/p'); do
  "$1" "$command" --help || exit 2
done
