# The suite's throwaway Wine prefix: "create" makes it and leaves a wineserver running in it for
# the cases, "remove" stops that server and deletes the prefix.
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEDEBUG=-all

stop_server() { [[ -d $WINEPREFIX ]] && wineserver -k 2>/dev/null || true; }

case $1 in
  create)
    stop_server
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # One persistent server for the whole suite, so that each case starts quickly. It and the
    # system processes that wineboot leaves must not hold the test's output open, or the test
    # would not end while they run.
    wineserver -p </dev/null >/dev/null 2>&1
    log="$WINEPREFIX.boot.log"
    # No .NET or HTML engine: the tool needs neither, and installing them would want a network.
    WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i </dev/null >"$log" 2>&1 || {
      cat "$log"
      exit 1
    }
    # So that TEMP is unset when the user's own setting is removed.
    wine reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
      /v TEMP /f >/dev/null
    ;;
  remove)
    stop_server
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$WINEPREFIX.boot.log"
    ;;
  *)
    echo "usage: prefix.sh create|remove" >&2
    exit 2
    ;;
esac
