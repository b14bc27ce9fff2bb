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

    local commands="ports link info read write reset upload monitor diff site report doctor"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
        --com-dir) ((i++)) ;;
        -*) ;;
        *) command="${words[i]}"; break ;;
        esac
    done

    case "$prev" in
    --com-dir | --site)
        _filedir -d
        return
        ;;
    --template)
        _filedir json
        return
        ;;
    --operator | --name)
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
    ports) options+=" --all --json" ;;
    link) options+=" --remove" ;;
    info | reset) options+=" -p --site --operator" ;;
    read) options+=" -p -o --site --operator" ;;
    write) options+=" -p --set --whole --dry-run --no-verify --force --site --operator" ;;
    upload) options+=" -p --messages --siren --site --operator" ;;
    site) options+=" --name --template" ;;
    report) options+=" -o" ;;
    doctor) options+=" -p" ;;
    monitor) options+=" -p --interval --count --csv --no-reconnect" ;;
    esac

    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case "$command" in
    write) _filedir json ;;
    upload) _filedir wav ;;
    report) _filedir -d ;;
    site)
        if [[ "$prev" == site ]]; then
            COMPREPLY=($(compgen -W "init verify" -- "$cur"))
        else
            _filedir -d
        fi
        ;;
    link)
        # COMn first, then the device.
        local positional=0
        for ((i = i + 1; i < cword; i++)); do [[ "${words[i]}" == -* ]] || ((positional++)); done
        if ((positional == 0)); then
            COMPREPLY=($(compgen -W "$(_tarvik2_cli_com_names)" -- "$cur"))
        else
            COMPREPLY=($(compgen -f -- "${cur:-/dev/serial/by-id/}"))
        fi
        ;;
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
