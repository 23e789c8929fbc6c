#!/usr/bin/env bash
# The manual pages against the programs' own --help: every option the help names appears in the
# English page (written by hand) and in the Chinese one (generated), every command of vantero-cli
# is an entry of the pages' command section, and the English page formats without a warning in
# the C locale.
# Usage: check_man_pages.sh VANTERO VANTERO_CLI PAGE_FOLDER   (PAGE_FOLDER holds NAME.1 and zh_CN/NAME.1)
set -uo pipefail
export LC_ALL=C.UTF-8
vantero=$1 cli=$2 pages=$3
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The page as plain text: font changes and roff escapes of the minus sign gone.
plain() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$1"; }
# The first word of each entry (.TP) of a section, without macros and quotes.
entries() {
    plain "$1" | awk -v section="$2" '
        /^\.SH / { inside = (substr($0, 5) == section); next }
        inside && /^\.TP/ { take = 1; next }
        inside && take { take = 0; sub(/^\.(B|BR|BI|I|IR) +/, ""); gsub(/"/, ""); print $1 }'
}
options_of() { grep -oE -- '--[a-z][a-z0-9-]*' <<<"$1" | sort -u; }

check() { # PROGRAM NAME COMMAND_SECTION_EN COMMAND_SECTION_ZH
    local program=$1 name=$2 help
    help=$("$program" --help) || { fail "$name --help failed"; return; }
    [ -n "$help" ] || { fail "$name --help printed nothing"; return; }
    local commands
    commands=$(awk '/^[^ ].*:$/ { inside = ($0 ~ /^命令/); next } inside && /^ +[^ ]/ { print $1 }' <<<"$help")
    for page in "$pages/$name.1" "$pages/zh_CN/$name.1"; do
        [ -f "$page" ] || { fail "no $page"; continue; }
        local text section
        text=$(plain "$page")
        for option in $(options_of "$help"); do
            grep -qE -- "(^|[^a-z-])$option([^a-z0-9-]|\$)" <<<"$text" || fail "$page lacks $option"
        done
        section=COMMANDS
        [[ $page == */zh_CN/* ]] && section=命令
        local listed
        listed=$(entries "$page" "$section")
        for command in $commands; do
            grep -qxF -- "$command" <<<"$listed" || fail "$page: no entry for the command $command"
        done
    done
    local warnings
    warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$pages/$name.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$name.1 formats with warnings under C: $warnings"
    [ "$("$program" --version)" = "$name $(sed -n 's/.*"Vantero \([^"]*\)".*/\1/p' "$pages/$name.1")" ] ||
        fail "$name --version: '$("$program" --version)'"
}

check "$vantero" vantero
check "$cli" vantero-cli

[ "$failures" -eq 0 ] || exit 1
echo "manual pages name every command and option of --help"
