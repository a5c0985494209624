# bash completion for the Vexlo PC software: Vexlo, VexloFPGAUpdate,
# vexlo-image, vexlo-xsvf and vexlo-emulate. Installed once under each
# program's name, where bash-completion loads it on first use.

# The words before the current one that are not options or option values
# ($1: the options that take a value, separated by spaces).
_vexlo_operands() {
  local i n=0
  for ((i = 1; i < cword; i++)); do
    if [[ ${words[i]} == -* ]]; then
      [[ " $1 " == *" ${words[i]} "* ]] && ((i++))
    else
      ((n++))
    fi
  done
  echo $n
}

_vexlo_Vexlo() {
  local cur prev words cword
  _init_completion || return
  case $prev in
    -uc | -dbg | -prg | -data) _filedir; return ;;
    -drvimg) _filedir; return ;;  # an image, or a folder served as one
    -cmd) return ;;               # Bugaboo commands
  esac
  COMPREPLY=($(compgen -W '-uc -dbg -prg -cmd -data -drvimg -h --help --version' -- "$cur"))
}
complete -F _vexlo_Vexlo Vexlo

_vexlo_VexloFPGAUpdate() {
  local cur prev words cword
  _init_completion || return
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '--batch -h --help --version' -- "$cur"))
  elif (($(_vexlo_operands '') == 0)); then
    _filedir xsvf
  fi
}
complete -F _vexlo_VexloFPGAUpdate VexloFPGAUpdate

_vexlo_image() {
  local cur prev words cword
  _init_completion || return
  if ((cword == 1)); then
    COMPREPLY=($(compgen -W 'create convert info ls get -h --help' -- "$cur"))
    return
  fi
  local valued='--size-mb --size-kb --sector-size --label --layout --to --partition'
  case $prev in
    --sector-size) COMPREPLY=($(compgen -W '512 1024 2048 4096' -- "$cur")); return ;;
    --layout|--to) COMPREPLY=($(compgen -W 'served plain' -- "$cur")); return ;;
    --partition) COMPREPLY=($(compgen -W '0 1 2 3' -- "$cur")); return ;;
    --size-mb | --size-kb | --label) return ;;
  esac
  local n
  n=$(_vexlo_operands "$valued")
  case ${words[1]} in
    create)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--size-mb --size-kb --sector-size --label --layout --force --help' -- "$cur"))
      else
        _filedir  # the image, then the folders and files that go on it
      fi ;;
    convert)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--to --partition --force --help' -- "$cur"))
      elif ((n == 1 || n == 2)); then
        _filedir  # IN, then OUT
      fi ;;
    info) [[ $cur == -* ]] || ((n > 1)) || _filedir ;;
    ls) [[ $cur == -* ]] || ((n > 1)) || _filedir ;;  # the path inside the image is not ours to list
    get)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--force --help' -- "$cur"))
      elif ((n == 1 || n == 3)); then
        _filedir  # the image; the destination
      fi ;;
  esac
}
complete -F _vexlo_image vexlo-image

_vexlo_xsvf() {
  local cur prev words cword
  _init_completion || return
  if ((cword == 1)); then
    COMPREPLY=($(compgen -W 'list build zero-masks -h --help' -- "$cur"))
    return
  fi
  local n
  n=$(_vexlo_operands '')
  case ${words[1]},$n in
    list,1 | zero-masks,1) _filedir xsvf ;;
    build,1 | list,2) _filedir ;;  # the listing, under any name
    build,2 | zero-masks,2) _filedir xsvf ;;
  esac
}
complete -F _vexlo_xsvf vexlo-xsvf

_vexlo_emulate() {
  local cur prev words cword
  _init_completion || return
  if ((cword == 1)); then
    if [[ $cur == */* ]]; then
      _filedir
    else
      COMPREPLY=($(compgen -W 'Vexlo VexloFPGAUpdate -h --help' -- "$cur"))
    fi
    return
  fi
  # The program's own arguments, completed as that program's.
  _command_offset 1
}
complete -F _vexlo_emulate vexlo-emulate
