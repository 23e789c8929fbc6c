#!/bin/sh
# Writes a manual page from a program's own --help, so the page can never lack a command or an
# option the program has. The help text's form:
#   用法: PROGRAM ...          first line: the synopsis
#   plain lines                 description paragraphs
#   Heading:                    a section (选项, 命令, ...)
#     ITEM   TEXT               an entry of the section (three blanks or more apart)
# Usage: man-from-help.sh PROGRAM NAME SUMMARY VERSION EXTRA_SECTIONS_FILE OUTPUT
set -eu
program=$1 name=$2 summary=$3 version=$4 extra=$5 output=$6

help=$("$program" --help)
upper=$(printf '%s' "$name" | tr 'a-z' 'A-Z')
# Byte-wise on purpose: the text is UTF-8 and only ASCII bytes are looked at.
printf '%s\n' "$help" | LC_ALL=C awk -v name="$name" -v upper="$upper" -v summary="$summary" -v version="$version" '
function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    if (text ~ /^[.'"'"']/)
        text = "\\&" text
    return text
}
BEGIN {
    printf ".TH %s 1 \"\" \"Vantero %s\" \"用户命令\"\n.ad l\n.nh\n", roff(upper), version
    printf ".SH 名称\n%s \\- %s\n", roff(name), roff(summary)
}
NR == 1 {
    sub(/^用法: */, "")
    printf ".SH 用法\n%s\n.SH 说明\n", roff($0)
    next
}
/^[^ ].*:$/ {
    heading = $0
    sub(/ *:$/, "", heading)
    printf ".SH %s\n", roff(heading)
    next
}
/^ +[^ ]/ {
    entry = $0
    sub(/^ +/, "", entry)
    at = match(entry, /   +/)
    if (at > 0) {
        item = substr(entry, 1, at - 1)
        text = substr(entry, at + RLENGTH)
    } else {
        item = entry
        text = ""
    }
    printf ".TP\n.B %s\n%s\n", roff(item), roff(text)
    next
}
/^$/ { printf ".PP\n"; next }
{ printf "%s\n", roff($0) }
' >"$output"
cat "$extra" >>"$output"
