# Shared by the slip cases (sourced, not a case of its own): each slip is
# shown as the files before, the command line, what it printed, its status
# and the files after, so that a changed or lost byte shows in the transcript.

# Every file of the folder with its size and checksum.
files() {
  echo "files:"
  for f in *; do [ -f "$f" ] && printf '  %s %s %s\n' "$f" "$(stat -c %s "$f")" "$(cksum <"$f" | cut -d' ' -f1)"; done
  return 0
}

# The command line, its output, its status.
slip() {
  echo "\$ $*"
  "$@"
  echo "status $?"
}
