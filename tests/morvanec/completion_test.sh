#!/bin/bash
# The bash completion of morvanec, completed the way bash calls it, against
# a table of command lines; and its command list against morvanec --help.
# Usage: completion_test.sh COMPLETION_FILE MORVANEC
set -u
completion=$1
morvanec=$2
framework=/usr/share/bash-completion/bash_completion
if [[ ! -r $framework ]]; then
    echo "bash-completion is not installed ($framework): skipped"
    exit 77
fi
source "$framework"
source "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch rec.xsd data.xml recs.bin recs.jsonl && mkdir out

failures=0
# completions WORDS...: what completing the last word offers, sorted, each
# followed by a blank.
completions() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _morvanec
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

# complete_case EXPECTED WORDS...
complete_case() {
    local expected=$1
    shift
    local got
    got=$(completions "$@")
    if [[ "$got" != "$expected" ]]; then
        echo "FAIL: [$*] gave [$got], expected [$expected]"
        failures=$((failures + 1))
    fi
}

complete_case "diff " morvanec di
complete_case "to-binary to-csv to-json to-xml " morvanec to
complete_case "--help --version " morvanec --
complete_case "--help -o " morvanec generate -
complete_case "--help --json " morvanec layout --
complete_case "--help --lenient -o " morvanec to-binary -
complete_case "out " morvanec generate -o ""
complete_case "out rec.xsd " morvanec check ""
complete_case "out rec.xsd " morvanec to-binary --lenient ""
complete_case "data.xml out " morvanec to-binary rec.xsd ""
complete_case "out recs.bin " morvanec to-xml rec.xsd ""
complete_case "--delimiter --help --lenient -o " morvanec to-csv -
complete_case "" morvanec to-csv --delimiter ""
complete_case "data.xml out rec.xsd recs.bin recs.jsonl " morvanec to-json rec.xsd ""
complete_case "out recs.jsonl " morvanec from-json --lenient rec.xsd ""
complete_case "--help --server --stream --subject --url " morvanec publish --
complete_case "" morvanec publish --url ""
complete_case "data.xml out rec.xsd " morvanec publish --stream S rec.xsd ""
complete_case "" morvanec subscribe nats://h:4222 ""
complete_case "out rec.xsd " morvanec subscribe nats://h:4222 S ""
complete_case "data.xml out " morvanec recover ""
complete_case "out rec.xsd " morvanec diff rec.xsd ""
complete_case "" morvanec unknown ""

# Every command of morvanec --help, and no other, is offered.
offered=$(completions morvanec "" | tr ' ' '\n' | grep -v '^--' | grep . | tr '\n' ' ')
listed=$("$morvanec" --help | sed -n 's/^  morvanec \([a-z-]*\).*/\1/p' | sort | tr '\n' ' ')
if [[ "$offered" != "$listed" ]]; then
    echo "FAIL: completion offers [$offered], morvanec --help lists [$listed]"
    failures=$((failures + 1))
fi

echo "$failures failures"
[[ $failures -eq 0 ]]
