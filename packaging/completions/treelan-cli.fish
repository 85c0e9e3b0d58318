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

set -l commands export list
complete -c treelan-cli -f
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -a export -d 'Write the tree of a folder to a file'
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -a list -d 'Print the listing of a folder'
complete -c treelan-cli -n "not __fish_seen_subcommand_from $commands" -l version -d 'Show the version'
complete -c treelan-cli -s h -l help -d 'Show the help'

# Both commands
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -s r -l recursive -d 'Include every subfolder'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -s m -l mp3 -d 'Read MP3 playing time and bit rate'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -s M -l media -d 'Read media details of audio, video and pictures'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l strings -r -F -d 'Interface string file'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l exclude-pattern -x -d 'Leave out names matching the pattern'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l include-pattern -x -d 'Keep only files matching the pattern'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l no-hidden -d 'Leave out names that begin with a dot'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l max-depth -x -d 'Enter subfolders down to this depth'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l one-file-system -d 'Stay on the file system of the folder'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l no-follow -d 'Write symbolic links as links, do not follow them'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -l jobs -x -d 'Threads that read folders ahead'
complete -c treelan-cli -n "__fish_seen_subcommand_from $commands" -F

# export
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -s f -l format -x -a 'csv html json mht ncdu tsv xml xslt' -d 'Output format'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -s t -l template -x -a '(__treelan_cli_templates)' -d 'XSLT template name'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -l only -r -d 'Export only this path'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -l exclude -r -d 'Leave out this path'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -l resources -x -a '(__fish_complete_directories)' -d 'Resource folder'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -l totals -d 'Add folder totals to the XML folder elements'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -l bom -d 'Begin CSV and TSV with a byte-order mark'
complete -c treelan-cli -n "__fish_seen_subcommand_from export" -s q -l quiet -d 'No progress and no warnings'

# list
complete -c treelan-cli -n "__fish_seen_subcommand_from list" -l full-path -d 'Begin each line with the folder'
complete -c treelan-cli -n "__fish_seen_subcommand_from list" -l columns -x -a '(__fish_complete_list , "printf \'%s\n\' size date duration bitrate mediaTitle artist album track year genre dimensions codec dateTaken cameraMake cameraModel")' -d 'Shown columns'
complete -c treelan-cli -n "__fish_seen_subcommand_from list" -l sort -x -a 'name folder size type date duration bitrate' -d 'Sort key'
complete -c treelan-cli -n "__fish_seen_subcommand_from list" -l descending -d 'Sort in descending order'
