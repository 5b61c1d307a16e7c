# The Wine cases: "cases.sh NAME" runs one, "cases.sh --list" names them all. Every case clears
# the product keys and sets TEMP itself, so the cases stay independent in the shared prefix.
set -euo pipefail

# TEMP values a user may meet, by case; "--unset" stands for no TEMP at all.
temp_of_length() {
  local pad
  printf -v pad '%*s' $(($1 - 8)) ''
  echo -n "C:\\Temp\\${pad// /x}"
}
declare -A TEMPS=(
  [unset]=--unset
  [empty]=''
  [trailing-backslash]='C:\Temp\'
  [quotes]='"C:\Program Files\Temp"'
  [spaces-and-percent]=' %USERPROFILE%\Temp '
  [hebrew]='C:\Users\דנה\AppData\Local\Temp'
  [length-1023]=$(temp_of_length 1023) # the longest that one lookup reads
  [length-1024]=$(temp_of_length 1024)
  [length-5000]=$(temp_of_length 5000)
)

# User names, by case, and whether each is the designated account.
declare -A USERS=(
  [lower-case]='upsctrl'
  [spaces-around]=' UPSCTRL '
  [mixed-case]='UpsCtrl'
  [tab-after]=$'UPSCTRL\t'
  [digit-after]='UPSCTRL2'
  [inner-space]='UPS CTRL'
  [full-stop-after]='upsctrl.'
  [no-break-space-after]=$'UPSCTRL\u00a0'
  [cyrillic-es]=$'UPS\u0421TRL'
  [unreadable]='' # Wine's GetUserNameW fails for an empty USER
  [longer-than-255]=$(printf 'u%.0s' {1..300})
)
declare -A ACCOUNTS=(
  [lower-case]=designated [spaces-around]=designated [mixed-case]=designated
  [tab-after]=designated [digit-after]=ordinary [inner-space]=ordinary
  [full-stop-after]=ordinary [no-break-space-after]=ordinary [cyrillic-es]=ordinary
  [unreadable]=ordinary [longer-than-255]=ordinary
)

# Message overrides, by case: the data of the tool's Locales value under HKCU and under HKLM (-
# for none, "" for empty), the Unix locale from which Wine takes the interface language and code
# pages, the tags with an override file beside the tool (! after a tag: an invalid one), and the
# tag whose file the report comes from (- for the built-in texts).
declare -A OVERRIDES=(
  [per-user]='qa - he_IL.UTF-8 qa,qb,he qa'
  [per-machine]='- qb he_IL.UTF-8 qa,qb,he qb'
  [per-user-wins]='qa qb C.UTF-8 qa,qb qa'
  [empty-turns-off]='"" qb he_IL.UTF-8 qb,he-IL,he -'
  [interface-language]='- - he_IL.UTF-8 he-IL,he he-IL'
  [region-falls-back]='- - he_IL.UTF-8 he he'
  [invalid-file]='qa - he_IL.UTF-8 qa!,he -'
)

list_cases() {
  printf '%s\n' layout.ordinary layout.designated layout.designated-after-ordinary \
    layout.second-run layout.other-site keys.cannot-be-created \
    stdout.file stdout.pipe stdout.console stdout.full-device stdout.reader-gone \
    stdout.closed stdout.no-handle stderr.unusable backend-check posix-store-matches \
    processor-faults override.hebrew-oem-bytes
  printf 'temp.%s\n' "${!TEMPS[@]}" | sort
  printf 'account.%s\n' "${!USERS[@]}" | sort
  printf 'override.%s\n' "${!OVERRIDES[@]}" | sort
}

if [[ ${1:-} == --list ]]; then
  list_cases
  exit 0
fi

source "$(dirname "$0")/wine-suite.sh"
readonly NAME=$1
DIR=$(case_dir "$NAME")
readonly DIR OUT="$DIR/stdout" ERR="$DIR/stderr"
readonly SUCCESS_LINE='Zelmora Installed\r\n'

# A complete run as USER seeing TEMP: the success line alone, and the full layout.
# expect_complete_run USER TEMP ACCOUNT [RUN_CHILD_OPTION...]
expect_complete_run() {
  local user=$1 temp=$2 account=$3
  shift 3
  expect_status "$(run_tool "$user" "$OUT" "$ERR" "$@")" 0
  expect_bytes "$OUT" "$SUCCESS_LINE"
  expect_bytes "$ERR" ''
  expect_layout "$DIR" "$temp" "$account"
}

# Wine falls back to English when the Unix locale is not generated on the machine.
require_locale() {
  locale -a | grep -ix "${1/UTF-8/utf8}" >/dev/null ||
    fail "the locale $1 is not generated (tests/run-all generates it)"
}

clear_product_keys
set_temp "$PLAIN_TEMP"

case $NAME in
  layout.ordinary)
    # Read back again after the wineserver that saw the run has ended: keys made volatile, or a
    # run that could not write through the handles it opened, would not leave this layout.
    expect_complete_run "$ORDINARY_USER" "$PLAIN_TEMP" ordinary
    restart_wineserver
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  layout.designated)
    expect_complete_run upsctrl "$PLAIN_TEMP" designated
    ;;
  layout.designated-after-ordinary)
    # The designated account's run leaves the ordinary run's MultiTierPort and MultiTierServer.
    expect_complete_run "$ORDINARY_USER" "$PLAIN_TEMP" ordinary
    expect_complete_run ' UPSCTRL ' "$PLAIN_TEMP" designated-after-ordinary
    ;;
  layout.second-run)
    expect_complete_run "$ORDINARY_USER" "$PLAIN_TEMP" ordinary
    expect_complete_run "$ORDINARY_USER" "$PLAIN_TEMP" ordinary
    ;;
  layout.other-site)
    ZELMORA_TOOL=$ZELMORA_HELPERS/zelmora-setup-other-site.exe \
      ZELMORA_LAYOUT=$ZELMORA_HELPERS/other-site/layout.txt \
      expect_complete_run "$ORDINARY_USER" "$PLAIN_TEMP" ordinary
    ;;
  temp.*)
    # Set by a Windows parent: Wine cuts values that it takes from the registry at 1019 units.
    temp=${TEMPS[${NAME#temp.}]}
    if [[ $temp == --unset ]]; then
      expect_complete_run "$ORDINARY_USER" '' ordinary --unset TEMP
    else
      expect_complete_run "$ORDINARY_USER" "$temp" ordinary --set "TEMP=$temp"
    fi
    ;;
  account.*)
    expect_complete_run "${USERS[${NAME#account.}]}" "$PLAIN_TEMP" "${ACCOUNTS[${NAME#account.}]}"
    ;;
  keys.cannot-be-created)
    # Below a volatile key no lasting key can be created: every OpenKey fails, stage 1 passes
    # silently, stage 2's first write fails. A complete run all the same: status 0.
    wine "$ZELMORA_HELPERS/create-volatile-key.exe" 'Software\Quorvane'
    expect_status "$(run_tool "$ORDINARY_USER" "$OUT" "$ERR")" 0
    expect_bytes "$OUT" 'Installation Error\r\n'
    expect_bytes "$ERR" ''
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quorvane]\n\n' |
      to_reg_file >"$DIR/expected.reg"
    export_product_keys "$DIR/actual.reg"
    expect_same_file "$DIR/expected.reg" "$DIR/actual.reg" "registry"
    ;;
  stdout.file)
    expect_complete_run "$ORDINARY_USER" "$PLAIN_TEMP" ordinary
    ;;
  stdout.pipe)
    status=0
    USER=$ORDINARY_USER wine "$ZELMORA_TOOL" 2>"$ERR" | cat >"$OUT" || status=${PIPESTATUS[0]}
    expect_status "$status" 0
    expect_bytes "$OUT" "$SUCCESS_LINE"
    expect_bytes "$ERR" ''
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  stdout.console)
    # A terminal that passes the bytes through untranslated; Wine's console adds its cursor
    # escape sequences around the line, which are removed before the comparison.
    status=0
    CASE_STDERR=$ERR USER=$ORDINARY_USER \
      script -qec 'stty -opost; exec wine "$ZELMORA_TOOL" 2>"$CASE_STDERR"' /dev/null \
      >"$DIR/terminal" </dev/null || status=$?
    expect_status "$status" 0
    sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1b\][^\x07]*\x07//g' "$DIR/terminal" >"$OUT"
    expect_bytes "$OUT" "$SUCCESS_LINE"
    expect_bytes "$ERR" ''
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  stdout.full-device)
    # A character device: the line is written at its end, fails, and the failure escapes.
    expect_status "$(run_tool "$ORDINARY_USER" /dev/full "$ERR")" 1
    expect_output_failure_report "$ERR" 112 # ERROR_DISK_FULL
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  stdout.reader-gone)
    # A pipe takes its bytes only at shut-down, where a failed write is not reported.
    mkfifo "$DIR/pipe"
    exec 4<>"$DIR/pipe" 5>"$DIR/pipe"
    exec 4<&-
    status=0
    USER=$ORDINARY_USER wine "$ZELMORA_TOOL" >&5 2>"$ERR" || status=$?
    exec 5>&-
    expect_status "$status" 0
    expect_bytes "$ERR" ''
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  stdout.closed)
    # Wine hands a closed descriptor 1 over as a handle of the file type that refuses writes,
    # so this ends as the pipe without a reader does.
    status=0
    USER=$ORDINARY_USER wine "$ZELMORA_TOOL" >&- 2>"$ERR" || status=$?
    expect_status "$status" 0
    expect_bytes "$ERR" ''
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  stdout.no-handle)
    # Started with a null standard-output handle: the channel cannot open (I/O code 105).
    expect_status "$(run_tool "$ORDINARY_USER" "$OUT" "$ERR" --null-stdout)" 1
    expect_bytes "$OUT" ''
    expect_output_failure_report "$ERR" 105
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
    ;;
  stderr.unusable)
    # The report of a failed result line cannot be written either: it is lost, and the status
    # is still 1.
    expect_status "$(run_tool "$ORDINARY_USER" /dev/full /dev/full)" 1
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary
      ;;
  processor-faults)
    # A test build of the tool whose back-end faults at a chosen Windows call, in each way: the
    # report names the fault and the module it struck in, the status is 1, nothing holds the run
    # (no debugger, no dialog: the timeout), and the registry keeps exactly the three values
    # written before it. A fault in start-up gives the fallback line and 217; a second one, in
    # the report, ends the run at once with 1.
    report() {
      printf 'Exception %s in module zelmora-setup-faulting.exe at ADDRESS.\\r\\n%s.\\r\\n\\r\\n' "$1" "$2"
    }
    # stops | status | standard output | standard error
    faults=(
      "RegSetValueExW:4:read|1||$(report EAccessViolation 'Access violation: read of address 0000000000000018')"
      "RegSetValueExW:4:write|1||$(report EAccessViolation 'Access violation: write of address 0000000000000028')"
      "RegSetValueExW:4:divide|1||$(report EDivisionByZero 'Division by zero')"
      "RegSetValueExW:4:overflow|1||$(report EIntegerOverflow 'Integer overflow')"
      "RegSetValueExW:4:readonly|1||$(report EAccessViolation 'Access violation: write of address 0000000040000000')"
      "RegSetValueExW:4:execute|1||$(report EAccessViolation 'Access violation: read of address 0000000040000000')"
      "RegSetValueExW:4:stack|1||$(report EStackOverflow 'Stack overflow')"
      "RegSetValueExW:4:bigstack|1||$(report EStackOverflow 'Stack overflow')"
      "RegSetValueExW:4:illegal|1||$(report EIllegalInstruction 'Illegal instruction')"
      "RegSetValueExW:4:stack,VirtualQuery:1:write|1||"
      'FindResourceW:1:read|217|Runtime error 217 at ADDRESS\r\n|'
    )
    # The first three writes: stage 1's LocalPath (the working folder, which GlobalParams holds
    # too in the complete layout), then NetPath and DLLPath; no Files key yet.
    expected_layout "$PLAIN_TEMP" ordinary | awk '
      /^\[/ { key = $0 }
      key ~ /Files\]$/ { next }
      key ~ /GlobalParams\]$/ && /^"LocalPath"=/ { folder = $0; next }
      key ~ /LocalParams\]$/ && /^"LocalPath"=/ { print folder; next }
      /^"/ && !(key ~ /GlobalParams\]$/ && /^"(NetPath|DLLPath)"=/) { next }
      { print }' | to_reg_file >"$DIR/expected.reg"
    for fault in "${faults[@]}"; do
      IFS='|' read -r stops status out err <<<"$fault"
      clear_product_keys
      actual=0
      ZELMORA_FAULT_AT=$stops USER=$ORDINARY_USER timeout 60 wine "${ZELMORA_FAULTING_TOOL:?}" \
        >"$OUT" 2>"$ERR" || actual=$?
      expect_status "$actual" "$status"
      sed -i -E 's/ at [0-9A-F]{16}/ at ADDRESS/' "$OUT" "$ERR"
      expect_bytes "$OUT" "$out"
      expect_bytes "$ERR" "$err"
      if [[ $status == 217 ]]; then
        ! wine reg query "$PRODUCT_KEY" >/dev/null 2>&1 || fail "$stops: keys were created"
      else
        export_product_keys "$DIR/actual.reg"
        expect_same_file "$DIR/expected.reg" "$DIR/actual.reg" "registry after $stops"
      fi
    done
    ;;
  backend-check)
    wine reg delete 'HKCU\Software\Quorvane\BackendCheck' /f >/dev/null 2>&1 || true
    USER=$ORDINARY_USER wine "$ZELMORA_HELPERS/wine-backend-check.exe"
    ;;
  posix-store-matches)
    # The POSIX build's store, imported into Wine, reads back exactly as the Windows build's
    # own run leaves the registry, for the same TEMP.
    [[ -x ${ZELMORA_POSIX_TOOL:-} ]] || {
      echo "ZELMORA_POSIX_TOOL is not set to the POSIX build's tool; skipped"
      exit 77
    }
    for temp in "$PLAIN_TEMP" 'C:\Users\דנה\Temp\' --unset; do
      xdg="$DIR/xdg"
      rm -rf "$xdg"
      status=0
      if [[ $temp == --unset ]]; then
        env -u TEMP XDG_CONFIG_HOME="$xdg" "$ZELMORA_POSIX_TOOL" >"$DIR/posix.out" || status=$?
      else
        TEMP=$temp XDG_CONFIG_HOME="$xdg" "$ZELMORA_POSIX_TOOL" >"$DIR/posix.out" || status=$?
      fi
      expect_status "$status" 0
      clear_product_keys
      reg import "$xdg/zelmora/registry/HKEY_CURRENT_USER.reg"
      export_product_keys "$DIR/posix.reg"

      clear_product_keys
      set_temp "$temp"
      expect_status "$(run_tool "$ORDINARY_USER" "$OUT" "$ERR")" 0
      export_product_keys "$DIR/windows.reg"
      expect_same_file "$DIR/windows.reg" "$DIR/posix.reg" "POSIX store for TEMP '$temp'"
      cmp -s "$OUT" "$DIR/posix.out" || fail "standard output differs for TEMP '$temp'"
    done
    ;;
  override.hebrew-oem-bytes)
    # The build's own tool and the translation it puts beside it, under a Hebrew locale: the
    # report in Hebrew, in the OEM code page 862.
    require_locale he_IL.UTF-8
    expect_status "$(LC_ALL=he_IL.UTF-8 run_tool "$ORDINARY_USER" /dev/full "$ERR")" 1
    LC_ALL=C sed -E 's/[0-9A-F]{16}\.\r$/ADDRESS.\r/' "$ERR" >"$ERR.masked"
    printf 'חריגה EInOutError במודול zelmora-setup.exe בכתובת ADDRESS.\r\n%s\r\n\r\n' \
      'שגיאת קלט/פלט 112.' | iconv -f UTF-8 -t CP862 >"$ERR.expected"
    cmp "$ERR.expected" "$ERR.masked" || fail "the Hebrew report differs: $(od -c "$ERR.masked")"
    ;;
  override.*)
    # A copy of the tool in the case's folder, the override files beside it, and a run whose
    # standard output fails. Each file's report puts "[TAG] " before each line.
    read -r user machine locale files expected <<<"${OVERRIDES[${NAME#override.}]}"
    require_locale "$locale"
    cp "$ZELMORA_TOOL" "$DIR/zelmora-setup.exe"
    exe=$(windows_path "$DIR/zelmora-setup.exe")
    key='Software\Quorvane\Zelmora\Locales'
    wine reg delete 'HKLM\Software\Quorvane' /f >/dev/null 2>&1 || true
    # Value names compare as the registry compares them, without regard to case.
    [[ $user == - ]] || reg add "HKCU\\$key" /v "${exe^^}" /t REG_SZ /d "${user//\"/}" /f
    [[ $machine == - ]] || reg add "HKLM\\$key" /v "$exe" /t REG_SZ /d "$machine" /f /reg:64
    for tag in ${files//,/ }; do
      file=$DIR/zelmora-setup.${tag%!}
      printf '65516 = [%s] Exception %%s in module %%s at %%p.\\r\\n[%s] %%s%%s\\r\\n\n' \
        "${tag%!}" "${tag%!}" >"$file"
      [[ $tag != *! ]] || echo '1 = an id the string table does not have' >>"$file"
    done
    status=$(ZELMORA_TOOL=$DIR/zelmora-setup.exe LC_ALL=$locale \
      run_tool "$ORDINARY_USER" /dev/full "$ERR")
    wine reg delete 'HKLM\Software\Quorvane' /f >/dev/null 2>&1 || true
    expect_status "$status" 1
    expect_output_failure_report "$ERR" 112 "${expected#-}"
    ;;
  *)
    fail "no case named $NAME"
    ;;
esac
