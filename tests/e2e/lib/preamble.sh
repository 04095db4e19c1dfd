# Pass and fail counting shared by the end-to-end scenario files: every check
# prints one line, and a file ends with "N passed, M failed" from finish.

QX_PASSED=0
QX_FAILED=0
QX_SCENARIO="" # named in failure lines

qx_say() { printf '%s\n' "$*"; }

pass() {
  QX_PASSED=$((QX_PASSED + 1))
  qx_say "  ok   $*"
}

fail() {
  QX_FAILED=$((QX_FAILED + 1))
  qx_say "  FAIL ${QX_SCENARIO:+[$QX_SCENARIO] }$*"
}

# check DESCRIPTION COMMAND [ARGS...]: passes when the command succeeds.
check() {
  local description=$1
  shift
  if "$@"; then pass "$description"; else fail "$description"; fi
}

# Prints the summary line and leaves with status 1 if anything failed.
finish() {
  qx_say "$QX_PASSED passed, $QX_FAILED failed"
  [[ $QX_FAILED -eq 0 ]] && exit 0
  exit 1
}
