# Bash completion for emlx2mbox: its options, their values, folders for -o and files or
# folders for the SOURCEs. Installed into bash-completion's completions folder.
_emlx2mbox() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -o|--output)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --layout)
            COMPREPLY=($(compgen -W "auto apple folders" -- "$cur"))
            return ;;
        --eol)
            COMPREPLY=($(compgen -W "auto crlf lf" -- "$cur"))
            return ;;
        --for)
            COMPREPLY=($(compgen -W "any thunderbird apple-mail" -- "$cur"))
            return ;;
        -j|--jobs)
            COMPREPLY=($(compgen -W "1 2 4 8 16" -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-o --output --layout --for --flags --eol --new-only --verify
            --no-verify --no-sync -j --jobs -n --dry-run -q --quiet -h --help -V --version" \
            -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
    compopt -o filenames 2>/dev/null
}
complete -F _emlx2mbox emlx2mbox
