#!/bin/bash
# Vellorin's driver for PhotoRec: runs one search without a single question and prints plain
# lines that the application shows in its activity log.
#
#   photorec_auto.sh [--formats=NAME,NAME...] [--free-space] [--start-at=BYTE] [--] PHOTOREC SOURCE RECOVERY_DIRECTORY
#
# SOURCE is a block device, a disk image file, or a folder (the device behind it is scanned).
# Without options the engine looks for every file type it knows, over the whole space.
#   --formats=NAME,...  only these of the engine's file formats (its own names: jpg, png, zip...;
#                       one it does not know fails the run)
#   --free-space        only the space no file uses, where the file system is one whose used
#                       space the engine can leave out (FAT, exFAT, NTFS, ext2/3/4); on any
#                       other, or when the engine cannot read it, the whole space, said in a line
#   --start-at=BYTE     the engine is shown the source from this byte on: a search picked up
#                       where an earlier one stopped
# Options are read only in front of exactly three arguments: the plain three-argument form is
# never taken for options, whatever its paths start with.
# Recovered files land in RECOVERY_DIRECTORY/recup_dir.N/; the engine's log, session and report
# files are kept under hidden names there, so the application lists only recovered files.
#
# The hidden working folder RECOVERY_DIRECTORY/.photorec also holds:
#   search.lock  locked (flock) by this script and the programs it starts for as long as the
#                search runs, and holding "PID START" of this script (START: field 22 of its
#                /proc/PID/stat), so that a second search into the same folder is refused and
#                the running one can be stopped by whoever may signal it;
#   progress     the view's report of how far the search has read (see vellorin-source-view);
#   resume.json  the application's record of the search, removed when the search ran to its end.
#
# SIGTERM or SIGINT stop the search: the engine and the view are ended within about a second,
# the files recovered so far are kept, and the script exits 9.
#
# The engine never reads SOURCE itself and never runs with more rights than the caller: it scans
# Vellorin's read-only view of the device (vellorin-source-view), served from a descriptor.
# When descriptor 3 is open read-only on that very device or image, it is the one served (the
# application hands on the descriptor the disk service opened for it); otherwise this script
# opens the device itself, as the caller.
#
# When the disk goes away or stops answering during the search, the view ends with a line
# saying so; the search is stopped and the files recovered until then are kept.
#
# Exit status: 0 when the search ran to its end; non-zero otherwise, among them 2 for bad
# usage, 7 when the save location filled up, 8 when the disk failed during the search, 9 when
# it was stopped as asked and 10 when another search already runs into RECOVERY_DIRECTORY.
# PhotoRec's own status is no verdict (it exits 0 after a syntax error, for one), so this
# script decides.
#
# Every path is data: each expansion is quoted and no path is ever parsed as shell text.

set -u
shopt -s nullglob

# The application never stops a search, not even when it quits: a closed output pipe or a
# hang-up must not end this script or the engine (ignored signals stay ignored across exec).
trap '' PIPE HUP

# The search without options; the benchmarks read it from here to run the engine bare.
readonly kCommands=partition_none,options,paranoid,fileopt,everything,enable,wholespace,search
readonly kViewType=fuse.vellorin-source-view
readonly kUsage="Usage: photorec_auto.sh [--formats=NAME,NAME...] [--free-space] [--start-at=BYTE] [--] PHOTOREC SOURCE RECOVERY_DIRECTORY"
# A save location this close to full, with the engine making no progress for this long, has
# stopped the search: PhotoRec then waits for space forever, at full processor load.
readonly kFullBelowBytes=$((64 * 1024 * 1024))
readonly kStalledSeconds=10

# One plain line; a reader that went away is no reason to stop.
# One message, one line: a line feed in a path would otherwise split it in two.
say() {
    local message=$*
    printf '%s\n' "${message//$'\n'/$'\xef\xbf\xbd'}" 2>/dev/null || true
}

# Makes a path absolute without touching the file system, so that a name starting with "-"
# can never be read as an option further down.
absolute() {
    case $1 in
    /*) printf '%s' "$1" ;;
    *) printf '%s/%s' "$PWD" "$1" ;;
    esac
}

formats=
free_space=
start_at=0
options_given=
while [ "$#" -gt 0 ]; do
    [ -z "$options_given" ] && [ "$#" -eq 3 ] && break
    case $1 in
    --)
        shift
        break
        ;;
    --formats=*)
        formats=${1#--formats=}
        # A name goes into the engine's comma-separated command list, where one of its own
        # command words would change the search (search starts it early, inter asks questions).
        [[ $formats =~ ^[a-z0-9_]+(,[a-z0-9_]+)*$ ]] || formats=
        case ,$formats, in
        *,search,* | *,options,* | *,fileopt,* | *,everything,* | *,enable,* | *,disable,* | *,wholespace,* | \
            *,freespace,* | *,inter,* | *,blocksize,* | *,geometry,* | *,ext2_group,* | *,ext2_inode,*)
            formats=
            ;;
        esac
        if [ -z "$formats" ]; then
            say "$kUsage"
            exit 2
        fi
        ;;
    --free-space) free_space=1 ;;
    --start-at=*)
        start_at=${1#--start-at=}
        # At most 18 digits: the arithmetic below never overflows.
        if [[ ! $start_at =~ ^[0-9]{1,18}$ ]]; then
            say "$kUsage"
            exit 2
        fi
        start_at=$((10#$start_at))
        ;;
    -*)
        say "$kUsage"
        exit 2
        ;;
    *) break ;;
    esac
    options_given=1
    shift
done
if [ "$#" -ne 3 ]; then
    say "$kUsage"
    exit 2
fi

# The trailing "/" keeps a name's own trailing line feeds from the command substitution.
engine=$(absolute "$1"; printf /) && engine=${engine%/}
source_path=$(absolute "$2"; printf /) && source_path=${source_path%/}
recovery=$(absolute "$3"; printf /) && recovery=${recovery%/}
script_folder=$(dirname -- "$(readlink -f -- "${BASH_SOURCE[0]}")")
view_helper=$script_folder/../../libexec/vellorin/vellorin-source-view

if [ ! -f "$engine" ] || [ ! -x "$engine" ]; then
    say "PhotoRec cannot be run from $engine. Install it with: sudo apt install testdisk"
    exit 3
fi
if [ ! -d "$recovery" ] || [ ! -w "$recovery" ]; then
    say "The recovery folder $recovery does not exist or cannot be written to."
    exit 4
fi
if [ ! -x "$view_helper" ]; then
    say "Vellorin's source view ($view_helper) is missing, so the engine has nothing to read; reinstall Vellorin."
    exit 3
fi

# The raw data to scan: a device or an image as given, or the device that holds a folder.
if [ -b "$source_path" ] || [ -f "$source_path" ]; then
    device=$source_path
elif [ -d "$source_path" ]; then
    backing=$(findmnt -n -o SOURCE -T "$source_path" 2>/dev/null | head -n 1)
    backing=${backing%%\[*} # btrfs and bind mounts add "[/subvolume]"
    if [ -z "$backing" ] || [ ! -b "$backing" ]; then
        fstype=$(findmnt -n -o FSTYPE -T "$source_path" 2>/dev/null | head -n 1)
        say "The folder $source_path is not on a disk device (file system: ${fstype:-unknown}), so there is no raw data to search; choose a disk, a partition or a disk image instead."
        exit 4
    fi
    device=$backing
else
    say "The source $source_path does not exist."
    exit 4
fi

# Device numbers (major:minor) of a block device and of everything built on it: its
# partitions, and the mapped or loop devices above them.
device_family() {
    lsblk -nro MAJ:MIN "$1" 2>/dev/null
    stat -L -c '%Hr:%Lr' "$1" 2>/dev/null
}

# Device numbers that hold a path: its file system's own and its backing device's; when that
# device is a loop device, also those that hold its image file, so that a save location on a
# mounted image counts as being on the disk that holds the image.
path_devices() {
    local depth=${2:-0} holder image
    stat -c '%Hd:%Ld' "$1" 2>/dev/null
    holder=$(findmnt -n -o SOURCE -T "$1" 2>/dev/null | head -n 1)
    holder=${holder%%\[*}
    [ -n "$holder" ] && [ -b "$holder" ] || return 0
    stat -L -c '%Hr:%Lr' "$holder" 2>/dev/null
    image=$(cat -- "/sys/class/block/$(basename -- "$(readlink -f -- "$holder")")/loop/backing_file" 2>/dev/null)
    if [ -n "$image" ] && [ "$depth" -lt 4 ]; then
        path_devices "$image" $((depth + 1))
    fi
}

# Writing recovered files onto the device being searched would overwrite the very deleted
# data they are carved from.
holds_recovery() {
    local family held member
    family=$(device_family "$1")
    while IFS= read -r held; do
        [ -n "$held" ] || continue
        while IFS= read -r member; do
            [ "$member" != "$held" ] || return 0
        done <<<"$family"
    done < <(path_devices "$recovery")
    return 1
}

if [ -b "$device" ]; then
    if holds_recovery "$device"; then
        say "Refusing to search $device: the recovery folder $recovery is on that device, and recovered files would overwrite the deleted data they come from. Please choose a save location on another disk."
        exit 5
    fi
else
    # An image file that is mounted through a loop device is written to through that device.
    while IFS= read -r loop; do
        if [ -n "$loop" ] && [ -b "$loop" ] && holds_recovery "$loop"; then
            say "Refusing to search $device: the recovery folder $recovery is on $loop, which is this image mounted, and recovered files would overwrite the deleted data they come from. Please choose a save location on another disk."
            exit 5
        fi
    done < <(losetup -n -O NAME -j "$device" 2>/dev/null)
fi

# Descriptor 3 is served only when it is open for reading only, on the device or the image
# found above: whatever else a caller left there is closed, never read.
handed_descriptor_fits() {
    local flags
    [ -e /dev/fd/3 ] || return 1
    flags=$(sed -n 's/^flags:[[:space:]]*//p' "/proc/$$/fdinfo/3" 2>/dev/null)
    case $flags in '' | *[!0-7]*) return 1 ;; esac
    [ $((8#$flags & 3)) -eq 0 ] || return 1
    if [ -b "$device" ]; then
        [ -b /dev/fd/3 ] && [ "$(stat -L -c '%t:%T' /dev/fd/3)" = "$(stat -L -c '%t:%T' -- "$device")" ]
    else
        [ -f /dev/fd/3 ] && [ "$(stat -L -c '%d:%i' /dev/fd/3)" = "$(stat -L -c '%d:%i' -- "$device")" ]
    fi
}

if ! handed_descriptor_fits 2>/dev/null; then
    exec 3<&-
    if ! exec 3<"$device"; then
        if [ "$EUID" -eq 0 ]; then
            say "The system does not let $device be opened, not even by the administrator, so it cannot be searched."
            exit 6
        fi
        if [ "${VELLORIN_SESSION-}" = terminal ]; then
            say "Reading $device needs permission that this user does not have. Run vellorin-recover with sudo, or add your user to the \"disk\" group and log in again, or choose a disk image file you can read."
        else
            say "Reading $device needs permission that this user does not have. Start the search from Vellorin, which asks the disk service (udisks2) for read-only access, or add your user to the \"disk\" group and log in again, or choose a disk image file you can read."
        fi
        exit 6
    fi
fi 2>/dev/null

# The engine works in a hidden folder of its own: its log and session files never show up as
# results, and nothing planted there beforehand (a link named like its log, say) is followed.
workdir=$recovery/.photorec
mkdir -m 0700 -- "$workdir" 2>/dev/null
if [ -L "$workdir" ] || [ ! -d "$workdir" ] || [ ! -O "$workdir" ] || ! chmod 0700 -- "$workdir"; then
    workdir=$(mktemp -d -- "$recovery/.photorec.XXXXXX") || {
        say "Cannot create a working folder in $recovery."
        exit 4
    }
fi

# One search at a time into a recovery folder: two engines would number their folders alike
# and each would take the other's files for its own. The lock is held by every program of the
# run (they inherit it), so it is free exactly when none of them is left.
exec {lock_fd}>>"$workdir/search.lock" || {
    say "Cannot create a working folder in $recovery."
    exit 4
}
if ! flock -n "$lock_fd"; then
    say "Another search is still running into $recovery; this one was not started beside it."
    exit 10
fi
own_stat=$(<"/proc/$BASHPID/stat")
# Counted from the program name's closing parenthesis on: the name itself may hold spaces.
read -r -a own_stat <<<"${own_stat##*) }"
printf '%s %s\n' "$BASHPID" "${own_stat[19]}" >"$workdir/search.lock"
progress_file=$workdir/progress
rm -f -- "$progress_file" "$progress_file.new" "$workdir/photorec.ses"

# Views of this user's whose helper has gone (killed, say) stay mounted and answer nothing;
# they are taken down lazily, so that an engine still holding one open cannot block it.
unmount_stale_views() {
    local target
    while IFS= read -r target; do
        target=$(printf '%b' "$target") # findmnt writes a space in a path as \x20
        # Listing it asks its helper; the kernel may answer a stat from its cache even then.
        if ! ls -f -- "$target" >/dev/null 2>&1; then
            fusermount3 -u -z -- "$target" >/dev/null 2>&1 && rmdir -- "$target" 2>/dev/null
        fi
    done < <(findmnt -rn -t "$kViewType" -O "user_id=$EUID" -o TARGET 2>/dev/null)
}

# A private folder of this user's for the views: under $XDG_RUNTIME_DIR when the session has
# one, else in the temporary folder; never one that another user made or that is a link.
views_root() {
    local base=${XDG_RUNTIME_DIR-}
    if [ -z "$base" ] || [ ! -d "$base" ] || [ ! -O "$base" ]; then
        base=${TMPDIR:-/tmp}
    fi
    local root=$base/vellorin-views-$EUID
    mkdir -m 0700 -- "$root" 2>/dev/null
    if [ -d "$root" ] && [ ! -L "$root" ] && [ -O "$root" ]; then
        chmod 0700 -- "$root" && printf '%s' "$root" && return 0
    fi
    mktemp -d -- "$base/vellorin-views-XXXXXX"
}

unmount_stale_views
views=$(views_root) || views=
view=
if [ -n "$views" ]; then
    # The helpers' reports of runs killed outright, whose views are gone by now.
    for report in "$views"/view.*.report; do
        [ -d "${report%.report}" ] || rm -f -- "$report"
    done
    view=$(mktemp -d -- "$views/view.XXXXXX" 2>/dev/null)
fi
if [ -z "$view" ]; then
    say "Cannot make a private folder for the view of $device."
    exit 4
fi

# The helper's line about a disk that went away or stopped answering, kept out of sight of
# everyone but this user (the views folder is private) until this script passes it on.
view_report=$view.report
view_pid=
stop_view() {
    if [ -n "$view_pid" ]; then
        kill -TERM "$view_pid" 2>/dev/null
        # Looked at often: the helper is usually gone within milliseconds, and every run waits
        # for this.
        for ((tries = 0; tries < 500; tries++)); do
            kill -0 "$view_pid" 2>/dev/null || break
            sleep 0.01
        done
        view_pid=
    fi
    if [ -n "$view" ]; then
        fusermount3 -u -z -- "$view" >/dev/null 2>&1
        rmdir -- "$view" 2>/dev/null
        rm -f -- "$view_report"
    fi
}
trap stop_view EXIT

disk_failed() {
    [ -s "$view_report" ]
}

# The helper gets descriptor 3 and nothing else of ours; the script lets go of it at once, so
# the engine, started later, can never inherit it. Its diagnostics go straight to the output.
rm -f -- "$view_report"
"$view_helper" --fd 3 --window "$start_at" --progress "$progress_file" --session "$workdir/photorec.ses" "$view" \
    </dev/null 2>&1 >"$view_report" &
view_pid=$!
# Not a job of this shell's: bash would print a line of its own if the helper were killed.
disown "$view_pid"
exec 3<&-
for ((tries = 0; tries < 1000; tries++)); do
    [ -f "$view/source" ] && break
    kill -0 "$view_pid" 2>/dev/null || break
    sleep 0.01
done
if [ ! -f "$view/source" ]; then
    say "Vellorin's read-only view of $device could not be started, so the engine has nothing to read."
    exit 1
fi
view_source=$view/source

# The engine tells used from free space only on these file systems (blkid's names for them);
# told to search the free space of any other, it searches the whole space without a word.
space=wholespace
space_note=
if [ -n "$free_space" ]; then
    fs_type=$(blkid -p -o value -s TYPE -- "$view_source" 2>/dev/null | head -n 1)
    case $fs_type in *[!A-Za-z0-9_.-]*) fs_type= ;; esac # read off the scanned media
    case $fs_type in
    vfat | msdos | exfat | ntfs | ext2 | ext3 | ext4) space=freespace ;;
    '') space_note="No file system was found on $device, and the free space can be told apart only on FAT, exFAT, NTFS and ext2/3/4, so the whole space is searched." ;;
    *) space_note="$device holds $fs_type, and the free space can be told apart only on FAT, exFAT, NTFS and ext2/3/4, so the whole space is searched." ;;
    esac
fi
commands=${kCommands/,wholespace,/,$space,}
if [ -n "$formats" ]; then
    file_options=everything,disable
    IFS=, read -r -a names <<<"$formats"
    for name in "${names[@]}"; do
        file_options+=",$name,enable"
    done
    commands=${commands/,everything,enable,/,$file_options,}
fi

log=$workdir/photorec.log
if [ -L "$log" ] || { [ -e "$log" ] && [ ! -f "$log" ]; }; then
    rm -rf -- "$log"
fi
log_start=0
if [ -f "$log" ]; then
    log_start=$(stat -c %s -- "$log")
fi

size=$(stat -L -c %s -- "$view_source" 2>/dev/null)
case ${size-} in '' | *[!0-9]*) size=0 ;; esac

# The engine's folders from earlier runs, or another user's in a shared recovery folder, are
# left alone: only folders this run made are touched or counted.
declare -A earlier_folders=()
for folder in "$recovery"/recup_dir.*; do
    earlier_folders[$folder]=1
done
# Folders are kept in arrays, never in lines: a recovery folder's name may hold a line feed.
run_folders=()
find_run_folders() {
    local folder
    run_folders=()
    for folder in "$recovery"/recup_dir.*; do
        if [ -z "${earlier_folders[$folder]-}" ] && [ -d "$folder" ] && [ ! -L "$folder" ] && [ -O "$folder" ]; then
            run_folders+=("$folder")
        fi
    done
}

# Moves the engine's report.xml out of the list; the engine keeps writing to the open file.
hide_reports() {
    local folder
    find_run_folders
    for folder in "${run_folders[@]}"; do
        [ -f "$folder/report.xml" ] && [ ! -L "$folder/report.xml" ] &&
            mv -f -- "$folder/report.xml" "$folder/.report.xml" 2>/dev/null
    done
}

# Counted by globbing below the quoted folder: a folder name such as "Photos [2024]" would be
# read as a pattern by find -path.
count_recovered() {
    local folder found=0
    local -a files
    find_run_folders
    for folder in "${run_folders[@]}"; do
        files=("$folder"/[!.]*)
        found=$((found + ${#files[@]}))
    done
    printf '%s\n' "$found"
}

# One value of the view's progress report; empty while there is none.
view_progress() {
    sed -n "s/^$1=\\([0-9a-z]*\\)\$/\\1/p" -- "$progress_file" 2>/dev/null | head -n 1
}

# What the engine has done so far: what it read and how many files it wrote. Unchanged while
# it waits for space on a full save location.
engine_progress() {
    printf '%s %s\n' "$(view_progress served)" "$(count_recovered)"
}

save_location_is_full() {
    local free
    free=$(stat -f -c '%a * %S' -- "$recovery" 2>/dev/null) || return 1
    [ $((free)) -lt "$kFullBelowBytes" ]
}

# The files the engine has open for writing in the recovery folder, each ended by a NUL.
files_being_written() {
    local fd target flags
    for fd in /proc/"$engine_pid"/fd/*; do
        target=$(readlink -- "$fd" 2>/dev/null) || continue
        case $target in "$recovery"/*) ;; *) continue ;; esac
        flags=$(sed -n 's/^flags:[[:space:]]*//p' "/proc/$engine_pid/fdinfo/${fd##*/}" 2>/dev/null)
        case $flags in '' | *[!0-7]*) continue ;; esac
        [ $((8#$flags & 3)) -ne 0 ] || continue
        printf '%s\0' "$target"
    done
}

# Stopped as asked: the engine is held still, the files it is writing then are noted, and it
# is ended before it can write another byte. Those files are cut short: they go, and a
# resumed search carves them again whole.
stop_engine_dropping_partial() {
    local partial=() file removed=0
    kill -STOP "$engine_pid" 2>/dev/null
    mapfile -d '' partial < <(files_being_written)
    kill -KILL "$engine_pid" 2>/dev/null
    kill -CONT "$engine_pid" 2>/dev/null
    wait "$engine_pid" 2>/dev/null
    for file in "${partial[@]}"; do
        if [ -f "$file" ] && [ ! -L "$file" ] && rm -f -- "$file"; then
            removed=$((removed + 1))
        fi
    done
    if [ "$removed" -gt 0 ]; then
        say "Removed $removed file(s) PhotoRec was still writing when it was stopped: they were cut short."
    fi
}

stop_engine() {
    kill -TERM "$engine_pid" 2>/dev/null
    for _ in $(seq 100); do
        kill -0 "$engine_pid" 2>/dev/null || break
        sleep 0.01
    done
    kill -KILL "$engine_pid" 2>/dev/null
    wait "$engine_pid" 2>/dev/null
}

looked_for="every file type PhotoRec knows"
[ -z "$formats" ] || looked_for="${formats//,/, } files"
searched="over the whole space"
[ "$space" = wholespace ] || searched="in the free space only"
if [ "$start_at" -gt 0 ]; then
    say "Picking up the search of $device at byte $start_at: $size bytes are left to search."
fi
if [ "$size" -gt 0 ]; then
    say "Scanning $device ($size bytes) for $looked_for, $searched; recovered files go to $recovery"
else
    say "Scanning $device for $looked_for, $searched; recovered files go to $recovery"
fi
[ -z "$space_note" ] || say "$space_note"

# The engine's screen output (an ncurses display even in /cmd mode) is never passed on. The
# engine is run by its path alone: "env" would take a path holding "=" for a setting.
(
    cd -- "$workdir" || exit 1
    export TERM=dumb
    exec "$engine" /log /d "$recovery/recup_dir" /cmd "$view_source" "$commands"
) </dev/null >/dev/null 2>&1 &
engine_pid=$!

# Asked to stop: the loop below ends the engine and the view at once.
stop_asked=
trap 'stop_asked=1' TERM INT

started=$SECONDS
last_report=$SECONDS
last_progress=
progress_seen=$SECONDS
engine_status=0
stopped_for=
while :; do
    # Ended with KILL: a TERM that reached the forked shell before it became sleep would run
    # this script's EXIT trap there and take the view down.
    sleep 1 &
    ticker=$!
    finished=
    wait -n -p finished "$engine_pid" "$ticker" 2>/dev/null
    status=$?
    if [ "${finished-}" = "$engine_pid" ]; then
        engine_status=$status
        kill -KILL "$ticker" 2>/dev/null
        wait "$ticker" 2>/dev/null
        break
    fi
    # Bash drops a job killed by a signal from its table once it has reported it, and wait -n
    # then no longer sees it end; a plain wait still returns its status.
    if ! kill -0 "$engine_pid" 2>/dev/null; then
        wait "$engine_pid" 2>/dev/null
        engine_status=$?
        kill -KILL "$ticker" 2>/dev/null
        wait "$ticker" 2>/dev/null
        break
    fi
    if [ -n "$stop_asked" ]; then
        stopped_for=asked
        kill -KILL "$ticker" 2>/dev/null
        wait "$ticker" 2>/dev/null
        stop_engine_dropping_partial
        break
    fi
    hide_reports
    if ! kill -0 "$view_pid" 2>/dev/null || disk_failed; then
        stopped_for=view
        stop_engine
        break
    fi
    progress_now=$(engine_progress)
    if [ "$progress_now" != "$last_progress" ]; then
        last_progress=$progress_now
        progress_seen=$SECONDS
    elif [ $((SECONDS - progress_seen)) -ge "$kStalledSeconds" ] && save_location_is_full; then
        stopped_for=full
        stop_engine
        break
    fi
    if [ $((SECONDS - last_report)) -ge 3 ]; then
        last_report=$SECONDS
        # How far the engine's main pass has come through the source, as the view saw it.
        progress="preparing (finding the block size), "
        position=$(view_progress position)
        whole=$(view_progress size)
        if [ "$(view_progress pass)" = main ] && [ -n "$position" ] && [ -n "$whole" ] && [ "$whole" -gt 0 ]; then
            percent=$((position * 100 / whole))
            [ "$percent" -le 99 ] || percent=99
            progress="$percent% read, "
        fi
        say "Searching... ${progress}$(count_recovered) files recovered so far, $((SECONDS - started)) s elapsed"
    fi
done
hide_reports
# A view that ended during the search fed the engine errors from then on, which it reads on
# through to the end of the disk as if there were nothing more to find.
if [ -z "$stopped_for" ] && { ! kill -0 "$view_pid" 2>/dev/null || disk_failed; }; then
    stopped_for=view
fi

case $stopped_for in
asked)
    stop_view
    say "The search of $device was stopped as asked; the $(count_recovered) files recovered so far are kept in $recovery."
    exit 9
    ;;
full)
    say "The save location is full: $(count_recovered) files were recovered before it filled up."
    exit 7
    ;;
view)
    if disk_failed; then
        say "$(head -n 1 -- "$view_report" | head -c 1000 | tr -d '\000-\037\177')"
        say "The search of $device was stopped; the $(count_recovered) files recovered before the disk failed are kept in $recovery."
        exit 8
    fi
    say "Vellorin's read-only view of $device stopped before the search ended, so the search was stopped; nothing on $device was changed."
    exit 1
    ;;
esac

# What this run appended to the engine's log.
run_log=
if [ -f "$log" ]; then
    run_log=$(tail -c +"$((log_start + 1))" -- "$log" 2>/dev/null)
fi

if [ "$engine_status" -gt 128 ]; then
    say "PhotoRec was stopped by signal $((engine_status - 128)) before the search of $device ended."
    exit 1
fi
if [ "$engine_status" -ne 0 ]; then
    say "PhotoRec could not open $device (status $engine_status)."
    exit 1
fi
if grep -q '^Syntax error' <<<"$run_log"; then
    say "PhotoRec did not accept its commands; see $log"
    exit 1
fi
total=$(sed -n 's/^Total: \([0-9][0-9]*\) files\{0,1\} found.*/\1/p' <<<"$run_log" | tail -n 1)
if [ -z "$total" ]; then
    say "The search of $device did not run to its end; see $log"
    exit 1
fi

# The engine notes each file system whose used space it left out ("fat32_remove_used_space").
if [ "$space" = freespace ] && ! grep -Eq '^[a-z0-9]+_remove_used_space( |$)' <<<"$run_log"; then
    say "PhotoRec could not tell the used space of $device from the free space, so the whole space was searched."
fi
kinds=$(sed -n 's/^\([A-Za-z0-9_-]*\): \([0-9][0-9]*\)\/[0-9][0-9]* recovered$/\1 \2/p' <<<"$run_log" |
    awk '$2 > 0 { printf "%s%s: %s", sep, $1, $2; sep = ", " }')
# Nothing is left to pick up.
rm -f -- "$workdir/resume.json"
say "Search finished in $((SECONDS - started)) s: $total files recovered${kinds:+ ($kinds)}."
exit 0
