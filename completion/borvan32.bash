# bash completion for borvan32: switches, archive files, and the member names of the archive
# already on the line for -e, -t and -d.

_borvan32_members() {
    # One name per line from the JSON listing (only members carry "name"); nothing when the
    # archive is unreadable. Quotes and backslashes are unescaped in one pass, control characters
    # stay escaped.
    borvan32 -l --json -- "$1" 2>/dev/null |
        grep -o '"name": *"\([^"\\]\|\\.\)*"' |
        sed -e 's/^"name": *"//' -e 's/"$//' -e 's/\\\(["\\/]\)/\1/g'
}

_borvan32() {
    local cur prev words cword
    _init_completion -n = || return

    local switches="-l -t -e -a -f -u -m -d -o -j -r -p --follow-links -ex -en -ef -es -e0 --yes
        --headless --progress --no-progress --sort= --password= --split= --checkout= --checkout-delete=
        --icons= --all-files --json --make-sfx
        --help --version /vscan /extract /extractx /NI /inichange --"
    case $cur in
        --sort=*)
            COMPREPLY=($(compgen -W "name date size type packed ratio path original" -- "${cur#--sort=}"))
            return ;;
        --split=*)
            # Volume sizes: a few usual ones; any number of bytes (64k or more) will do.
            COMPREPLY=($(compgen -W "64k 1440k 100m 650m 700m 4095m" -- "${cur#--split=}"))
            return ;;
        -*|/[a-zA-Z]*)
            if [[ $cur != /*/* ]]; then
                COMPREPLY=($(compgen -W "$switches" -- "$cur"))
                [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
                [[ ${#COMPREPLY[@]} -gt 0 ]] && return
            fi ;;
    esac

    # The command switch and the archive: the first word after the switches that names a file.
    local i command="" archive=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -l|-t|-e|-a|-f|-u|-m|-d) command=${words[i]} ;;
            -*|/vscan|/extract|/extractx|/NI|/inichange) ;;
            *) if [[ -z $archive ]]; then archive=${words[i]}; fi ;;
        esac
    done

    if [[ -n $archive && ( $command == -e || $command == -t || $command == -d ) && -f $archive ]]; then
        if [[ $command == -e ]]; then
            _filedir -d
        else
            # Not compgen -W: it would expand quotes and $ in the names. Each offer is quoted for
            # the line, so a name with a blank or a quote stays one argument.
            local name quoted
            COMPREPLY=()
            while IFS= read -r name; do
                printf -v quoted %q "$name"
                if [[ $name == "$cur"* || $quoted == "$cur"* ]]; then
                    COMPREPLY+=("$quoted")
                fi
            done < <(_borvan32_members "$archive")
        fi
        return
    fi
    _filedir
}
complete -F _borvan32 borvan32
