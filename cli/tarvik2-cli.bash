# bash completion for tarvik2-cli: commands, their options, and COM names after -p (several,
# separated by commas) or after "port:" in diff.

_tarvik2_cli_com_names()
{
    local n names=""
    for n in $(seq 1 40); do names+="COM$n "; done
    printf '%s' "$names"
}

_tarvik2_cli()
{
    local cur prev words cword
    _init_completion -n =: || return

    local commands="ports info read write reset upload monitor diff"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
        --com-dir) ((i++)) ;;
        -*) ;;
        *) command="${words[i]}"; break ;;
        esac
    done

    case "$prev" in
    --com-dir)
        _filedir -d
        return
        ;;
    -p | --ports)
        # Complete the part after the last comma.
        local done_part="" last="$cur"
        if [[ "$cur" == *,* ]]; then
            done_part="${cur%,*},"
            last="${cur##*,}"
        fi
        local candidate
        COMPREPLY=()
        for candidate in $(_tarvik2_cli_com_names); do
            [[ "$candidate" == "$last"* ]] && COMPREPLY+=("$done_part$candidate")
        done
        if [[ "$last" == /* ]]; then
            local path
            for path in $(compgen -f -- "$last"); do COMPREPLY+=("$done_part$path"); done
        fi
        return
        ;;
    -o | --output | --csv)
        _filedir
        return
        ;;
    --interval | --count | --set)
        return
        ;;
    esac

    if [[ -z "$command" ]]; then
        COMPREPLY=($(compgen -W "$commands --com-dir --help --version" -- "$cur"))
        return
    fi

    local options="--help --com-dir"
    case "$command" in
    info | reset) options+=" -p" ;;
    read) options+=" -p -o" ;;
    write) options+=" -p --set --whole --dry-run --no-verify --force" ;;
    upload) options+=" -p --messages --siren" ;;
    monitor) options+=" -p --interval --count --csv --no-reconnect" ;;
    esac

    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case "$command" in
    write) _filedir json ;;
    upload) _filedir wav ;;
    diff)
        if [[ "$cur" == port:* ]]; then
            COMPREPLY=($(compgen -P port: -W "$(_tarvik2_cli_com_names)" -- "${cur#port:}"))
            __ltrim_colon_completions "$cur"
        else
            _filedir json
            COMPREPLY+=($(compgen -W "port:" -- "$cur"))
            compopt -o nospace
        fi
        ;;
    esac
} &&
    complete -F _tarvik2_cli tarvik2-cli
