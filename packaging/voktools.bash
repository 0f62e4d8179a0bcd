# bash completion for voktools: its commands, their subcommands and options;
# file names everywhere else.

# @TABLES@

_voktools() {
  local cur=${COMP_WORDS[COMP_CWORD]} path=voktools word i
  # The command path so far: the words naming a command of the path before
  # them ("help" lists the same commands).
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $i -eq 1 && $word == help ]]; then continue; fi
    if [[ " ${_voktools_commands[$path]} " == *" $word "* ]]; then
      path+=" $word"
    elif [[ $word != -* ]]; then
      break
    fi
  done
  COMPREPLY=()
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "${_voktools_options[$path]}" -- "$cur")
  elif [[ -n ${_voktools_commands[$path]} ]]; then
    local commands=${_voktools_commands[$path]}
    [[ $COMP_CWORD -eq 1 ]] && commands+=" help"
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  fi
  # Nothing offered: bash completes file names (complete -o default).
  return 0
}
complete -o bashdefault -o default -F _voktools voktools
