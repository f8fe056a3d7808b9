#!/usr/bin/env bash
# The bash completion with the program's own word lists: each row is the words typed so far (the
# last one being completed) and what must be offered. bash-completion's helpers are stood in for:
# _filedir offers the marker FILES (DIRS with -d).
set -u
program=$1
script=$2
_init_completion() {
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${words[cword]}
    prev=${words[cword - 1]:-}
}
_filedir() { if [[ ${1-} == -d ]]; then COMPREPLY=(DIRS); else COMPREPLY=(FILES); fi; }
# shellcheck source=/dev/null
source "$script"

failed=0
check() {
    local expected=$1
    shift
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _brevomat_cli
    local got="${COMPREPLY[*]}"
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$*' offers '$got', expected '$expected'"
        failed=1
    fi
}
check "FILES" backup dump.gba --dat ""
check "FILES" --log ""
check "FILES" write game.gba --ips ""
check "DIRS" --virtual ""
check "lpt1 lpt2 lpt3" --port l
check "4 3 2 1" --speed ""
check "1 2 3 4" backup-save s.sav --bank ""
check "backup backup-save" --virtual cart ba
check "--virtual" --vi
check "--no --no-keep" --no
check "FILES" --port lpt2 write ""
check "" --completion
exit $failed
