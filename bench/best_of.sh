# Sourced by the whole-process benchmarks. Needs RUNS and a scratch folder WORK.
# best_of COMMAND...: the shortest wall-clock time of RUNS runs and the shortest
# CPU time (user + system, every thread of the process), in seconds.
best_of() {
  local wall="" cpu=""
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$@" >/dev/null 2>&1
    read -r w u s <"$WORK/time"
    wall=$(awk -v t="$w" -v b="$wall" 'BEGIN { print (b == "" || t < b) ? t : b }')
    cpu=$(awk -v t="$u" -v k="$s" -v b="$cpu" 'BEGIN { c = t + k; print (b == "" || c < b) ? c : b }')
  done
  echo "$wall $cpu"
}
