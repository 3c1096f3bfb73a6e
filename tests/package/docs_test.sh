#!/bin/bash
# Keeps the man pages and the bash completion in step with what tarvex itself says it takes.
#
#   docs_test.sh help-in-docs TARVEX MAN_DIR COMPLETION
#   docs_test.sh render MAN_DIR
#   docs_test.sh completion COMPLETION
#
# Each check prints what is missing or wrong and the run exits 1 when any check failed.
set -u

failures=0
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

# The roff source as plain text: "\-" is a dash, font changes and "\&" vanish.
man_text() {
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$1"
}

# True when TEXT names WORD on its own (not as part of a longer option or word).
names_word() {
    local text=$1 word=$2
    # shellcheck disable=SC2001 # escapes every regex character at once
    grep -qE -- "(^|[^-A-Za-z0-9_])$(sed 's/[].[*^$+?(){}|\\]/\\&/g' <<<"$word")([^-A-Za-z0-9_]|$)" \
        <<<"$text"
}

# The text a reader of COMMAND's description sees: its own section(s), the image options when
# it refers to them, and the global options.
command_section() {
    local text=$1 command=$2 own
    own=$(awk -v command="$command" '
        /^\.SS / { inside = ($2 == command) }
        /^\.SH / { inside = 0 }
        inside' <<<"$text")
    printf '%s\n' "$own"
    if grep -qi 'image options' <<<"$own"; then
        sed -n '/^\.SH IMAGE OPTIONS/,/^\.SH /p' <<<"$text"
    fi
    sed -n '/^\.SH GLOBAL OPTIONS/,/^\.SH /p' <<<"$text"
}

# Runs the completion for LINE (the cursor at its end) in a fresh bash, from directory DIR,
# and prints the replies, one a line.
complete_line() {
    local completion=$1 dir=$2 line=$3
    (
        cd "$dir" || exit 1
        # shellcheck source=/dev/null
        source "$completion"
        read -ra COMP_WORDS <<<"$line"
        [[ $line == *" " || -z $line ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE=$line
        COMP_POINT=${#line}
        # shellcheck disable=SC2030,SC2031
        COMPREPLY=()
        _tarvex
        printf '%s\n' "${COMPREPLY[@]}"
    )
}

# Every command, long option, TARVEX_IO value, environment variable and exit status the help
# texts name must be in tarvex.1; every command and option in the completion.
check_help_in_docs() {
    local tarvex=$1 man_dir=$2 completion=$3
    local page=$man_dir/tarvex.1 empty_dir main_help text
    [[ -x $tarvex ]] || { fail "no tarvex program at $tarvex"; return; }
    [[ -r $page ]] || { fail "no configured man page at $page"; return; }
    text=$(man_text "$page")
    empty_dir=$(mktemp -d) || return
    # shellcheck disable=SC2064
    trap "rm -rf '$empty_dir'" RETURN

    main_help=$("$tarvex" --help) || fail "tarvex --help failed"
    local -a commands
    mapfile -t commands < <(sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p' <<<"$main_help")
    ((${#commands[@]} >= 8)) || fail "tarvex --help lists only ${#commands[@]} commands: ${commands[*]}"

    local offered command option missing
    offered=$(complete_line "$completion" "$empty_dir" "tarvex ")
    for command in "${commands[@]}"; do
        grep -qE "^\\.SS $command( |$)" "$page" || fail "tarvex.1 has no section for the command $command"
        grep -qx -- "$command" <<<"$offered" || fail "the completion does not offer the command $command"
    done

    # The options each help names; the completion must offer a command's own after it.
    local help scope options_seen="" where scoped
    for scope in "" "${commands[@]}"; do
        if [[ -z $scope ]]; then
            help=$main_help
            where="tarvex.1"
            scoped=$text
        else
            help=$("$tarvex" "$scope" --help) || fail "tarvex $scope --help failed"
            where="tarvex.1's $scope (or the sections it refers to)"
            scoped=$(command_section "$text" "$scope")
        fi
        # A terminal's 80 columns; the usage line may run on, as other tools' do.
        awk 'NR > 1 && length > 80 { found = 1 } END { exit !found }' <<<"$help" &&
            fail "tarvex ${scope:+$scope }--help has lines wider than 80 columns"
        offered=$(complete_line "$completion" "$empty_dir" "tarvex ${scope:+$scope }--")
        missing=()
        while read -r option; do
            [[ " $options_seen " == *" $option "* ]] || options_seen+=" $option"
            names_word "$scoped" "$option" ||
                fail "$where does not name $option (from tarvex ${scope:+$scope }--help)"
            # Options the help names in another command's words (--format bin in a text) count
            # only where the help lists them as options: at the start of a line.
            if grep -qE -- "^ +(-[a-z],)?$option( |$)" <<<"$help"; then
                grep -qx -- "$option" <<<"$offered" || missing+=("$option")
            fi
        done < <(grep -oE -- '--[a-z][a-z-]*[a-z]' <<<"$help" | sort -u)
        ((${#missing[@]} == 0)) ||
            fail "the completion does not offer ${missing[*]} after 'tarvex ${scope:+$scope }'"
    done

    # TARVEX_IO values: those --io lists ("ppdev (the default), direct, sim, ...").
    local io_line value
    io_line=$(sed -n '/^  --io /,/^  --[a-z]/p' <<<"$main_help" | head -n -1 | tr -s ' \n' ' ')
    io_line=${io_line#*:}
    io_line=${io_line%%(overrides*}
    local -a io_values
    mapfile -t io_values < <(grep -oE '(^|[ ,])[a-z]+(:[a-z0-9x]+)?' <<<"${io_line//(the default)/}" |
        sed 's/^[ ,]//' | sort -u)
    ((${#io_values[@]} >= 4)) || fail "found only these TARVEX_IO values in --help: ${io_values[*]}"
    offered=$(complete_line "$completion" "$empty_dir" "tarvex --io ")
    for value in "${io_values[@]}"; do
        names_word "$(sed -n '/^\.SH PORT ACCESS/,/^\.SH /p' <<<"$text")" "$value" ||
            fail "tarvex.1's PORT ACCESS does not name the TARVEX_IO value $value"
        [[ $value == sim:0x* ]] || grep -qx -- "$value" <<<"$offered" ||
            fail "the completion does not offer $value after --io"
    done

    local variable variables=0
    while read -r variable; do
        variables=$((variables + 1))
        grep -qE "^\\.BI? $variable([ =]|$)" <<<"$(sed -n '/^\.SH ENVIRONMENT/,/^\.SH /p' <<<"$text")" ||
            fail "tarvex.1's ENVIRONMENT does not describe $variable"
    done < <(grep -oE 'TARVEX_[A-Z_]+' <<<"$main_help" | sort -u)

    # Exit statuses: the first word of each line of the help's list, and the signal statuses.
    local status exit_section statuses=0
    exit_section=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' <<<"$text")
    while read -r status; do
        statuses=$((statuses + 1))
        grep -qx "\\.B $status" <<<"$exit_section" || fail "tarvex.1's EXIT STATUS does not list $status"
    done < <(sed -n '/^Exit status:/,/^$/s/^  \([0-9][0-9+N]*\) .*/\1/p' <<<"$main_help")
    while read -r status; do
        names_word "$exit_section" "$status" || fail "tarvex.1's EXIT STATUS does not name $status"
    done < <(sed -n '/^Exit status:/,/^$/p' <<<"$main_help" | grep -oE '\b1[2-9][0-9]\b' | sort -u)
    read -ra options_seen <<<"$options_seen"
    echo "compared: ${#commands[@]} commands, ${#options_seen[@]} options," \
        "${#io_values[@]} TARVEX_IO values, $variables variables, $statuses exit statuses"
}

# Both pages render without a single warning and keep to what lintian and man-db expect.
check_render() {
    local man_dir=$1 page name output
    for name in tarvex.1 Tarvex32.1; do
        page=$man_dir/$name
        [[ -r $page ]] || { fail "no configured man page at $page"; continue; }
        output=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=all -l "$page" 2>&1 >/dev/null)
        [[ -z $output ]] || fail "man -l $name warns: $output"
        output=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
        [[ -z $output ]] || fail "groff -man -ww warns about $name: $output"
        grep -q '@[A-Z_]*@' "$page" && fail "$name keeps an unconfigured @VARIABLE@"
        output=$(sed -n '/^\.SH NAME/{n;p}' "$page")
        [[ $output =~ ^[A-Za-z0-9]+\ \\-\ . ]] ||
            fail "$name's NAME line is not 'program \\- what it does': $output"
        output=$(grep -nP '[^\x00-\x7F]' "$page")
        [[ -z $output ]] || fail "$name holds raw non-ASCII text: $output"
        # An unescaped "-" starting a word is an option name that renders as a hyphen.
        output=$(grep -nE '(^|[][ (|,"])--?[A-Za-z]' "$page")
        [[ -z $output ]] || fail "$name has options with an unescaped '-': $output"
        output=$(grep -nE "^'" "$page")
        [[ -z $output ]] || fail "$name has a line starting with ': $output"
    done
}

# The completion, case by case: what it must offer, and what it must not.
check_completion() {
    local completion=$1 dir
    dir=$(mktemp -d) || return
    # shellcheck disable=SC2064
    trap "rm -rf '$dir'" RETURN
    touch "$dir/rom.bin" "$dir/rom.hex" "$dir/old image.s19"
    mkdir "$dir/build"

    # name | line | every one of these | none of these
    local cases=(
        "commands|tarvex |detect write read verify dump reset test convert|--io"
        "commands by prefix|tarvex -q --port 0x378 d|detect dump|write"
        "global options|tarvex -|--io --port -q --quiet --json --help --version|detect --type"
        "port access methods|tarvex --io |ppdev direct sim sim:none|rom.bin"
        "port access methods by prefix|tarvex --io s|sim sim:none|ppdev direct"
        "EPROM types|tarvex write --type 27|2764 27128 27256 27512 27010|rom.bin"
        "file formats|tarvex write --format |bin hex xhex srec|rom.bin"
        "convert's input format|tarvex convert a.bin b.hex --from |bin hex xhex srec|hold"
        "convert's output format|tarvex convert a.bin b.hex --to x|xhex|bin"
        "verify after a watch|tarvex write rom.bin --type 2764 --watch --verify |all changed|rom.bin"
        "what to leave the target as|tarvex read x.bin --type 2764 --leave |hold release|toggle"
        "toggle's starting state|tarvex reset toggle --from |hold release|bin"
        "reset actions|tarvex reset |hold release toggle pulse|--from rom.bin"
        "nothing after the pulse time|tarvex reset pulse ||hold pulse rom.bin"
        "test subjects|tarvex test |memory signals|rom.bin"
        "signal lines|tarvex test signals --lines |data autofeed init select strobe|memory"
        "more signal lines|tarvex test signals --lines data,s|data,select data,strobe|data,data"
        "write's options|tarvex write -|--type --format --start --end --hex-base --no-verify --allow-empty --reset-ms --watch --changed-only --verify --help|--lines --leave --passes"
        "read's options|tarvex read x.bin --|--type --leave --format|--watch --reset-ms"
        "dump's options|tarvex dump --|--emulator --page --type|--watch"
        "test's options|tarvex test signals --|--lines --count --seconds --type --passes|--format"
        "convert's options|tarvex convert --|--from --to --fill --quiet --json --type|--io --port --leave"
        "files for write|tarvex write |rom.bin rom.hex old image.s19 build|--type"
        "files by prefix|tarvex verify r|rom.bin rom.hex|build"
        "files for convert's output|tarvex convert rom.hex r|rom.bin rom.hex|"
        "files for changed-only|tarvex write rom.bin --type 2764 --changed-only |rom.bin rom.hex|--watch"
        "commands after help|tarvex help |detect write convert|--help"
    )
    local entry name line want avoid reply word
    for entry in "${cases[@]}"; do
        IFS='|' read -r name line want avoid <<<"$entry"
        reply=$(complete_line "$completion" "$dir" "$line")
        local -a missing=() unwanted=()
        # The file name with a blank is matched whole.
        want=${want//old image.s19/old_image.s19}
        for word in $want; do
            word=${word//old_image.s19/old image.s19}
            grep -qx -- "$word" <<<"$reply" || missing+=("$word")
        done
        for word in $avoid; do
            grep -qx -- "$word" <<<"$reply" && unwanted+=("$word")
        done
        ((${#missing[@]} == 0)) || fail "completion '$line' ($name) lacks: ${missing[*]}; got: $(tr '\n' ' ' <<<"$reply")"
        ((${#unwanted[@]} == 0)) || fail "completion '$line' ($name) offers: ${unwanted[*]}"
    done
    echo "completed: ${#cases[@]} command lines"

    # Bash splits "sim:none" at ':' and "--type=" at '='; the reply replaces only the last piece.
    local -a split_cases=(
        "after sim:|tarvex --io sim:|tarvex,--io,sim,:|none"
        "after sim:n|tarvex --io sim:n|tarvex,--io,sim,:,n|none"
        "after --type=|tarvex write --type=|tarvex,write,--type,=|2764"
        "after --type=275|tarvex write --type=275|tarvex,write,--type,=,275|27512"
    )
    local words
    for entry in "${split_cases[@]}"; do
        IFS='|' read -r name line words want <<<"$entry"
        # shellcheck disable=SC2030,SC2031 # each case completes in a subshell of its own
        reply=$(
            # shellcheck source=/dev/null
            source "$completion"
            IFS=, read -ra COMP_WORDS <<<"$words"
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMP_LINE=$line
            COMP_POINT=${#line}
            _tarvex
            printf '%s\n' "${COMPREPLY[@]}"
        )
        grep -qx -- "$want" <<<"$reply" || fail "completion '$line' ($name) lacks $want; got: $(tr '\n' ' ' <<<"$reply")"
    done
}

case ${1:-} in
    help-in-docs) check_help_in_docs "$2" "$3" "$4" ;;
    render) check_render "$2" ;;
    completion) check_completion "$2" ;;
    *)
        echo "usage: $0 help-in-docs TARVEX MAN_DIR COMPLETION | render MAN_DIR | completion COMPLETION" >&2
        exit 2
        ;;
esac
if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
