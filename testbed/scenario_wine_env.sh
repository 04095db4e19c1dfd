# shellcheck shell=bash
# Sourced after testbed/scenario.sh by scenario files whose Wine programs need more environment,
# such as the locale, which decides Wine's ANSI code page (zh_TW.UTF-8 gives 950), or TZ:
#
#   wine_env LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
#
# Every later "wine" of the file, page scripts of run_js included, runs with these variables.
# Bash keeps its own locale, which need not exist on the machine (Wine needs no generated locale).

wine_env() {
  QX_WINE_ENV=("$@")
  # env runs the real wine; functions are invisible to it.
  wine() { env "${QX_WINE_ENV[@]}" wine "$@"; }
}
