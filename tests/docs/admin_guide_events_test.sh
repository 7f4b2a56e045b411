#!/bin/sh
# The administrator's guide names every event of the message table: each message id (the
# categories aside) has a heading ("#### 107 ...") or a table row ("| 200 | ...") of its own, and
# the first line of its text stands in the guide word for word. Prints what is missing and fails.
#
# usage: admin_guide_events_test.sh <messages.mc> <admin-guide.md>
set -eu
[ $# -eq 2 ] || { echo "usage: $0 <messages.mc> <admin-guide.md>" >&2; exit 2; }
[ -r "$1" ] && [ -r "$2" ] || { echo "$0: cannot read $1 or $2" >&2; exit 2; }

awk -v guide="$2" '
  BEGIN {
    while ((getline line < guide) > 0) { sub(/\r$/, "", line); lines[++n] = line }
    close(guide)
  }
  { sub(/\r$/, "") }
  /^MessageId=/ { id = substr($0, 11) }
  /^SymbolicName=/ { message = ($0 ~ /^SymbolicName=MSG_/) }
  /^Language=/ && message {
    getline text
    sub(/\r$/, "", text)
    ++checked
    named = 0; quoted = 0
    for (i = 1; i <= n; ++i) {
      if (lines[i] ~ ("^(#+ |[|] *)" id "([ |:]|$)")) named = 1
      if (index(lines[i], text)) quoted = 1
    }
    if (!named) { print "admin guide: no heading or table row for event " id; ++failed }
    if (!quoted) { print "admin guide: the text of event " id " is missing: " text; ++failed }
    message = 0
  }
  END {
    if (checked == 0) { print "admin guide check: no messages found in the table"; exit 1 }
    if (failed) exit 1
    print "admin guide: all " checked " events of the message table named with their texts"
  }
' "$1"
