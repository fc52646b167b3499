#!/usr/bin/env bash
# /RESTORE into a folder that already holds links to elsewhere, through the real executable, for
# a zip and a copy backup made by real runs: a link where the backup has a folder is never
# entered (what lies below it is refused by name), a link where it has a file is replaced by the
# file, never written through. The folder the links point to keeps every name, byte and time.
# Usage: restore-links-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin rlinks "$@"

# Names, kinds, modes, sizes, times and checksums of everything in a folder.
state_of() {
    find "$1" -printf '%p %y %m %s %T@\n' | sort
    find "$1" -type f -exec sha256sum {} + | sort
}

mkdir -p "$WORK/src/sub" "$WORK/outside" "$WORK/tzip" "$WORK/tcopy"
printf 'alpha\n' >"$WORK/src/a.txt"
printf 'beta\n' >"$WORK/src/sub/b.txt"
printf "outside's own\n" >"$WORK/outside/sentinel.txt"
touch -d '2020-01-01 12:00' "$WORK/outside/sentinel.txt" "$WORK/outside"
OUTSIDE_BEFORE=$(state_of "$WORK/outside")
write_job lzip "$WORK/tzip/" "$WORK/src" Compress=-1
write_job lcopy "$WORK/tcopy/" "$WORK/src" Compress=0
run /RUN lzip /RUN lcopy /EXIT
check "the backups ran" [ "$RC" -eq 0 ]

for job in lzip lcopy; do
    TO="$WORK/to-$job"
    # Where the restore puts the source's files below the chosen folder.
    AT="$TO/${WORK#/}/src"
    [ "$job" = lcopy ] && AT="$TO/src"
    mkdir -p "$AT"
    ln -s "$WORK/outside" "$AT/sub"
    ln -s "$WORK/outside/sentinel.txt" "$AT/a.txt"
    run /RESTORE "$job" /TO "$TO" /OVERWRITE
    check "$job: exit 1, something was not restored" [ "$RC" -eq 1 ]
    check "$job: the file below the linked folder is refused by name" \
        sh -c "grep -F 'not restored: ' '$WORK/out' | grep -F 'sub/b.txt' | grep -qF 'is no folder here'"
    check "$job: the folder's link is left as it was" [ "$(readlink "$AT/sub")" = "$WORK/outside" ]
    check "$job: the file's link is replaced by the file" sh -c "[ ! -L '$AT/a.txt' ] && [ \"\$(cat '$AT/a.txt')\" = alpha ]"
    check "$job: nothing outside changed" [ "$(state_of "$WORK/outside")" = "$OUTSIDE_BEFORE" ]
done

cli_end
