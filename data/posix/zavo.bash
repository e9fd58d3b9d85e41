# bash completion for zavo                                  -*- shell-script -*-
# Switches after a dash; otherwise names of files and folders, since the
# mask is a path (quoted, so that the shell does not expand it).

_zavo() {
  local cur="${COMP_WORDS[COMP_CWORD]}"
  local switches="-r -n -k -j -t --to --keep -q --quiet -v --verbose --shard
    --report --dry-run --summary --report-summary --help --version"
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$switches" -- "$cur"))
    return 0
  fi
  if [[ "$cur" == /* && ${#cur} -le 2 ]]; then
    # "/r", "/n", "/k" are switches too; a longer word is a path.
    COMPREPLY=($(compgen -W "/r /n /k" -- "$cur"))
  fi
  local IFS=$'\n'
  COMPREPLY+=($(compgen -f -- "$cur"))
  return 0
}
complete -o filenames -F _zavo zavo
