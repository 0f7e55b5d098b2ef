# Sourced by the wine scripts: the environment every Wine process of this
# project runs with. $1 is the prefix.
scancap_wine_env() {
  export WINEPREFIX="$1"
  export WINEARCH=win64
  # Wine's own diagnostics stay out of the output that tests compare.
  export WINEDEBUG=-all
  # No Linux menu entries, no Mono or Gecko installer dialogs.
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
  # wineboot links the profile's Desktop, Documents, ... into $HOME; an empty
  # home of the prefix's own keeps the Linux home out of every scan.
  export HOME="$1.home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  export DISPLAY=
  export WINE="/usr/lib/wine/wine64"
  export WINESERVER="/usr/lib/wine/wineserver64"
  [ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
}

# Runs a Windows program from inside drive C: with drive Z: gone, a Linux
# working directory has no Windows name and Wine would complain about it on
# standard error.
scancap_wine() {
  (cd "$WINEPREFIX/drive_c" && "$WINE" "$@")
}
