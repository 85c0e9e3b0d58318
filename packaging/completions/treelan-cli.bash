# bash completion for treelan-cli                                  -*- shell-script -*-
# Options follow `treelan-cli --help` (tests/packaging checks that they agree). Template names are the
# .xsl files of the Resource folder that the command would use, read at completion time.

_treelan_cli_resources()
{
    local i program dir
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == --resources ]]; then
            printf '%s\n' "${words[i + 1]}"
            return
        fi
    done
    program=$(type -P "${words[0]}") || return
    dir=$(dirname -- "$(readlink -f -- "$program")")
    if [[ -d $dir/Resource ]]; then
        printf '%s\n' "$dir/Resource"
    else
        printf '%s\n' "$dir/../share/treelan/Resource"
    fi
}

# `catalog VERB ...`: the verbs, their options and those of every verb. The catalogue's export
# takes every option of export, so it continues as export does (command=export).
_treelan_cli_catalog()
{
    local first=$1 verb="" i
    for ((i = first; i < cword; i++)); do
        case ${words[i]} in
            add | list | search | diff | verify | export | remove | check)
                verb=${words[i]}
                break
                ;;
        esac
    done
    if [[ -z $verb ]]; then
        COMPREPLY=($(compgen -W 'add list search diff verify export remove check --help -h' -- "$cur"))
        return
    fi
    case $prev in
        --db)
            _filedir
            return
            ;;
        --hash)
            COMPREPLY=($(compgen -W 'sha256' -- "$cur"))
            return
            ;;
        --label | --volume | --snapshot | --size | --newer | --older | --type | --only)
            return
            ;;
    esac
    if [[ $verb == export ]]; then
        command=export
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--db --json --tsv' -- "$cur"))
        fi
        return
    fi
    if [[ $cur == -* ]]; then
        local options='--db --json --tsv --quiet --help -q -h'
        case $verb in
            add)
                options+=' --label --mp3 --media --hash --rehash -m -M --exclude-pattern
                    --include-pattern --no-hidden --max-depth --one-file-system --jobs'
                ;;
            search)
                options+=' --volume --snapshot --all-snapshots --size --newer --older --type -0'
                ;;
            diff) options+=' --only' ;;
            verify) options+=' --rehash' ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    _filedir
}

_treelan_cli()
{
    local cur prev words cword
    _init_completion || return

    local command=""
    local i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            export | list | catalog)
                command=${words[i]}
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W 'export list catalog --help --version' -- "$cur"))
        return
    fi

    if [[ $command == catalog ]]; then
        _treelan_cli_catalog $((i + 1))
        [[ $command == catalog ]] && return
    fi

    case $prev in
        -f | --format)
            COMPREPLY=($(compgen -W 'csv html json mht ncdu tsv xml xslt' -- "$cur"))
            return
            ;;
        -t | --template)
            local dir names=() file
            dir=$(_treelan_cli_resources)
            for file in "$dir"/*.xsl; do
                [[ -f $file ]] && names+=("$(basename -- "$file" .xsl)")
            done
            COMPREPLY=($(compgen -W '${names[@]}' -- "$cur"))
            return
            ;;
        --sort)
            COMPREPLY=($(compgen -W 'name folder size type date duration bitrate' -- "$cur"))
            return
            ;;
        --columns)
            # A comma-separated list: complete the name after the last comma.
            local done=${cur%"${cur##*,}"}
            COMPREPLY=($(compgen -P "$done" -W 'size date duration bitrate mediaTitle artist album
                track year genre dimensions codec dateTaken cameraMake cameraModel' -- "${cur##*,}"))
            compopt -o nospace
            return
            ;;
        --resources)
            _filedir -d
            return
            ;;
        --strings)
            _filedir
            return
            ;;
        --only | --exclude | --exclude-pattern | --include-pattern | --max-depth | --jobs)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        local walk_options='--exclude-pattern --include-pattern --no-hidden --max-depth
            --one-file-system --no-follow --jobs'
        if [[ $command == export ]]; then
            COMPREPLY+=($(compgen -W '--recursive --mp3 --media --format --template --only --exclude
                --resources --strings --totals --bom --quiet --help -r -m -M -f -t -q -h
                $walk_options' -- "$cur"))
        else
            COMPREPLY=($(compgen -W '--recursive --mp3 --media --full-path --columns --sort
                --descending --strings --help -r -m -M -h $walk_options' -- "$cur"))
        fi
        return
    fi
    _filedir
} &&
    complete -F _treelan_cli treelan-cli

# ex: filetype=sh
