# fish completion for treelan-cli. Options follow `treelan-cli --help` (tests/packaging checks that
# they agree). Template names are the .xsl files of the Resource folder the command would use.

function __treelan_cli_templates
    set -l tokens (commandline -opc)
    set -l dir
    set -l i (contains -i -- --resources $tokens)
    if test -n "$i"; and test (count $tokens) -gt $i
        set dir $tokens[(math $i + 1)]
    else
        set -l program (command -s $tokens[1])
        or return
        set -l bin (path dirname (path resolve $program))
        if test -d $bin/Resource
            set dir $bin/Resource
        else
            set dir $bin/../share/treelan/Resource
        end
    end
    for file in $dir/*.xsl
        path change-extension '' (path basename $file)
    end
end

# The catalogue's verb, when the command line has one after `catalog`.
function __treelan_cli_catalog_verb
    set -l tokens (commandline -opc)
    set -l i (contains -i -- catalog $tokens)
    test -n "$i"; or return 1
    for token in $tokens[(math $i + 1)..-1]
        if contains -- $token add list search diff verify export remove check
            echo $token
            return 0
        end
    end
    return 1
end

# True when the catalogue's verb is one of the arguments (none: any verb).
function __treelan_cli_catalog_is
    set -l verb (__treelan_cli_catalog_verb); or return 1
    test (count $argv) -eq 0; or contains -- $verb $argv
end

# `export` itself, or the catalogue's export, which takes every option of export.
function __treelan_cli_exporting
    __treelan_cli_catalog_is export; and return 0
    __fish_seen_subcommand_from catalog; and return 1
    __fish_seen_subcommand_from export
end

# `list` itself, not the catalogue's list.
function __treelan_cli_listing
    not __fish_seen_subcommand_from catalog; and __fish_seen_subcommand_from list
end

set -l commands export list catalog
complete -c treelan-cli -f
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -a export -d 'Write the tree of a folder to a file'
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -a list -d 'Print the listing of a folder'
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -a catalog -d 'Snapshots of folders and drives over time'
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Show the version'
complete -c treelan-cli -s h -l help -d 'Show the help'

# Both commands
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -s r -l recursive -d 'Include every subfolder'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -s m -l mp3 -d 'Read MP3 playing time and bit rate'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -s M -l media -d 'Read media details of audio, video and pictures'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l strings -r -F -d 'Interface string file'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l exclude-pattern -x -d 'Leave out names matching the pattern'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l include-pattern -x -d 'Keep only files matching the pattern'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l no-hidden -d 'Leave out names that begin with a dot'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l max-depth -x -d 'Enter subfolders down to this depth'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l one-file-system -d 'Stay on the file system of the folder'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l no-follow -d 'Write symbolic links as links, do not follow them'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -l jobs -x -d 'Threads that read folders ahead'
complete -c treelan-cli -n "__treelan_cli_exporting; or __treelan_cli_listing" -F

# export
complete -c treelan-cli -n __treelan_cli_exporting -s f -l format -x -a 'csv html json mht ncdu tsv xml xslt' -d 'Output format'
complete -c treelan-cli -n __treelan_cli_exporting -s t -l template -x -a '(__treelan_cli_templates)' -d 'XSLT template name'
complete -c treelan-cli -n __treelan_cli_exporting -l only -r -d 'Export only this path'
complete -c treelan-cli -n __treelan_cli_exporting -l exclude -r -d 'Leave out this path'
complete -c treelan-cli -n __treelan_cli_exporting -l resources -x -a '(__fish_complete_directories)' -d 'Resource folder'
complete -c treelan-cli -n __treelan_cli_exporting -l totals -d 'Add folder totals to the XML folder elements'
complete -c treelan-cli -n __treelan_cli_exporting -l bom -d 'Begin CSV and TSV with a byte-order mark'
complete -c treelan-cli -n __treelan_cli_exporting -s q -l quiet -d 'No progress and no warnings'

# list
complete -c treelan-cli -n __treelan_cli_listing -l full-path -d 'Begin each line with the folder'
complete -c treelan-cli -n __treelan_cli_listing -l columns -x -a '(__fish_complete_list , "printf \'%s\n\' size date duration bitrate mediaTitle artist album track year genre dimensions codec dateTaken cameraMake cameraModel")' -d 'Shown columns'
complete -c treelan-cli -n __treelan_cli_listing -l sort -x -a 'name folder size type date duration bitrate' -d 'Sort key'
complete -c treelan-cli -n __treelan_cli_listing -l descending -d 'Sort in descending order'

# catalog: its verbs, then each verb's options and those of every verb
set -l verbs add list search diff verify export remove check
complete -c treelan-cli -n "__fish_seen_subcommand_from catalog; and not __treelan_cli_catalog_is" -a "$verbs"
complete -c treelan-cli -n __treelan_cli_catalog_is -l db -r -F -d 'The catalogue file'
complete -c treelan-cli -n __treelan_cli_catalog_is -l json -d 'JSON Lines'
complete -c treelan-cli -n __treelan_cli_catalog_is -l tsv -d 'Tab-separated values'
complete -c treelan-cli -n "__treelan_cli_catalog_is add list search diff verify remove check" -s q -l quiet -d 'No progress and no warnings'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l label -x -d "The volume's label"
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -s m -l mp3 -d 'Keep MP3 playing time and bit rate'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -s M -l media -d "Keep every media file's details"
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l hash -x -a sha256 -d "Keep each file's SHA-256"
complete -c treelan-cli -n "__treelan_cli_catalog_is add verify" -l rehash -d 'Read every file again'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l exclude-pattern -x -d 'Leave out names matching the pattern'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l include-pattern -x -d 'Keep only files matching the pattern'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l no-hidden -d 'Leave out names that begin with a dot'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l jobs -x -d 'Threads that read folders ahead'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l max-depth -x -d 'Enter subfolders down to this depth'
complete -c treelan-cli -n "__treelan_cli_catalog_is add" -l one-file-system -d 'Stay on the file system of the folder'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l volume -x -d 'Only the volume labelled L'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l snapshot -x -d 'Only this snapshot'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l all-snapshots -d 'Every snapshot'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l size -x -d 'Larger than +N, smaller than -N, exactly N bytes'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l newer -x -d 'Modified after DATE'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l older -x -d 'Modified before DATE'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -l type -x -d 'Files ending in .EXT'
complete -c treelan-cli -n "__treelan_cli_catalog_is search" -o 0 -d 'Full paths, each ended by a NUL byte'
complete -c treelan-cli -n "__treelan_cli_catalog_is diff" -l only -x -d 'Show only these kinds'
complete -c treelan-cli -n "__treelan_cli_catalog_is add diff verify" -F
