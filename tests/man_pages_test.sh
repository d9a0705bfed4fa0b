#!/usr/bin/env bash
# Every manual page renders as plain text without a stray control byte: the
# page's source holds none but newlines and tabs, and what groff makes of
# it for a terminal (and man, where it is installed) holds none but
# newlines, with no warning from groff.  A byte such as a form feed in the
# source (a "\f" font change written out as the byte) shows in `man` as
# stray letters ("--cpus-per-taskIP").
#   tests/man_pages_test.sh <source-dir>
set -euo pipefail
src=$(cd "$1" && pwd)
command -v groff >/dev/null || { echo "groff is missing (apt-get install groff-base)"; exit 1; }
fail=0 pages=0
# The control bytes as a grep pattern: every one but those allowed.
controls() {  # allowed bytes as \xNN escapes, e.g. '\x0a'
  local pattern='[' b
  for b in $(seq 0 31) 127; do
    printf -v hex '\\x%02x' "$b"
    [[ $1 == *"$hex"* ]] || pattern+=$hex
  done
  echo "$pattern]"
}
in_source=$(controls '\x09\x0a')
in_text=$(controls '\x0a')
report() {  # page, where, text holding control bytes
  echo "$1: control bytes in $2:"
  LC_ALL=C grep -n -a -P "$in_text" <<<"$3" | head -n 3 | cat -A
  fail=1
}
for page in "$src"/docs/man/*.1; do
  pages=$((pages + 1))
  name=${page##*/}
  if LC_ALL=C grep -q -a -P "$in_source" "$page"; then
    report "$name" "its source" "$(cat "$page")"
  fi
  # -P-cbou: no SGR escapes, no overstriking, no underlining: plain text.
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1 || true)
  [ -z "$warnings" ] || { echo "$name: groff warns: $warnings"; fail=1; }
  text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
  [ -n "$text" ] || { echo "$name: groff rendered nothing"; fail=1; }
  ! LC_ALL=C grep -q -a -P "$in_text" <<<"$text" || report "$name" "groff's rendering" "$text"
  if command -v man >/dev/null; then
    text=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>&1)
    ! LC_ALL=C grep -q -a -P "$in_text" <<<"$text" || report "$name" "man's rendering" "$text"
  fi
done
[ "$pages" -gt 0 ] || { echo "no manual page in $src/docs/man"; fail=1; }
[ "$fail" -eq 0 ] && echo "man pages ($pages): 1 passed, 0 failed" || { echo "man pages: 0 passed, 1 failed"; exit 1; }
