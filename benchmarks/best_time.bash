# Sourced by the timing scripts. best CMD...: the best "time N s" that CMD
# reports on standard error, over $runs runs (its standard output is dropped).
best() {
  local best=
  for _ in $(seq "$runs"); do
    local t
    t=$("$@" 2>&1 >/dev/null | awk '/^time /{print $2}')
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$t; fi
  done
  echo "$best"
}
