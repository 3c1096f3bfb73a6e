# bash completion for tarvex                                 -*- shell-script -*-
#
# Works on its own; uses bash-completion's _filedir for file names when it is loaded.

_tarvex_commands="detect write read verify dump reset test convert help"
_tarvex_global_options="--io --port -q --quiet --json -h --help --version"
# Options that take a value: the word after them is never the command or a positional.
_tarvex_valued_options="--io --port --type --format --start --end --hex-base --reset-ms
    --changed-only --previous-format --verify --leave --page --from --to --fill --passes --lines --count
    --seconds"
_tarvex_image_options="--type --format --start --end --hex-base"
# --io, --port, --quiet and --json may also follow a command that opens a port.
_tarvex_port_options="--io --port -q --quiet --json"

_tarvex_command_options() {
    local options
    case $1 in
        detect) options="--leave" ;;
        write)
            options="$_tarvex_image_options --no-verify --allow-empty --crop --reset-ms --watch
                --changed-only --previous-format --verify"
            ;;
        read) options="$_tarvex_image_options --leave --sparse" ;;
        verify) options="$_tarvex_image_options --leave --allow-empty --crop" ;;
        dump) options="$_tarvex_image_options --leave --emulator --page --allow-empty --crop" ;;
        reset) options="--from" ;;
        test) options="--type --passes --lines --count --seconds" ;;
        convert)
            echo "-h --help --type --from --to -q --quiet --json --start --end --fill --hex-base
                --crop --sparse"
            return
            ;;
        help)
            echo "-h --help"
            return
            ;;
    esac
    echo "-h --help $options $_tarvex_port_options"
}

# Bash splits words at COMP_WORDBREAKS (":" and "=" among them): "sim:none" arrives as three
# words. Join the pieces typed without blanks between them, as the user sees the line.
# Sets _tarvex_words, _tarvex_cword and _tarvex_raw (the piece bash will replace).
_tarvex_join_words() {
    local line=${COMP_LINE:0:COMP_POINT} pos=0 i word blank
    _tarvex_words=()
    _tarvex_cword=0
    for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
        word=${COMP_WORDS[i]}
        blank=0
        while [[ $pos -lt ${#line} && ${line:pos:1} == [[:space:]] ]]; do
            ((pos++))
            blank=1
        done
        if ((i > 0 && !blank && pos < ${#line})) && [[ ${line:pos:${#word}} == "$word" ]]; then
            _tarvex_words[-1]+=$word
        else
            _tarvex_words+=("$word")
        fi
        ((pos += ${#word}))
        if ((i == COMP_CWORD)); then
            _tarvex_cword=$((${#_tarvex_words[@]} - 1))
            break
        fi
    done
    _tarvex_raw=${COMP_WORDS[COMP_CWORD]}
}

# Offers the WORDS (one or more blank-separated lists) that start with CUR, each after PREFIX:
# what the user typed before the value ("--type=", or the items before "," in a list).
_tarvex_offer() {
    local prefix=$1 cur=$2 word
    local -a list
    shift 2
    read -r -d '' -a list <<<"$*"
    for word in "${list[@]}"; do
        [[ $word == "$cur"* ]] && COMPREPLY+=("$prefix$word")
    done
}

_tarvex_files() {
    local cur=$1
    if declare -F _filedir >/dev/null; then
        _filedir
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$cur")
}

# Values of the option OPTION in COMMAND, the current word being CUR (after PREFIX).
_tarvex_values() {
    local command=$1 option=$2 prefix=$3 cur=$4
    case $option in
        --io) _tarvex_offer "$prefix" "$cur" ppdev direct sim sim:none ;;
        --port) _tarvex_offer "$prefix" "$cur" 0x278 0x378 0x3BC ;;
        --type) _tarvex_offer "$prefix" "$cur" 2764 27128 27256 27512 27010 ;;
        --format | --to | --previous-format) _tarvex_offer "$prefix" "$cur" bin hex xhex srec ;;
        --from)
            if [[ $command == reset ]]; then
                _tarvex_offer "$prefix" "$cur" hold release
            else
                _tarvex_offer "$prefix" "$cur" bin hex xhex srec
            fi
            ;;
        --verify) _tarvex_offer "$prefix" "$cur" all changed ;;
        --leave) _tarvex_offer "$prefix" "$cur" hold release ;;
        --lines)
            # A comma list: complete its last item, offering only the lines not named yet.
            local done=${cur%"${cur##*,}"} line lines=""
            for line in data autofeed init select strobe; do
                [[ ,$done == *",$line,"* ]] || lines+=" $line"
            done
            _tarvex_offer "$prefix$done" "${cur##*,}" "$lines"
            compopt -o nospace 2>/dev/null
            ;;
        --changed-only)
            [[ -z $prefix ]] && _tarvex_files "$cur"
            ;;
    esac
}

_tarvex() {
    COMPREPLY=()
    local _tarvex_words _tarvex_cword _tarvex_raw
    _tarvex_join_words
    local cur=${_tarvex_words[_tarvex_cword]}
    local prev=""
    ((_tarvex_cword > 0)) && prev=${_tarvex_words[_tarvex_cword - 1]}

    # The command and the positionals typed before the current word.
    local command="" i word positionals=0
    for ((i = 1; i < _tarvex_cword; i++)); do
        word=${_tarvex_words[i]}
        if [[ " $_tarvex_valued_options " == *" $word "* ]]; then
            ((i++))
        elif [[ $word == -* ]]; then
            continue
        elif [[ -z $command ]]; then
            command=$word
        else
            ((positionals++))
        fi
    done

    if [[ $cur == --*=* ]]; then
        _tarvex_values "$command" "${cur%%=*}" "${cur%%=*}=" "${cur#*=}"
    elif [[ " $_tarvex_valued_options " == *" $prev "* ]]; then
        _tarvex_values "$command" "$prev" "" "$cur"
    elif [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            _tarvex_offer "" "$cur" "$_tarvex_global_options"
        else
            _tarvex_offer "" "$cur" "$_tarvex_commands"
        fi
    elif [[ $cur == -?* ]]; then
        _tarvex_offer "" "$cur" "$(_tarvex_command_options "$command")"
    else
        case $command in
            detect) _tarvex_offer "" "$cur" "$(_tarvex_command_options "$command")" ;;
            reset) ((positionals == 0)) && _tarvex_offer "" "$cur" hold release toggle pulse ;;
            test) ((positionals == 0)) && _tarvex_offer "" "$cur" memory signals ;;
            help) ((positionals == 0)) && _tarvex_offer "" "$cur" "$_tarvex_commands" ;;
            write | read | verify | dump | convert)
                # "-" alone is also a file name: standard input or output.
                [[ $cur == - ]] && _tarvex_offer "" "$cur" "$(_tarvex_command_options "$command")"
                _tarvex_files "$cur"
                ;;
            *) [[ $cur == - ]] && _tarvex_offer "" "$cur" "$(_tarvex_command_options "$command")" ;;
        esac
    fi

    # Bash replaces only the piece after the last word break (":" or "="): drop what comes
    # before it from each reply. A word of break characters alone is that break itself.
    local raw=$_tarvex_raw
    [[ -n $raw && -z ${raw//[${COMP_WORDBREAKS// /}]/} ]] && raw=""
    local cut=$((${#cur} - ${#raw}))
    if ((cut > 0)); then
        for i in "${!COMPREPLY[@]}"; do
            COMPREPLY[i]=${COMPREPLY[i]:cut}
        done
    fi
}

complete -F _tarvex tarvex
