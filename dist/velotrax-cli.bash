# bash completion for velotrax-cli: commands, their options, option values, game names (asked of
# velotrax-cli itself, so the list always matches the program) and the names of the reference
# computers in reference.dat of the current directory.

# The reference computers' names, one a line: the cpu values of sections [1] to the count in
# section [0], without the blanks and the one pair of quotes the program drops when reading.
_velotrax_cli_references() {
  [[ -f reference.dat && -r reference.dat ]] || return
  awk '
    { sub(/\r$/, "") }
    /^[ \t]*\[/ { section = $0; gsub(/^[ \t]*\[|\][ \t]*$/, "", section); next }
    {
      equals = index($0, "=")
      if (equals == 0) next
      key = tolower(substr($0, 1, equals - 1)); gsub(/^[ \t]+|[ \t]+$/, "", key)
      value = substr($0, equals + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (length(value) >= 2 && (substr(value, 1, 1) == "\"" || substr(value, 1, 1) == "\047") &&
          substr(value, length(value), 1) == substr(value, 1, 1))
        value = substr(value, 2, length(value) - 2)
      if (section == "0" && key == "reference" && count == "") count = value + 0
      if (section ~ /^[0-9]+$/ && section + 0 >= 1 && key == "cpu" && !(section in name))
        name[section] = value
    }
    END { for (s in name) if (s + 0 <= count) print name[s] }
  ' reference.dat 2>/dev/null
}

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
    COMPREPLY=($(compgen -W "$commands --help --user-workspace" -- "$cur"))
    return
  fi

  case $prev in
    --mode)
      COMPREPLY=($(compgen -W "ddraw d3d both" -- "$cur"))
      return ;;
    --format)
      COMPREPLY=($(compgen -W "table csv json markdown md" -- "$cur"))
      return ;;
    --dialect)
      COMPREPLY=($(compgen -W "auto classic current" -- "$cur"))
      return ;;
    --emulator)
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
    --svg | --export-json | --export-markdown)
      _filedir
      return ;;
    --ref)
      # The names come from files passed between people: they are matched and quoted here, never
      # given to compgen -W, which would expand them.
      local typed name names
      case $cur in
        [\"\']*) typed=${cur:1} ;;  # an opening quote, not closed yet
        *) typed=$(dequote "$cur") ;;
      esac
      names=$(_velotrax_cli_references)
      COMPREPLY=()
      while IFS= read -r name; do
        [[ -n $name && $name == "$typed"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
      done <<<"$names"
      return ;;
    --repeat | --warmup | --confidence | --min-runs | --max-runs | --name)
      return ;;
  esac

  local options="--help" games=0
  case $command in
    run)
      options+=" --mode --repeat --all --warmup --confidence --min-runs --max-runs"
      options+=" --export-json --export-markdown --no-checks --dialect --dry-run --emulator"
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
