#!/bin/bash
# Vellorin's driver for PhotoRec: runs one search without a single question and prints plain
# lines that the application shows in its activity log.
#
#   photorec_auto.sh PHOTOREC SOURCE RECOVERY_DIRECTORY
#
# SOURCE is a block device, a disk image file, or a folder (the device behind it is scanned).
# Recovered files land in RECOVERY_DIRECTORY/recup_dir.N/; the engine's log, session and report
# files are kept under hidden names there, so the application lists only recovered files.
#
# Exit status: 0 when the search ran to its end; non-zero otherwise. PhotoRec's own status is
# no verdict (it exits 0 after a syntax error, for one), so this script decides.
#
# Every path is data: each expansion is quoted and no path is ever parsed as shell text.

set -u
shopt -s nullglob

# The application never stops a search, not even when it quits: a closed output pipe or a
# hang-up must not end this script or the engine (ignored signals stay ignored across exec).
trap '' PIPE HUP

readonly kElevatedMarker=--vellorin-elevated
readonly kCommands=partition_none,options,paranoid,fileopt,everything,enable,wholespace,search

# One plain line; a reader that went away is no reason to stop.
say() {
    printf '%s\n' "$*" 2>/dev/null || true
}

# Makes a path absolute without touching the file system, so that a name starting with "-"
# can never be read as an option further down.
absolute() {
    case $1 in
    /*) printf '%s' "$1" ;;
    *) printf '%s/%s' "$PWD" "$1" ;;
    esac
}

elevated=0
if [ "$#" -eq 4 ] && [ "$1" = "$kElevatedMarker" ]; then
    elevated=1
    shift
fi
if [ "$#" -ne 3 ]; then
    say "Usage: photorec_auto.sh PHOTOREC SOURCE RECOVERY_DIRECTORY"
    exit 2
fi

engine=$(absolute "$1")
source_path=$(absolute "$2")
recovery=$(absolute "$3")

if [ ! -f "$engine" ] || [ ! -x "$engine" ]; then
    say "PhotoRec cannot be run from $engine. Install it with: sudo apt install testdisk"
    exit 3
fi
if [ ! -d "$recovery" ] || [ ! -w "$recovery" ]; then
    say "The recovery folder $recovery does not exist or cannot be written to."
    exit 4
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

# Device numbers that hold a folder: the file system's own, and its backing device's.
folder_devices() {
    stat -c '%Hd:%Ld' "$1" 2>/dev/null
    local holder
    holder=$(findmnt -n -o SOURCE -T "$1" 2>/dev/null | head -n 1)
    holder=${holder%%\[*}
    if [ -n "$holder" ] && [ -b "$holder" ]; then
        stat -L -c '%Hr:%Lr' "$holder" 2>/dev/null
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
    done < <(folder_devices "$recovery")
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

if [ ! -r "$device" ]; then
    if [ "$elevated" -eq 1 ]; then
        say "Cannot read $device even with administrator rights."
        exit 6
    fi
    if [ -n "${DISPLAY-}${WAYLAND_DISPLAY-}" ] && command -v pkexec >/dev/null 2>&1 &&
        { [ -x /usr/lib/polkit-1/polkitd ] || [ -x /usr/libexec/polkitd ]; }; then
        say "Reading $device needs administrator rights; asking for them..."
        script=$(readlink -f -- "${BASH_SOURCE[0]}")
        pkexec /bin/bash "$script" "$kElevatedMarker" "$engine" "$source_path" "$recovery"
        status=$?
        if [ "$status" -eq 126 ] || [ "$status" -eq 127 ]; then
            say "Administrator rights were not granted, so $device cannot be read."
        fi
        exit "$status"
    fi
    say "Cannot read $device: reading a whole disk needs administrator rights, and no graphical password prompt (polkit with a display) is available here. Add your user to the \"disk\" group, run the search from a desktop session, or choose a disk image file you can read."
    exit 6
fi

# The engine works in a hidden folder: its log and session files never show up as results.
workdir=$recovery/.photorec
if ! mkdir -p -- "$workdir"; then
    say "Cannot create $workdir."
    exit 4
fi
rm -f -- "$workdir/photorec.ses"
log=$workdir/photorec.log
log_start=0
if [ -f "$log" ]; then
    log_start=$(stat -c %s -- "$log")
fi

# PhotoRec reads every argument that is exactly one of its option words as that option.
device_arg=$device
case $device_arg in
/log | /debug | /d | /cmd | /nosetlocale | /version | /help | /all) device_arg=/.$device_arg ;;
esac

if [ -b "$device" ]; then
    size=$(lsblk -bdno SIZE "$device" 2>/dev/null | head -n 1)
else
    size=$(stat -L -c %s -- "$device" 2>/dev/null)
fi
case ${size-} in '' | *[!0-9]*) size=0 ;; esac

# Moves the engine's report.xml out of the list; the engine keeps writing to the open file.
hide_reports() {
    local report
    for report in "$recovery"/recup_dir.*/report.xml; do
        mv -f -- "$report" "${report%/report.xml}/.report.xml" 2>/dev/null
    done
}

# Counted by globbing below the quoted folder: a folder name such as "Photos [2024]" would be
# read as a pattern by find -path.
count_recovered() {
    local folder found=0
    local -a files
    for folder in "$recovery"/recup_dir.*/; do
        files=("$folder"[!.]*)
        found=$((found + ${#files[@]}))
    done
    printf '%s\n' "$found"
}

if [ "$size" -gt 0 ]; then
    say "Scanning $device ($size bytes) for every file type PhotoRec knows, over the whole space; recovered files go to $recovery"
else
    say "Scanning $device for every file type PhotoRec knows, over the whole space; recovered files go to $recovery"
fi

# The engine's screen output (an ncurses display even in /cmd mode) is never passed on.
(
    cd -- "$workdir" || exit 1
    exec env TERM=dumb "$engine" /log /d "$recovery/recup_dir" /cmd "$device_arg" "$kCommands"
) </dev/null >/dev/null 2>&1 &
engine_pid=$!

started=$SECONDS
last_report=$SECONDS
engine_status=0
while :; do
    sleep 1 &
    ticker=$!
    finished=
    wait -n -p finished "$engine_pid" "$ticker" 2>/dev/null
    status=$?
    if [ "${finished-}" = "$engine_pid" ]; then
        engine_status=$status
        kill "$ticker" 2>/dev/null
        wait "$ticker" 2>/dev/null
        break
    fi
    # Bash drops a job killed by a signal from its table once it has reported it, and wait -n
    # then no longer sees it end; a plain wait still returns its status.
    if ! kill -0 "$engine_pid" 2>/dev/null; then
        wait "$engine_pid" 2>/dev/null
        engine_status=$?
        kill "$ticker" 2>/dev/null
        wait "$ticker" 2>/dev/null
        break
    fi
    hide_reports
    if [ $((SECONDS - last_report)) -ge 3 ]; then
        last_report=$SECONDS
        progress=
        if [ "$size" -gt 0 ] && [ -r "/proc/$engine_pid/io" ]; then
            read_bytes=$(sed -n 's/^rchar: //p' "/proc/$engine_pid/io" 2>/dev/null)
            case ${read_bytes-} in
            '' | *[!0-9]*) ;;
            *)
                percent=$((read_bytes * 100 / size))
                [ "$percent" -le 99 ] || percent=99
                progress="$percent% read, "
                ;;
            esac
        fi
        say "Searching... ${progress}$(count_recovered) files recovered so far, $((SECONDS - started)) s elapsed"
    fi
done
hide_reports

# What this run appended to the engine's log.
run_log=
if [ -f "$log" ]; then
    run_log=$(tail -c +"$((log_start + 1))" -- "$log" 2>/dev/null)
fi

if [ "$elevated" -eq 1 ] && [ -n "${PKEXEC_UID-}" ]; then
    # Files written as root go back to the user who asked for the search.
    owner_group=$(id -g -- "$PKEXEC_UID" 2>/dev/null || printf '%s' "$PKEXEC_UID")
    chown -R -h -- "$PKEXEC_UID:$owner_group" "$workdir" "$recovery"/recup_dir.* 2>/dev/null
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

kinds=$(sed -n 's/^\([A-Za-z0-9_-]*\): \([0-9][0-9]*\)\/[0-9][0-9]* recovered$/\1 \2/p' <<<"$run_log" |
    awk '$2 > 0 { printf "%s%s: %s", sep, $1, $2; sep = ", " }')
say "Search finished in $((SECONDS - started)) s: $total files recovered${kinds:+ ($kinds)}."
exit 0
