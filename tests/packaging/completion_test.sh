#!/usr/bin/env bash
# Calls the bash completion of voktools as bash would, on a table of command
# lines, and checks what it offers.
# Usage: completion_test.sh COMPLETION_FILE
set -uo pipefail
# shellcheck disable=SC1090
source "$1"
failures=0

# The words typed (the last one is being completed), words that must be
# offered, words that must not.
check() {
  local line=$1 want=$2 unwanted=$3
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _voktools
  local offered=" ${COMPREPLY[*]} " word
  for word in $want; do
    if [[ $offered != *" $word "* ]]; then
      echo "FAIL '$line': '$word' not offered (offered:$offered)"
      failures=$((failures + 1))
    fi
  done
  for word in $unwanted; do
    if [[ $offered == *" $word "* ]]; then
      echo "FAIL '$line': '$word' offered (offered:$offered)"
      failures=$((failures + 1))
    fi
  done
}

#     command line                            offered                      not offered
check "voktools rt"                           "rtf rtf2doc"                "asp2html extract"
check "voktools "                             "rtf mif reg help invoke"    "extract --obj"
check "voktools help r"                       "rtf reg rtf2doc"            "help extract"
check "voktools rtf "                         "extract insert"             "rtf help"
check "voktools rtf extract --"               "--obj --force --json --quiet" "--version --split"
check "voktools rtf extract -"                "-q --obj"                   ""
check "voktools rtf --json extract --f"       "--force"                    "--obj"
check "voktools mif extract a.mif --s"        "--split --strict"           "--obj"
check "voktools mif extract a.mif "           ""                           "extract merge"
check "voktools reg add K --t"                "--type"                     "--data"
check "voktools --v"                          "--version"                  "--obj"

echo "$failures failure(s)"
((failures == 0))
