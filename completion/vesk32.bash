# bash completion for vesk32: switches, and for -s the server groups and hosts of the settings file.

_vesk32_servers() {
    local ini=$1
    [[ -r $ini ]] || return
    # [Servers] entries read DESCRIPTIONSERVER:HOST:PORTS[GROUP:NAME]; offer groups, then hosts.
    awk '
         /^\[/ { inside = (tolower($0) ~ /^\[servers\]/); next }
         inside && /^sv[0-9]+=/ {
             line = $0; sub(/^[^=]*=/, "", line)
             g = index(toupper(line), "GROUP:")
             if (g) { print substr(line, g + 6); line = substr(line, 1, g - 1) }
             s = index(toupper(line), "SERVER:")
             if (s) { host = substr(line, s + 7); sub(/:.*/, "", host); print host }
         }' "$ini" | sort -u
}

_vesk32() {
    local cur prev words cword
    _init_completion || return

    local i ini="${XDG_CONFIG_HOME:-$HOME/.config}/vesk32/vesk.ini"
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -i && -n ${words[i+1]-} ]]; then
            ini=${words[i+1]}
            [[ $ini == *.* ]] || ini=$ini.ini
        fi
    done

    case $prev in
        -s)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_vesk32_servers "$ini")" -- "$cur"))
            return ;;
        -i) _filedir ini; return ;;
        -n|-j|--dde) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-s -n -j -i --headless --dde --help --version" -- "$cur"))
    fi
}
complete -F _vesk32 vesk32
