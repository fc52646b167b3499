#!/usr/bin/env bash
# What a user who installs Stowline gets, checked without changing the machine: an installed
# program (<prefix>/bin beside <prefix>/share/stowline) keeps the user's files in the user's data
# folder, also when its own folder is writable; the manual page and the bash completion know every
# switch the program's help names; the completion offers the user's job names; the AppStream and
# desktop files pass their validators. Given a built .deb as well, lintian finds no error in it and
# the package holds what the desktop needs.
# Usage: package-tests.sh <path-to-stowline> [stowline_*.deb]
set -u

. "$(dirname "$0")/../cli/cli-common.sh"
cli_begin packaging "$1"
SRC=$(cd "$(dirname "$0")/../.." && pwd)
DEB=${2:-}

# ---- an installed program keeps the user's files in the user's folder ----
PREFIX="$WORK/prefix"
mkdir -p "$PREFIX/bin" "$PREFIX/share/stowline"
cp "$BIN" "$PREFIX/bin/stowline"
chmod 755 "$PREFIX/bin"
S="$PREFIX/bin/stowline"
unset XDG_DATA_HOME
run /STATUS
check "/STATUS of an installed program exits 0" [ "$RC" -eq 0 ]
check "its files go to ~/.local/share/stowline" [ -d "$HOME/.local/share/stowline" ]
check "nothing is written beside the installed program" [ "$(ls -A "$PREFIX/bin")" = stowline ]
export XDG_DATA_HOME="$WORK/data"
run /RUN nosuchjob /EXIT
check "/RUN of a missing job exits 1" [ "$RC" -eq 1 ]
check "jobs are looked for in \$XDG_DATA_HOME/stowline" contains "$WORK/err" "$XDG_DATA_HOME/stowline/BackupJobs/nosuchjob.slj"
check "still nothing beside the installed program" [ "$(ls -A "$PREFIX/bin")" = stowline ]
# A copy unpacked into a folder of its own stays a separate installation.
S="$WORK/stowline"
run /RUN nosuchjob /EXIT
check "a copy without a share folder keeps its jobs beside itself" contains "$WORK/err" "$WORK/BackupJobs/nosuchjob.slj"

# ---- every switch of the help is in the manual page and the completion ----
S="$PREFIX/bin/stowline"
run "/?"
grep -o '/[A-Z?]*' "$WORK/out" | sort -u >"$WORK/switches"
check "the help names the switches" [ "$(wc -l <"$WORK/switches")" -ge 12 ]
# shellcheck source=/dev/null
. "$SRC/packaging/stowline.bash-completion"
complete_words() { # the words of a command line, the last being completed: prints the offers
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _stowline
    printf '%s\n' "${COMPREPLY[@]}"
}
complete_words stowline "" >"$WORK/offered"
while read -r sw; do
    check "the manual page describes $sw" grep -qE "^\.(B|BI|BR|TP) \"?[[]?\\$sw|^\.B[IR]? \\$sw" "$SRC/packaging/stowline.1"
    check "the completion offers $sw" grep -qxF -- "$sw" "$WORK/offered"
done <"$WORK/switches"
for status in 0 1 2 3; do
    check "the manual page explains exit status $status" grep -qx "\.B $status" "$SRC/packaging/stowline.1"
done

# ---- the completion offers the user's jobs ----
export PATH="$PREFIX/bin:$PATH"
mkdir -p "$XDG_DATA_HOME/stowline/BackupJobs"
touch "$XDG_DATA_HOME/stowline/BackupJobs/Documents.slj" "$XDG_DATA_HOME/stowline/BackupJobs/Photos.slj" \
    "$XDG_DATA_HOME/stowline/BackupJobs/notes.txt"
check "jobs after /RUN" [ "$(complete_words stowline /RUN "" | sort | tr '\n' ' ')" = "Documents Photos " ]
check "a job's beginning completes" [ "$(complete_words stowline /VERIFY Photos Do)" = Documents ]
check "switches after a job name" grep -qxF /EXIT <(complete_words stowline /RUN Photos /E)
check "no job names after /STATUS" bash -c "! grep -qx Documents <<<\"$(complete_words stowline /STATUS "")\""
check "folders after /TO" grep -qxF "$WORK/prefix" <(complete_words stowline /RESTORE Photos /TO "$WORK/pre")

# ---- desktop metadata ----
sed "s/@PROJECT_VERSION@/1.0.0/" "$SRC/packaging/io.github.stowline.Stowline.metainfo.xml" >"$WORK/metainfo.xml"
if command -v appstreamcli >/dev/null; then
    check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$WORK/metainfo.xml"
else
    echo "skip - appstreamcli is not installed (package appstream)"
fi
if command -v desktop-file-validate >/dev/null; then
    check "the desktop entry is valid" desktop-file-validate "$SRC/resources/stowline.desktop"
fi
check "the program names the installed desktop entry as its own" \
    grep -qF 'setDesktopFileName("io.github.stowline.Stowline")' "$SRC/src/app/appSetup.cpp"
check "the metainfo launches the installed desktop entry" \
    grep -qF '<launchable type="desktop-id">io.github.stowline.Stowline.desktop</launchable>' "$WORK/metainfo.xml"

# ---- the package ----
if [ -n "$DEB" ]; then
    dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|' >"$WORK/contents"
    for f in /usr/bin/stowline /usr/share/applications/io.github.stowline.Stowline.desktop \
        /usr/share/metainfo/io.github.stowline.Stowline.metainfo.xml \
        /usr/share/icons/hicolor/scalable/apps/stowline.svg /usr/share/man/man1/stowline.1.gz \
        /usr/share/bash-completion/completions/stowline /usr/share/stowline/stowline-help.html \
        /usr/share/doc/stowline/copyright /etc/xdg/autostart/stowline.desktop; do
        check "the package holds $f" grep -qxF "$f" "$WORK/contents"
    done
    check "the package's dependencies come from its libraries" \
        bash -c "dpkg-deb -f '$DEB' Depends | grep -q libqt6widgets6"
    lintian --display-info --tag-display-limit 0 "$DEB" >"$WORK/lintian" 2>&1
    sed 's/^/       lintian: /' "$WORK/lintian"
    check "lintian finds no error" bash -c "! grep -q '^E:' '$WORK/lintian'"
fi

cli_end
