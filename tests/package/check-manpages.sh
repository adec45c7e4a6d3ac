#!/usr/bin/env bash
# Every option a program's --help names must be in its manual page, so that
# a new option fails here until the page describes it too.
#   check-manpages.sh PROGRAM MANPAGE [PROGRAM MANPAGE]...
set -euo pipefail
status=0
while [ $# -ge 2 ]; do
  program=$1 page=$2
  shift 2
  [ -s "$page" ] || { echo "FAIL: no manual page $page"; status=1; continue; }
  # A gzipped page as installed, or the source; roff writes a minus as \-.
  text=$(if [[ $page == *.gz ]]; then zcat "$page"; else cat "$page"; fi | sed 's/\\-/-/g')
  options=$("$program" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
  [ -n "$options" ] || { echo "FAIL: $program --help names no option"; status=1; continue; }
  for option in $options; do
    if ! grep -qE -- "${option}([^a-z0-9-]|\$)" <<<"$text"; then
      echo "FAIL: $(basename "$program") --help names $option, which $page does not describe"
      status=1
    fi
  done
  echo "$(basename "$page"): $(wc -w <<<"$options") options of --help described"
done
exit $status
