# bash completion for velotrax-cli: commands, their options, option values, and game names
# (asked of velotrax-cli itself, so the list always matches the program).

_velotrax_cli() {
  local cur prev words cword
  _init_completion || return

  local commands="games run show publish compare"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --help" -- "$cur"))
    return
  fi

  case $prev in
    --mode)
      COMPREPLY=($(compgen -W "ddraw d3d both" -- "$cur"))
      return ;;
    --format)
      COMPREPLY=($(compgen -W "table csv json markdown" -- "$cur"))
      return ;;
    --dialect)
      COMPREPLY=($(compgen -W "auto classic current" -- "$cur"))
      return ;;
    --emulator)
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
    --svg | --export-json)
      _filedir
      return ;;
    --repeat | --warmup | --confidence | --min-runs | --max-runs | --name | --ref)
      return ;;
  esac

  local options="--help" games=0
  case $command in
    run)
      options+=" --mode --repeat --all --warmup --confidence --min-runs --max-runs"
      options+=" --export-json --dialect --dry-run --emulator"
      games=1 ;;
    show)
      options+=" --ref --format --svg"
      games=1 ;;
    publish) options+=" --name" ;;
    compare)
      if [[ $cur != -* ]]; then
        _filedir json
        return
      fi ;;
  esac

  if [[ $cur == -* || $games -eq 0 ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    COMPREPLY=($(compgen -W "$("$1" games 2>/dev/null | awk '{print $2}')" -- "$cur"))
  fi
} &&
  complete -F _velotrax_cli velotrax-cli
