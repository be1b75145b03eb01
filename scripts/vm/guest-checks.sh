#!/bin/bash
# The checks in the virtual machine (run by its /init, see scripts/vm-tests.sh):
# veltra-load and the port on the kernel's real serial drivers, against
# veltra-sim on the host's end of each line. One "@@res" line per check.
. "$veltra_repo/scripts/vm/guest-lib.sh"
vmtests=$repo/build/debug/tests/vm/veltra_vm_tests
lock=/run/lock/LCK..ttyUSB0
gone="The port ttyUSB0 is gone (was the adapter unplugged?)"

fact "console: /sys/class/tty/console/active holds '$(cat /sys/class/tty/console/active)'"
# QEMU's FTDI is on the bus only once its pty has a reader on the host's side.
ask serve usb --echo
wait_for '[[ -e /dev/ttyUSB0 ]]' 20 || result "the adapter appears as ttyUSB0" "no /dev/ttyUSB0 after 20 s"

# firmware SIZE: a file of SIZE random bytes in /tmp; its path on stdout.
firmware() {
  head -c "$1" /dev/urandom >"/tmp/fw-$1.bin"
  echo "/tmp/fw-$1.bin"
}
# blocks_bytes SIZE: what "Successful - N Bytes" says for a file of SIZE bytes.
blocks_bytes() { echo $((($1 / 64 + 1) * 64)); }

# serve LINE OPTIONS: the host's simulator on LINE with OPTIONS; "-" is none.
serve() {
  if [[ $2 == - ]]; then ask stop "$1"; else ask serve "$@"; fi
}

# run_load NAME ARGS...: veltra-load, bounded by a generous timeout; its exit
# status in $rc, its output in /tmp/NAME.out and /tmp/NAME.err.
run_load() {
  local name=$1
  shift
  timeout -s KILL 90 "$load" "$@" >"/tmp/$name.out" 2>"/tmp/$name.err"
  rc=$?
}
# A run that the check interrupts (kill -INT on its timeout) runs under
# timeout --foreground instead: timeout otherwise passes the signal on twice,
# to the program and to its own process group, and veltra-load takes the
# second for a second Ctrl-C, which ends it at once (now and then exit 130
# instead of a summary).
last_line() { tail -n 1 "$1" | tr -d '\r'; }
said() { tr '\n' ' ' <"$1" | cut -c1-300; }

# ---- the port list -------------------------------------------------------------
check_list() {
  run_load list --list
  local problem="" first usb
  first=$(cut -f1 /tmp/list.out | head -n 9 | tr '\n' ' ')
  usb=$(grep -n "^ttyUSB0"$'\t' /tmp/list.out | head -n 1)
  if ((rc != 0)); then
    problem="exit $rc: $(said /tmp/list.err)"
  elif [[ $first != "COM1: COM2: COM3: COM4: COM5: COM6: COM7: COM8: COM9: " ]]; then
    problem="the list does not begin with COM1: to COM9: ($first)"
  elif [[ -z $usb || ${usb%%:*} -le 9 ]]; then
    problem="no ttyUSB0 after COM9: ($(said /tmp/list.out))"
  elif [[ -z $(echo "$usb" | cut -f3) ]]; then
    problem="ttyUSB0 has no description"
  elif [[ $(echo "$usb" | cut -f4,5) != "VELTRA-A1"$'\t'"1-1" ]]; then
    # QEMU's adapter has the serial number and hub port host.py gives it.
    problem="ttyUSB0's USB serial number and path are not VELTRA-A1 and 1-1: $(echo "$usb" | cut -f4,5)"
  fi
  result "--list shows ttyUSB0 after COM1: to COM9:, with its USB serial number and path" "$problem"
  fact "ttyUSB0 in the list: $(echo "${usb#*:}" | tr '\t' '|')"
}

# ---- downloads -----------------------------------------------------------------
# name | line | port | simulator options ("-": none) | veltra-load options | size | exit | last line
downloads=(
  "download through ttyUSB0|usb|ttyUSB0|--pace --save $out/usb.bin||4000|0|Successful - 4032 Bytes"
  "download through COM2:|com2|COM2:|--pace --save $out/com2.bin||1280|0|Successful - 1344 Bytes"
  "refused block through ttyUSB0|usb|ttyUSB0|--pace --refuse-block 3||1000|1|Failed - 128 Bytes"
  "refused block through COM2:|com2|COM2:|--pace --refuse-block 3||1000|1|Failed - 128 Bytes"
  "silent device on ttyUSB0|usb|ttyUSB0|-|--wait 2|1000|2|No connection"
  "silent device on COM2:|com2|COM2:|-|--wait 2|1000|2|No connection"
)

# The latency timer of the FTDI: 1 while the port is open, as it was before
# after it is closed.
latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
latency_checked=""
check_latency_around() {  # PID of a download on ttyUSB0 that has just begun
  local pid=$1 before during after
  before=$(cat $latency 2>/dev/null)
  wait_for 'grep -q Downloading /tmp/dl.out' 30
  during=$(cat $latency 2>/dev/null)
  wait "$pid"
  rc=$?
  after=$(cat $latency 2>/dev/null)
  local problem=""
  [[ -n $before && $during == 1 && $after == "$before" ]] ||
    problem="before $before, during the download $during, after $after (want 1 during, as before after)"
  result "ttyUSB0's latency_timer is 1 while open and $before again after" "$problem"
  latency_checked=yes
}

# saved_problem SAVED SIZE FW: what is wrong with SAVED, what the simulator
# saved from a download of FW (SIZE bytes): whole blocks, the file's bytes,
# then 0xFF. Prints nothing when it is right.
saved_problem() {
  local saved=$1 size=$2 fw=$3 n
  n=$(blocks_bytes "$size")
  if [[ $(stat -c %s "$saved" 2>/dev/null) != "$n" ]]; then
    echo "the device took $(stat -c %s "$saved" 2>/dev/null || echo no) bytes, not $n"
  elif ! head -c "$size" "$saved" | cmp -s - "$fw"; then
    echo "the device took other bytes than the file's"
  elif [[ -n $(tail -c +$((size + 1)) "$saved" | tr -d '\377') ]]; then
    echo "the last block is not padded with 0xFF"
  fi
}

check_download() {
  local name line port sim options size code want
  IFS='|' read -r name line port sim options size code want <<<"$1"
  local problem="" fw saved
  serve "$line" $sim || { result "$name" "the host did not serve: $reply"; return; }
  fw=$(firmware "$size")
  if [[ $port == ttyUSB0 && $code == 0 && -z $latency_checked ]]; then
    timeout -s KILL 90 "$load" --port "$port" $options "$fw" >/tmp/dl.out 2>/tmp/dl.err &
    check_latency_around $!
  else
    run_load dl --port "$port" $options "$fw"
  fi
  if ((rc != code)); then
    problem="exit $rc, not $code: $(said /tmp/dl.out) / $(said /tmp/dl.err)"
  elif [[ $(last_line /tmp/dl.out) != "$want" ]]; then
    problem="ends '$(last_line /tmp/dl.out)', not '$want'"
  fi
  saved=$(echo "$sim" | sed -n 's/.*--save \([^ ]*\).*/\1/p')
  if [[ -n $saved ]]; then
    ask stop "$line"
    [[ -n $problem ]] || problem=$(saved_problem "$saved" "$size" "$fw")
  fi
  result "$name" "$problem"
}

# ---- the adapter pulled --------------------------------------------------------
# name | veltra-load options | when: "at N" (block frame N) or "waiting"
pulls=(
  "adapter pulled mid-download||at 20"
  "adapter pulled mid-download, --loop --reconnect 0|--loop --reconnect 0|at 20"
  "adapter pulled while --loop --reconnect 0 waits for the next device|--loop --reconnect 0|waiting"
)

plug_back() {
  ask plug usb || return 1
  wait_for '[[ -e /dev/ttyUSB0 ]]' 20
}

check_pull() {
  local name options when
  IFS='|' read -r name options when <<<"$1"
  local problem="" fw pid
  fw=$(firmware 4096)
  if [[ $when == waiting ]]; then
    ask stop usb
    timeout --foreground -s KILL 90 "$load" --port ttyUSB0 $options "$fw" >/tmp/pull.out 2>/tmp/pull.err &
    pid=$!
    if wait_for 'grep -q "Waiting for the next device" /tmp/pull.out' 30; then
      ask pull usb || problem="the host did not pull: $reply"
    else
      problem="never waited for the next device: $(said /tmp/pull.out)"
      kill -INT "$pid"
    fi
    wait "$pid"
    rc=$?
  else
    serve usb --pace && ask pull-at usb "${when#at }" || { result "$name" "the host did not serve: $reply"; return; }
    run_load pull --port ttyUSB0 $options "$fw"
  fi
  if [[ -n $problem ]]; then
    :
  elif ((rc != 4)); then
    problem="exit $rc, not 4: $(said /tmp/pull.out) / $(said /tmp/pull.err)"
  elif ! grep -qF "$gone" /tmp/pull.err; then
    problem="standard error does not say the port is gone: $(said /tmp/pull.err)"
  elif [[ $when != waiting ]] && ! grep -q "Failed - " /tmp/pull.out; then
    problem="no 'Failed - ' line: $(said /tmp/pull.out)"
  elif [[ -e $lock ]]; then
    problem="the lock file $lock was left behind"
  fi
  if [[ -z $problem && $when != waiting ]]; then
    local failed
    failed=$(grep -o "Failed - [0-9]* Bytes" /tmp/pull.out | tail -n 1)
    [[ $failed == "Failed - 1216 Bytes" ]] || fact "$name: '$failed' (19 blocks would be 1216 Bytes)"
  fi
  result "$name" "$problem"
  plug_back || result "the adapter comes back after a pull" "no /dev/ttyUSB0 after plugging it in again"
}

# ---- the log on a full disk ----------------------------------------------------
# A tmpfs of two pages: the log's earlier line fills most of one, a filler the
# other, so the next record is written only in part before ENOSPC. The device
# is flashed all the same, the run ends with exit 3; once the filler is gone,
# the next record starts a line of its own and parses.
check_full_disk() {
  local name="a full disk: the device flashed, exit 3, the next record whole once there is space again"
  local problem="" fw disk=/tmp/full log=/tmp/full/devices.jsonl earlier lines
  mkdir -p "$disk"
  if ! mount -t tmpfs -o size=8k,mode=0755 full "$disk"; then
    result "$name" "cannot mount a small tmpfs"
    return
  fi
  earlier="{\"earlier\":\"$(head -c 3900 /dev/zero | tr '\0' x)\"}"
  echo "$earlier" >"$log"
  head -c 4096 /dev/zero >"$disk/filler" 2>/dev/null
  fw=$(firmware 1000)
  serve com2 --save "$out/full.bin" || { result "$name" "the host did not serve: $reply"; umount "$disk"; return; }
  run_load full --port COM2: --log "$log" "$fw"
  ask stop com2
  if ((rc != 3)); then
    problem="exit $rc, not 3: $(said /tmp/full.out) / $(said /tmp/full.err)"
  elif [[ $(last_line /tmp/full.out) != "Successful - 1024 Bytes" ]]; then
    problem="the device was not flashed: $(said /tmp/full.out)"
  elif ! grep -qF "Cannot write the log file $log: No space left on device" /tmp/full.err; then
    problem="standard error does not say the record was not written: $(said /tmp/full.err)"
  elif [[ $(tail -c 1 "$log" | od -An -c | tr -d ' ') == '\n' ]]; then
    problem="the record was not torn by the full disk; the check proves nothing"
  else
    problem=$(saved_problem "$out/full.bin" 1000 "$fw")
  fi
  if [[ -z $problem ]]; then
    rm -f "$disk/filler"
    serve com2 || problem="the host did not serve: $reply"
    [[ -n $problem ]] || run_load full --port COM2: --log "$log" "$fw"
    ask stop com2
    lines=$(wc -l <"$log")
    if [[ -n $problem ]]; then
      :
    elif ((rc != 0)); then
      problem="the run with space again: exit $rc: $(said /tmp/full.err)"
    elif [[ $(head -n 1 "$log") != "$earlier" ]]; then
      problem="the earlier line changed"
    elif ((lines != 3)); then
      problem="$lines lines, not the earlier one, the torn one and the whole one"
    elif [[ $(tail -n 1 "$log") != '{"time":'*'"result":"Successful - 1024 Bytes"'*'"exit":0}' ]]; then
      problem="the last line is not a whole record: $(tail -n 1 "$log" | cut -c1-200)"
    fi
  fi
  umount "$disk"
  result "$name" "$problem"
}

# ---- through the ROM bootloader --------------------------------------------------
# rom_image FILE: an image of the ROM run: header (option bytes 19..22 at
# 0x4803..0x4809), 160 records not written, then a program area of 20 records
# beginning with the marker '#'.
rom_image() {
  head -c $((64 + 128 * 160 + 128 * 20)) /dev/urandom >"$1"
  printf '#' | dd of="$1" bs=1 seek=$((64 + 128 * 160)) conv=notrunc status=none
}

# rom_memory_problem SAVED IMAGE: what differs between the memory the simulator
# saved (from 0x4000) and what the run writes: the option bytes and the
# program area. Prints nothing when they agree.
rom_memory_problem() {
  local saved=$1 image=$2 program=$((128 * 20))
  if ! cmp -s <(dd if="$saved" bs=1 skip=$((0x9000 - 0x4000)) count=$program status=none) \
    <(dd if="$image" bs=1 skip=$((64 + 128 * 160)) count=$program status=none); then
    echo "the program area differs from the image's"
  elif [[ $(od -An -tx1 -j $((0x4803 - 0x4000)) -N 7 "$saved" | awk '{print $1 $3 $5 $7}') != \
    "$(od -An -tx1 -j 19 -N 4 "$image" | tr -d ' \n')" ]]; then
    echo "the option bytes differ from the header's"
  fi
}

# name | line | port | baud
roms=(
  "--rom --verify over COM2: at 19200|com2|COM2:|19200"
  "--rom --verify over ttyUSB0 at 115200|usb|ttyUSB0|115200"
)
check_rom() {
  local name line port baud problem="" image=/tmp/rom.bin
  IFS='|' read -r name line port baud <<<"$1"
  rom_image "$image"
  serve "$line" --rom --pace --program-ms 3 --save "$out/rom-$line.bin" || { result "$name" "the host did not serve: $reply"; return; }
  run_load rom --rom --verify --baud "$baud" --port "$port" "$image"
  ask stop "$line"
  if ((rc != 0)); then
    problem="exit $rc: $(said /tmp/rom.out) / $(said /tmp/rom.err)"
  elif [[ $(last_line /tmp/rom.out) != "-----Succefull------" ]]; then
    problem="ends '$(last_line /tmp/rom.out)'"
  else
    problem=$(rom_memory_problem "$out/rom-$line.bin" "$image")
  fi
  result "$name" "$problem"
}

# The adapter pulled at the fifth record: exit 4, and the board never gets Go.
check_rom_pull() {
  local name="adapter pulled in the middle of --rom: exit 4, no Go sent" problem="" image=/tmp/rom.bin ended
  rom_image "$image"
  serve usb --rom --pace --program-ms 3 && ask pull-at usb 5 || { result "$name" "the host did not serve: $reply"; return; }
  run_load rompull --rom --baud 115200 --port ttyUSB0 "$image"
  ask stop usb
  ended=$reply
  if ((rc != 4)); then
    problem="exit $rc, not 4: $(said /tmp/rompull.out) / $(said /tmp/rompull.err)"
  elif ! grep -qF "$gone" /tmp/rompull.err; then
    problem="standard error does not say the port is gone: $(said /tmp/rompull.err)"
  elif [[ $ended == *"Go received"* ]]; then
    problem="the board got Go: $ended"
  elif [[ -e $lock ]]; then
    problem="the lock file $lock was left behind"
  fi
  result "$name" "$problem"
  plug_back || result "the adapter comes back after a pull" "no /dev/ttyUSB0 after plugging it in again"
}

# Two blank boards one after the other on the FTDI adapter, each with its
# chip ID in its device line and log line.
check_rom_line() {
  local name="--loop --rom --chip-id: two boards one after the other on ttyUSB0" problem="" image=/tmp/rom.bin pid
  local id1=0a0b0c0d0e0f101112131401 id2=0a0b0c0d0e0f101112131402
  rom_image "$image"
  rm -f /tmp/roml.jsonl
  serve usb --rom --chip-id "$id1" || { result "$name" "the host did not serve: $reply"; return; }
  timeout --foreground -s KILL 120 "$load" --rom --loop --baud 115200 --port ttyUSB0 --chip-id 0x48CD:12 \
    --log /tmp/roml.jsonl "$image" >/tmp/roml.out 2>/tmp/roml.err &
  pid=$!
  wait_for 'grep -q "^#1 " /tmp/roml.out' 60 || problem="board 1 was not flashed: $(said /tmp/roml.out) / $(said /tmp/roml.err)"
  if [[ -z $problem ]]; then
    ask stop usb
    serve usb --rom --chip-id "$id2" || problem="the host did not serve: $reply"
  fi
  if [[ -z $problem ]] && ! wait_for 'grep -q "^#2 " /tmp/roml.out' 60; then
    problem="board 2 was not flashed: $(said /tmp/roml.out) / $(said /tmp/roml.err)"
  fi
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  ask stop usb
  if [[ -n $problem ]]; then
    :
  elif ((rc != 0)); then
    problem="exit $rc: $(said /tmp/roml.out) / $(said /tmp/roml.err)"
  elif ! grep -qx "#1 -----Succefull------ in [0-9.]* s, chip ID $id1" /tmp/roml.out ||
    ! grep -qx "#2 -----Succefull------ in [0-9.]* s, chip ID $id2" /tmp/roml.out; then
    problem="the device lines do not name both chips: $(said /tmp/roml.out)"
  elif [[ $(last_line /tmp/roml.out) != "2 devices: 2 succeeded, 0 failed" ]]; then
    problem="the summary is '$(last_line /tmp/roml.out)'"
  elif [[ $(json_field "$(sed -n 1p /tmp/roml.jsonl)" chip_id) != "\"$id1\"" ||
    $(json_field "$(sed -n 2p /tmp/roml.jsonl)" chip_id) != "\"$id2\"" ]]; then
    problem="the log's chip IDs are not both boards': $(cut -c1-300 /tmp/roml.jsonl | tr '\n' ' ')"
  fi
  result "$name" "$problem"
}

# ---- the adapter that comes back -----------------------------------------------
# veltra-load --loop on the adapter named by its USB serial number; the adapter
# is pulled at block frame 20 of device 1 and plugged back two seconds later.
# With "spare", a second adapter is plugged in first and takes ttyUSB0, so the
# one coming back is ttyUSB1. Device 1, cut off in the middle of a frame, is
# still on the line when the port is back: it is waited off (the host ends
# its simulator), and device 2, a fresh simulator, is flashed whole.
check_reconnect() {
  local spare=$1 name="adapter pulled mid-download comes back${1:+ under another name}, --loop --port usb:VELTRA-A1"
  local problem="" fw pid size=4000 node=/dev/ttyUSB0 records first second
  [[ -n $spare ]] && node=/dev/ttyUSB1
  fw=$(firmware "$size")
  rm -f /tmp/re.jsonl
  serve usb --pace && ask pull-at usb 20 || { result "$name" "the host did not serve: $reply"; return; }
  timeout --foreground -s KILL 150 "$load" --loop --port usb:VELTRA-A1 --log /tmp/re.jsonl "$fw" >/tmp/re.out 2>/tmp/re.err &
  pid=$!
  if ! wait_for 'grep -q "^port gone, waiting up to 30 s for it to come back" /tmp/re.out' 40; then
    problem="the line did not wait for the port: $(said /tmp/re.out) / $(said /tmp/re.err)"
  fi
  sleep 2
  if [[ -z $problem && -n $spare ]]; then
    ask plug-spare && wait_for '[[ -e /dev/ttyUSB0 ]]' 20 || problem="the spare adapter did not appear as ttyUSB0"
  fi
  [[ -n $problem ]] || ask plug usb || problem="the host did not plug: $reply"
  if [[ -z $problem ]] && ! wait_for "grep -q '^port back as $node after ' /tmp/re.out" 30; then
    problem="the port did not come back as $node: $(said /tmp/re.out) / $(said /tmp/re.err)"
  fi
  if [[ -z $problem ]] && ! wait_for 'grep -q "^Waiting for device 1 to be taken off the line" /tmp/re.out' 20; then
    problem="device 1 was not waited off the line: $(said /tmp/re.out)"
  fi
  if [[ -z $problem ]]; then
    # Device 1 stays a while: it must neither be taken for gone nor flashed.
    sleep 2
    ask stop usb
    if [[ $(tail -n 1 /tmp/re.out) != "Waiting for device 1 to be taken off the line" ]]; then
      problem="device 1, still on the line, was not waited for: $(said /tmp/re.out)"
    elif ! wait_for '[[ $(tail -n 1 /tmp/re.out) == "Waiting for the next device" ]]' 20; then
      problem="device 1 taken off was not noticed: $(said /tmp/re.out)"
    fi
  fi
  if [[ -z $problem ]]; then
    serve usb --pace --save "$out/re.bin" || problem="the host did not serve: $reply"
  fi
  if [[ -z $problem ]] && ! wait_for 'grep -q "^Waiting for device 2 to be taken off the line" /tmp/re.out' 60; then
    problem="device 2 was not flashed: $(said /tmp/re.out) / $(said /tmp/re.err)"
  fi
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  ask stop usb
  records=$(grep -c . /tmp/re.jsonl 2>/dev/null)
  first=$(sed -n 1p /tmp/re.jsonl 2>/dev/null)
  second=$(sed -n 2p /tmp/re.jsonl 2>/dev/null)
  if [[ -n $problem ]]; then
    :
  elif ((rc != 4)); then
    problem="exit $rc, not 4 (device 1's port problem): $(said /tmp/re.out) / $(said /tmp/re.err)"
  elif ! grep -qx "#2 Successful - $(blocks_bytes "$size") Bytes in [0-9.]* s" /tmp/re.out; then
    problem="device 2 did not succeed: $(said /tmp/re.out)"
  elif [[ $(last_line /tmp/re.out) != "2 devices: 1 succeeded, 1 failed, 1 reconnect" ]]; then
    problem="the summary is '$(last_line /tmp/re.out)'"
  elif [[ $(head -n 1 /tmp/re.err) != "The port usb:VELTRA-A1 is gone (was the adapter unplugged?)" ]]; then
    problem="standard error does not begin with the gone port: $(said /tmp/re.err)"
  elif [[ $records != 2 ]]; then
    problem="$records log lines, not 2"
  elif [[ $(json_field "$first" device) != 1 || $(json_field "$first" exit) != 4 ||
    $(json_field "$first" result) != '"Failed - '* ]]; then
    problem="device 1's log line is not the port-lost one: $first"
  elif [[ $(json_field "$second" device) != 2 || $(json_field "$second" exit) != 0 ||
    $(json_field "$second" result) != "\"Successful - $(blocks_bytes "$size") Bytes\"" ]]; then
    problem="device 2's log line is not its success: $second"
  elif [[ -e /run/lock/LCK..ttyUSB0 || -e /run/lock/LCK..ttyUSB1 ]]; then
    problem="a lock file was left behind: $(ls /run/lock)"
  else
    # Device 2 took the whole image from its first block: nothing of the
    # pulled download reached it.
    problem=$(saved_problem "$out/re.bin" "$size" "$fw")
  fi
  result "$name" "$problem"
  fact "$name: $(grep -m 1 '^port back as ' /tmp/re.out)"
}

# An adapter that does not come back ends the line after --reconnect's bound:
# the spare adapter, waited on for a device, pulled for good.
check_no_return() {
  local name="adapter pulled for good ends --loop --reconnect 3 with exit 4" problem="" fw pid
  fw=$(firmware 1000)
  timeout --foreground -s KILL 60 "$load" --loop --reconnect 3 --port usb:VELTRA-B2 "$fw" >/tmp/nr.out 2>/tmp/nr.err &
  pid=$!
  if wait_for 'grep -q "Waiting for the next device" /tmp/nr.out' 20; then
    ask pull-spare || problem="the host did not pull: $reply"
  else
    problem="never waited for the next device: $(said /tmp/nr.out) / $(said /tmp/nr.err)"
    kill -INT "$pid"
  fi
  wait "$pid"
  rc=$?
  if [[ -n $problem ]]; then
    :
  elif ((rc != 4)); then
    problem="exit $rc, not 4: $(said /tmp/nr.out) / $(said /tmp/nr.err)"
  elif [[ $(last_line /tmp/nr.err) != "The port usb:VELTRA-B2 has not come back within 3 s" ]]; then
    problem="standard error does not end with the bound: $(said /tmp/nr.err)"
  elif [[ $(last_line /tmp/nr.out) != "0 devices: 0 succeeded, 0 failed" ]]; then
    problem="the summary is '$(last_line /tmp/nr.out)'"
  elif [[ -n $(ls /run/lock) ]]; then
    problem="a lock file was left behind: $(ls /run/lock)"
  fi
  result "$name" "$problem"
}

# ---- a device that answers the wake-up once only, flashed by --loop -----------
check_wake_once() {
  local name="--loop flashes a device that answers the wake-up once only once"
  local problem="" fw pid before after
  serve usb --pace --wake-once || { result "$name" "the host did not serve: $reply"; return; }
  fw=$(firmware 1000)
  timeout --foreground -s KILL 90 "$load" --port ttyUSB0 --loop "$fw" >/tmp/once.out 2>/tmp/once.err &
  pid=$!
  if ! wait_for 'grep -q "^#1 " /tmp/once.out' 30; then
    problem="no device line: $(said /tmp/once.out)"
  else
    ask frames usb
    before=$reply
    sleep 4
    ask frames usb
    after=$reply
  fi
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  if [[ -n $problem ]]; then
    :
  elif ! grep -q "^#1 Successful" /tmp/once.out; then
    problem="the first device did not succeed: $(said /tmp/once.out)"
  elif grep -q "^#2 " /tmp/once.out; then
    problem="a second device line: $(said /tmp/once.out)"
  elif [[ ${before#* } != "${after#* }" ]]; then
    problem="the device accepted ${before#* } block frames, ${after#* } four seconds later"
  elif ((${after% *} <= ${before% *})); then
    problem="the loop stopped asking the device on the line (frames: $before, then $after)"
  elif ((rc != 0)); then
    problem="exit $rc after Ctrl-C, not 0: $(said /tmp/once.err)"
  fi
  result "$name" "$problem"
}

# ---- two lines at once ---------------------------------------------------------
# One --loop run on ttyUSB0 and COM2: together, a thread per port, one firmware
# file; each line's simulator saves what its device took. A device that failed
# ends the run with its code.
# name | block frame of ttyUSB0's download at which the adapter is pulled ("":
# never) | size | exit | how ttyUSB0's device ends | how COM2:'s device ends
two_lines=(
  "two lines at once: ttyUSB0 and COM2:||4000|0|Successful - 4032 Bytes|Successful - 4032 Bytes"
  "adapter pulled while COM2: is flashed too|20|8000|4|Failed - |Successful - 8064 Bytes"
)
# port | line | lock file
two_ports=("ttyUSB0|usb|$lock" "COM2:|com2|/run/lock/LCK..ttyS1")
# named PORT: how a line of PORT's begins ("COM2:" keeps its one colon).
named() { if [[ $1 == *: ]]; then echo "$1 "; else echo "$1: "; fi; }

# json_field LINE NAME: the value of NAME in the flat JSON object LINE, a
# string with its quotes.
json_field() { sed -nE "s/.*\"$2\": *(\"[^\"]*\"|[^,}]*).*/\1/p" <<<"$1"; }

# sample_overlap BLOCKS: notes in $overlap a moment at which both simulators
# had seen some but not all of the BLOCKS block frames, no device line being
# out yet: both downloads were running at once.
overlap=""
sample_overlap() {
  local usb com2
  [[ -z $overlap ]] && ! grep -q ": #1 " /tmp/two.out || return 0
  ask frames usb && usb=${reply%% *} || return 0
  ask frames com2 && com2=${reply%% *} || return 0
  grep -q ": #1 " /tmp/two.out && return 0
  if ((usb > 0 && usb < $1 && com2 > 0 && com2 < $1)); then
    overlap="ttyUSB0 at block frame $usb, COM2: at $com2 (of $1)"
  fi
  return 0
}

check_two_lines() {
  local name pull_at size code usb_end com2_end
  IFS='|' read -r name pull_at size code usb_end com2_end <<<"$1"
  local problem="" fw pid sum blocks entry port line lockfile head want port_exit ok=0 device summary logged
  fw=$(firmware "$size")
  sum=$(sha256sum "$fw" | cut -d' ' -f1)
  blocks=$(($(blocks_bytes "$size") / 64))
  serve usb --pace --save "$out/two-usb.bin" && serve com2 --pace --save "$out/two-com2.bin" &&
    { [[ -z $pull_at ]] || ask pull-at usb "$pull_at"; } || { result "$name" "the host did not serve: $reply"; return; }
  rm -f /tmp/two.jsonl
  timeout --foreground -s KILL 90 "$load" --loop --port ttyUSB0 --port COM2: --log /tmp/two.jsonl "$fw" >/tmp/two.out 2>/tmp/two.err &
  pid=$!
  overlap=""
  if ! wait_for "sample_overlap $blocks; grep -q '^ttyUSB0: #1 ' /tmp/two.out && grep -q '^COM2: #1 ' /tmp/two.out" 30; then
    problem="not both device lines: $(said /tmp/two.out) / $(said /tmp/two.err)"
  fi
  kill -INT "$pid"
  wait "$pid"
  rc=$?
  for entry in "${two_ports[@]}"; do
    IFS='|' read -r port line lockfile <<<"$entry"
    ask stop "$line"
  done
  if [[ -z $problem ]] && ((rc != code)); then
    problem="exit $rc, not $code: $(said /tmp/two.out) / $(said /tmp/two.err)"
  fi
  for entry in "${two_ports[@]}"; do
    [[ -z $problem ]] || break
    IFS='|' read -r port line lockfile <<<"$entry"
    head=$(named "$port")
    if [[ $port == ttyUSB0 ]]; then want=$usb_end; else want=$com2_end; fi
    # The log's exit of a device: 0 for a success, else the run's (one failure).
    if [[ $want == Successful* ]]; then port_exit=0 ok=$((ok + 1)); else port_exit=$code; fi
    device=$(grep -m 1 "^$head#1 " /tmp/two.out | tr -d '\r')
    summary=$(grep -xF "${head}1 device: $((port_exit == 0)) succeeded, $((port_exit != 0)) failed" /tmp/two.out)
    logged=$(while IFS= read -r l; do [[ $(json_field "$l" port) == "\"$port\"" ]] && echo "$l"; done </tmp/two.jsonl)
    if [[ -z $device ]]; then
      problem="no line '$head#1 ...': $(said /tmp/two.out)"
    elif [[ $device != "$head#1 $want"* ]]; then
      problem="$port's device ended '${device#"$head"}', not '$want'"
    elif [[ -z $summary ]]; then
      problem="no summary '${head}1 device: ...': $(said /tmp/two.out)"
    elif [[ $(grep -c . <<<"$logged") != 1 ]]; then
      problem="the log holds $(grep -c . <<<"$logged") lines for $port, not 1: $(said /tmp/two.jsonl)"
    elif [[ $(json_field "$logged" result) != "\"$want"* || $(json_field "$logged" exit) != "$port_exit" ]]; then
      problem="$port's log line says $(json_field "$logged" result), exit $(json_field "$logged" exit), not '$want', exit $port_exit"
    elif [[ $(json_field "$logged" size) != "$size" || $(json_field "$logged" sha256) != "\"$sum\"" ]]; then
      problem="$port's log line has not the file's size and SHA-256: $logged"
    elif ((port_exit == 0)); then
      problem=$(saved_problem "$out/two-$line.bin" "$size" "$fw")
      [[ -z $problem ]] || problem="on $port $problem"
    fi
    if [[ -z $problem && -e $lockfile ]]; then problem="the lock file $lockfile was left behind"; fi
  done
  local total="All 2 ports, 2 devices: $ok succeeded, $((2 - ok)) failed"
  if [[ -n $problem ]]; then
    :
  elif [[ $(last_line /tmp/two.out) != "$total" ]]; then
    problem="ends '$(last_line /tmp/two.out)', not '$total'"
  elif [[ $(wc -l </tmp/two.jsonl) != 2 ]]; then
    problem="the log holds $(wc -l </tmp/two.jsonl) lines, not 2: $(said /tmp/two.jsonl)"
  elif [[ -n $pull_at ]] && ! grep -qxF "ttyUSB0: $gone" /tmp/two.err; then
    problem="standard error does not say 'ttyUSB0: $gone': $(said /tmp/two.err)"
  elif [[ -n $pull_at && $(grep -m 1 ": #1 " /tmp/two.out) != "ttyUSB0: #1 "* ]]; then
    problem="COM2:'s device had ended before the adapter was pulled: $(said /tmp/two.out)"
  fi
  result "$name" "$problem"
  local l took=""
  while IFS= read -r l; do took+=", $(json_field "$l" port | tr -d '"') $(json_field "$l" seconds) s"; done </tmp/two.jsonl
  if [[ -n $overlap ]]; then
    fact "$name: both downloads were running at once: $overlap; the log says${took#,}"
  else
    fact "$name: no moment seen at which both downloads were running; the log says${took#,}"
  fi
  if [[ -n $pull_at ]]; then
    plug_back || result "the adapter comes back after a pull" "no /dev/ttyUSB0 after plugging it in again"
  fi
}

# ---- a lock held by another program ------------------------------------------
check_foreign_lock() {
  local name="a lock file of another program refuses ttyUSB0, naming it"
  local problem="" sleeper fw
  serve usb --pace || { result "$name" "the host did not serve: $reply"; return; }
  fw=$(firmware 1000)
  sleep 60 &
  sleeper=$!
  printf '%10d\n' "$sleeper" >$lock
  run_load locked --port ttyUSB0 "$fw"
  kill "$sleeper"
  wait "$sleeper" 2>/dev/null
  if ((rc != 4)); then
    problem="exit $rc, not 4: $(said /tmp/locked.out) / $(said /tmp/locked.err)"
  elif ! grep -qF "sleep (pid $sleeper)" /tmp/locked.err; then
    problem="standard error does not name 'sleep (pid $sleeper)': $(said /tmp/locked.err)"
  elif [[ $(cat $lock 2>/dev/null) != "$(printf '%10d' "$sleeper")" ]]; then
    problem="the other program's lock file was changed"
  fi
  rm -f $lock
  result "$name" "$problem"
}

# ---- ports that are no device's line ------------------------------------------
check_console_refused() {
  local name="COM1: (the system console) is refused and sent nothing"
  local problem="" before after fw
  fw=$(firmware 1000)
  ask dels
  before=$reply
  run_load com1 --port COM1: --wait 2 "$fw"
  ask dels
  after=$reply
  if ((rc != 4)); then
    problem="exit $rc, not 4: $(said /tmp/com1.out) / $(said /tmp/com1.err)"
  elif ! grep -q "system console" /tmp/com1.err; then
    problem="standard error does not mention the system console: $(said /tmp/com1.err)"
  elif [[ $before != "$after" ]]; then
    problem="wake-ups reached the console ($before, then $after bytes 0x7F)"
  fi
  result "$name" "$problem"
}

check_empty_slot() {
  local name="COM4: (an 8250 slot without a UART) says there is no hardware"
  local problem="" fw
  local want="No such device: there is no serial port hardware behind /dev/ttyS3."
  fw=$(firmware 1000)
  run_load com4 --port COM4: "$fw"
  if ((rc != 4)); then
    problem="exit $rc, not 4: $(said /tmp/com4.out) / $(said /tmp/com4.err)"
  elif ! cat /tmp/com4.out /tmp/com4.err | grep -qF "$want"; then
    problem="no line '$want': $(said /tmp/com4.err)"
  fi
  result "$name" "$problem"
}

# ---- the port's own tests over both drivers -----------------------------------
check_port_tests() {
  local line=$1 port=$2 name="the port's tests on $2 (veltra_vm_tests)"
  ask serve "$line" --echo || { result "$name" "the host did not serve: $reply"; return; }
  VELTRA_VM_PORT=$port timeout -s KILL 120 "$vmtests" >"/tmp/vm-$line.log" 2>&1
  rc=$?
  local problem=""
  if ((rc != 0)); then
    problem="exit $rc: $(grep -E '^\[  FAILED  \]|Failure|Expected|Which is|actual' "/tmp/vm-$line.log" | head -n 12 | tr '\n' ' ' | cut -c1-600)"
  fi
  result "$name" "$problem"
}

check_list
for row in "${downloads[@]}"; do check_download "$row"; done
check_port_tests usb ttyUSB0
check_port_tests com2 COM2:
check_console_refused
check_empty_slot
check_foreign_lock
check_wake_once
check_full_disk
for row in "${two_lines[@]}"; do check_two_lines "$row"; done
for row in "${pulls[@]}"; do check_pull "$row"; done
check_download "download through ttyUSB0 after the adapter came back|usb|ttyUSB0|--pace --save $out/again.bin||2000|0|Successful - 2048 Bytes"
for row in "${roms[@]}"; do check_rom "$row"; done
check_rom_line
check_rom_pull
check_reconnect ""

# What the drivers do, for whoever reads the log (no checks).
/usr/bin/python3 "$repo/scripts/vm/probe.py" slot /dev/ttyS3 | while IFS= read -r l; do fact "$l"; done
if [[ -e /dev/ttyUSB0 ]]; then
  rm -f /tmp/probe-ready
  /usr/bin/python3 "$repo/scripts/vm/probe.py" pulled /dev/ttyUSB0 /tmp/probe-ready >/tmp/probe.out 2>&1 &
  probe=$!
  wait_for '[[ -e /tmp/probe-ready ]]' 20 && ask pull usb
  wait "$probe"
  while IFS= read -r l; do fact "$l"; done </tmp/probe.out
  plug_back
fi
# Last: they leave the adapter as ttyUSB1.
check_reconnect spare
check_no_return
printf '@@end %d\n' "$failures"
