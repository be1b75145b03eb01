#!/bin/bash
# The benchmark in the virtual machine (scripts/vm-tests.sh --bench): how long
# veltra-load takes to end once the adapter has been pulled in the middle of
# a download, as a ratio to one empty read on ttyUSB0 (its 256 ms deadline as
# the guest keeps it), both measured here in the same run. Three rounds.
. "$veltra_repo/scripts/vm/guest-lib.sh"
ask serve usb --pace
wait_for '[[ -e /dev/ttyUSB0 ]]' 20 || { result "bench: ttyUSB0 appears" "no /dev/ttyUSB0"; printf '@@end\n'; exit; }

yardstick=$("$repo/build/debug/tests/vm/veltra_vm_empty_read" ttyUSB0)
head -c 4096 /dev/urandom >/tmp/fw.bin
times=()
for round in 1 2 3; do
  ask serve usb --pace
  ask pull-at usb 10
  read -r seconds code < <(/usr/bin/python3 "$repo/scripts/vm/pull-bench.py" "$load" /tmp/fw.bin)
  fact "round $round: pull to the end of veltra-load $seconds s (exit $code)"
  [[ $seconds != none ]] && times+=("$seconds")
  ask plug usb
  wait_for '[[ -e /dev/ttyUSB0 ]]' 20
done
if [[ -n $yardstick && ${#times[@]} -gt 0 ]]; then
  summary=$(printf '%s\n' "${times[@]}" | sort -n | awk -v y="$yardstick" '
    { t[NR] = $1 } END { min = t[1]; med = t[int((NR + 1) / 2)]
      printf "pull to end: min %.3f s, median %.3f s; yardstick (one empty read) %.3f s; ratio min %.2f, median %.2f", min, med, y, min / y, med / y }')
  fact "$summary"
  result "bench measured" ""
else
  result "bench measured" "yardstick '$yardstick', rounds '${times[*]}'"
fi
printf '@@end\n'
