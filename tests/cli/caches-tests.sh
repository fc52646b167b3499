#!/usr/bin/env bash
# Folders not worth keeping, left out by real runs of both styles when the job's ExcludeCaches
# key is on: a folder with a CACHEDIR.TAG that carries the standard signature (not one with a
# wrong or short signature, a link, a pipe or a folder of that name), a folder with a .nobackup
# file (not a link or folder of that name), the user's cache, Trash and thumbnail folders (found
# by identity, the home folder being reached through a link; thumbnails inside a cache named as a
# source too), and, as root, the Trash folders at the top of a mounted file system (not the same
# names lower down). Each is named once in the Detailed log and counted; the run still succeeds
# and verifies; a source entry that is such a folder is backed up; without the key everything
# is. Archives are read back by unzip and bsdtar.
# Usage: caches-tests.sh <path-to-stowline>
set -u

. "$(dirname "$0")/cli-common.sh"
cli_begin caches "$@"
VOL=""
trap '[ -n "$VOL" ] && umount "$VOL" 2>/dev/null; rm -rf "$WORK"' EXIT
LOG="$WORK/stowline.log"
U=$(id -u)
SIGNATURE="Signature: 8a477f597d28d172789f06886806bc55"

# How often the log holds exactly this line (the time stamp cut off).
log_count() { tr -d '\r' <"$LOG" | cut -c22- | grep -cxF -- "$1"; }
logged_once() { [ "$(log_count "$1")" -eq 1 ]; }
log_lacks() { ! tr -d '\r' <"$LOG" | cut -c22- | grep -qF -- "$1"; }
prefs() { printf '%s\r\n' "[Preferences]" "LoggingMode=$1" >"$WORK/Stowline.txt"; }

# ---- the source tree ----
SRC="$WORK/src"
H="$SRC/home"
mkdir -p "$H/docs" "$H/.cache/app" "$H/.local/share/Trash/files" "$H/.thumbnails/normal" \
    "$SRC/tagged/sub" "$SRC/tagexact" "$SRC/wrongtag" "$SRC/shorttag" "$SRC/casetag" "$SRC/linktag" \
    "$SRC/dirtag/CACHEDIR.TAG" "$SRC/nobackup" "$SRC/nobackupfull" "$SRC/nobackuplink" \
    "$SRC/nobackupdir/.nobackup" "$SRC/keep/.Trash-$U/files" "$SRC/keep/.Trash/$U/files" \
    "$SRC/xdgcache/app" "$SRC/xdgdata/Trash/files" "$H/.cache/thumbnails/large" "$SRC/fifotag"
echo doc >"$H/docs/d.txt"
echo cached >"$H/.cache/app/c.bin"
echo png >"$H/.cache/thumbnails/large/l.png"
echo trashed >"$H/.local/share/Trash/files/t.txt"
echo kept >"$H/.local/share/keep.txt"
echo png >"$H/.thumbnails/normal/t.png"
printf '%s\n# This file is a cache directory tag.\n' "$SIGNATURE" >"$SRC/tagged/CACHEDIR.TAG"
head -c 5000 /dev/urandom >"$SRC/tagged/blob.bin"
echo deep >"$SRC/tagged/sub/deep.txt"
printf '%s' "$SIGNATURE" >"$SRC/tagexact/CACHEDIR.TAG" # the signature alone, no line end
echo x >"$SRC/tagexact/x.txt"
printf '%s\n' "${SIGNATURE%5}4" >"$SRC/wrongtag/CACHEDIR.TAG"
echo w >"$SRC/wrongtag/w.txt"
printf '%s' "${SIGNATURE:0:30}" >"$SRC/shorttag/CACHEDIR.TAG"
echo s >"$SRC/shorttag/s.txt"
printf '%s\n' "$SIGNATURE" >"$SRC/casetag/cachedir.tag"
ln -s ../tagged/CACHEDIR.TAG "$SRC/linktag/CACHEDIR.TAG"
echo l >"$SRC/linktag/l.txt"
mkfifo "$SRC/fifotag/CACHEDIR.TAG" # never waited for: no writer ever comes
echo f >"$SRC/fifotag/f.txt"
echo d >"$SRC/dirtag/d.txt"
: >"$SRC/nobackup/.nobackup"
echo n >"$SRC/nobackup/n.txt"
echo "not this one" >"$SRC/nobackupfull/.nobackup"
echo m >"$SRC/nobackupfull/m.txt"
ln -s ../keep/a.txt "$SRC/nobackuplink/.nobackup"
echo l >"$SRC/nobackuplink/l.txt"
echo inner >"$SRC/nobackupdir/.nobackup/inner.txt"
echo a >"$SRC/keep/a.txt"
echo k >"$SRC/keep/.Trash-$U/files/k.txt"
echo k2 >"$SRC/keep/.Trash/$U/files/k2.txt"
echo xc >"$SRC/xdgcache/app/xc.bin"
echo xt >"$SRC/xdgdata/Trash/files/xt.txt"
# The home folder is named through a link: its folders are recognised by identity, not by text.
ln -s "$H" "$WORK/homelink"

# Paths below SRC, backed up or left out whole when the key is on.
KEPT=(home/docs/d.txt home/.local/share/keep.txt wrongtag/CACHEDIR.TAG wrongtag/w.txt shorttag/s.txt
    casetag/cachedir.tag linktag/CACHEDIR.TAG linktag/l.txt fifotag/f.txt dirtag/d.txt nobackuplink/.nobackup
    nobackuplink/l.txt nobackupdir/.nobackup/inner.txt keep/a.txt "keep/.Trash-$U/files/k.txt"
    "keep/.Trash/$U/files/k2.txt" xdgcache/app/xc.bin xdgdata/Trash/files/xt.txt)
LEFT=(home/.cache home/.local/share/Trash home/.thumbnails tagged tagexact nobackup nobackupfull)
LINES=("  Left out (cache): $H/.cache/" "  Left out (Trash): $H/.local/share/Trash/"
    "  Left out (thumbnails): $H/.thumbnails/" "  Left out (CACHEDIR.TAG): $SRC/tagged/"
    "  Left out (CACHEDIR.TAG): $SRC/tagexact/" "  Left out (.nobackup): $SRC/nobackup/"
    "  Left out (.nobackup): $SRC/nobackupfull/")

# A file system mounted inside the source: its own Trash folders at its top are left out.
if [ "$U" -eq 0 ] && mkdir -p "$SRC/vol" && mount -t tmpfs -o size=1m tmpfs "$SRC/vol" 2>/dev/null; then
    VOL="$SRC/vol"
    mkdir -p "$VOL/.Trash-$U/files" "$VOL/.Trash/$U/files" "$VOL/.Trash/4242/files"
    echo v >"$VOL/.Trash-$U/files/v.txt"
    echo w >"$VOL/.Trash/$U/files/w.txt"
    echo o >"$VOL/.Trash/4242/files/o.txt"
    echo data >"$VOL/data.txt"
    KEPT+=(vol/data.txt vol/.Trash/4242/files/o.txt)
    LEFT+=("vol/.Trash-$U" "vol/.Trash/$U")
    LINES+=("  Left out (Trash): $VOL/.Trash-$U/" "  Left out (Trash): $VOL/.Trash/$U/")
else
    echo "skip - Trash at the top of a mounted file system: needs root to mount a tmpfs"
fi
COUNT_LINE="  Left out ${#LINES[@]} folders not worth keeping"

# The names a zip archive holds, one a line.
zip_names() { unzip -Z1 "$1"; }
tar_names() { bsdtar -tf "$1"; }

# Checks a copy tree (under $1, the source's copy) or an archive's name list (file $2 with the
# stored prefix $1) against KEPT and LEFT.
check_tree() { # tag, copy root
    local tag=$1 root=$2 p missing="" present=""
    for p in "${KEPT[@]}"; do [ -e "$root/$p" ] || [ -L "$root/$p" ] || missing+=" $p"; done
    for p in "${LEFT[@]}"; do [ -e "$root/$p" ] && present+=" $p"; done
    check "$tag: everything else is copied${missing:+ (missing:$missing)}" [ -z "$missing" ]
    check "$tag: the folders not worth keeping are not there${present:+ (there:$present)}" [ -z "$present" ]
}
check_names() { # tag, name list file, stored prefix
    local tag=$1 list=$2 prefix=$3 p missing="" present=""
    for p in "${KEPT[@]}"; do grep -qxF -- "$prefix/$p" "$list" || missing+=" $p"; done
    for p in "${LEFT[@]}"; do grep -qF -- "$prefix/$p/" "$list" && present+=" $p"; done
    check "$tag: everything else is archived${missing:+ (missing:$missing)}" [ -z "$missing" ]
    check "$tag: nothing of the folders not worth keeping is archived${present:+ (there:$present)}" [ -z "$present" ]
}
check_lines() { # tag
    local tag=$1 line bad=""
    for line in "${LINES[@]}"; do logged_once "$line" || bad+=" [$line: $(log_count "$line")]"; done
    check "$tag: each folder left out is named once${bad:+ (not so:$bad)}" [ -z "$bad" ]
    check "$tag: no other folder is named" [ "$(tr -d '\r' <"$LOG" | grep -cF '  Left out (')" -eq "${#LINES[@]}" ]
    check "$tag: the count line" logged_once "$COUNT_LINE"
    check "$tag: nothing but the pipe is reported as not backed up" \
        [ "$(grep -F "Not backed up" "$LOG" | grep -vcF "$SRC/fifotag/CACHEDIR.TAG")" -eq 0 ]
}

export HOME="$WORK/homelink"
unset XDG_CACHE_HOME XDG_DATA_HOME
prefs 0

# ---- copy style, Rebuild, the key on; the home folder is a second entry, met again ----
write_job -m crebuild "$WORK/tr/" "$SRC" "$H" Compress=0 "ExcludeCaches=-1" "Verify=-1"
rm -f "$LOG"
run /RUN crebuild /EXIT
check "copy, Rebuild: the run succeeds" [ "$RC" -eq 0 ]
check_tree "copy, Rebuild" "$WORK/tr/src"
check "copy, Rebuild: the second entry leaves out the cache too" [ ! -e "$WORK/tr/home/.cache" ]
check "copy, Rebuild: the second entry copies the rest" [ -f "$WORK/tr/home/docs/d.txt" ]
check_lines "copy, Rebuild"
check "copy, Rebuild: the count line follows the copied line" \
    bash -c "tr -d '\r' <'$LOG' | cut -c22- | grep -A1 '^  Copied ' | grep -qxF -- '$COUNT_LINE'"
check "copy, Rebuild: the check after the run agrees" logged_once "  Verified the new backup"
check "copy, Rebuild: recorded as a success" \
    bash -c "[ -n \"\$1\" ] && [ -z \"\$2\" ]" - "$(key_of crebuild DateLastSuccess)" "$(key_of crebuild DateLastFailure)"

# ---- copy style, Update (files compared one by one), the key on ----
write_job -m cupdate "$WORK/tu/" "$SRC" Compress=0 CopyStyle=1 "ExcludeCaches=-1" "Verify=-1"
rm -f "$LOG"
run /RUN cupdate /EXIT
check "copy, Update: the run succeeds" [ "$RC" -eq 0 ]
check_tree "copy, Update" "$WORK/tu/src"
check_lines "copy, Update"
check "copy, Update: the check after the run agrees" logged_once "  Verified the new backup"
run /VERIFY cupdate
check "copy, Update: /VERIFY agrees" [ "$RC" -eq 0 ]

# ---- zip style, the key on ----
write_job -m zon "$WORK/tz/" "$SRC" "$H" Compress=-1 "ExcludeCaches=-1" "Verify=-1"
rm -f "$LOG"
run /RUN zon /EXIT
check "zip: the run succeeds" [ "$RC" -eq 0 ]
zip_names "$WORK/tz/zon.zip" >"$WORK/names"
check_names "zip (unzip)" "$WORK/names" "${SRC#/}"
tar_names "$WORK/tz/zon.zip" >"$WORK/names"
check_names "zip (bsdtar)" "$WORK/names" "${SRC#/}"
check_lines "zip"
check "zip: the count line follows the size line" \
    bash -c "tr -d '\r' <'$LOG' | cut -c22- | grep -A1 '^  Zip size ' | grep -qxF -- '$COUNT_LINE'"
check "zip: the check after the run agrees" logged_once "  Verified the new backup"
run /VERIFY zon
check "zip: /VERIFY agrees" [ "$RC" -eq 0 ]

# ---- Normal logging: the folders are not named, the count still is ----
prefs 1
rm -f "$LOG"
run /RUN zon /RUN cupdate /EXIT
check "Normal logging: the runs succeed" [ "$RC" -eq 0 ]
check "Normal logging: no folder is named" log_lacks "  Left out ("
check "Normal logging: each run counts" [ "$(log_count "$COUNT_LINE")" -eq 2 ]
prefs 0

# ---- without the key, everything is backed up ----
KEPT+=(home/.cache/app/c.bin home/.local/share/Trash/files/t.txt home/.thumbnails/normal/t.png
    tagged/CACHEDIR.TAG tagged/blob.bin tagged/sub/deep.txt tagexact/CACHEDIR.TAG tagexact/x.txt
    nobackup/.nobackup nobackup/n.txt nobackupfull/.nobackup nobackupfull/m.txt)
[ -n "$VOL" ] && KEPT+=("vol/.Trash-$U/files/v.txt" "vol/.Trash/$U/files/w.txt")
LEFT=()
write_job -m coff "$WORK/to/" "$SRC" Compress=0
write_job -m zoff "$WORK/tzo/" "$SRC" Compress=-1
rm -f "$LOG"
run /RUN coff /RUN zoff /EXIT
check "key missing: the runs succeed" [ "$RC" -eq 0 ]
check_tree "copy, key missing" "$WORK/to/src"
zip_names "$WORK/tzo/zoff.zip" >"$WORK/names"
check_names "zip, key missing" "$WORK/names" "${SRC#/}"
check "key missing: nothing is left out" log_lacks "Left out"
write_job -m cexplicit "$WORK/te/" "$SRC" Compress=0 "ExcludeCaches=0"
rm -f "$LOG"
run /RUN cexplicit /EXIT
check "key off: the cache is copied" [ -f "$WORK/te/src/home/.cache/app/c.bin" ]
check "key off: the tagged folder is copied with its tag" [ -f "$WORK/te/src/tagged/CACHEDIR.TAG" ]
check "key off: nothing is left out" log_lacks "Left out"

# ---- a source entry that is itself such a folder is backed up: the user named it ----
write_job -m cnamed "$WORK/tn/" "$H/.cache" "$SRC/tagged" Compress=0 "ExcludeCaches=-1"
write_job -m znamed "$WORK/tzn/" "$H/.cache" "$SRC/tagged" Compress=-1 "ExcludeCaches=-1"
rm -f "$LOG"
run /RUN cnamed /RUN znamed /EXIT
check "named: the runs succeed" [ "$RC" -eq 0 ]
check "named, copy: the cache named is copied" [ -f "$WORK/tn/.cache/app/c.bin" ]
check "named, copy: the tagged folder named is copied" [ -f "$WORK/tn/tagged/sub/deep.txt" ]
zip_names "$WORK/tzn/znamed.zip" >"$WORK/names"
check "named, zip: the cache named is archived" grep -qxF "${H#/}/.cache/app/c.bin" "$WORK/names"
check "named, zip: the tagged folder named is archived" grep -qxF "${SRC#/}/tagged/blob.bin" "$WORK/names"
check "named, copy: the thumbnails inside the cache named are left out" [ ! -e "$WORK/tn/.cache/thumbnails" ]
check "named, zip: the thumbnails inside the cache named are left out" \
    bash -c "! grep -qF '${H#/}/.cache/thumbnails/' '$WORK/names'"
check "named: each of the two runs leaves out only the thumbnails" \
    [ "$(tr -d '\r' <"$LOG" | grep -cF '  Left out (')" -eq 2 ]
check "named: each names them once" [ "$(log_count "  Left out (thumbnails): $H/.cache/thumbnails/")" -eq 2 ]

# ---- the cache and data folders the XDG variables name instead ----
export XDG_CACHE_HOME="$SRC/xdgcache" XDG_DATA_HOME="$SRC/xdgdata"
write_job -m cxdg "$WORK/tx/" "$SRC" Compress=0 "ExcludeCaches=-1"
rm -f "$LOG"
run /RUN cxdg /EXIT
check "XDG: the run succeeds" [ "$RC" -eq 0 ]
check "XDG: the cache it names is left out" [ ! -e "$WORK/tx/src/xdgcache" ]
check "XDG: the Trash below its data folder is left out" [ ! -e "$WORK/tx/src/xdgdata/Trash" ]
check "XDG: ~/.cache is then an ordinary folder" [ -f "$WORK/tx/src/home/.cache/app/c.bin" ]
check "XDG: so is ~/.local/share/Trash" [ -f "$WORK/tx/src/home/.local/share/Trash/files/t.txt" ]
check "XDG: ~/.thumbnails is still left out" [ ! -e "$WORK/tx/src/home/.thumbnails" ]
check "XDG: the cache is named" logged_once "  Left out (cache): $SRC/xdgcache/"
check "XDG: the Trash is named" logged_once "  Left out (Trash): $SRC/xdgdata/Trash/"
unset XDG_CACHE_HOME XDG_DATA_HOME

cli_end
