# SPDX-License-Identifier: MIT
# bash completion for pictelle-batch: its options, percentages, folders after -o and the
# pictures it converts.

_pictelle_batch()
{
    local cur prev words cword
    _init_completion -s || return

    case $prev in
        -p | --percentage)
            COMPREPLY=($(compgen -W '10 20 25 30 40 50 60 70 75 80 90 100' -- "$cur"))
            return
            ;;
        -o | --output-dir)
            _filedir -d
            return
            ;;
        --files-from)
            _filedir
            return
            ;;
        -h | --help | -V | --version)
            return
            ;;
    esac

    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-p --percentage= -k --keep-going -o --output-dir= -u
            --update --files-from= -0 --null -h --help -V --version' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    _filedir '@(bmp|jpg|jpeg|png)'
}
complete -F _pictelle_batch pictelle-batch
