# What the guest's scripts share (sourced by bash in the guest): asking the
# host for something over the console, and reporting a check.
#
# The console is the script's standard input and output. Standard input is
# kept as descriptor 3 for the host's answers and replaced by /dev/null, so
# that no program the script starts reads them away.
exec 3<&0 </dev/null
stty -echo <&3 2>/dev/null || true

repo=$veltra_repo
load=$repo/build/debug/src/veltra-load
out=$repo/build/vm/out  # the host writes here; read through the read-only root
seq=0
reply=""

# ask REQUEST...: prints the request for the host and waits for its answer,
# which lands in $reply. False when the host refused it or did not answer.
ask() {
  seq=$((seq + 1))
  printf '@@vm %d %s\n' "$seq" "$*"
  local line
  while IFS= read -r -t 60 line <&3; do
    line=${line%$'\r'}
    case $line in
      "@@ok $seq "*) reply=${line#"@@ok $seq "}; return 0 ;;
      "@@err $seq "*) reply=${line#"@@err $seq "}; return 1 ;;
    esac
  done
  reply="no answer from the host"
  return 1
}

# result NAME PROBLEM: one check's line; ok when PROBLEM is empty.
failures=0
result() {
  if [[ -z $2 ]]; then
    printf '@@res ok %s\n' "$1"
  else
    failures=$((failures + 1))
    printf '@@res FAIL %s: %s\n' "$1" "$2"
  fi
}

fact() { printf '@@fact %s\n' "$*"; }

# wait_for TEST SECONDS: sleeps a tenth of a second at a time until the shell
# test TEST (a string for eval) holds; false after SECONDS.
wait_for() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    eval "$1" && return 0
    sleep 0.1
  done
  eval "$1"
}
