# bash completion for gearset: commands, subcommands and each command's options.

_gearset_options() {
    local common="--quiet --help --version"
    case "$1" in
        "demo") echo "$common" ;;
        "date parse") echo "--json --explain $common" ;;
        "date format") echo "--iso $common" ;;
        "text encode") echo "--unicode $common" ;;
        "text decode") echo "--codepoints --json $common" ;;
        "scan") echo "--last --before --json $common" ;;
        "copy") echo "$common" ;;
        "mkdir") echo "--stamped $common" ;;
        "jpeg") echo "$common" ;;
        "store bench") echo "--count --size --page-size --compress --json $common" ;;
    esac
}

_gearset() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local groups="date text store"
    COMPREPLY=()
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "demo date text scan copy mkdir jpeg store --help --version" -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[1]} next=2
    case "$command" in
        date | text | store)
            if [[ $COMP_CWORD -eq 2 ]]; then
                case "$command" in
                    date) COMPREPLY=($(compgen -W "parse format --help --version" -- "$cur")) ;;
                    text) COMPREPLY=($(compgen -W "encode decode --help --version" -- "$cur")) ;;
                    store) COMPREPLY=($(compgen -W "bench --help --version" -- "$cur")) ;;
                esac
                return
            fi
            command="$command ${COMP_WORDS[2]}"
            next=3
            ;;
    esac
    local i
    for ((i = next; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == "--" ]] && { COMPREPLY=($(compgen -f -- "$cur")); return; }
    done
    case "${COMP_WORDS[COMP_CWORD - 1]}" in
        --before | --count | --size | --page-size) return ;;  # a number
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_gearset_options "$command")" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

complete -o filenames -F _gearset gearset
