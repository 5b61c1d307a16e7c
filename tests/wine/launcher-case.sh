# The case release.launcher, sourced by release-cases.sh: the launcher run as one user through
# each of its paths. A folder whose name needs quoting holds a launcher and a tool (a build's, a
# file that is no tool of ours, or none); each run starts from another folder.
share="$DIR/share & co!"
temps=("$DIR/temp & 1!" "$DIR/temp 2")
reports=$DIR/reports
mkdir -p "$share" "${temps[@]}" "$reports" "$DIR/a folder"
REPORTS_PATH=$(windows_path "$reports")
COMPUTER=$(wine cmd /c echo %COMPUTERNAME% | tr -d '\r')
[[ -n $COMPUTER ]] || fail "no computer name"

# Puts build LAUNCHER's launcher beside build TOOL's tool, the file TOOL, or none (-).
place() {
  cp "${LAUNCHERS[$1]}" "$share/zelmora-launch.exe"
  rm -rf "$share/zelmora-setup.exe"
  case $2 in
    -) ;;
    [ABC]) cp "${TOOLS[$2]}" "$share/zelmora-setup.exe" ;;
    *) cp -r "$2" "$share/zelmora-setup.exe" ;;
  esac
}

# Runs the launcher with the arguments as RUN_AS (the ordinary user unless set), its output in OUT
# and ERR; prints its exit status.
launch() {
  local status=0
  (cd "$DIR" && USER=${RUN_AS:-$ORDINARY_USER} wine "$share/zelmora-launch.exe" "$@") \
    >"$OUT" 2>"$ERR" || status=$?
  echo "$status"
}

# FILE is one line, ended by CR LF, that holds TEXT: expect_line FILE TEXT
expect_line() {
  [[ $(wc -l <"$1") == 1 && $(cat "$1") == *"$2"*$'\r' ]] ||
    fail "${1##*/} is $(cat -v "$1"), not one line with \"$2\""
}

# The record holds build BUILD's identity and TEMP, or is missing (-): expect_record BUILD [TEMP]
expect_record() {
  if [[ $1 == - ]]; then
    ! wine reg query "$PRODUCT_KEY\\ZelmoraSetup" >/dev/null 2>&1 || fail "a record was written"
    return
  fi
  { printf 'Windows Registry Editor Version 5.00\n\n'
    expected_record "${IDENTITIES[$1]}" "$2"
  } | to_reg_file >"$DIR/record.expected"
  reg export "$PRODUCT_KEY\\ZelmoraSetup" "$DIR/record.reg" /y
  expect_same_file "$DIR/record.expected" "$DIR/record.reg" "the record"
}

# A run of build BUILD's tool with TEMP, its log in LOG_DIR: status 0, a line that names the
# build, the log, and the layout of that build with its record.
# expect_run BUILD TEMP LOG_DIR [ARG...]
expect_run() {
  local build=$1 temp=$2 logs=$3
  shift 3
  rm -f "$logs/zelmora-setup.log"
  expect_status "$(launch "$@")" 0
  expect_line "$OUT" "${IDENTITIES[$build]}"
  [[ ! -s $ERR ]] || fail "standard error: $(cat "$ERR")"
  expect_bytes "$logs/zelmora-setup.log" 'Zelmora Installed\r\n'
  ZELMORA_LAYOUT=${LAYOUTS[$build]} expect_layout "$DIR" "$temp" ordinary "${IDENTITIES[$build]}"
}

# A run that skips the tool: status 0, a line that names the build, a value deleted stays deleted,
# and the record as it was. expect_skip BUILD TEMP
expect_skip() {
  reg delete "$PRODUCT_KEY\\Zelmora\\Files" /v LastReport /f
  expect_status "$(launch)" 0
  expect_line "$OUT" "${IDENTITIES[$1]}"
  ! wine reg query "$PRODUCT_KEY\\Zelmora\\Files" /v LastReport >/dev/null 2>&1 ||
    fail "the launcher ran the tool again"
  expect_record "$1" "$2"
}

# The one report in the reports folder, of RUN_AS on this computer: a line with STATUS and the
# identity of BUILD (- for none), then the bytes of the file LOG (when given).
# expect_report STATUS BUILD [LOG]
expect_report() {
  local user=${RUN_AS:-$ORDINARY_USER} build=unknown name
  [[ $2 == - ]] || build=${IDENTITIES[$2]}
  name=$COMPUTER-$COMPUTER-${user//[:*]/_}.log
  [[ $(ls -A "$reports") == "$name" ]] || fail "reports $(ls -A "$reports"), expected $name"
  [[ $(head -1 "$reports/$name") == "zelmora-launch: status $1: "?*", build $build"$'\r' ]] ||
    fail "the report starts with $(head -1 "$reports/$name" | cat -v)"
  tail -n +2 "$reports/$name" >"$DIR/report.rest"
  if [[ -n ${3:-} ]]; then cmp -s "$3" "$DIR/report.rest"; else [[ ! -s $DIR/report.rest ]]; fi ||
    fail "the report after status $1 holds other output: $(cat -v "$DIR/report.rest")"
}

# A new user; a TEMP changed since, as a new session's; the tools of the other builds beside this
# launcher, and this tool beside another build's launcher: each runs once, records the identity of
# the tool that ran, and is skipped the next time.
for row in "A A 0" "A A 1" "A B 1" "B A 1" "A C 1"; do
  read -r launcher tool temp <<<"$row"
  place "$launcher" "$tool"
  set_temp "$(windows_path "${temps[$temp]}")"
  expect_run "$tool" "$(windows_path "${temps[$temp]}")" "${temps[$temp]}"
  expect_skip "$tool" "$(windows_path "${temps[$temp]}")"
done

# A TEMP that names no folder, then none at all: the tool gets it as it is, and the log goes to
# TMP.
place A A
tmp=$(winepath -u "$(USER=$ORDINARY_USER wine cmd /c echo %TMP% | tr -d '\r')")
[[ -d $tmp ]] || fail "TMP is no folder: $tmp"
for temp in "$(windows_path "$DIR/missing")" ""; do
  if [[ -n $temp ]]; then set_temp "$temp"; else set_temp --unset; fi
  expect_run A "$temp" "$tmp"
  expect_skip A "$temp"
done

# Files that are not a tool of ours, and none, beside the launcher: their status, the record of
# the last run kept, and a report that names no build, of a user whose name a file name cannot
# hold as it is.
set_temp "$(windows_path "${temps[0]}")"
for row in "$ZELMORA_GUIDE|23" "$ZELMORA_HELPERS/empty-console-program.exe|23" \
  "$DIR/a folder|23" "-|22"; do
  place A "${row%|*}"
  rm -f "$reports"/*
  expect_status "$(RUN_AS="$ORDINARY_USER:a*" launch /Reports "$REPORTS_PATH")" "${row#*|}"
  expect_line "$OUT" "(${row#*|})"
  RUN_AS="$ORDINARY_USER:a*" expect_report "${row#*|}" -
done
expect_record A ""

# Runs that do not complete: "Installation Error" with the registry unwritable (also with a
# reports folder that is missing), then a fault in start-up and one mid-run of a tool that faults.
# Each records nothing and ends with its status; its report replaces the one before and holds the
# tool's output, as the log does. A later complete run removes the report.
rm -f "$reports"/*
place A A
break_registry
for row in "-|20|$REPORTS_PATH" "-|20|$(windows_path "$DIR/missing")" \
  "FindResourceW:1:read|217|$REPORTS_PATH" "RegSetValueExW:4:read|1|$REPORTS_PATH"; do
  IFS='|' read -r fault status folder <<<"$row"
  if [[ $fault != - ]]; then
    clear_product_keys
    cp "$ZELMORA_FAULTING_TOOL" "$share/zelmora-setup.exe"
  fi
  expect_status "$(ZELMORA_FAULT_AT=$fault launch /reports "$folder")" "$status"
  expect_record -
  expect_report "$status" A "${temps[0]}/zelmora-setup.log"
done
place A A
clear_product_keys
expect_run A "$(windows_path "${temps[0]}")" "${temps[0]}" /reports "$REPORTS_PATH"
[[ -z $(ls -A "$reports") ]] || fail "a report after a complete run: $(ls -A "$reports")"

# /uninstall, in any case, with /reports beside it, and again once all is gone: status 0, and the
# settings and the record gone.
for arguments in "-UnInstall" "/uninstall|/reports|$REPORTS_PATH"; do
  IFS='|' read -r -a arguments <<<"$arguments"
  expect_status "$(launch "${arguments[@]}")" 0
  for key in Zelmora ZelmoraSetup; do
    ! wine reg query "$PRODUCT_KEY\\$key" >/dev/null 2>&1 || fail "${arguments[*]} left $key"
  done
done

# Bad command lines: status 24, one line on standard error; /? shows the usage. None runs the tool.
for row in "/bogus|24" "/reports|24" "/reports|a|-REPORTS|b|24" "/uninstall|/uninstall|24" \
  "a b|24" "/?|0" "-?|0" "/HELP|0"; do
  IFS='|' read -r -a arguments <<<"$row"
  status=${arguments[-1]}
  expect_status "$(launch "${arguments[@]:0:${#arguments[@]}-1}")" "$status"
  if ((status)); then expect_line "$ERR" ""; else [[ -s $OUT && ! -s $ERR ]]; fi ||
    fail "${arguments[*]}: standard output $(cat "$OUT"), standard error $(cat "$ERR")"
done
! wine reg query "$PRODUCT_KEY\\Zelmora" >/dev/null 2>&1 || fail "a bad command line ran the tool"

# With cmd.exe and reg.exe gone from the prefix (both of its system folders), a first run and a
# skip, which keeps no log. They are put back however the case ends.
hidden=$DIR/hidden
hide_tools() {
  local folder program
  for folder in system32 syswow64; do
    for program in cmd reg; do
      [[ ! -e $WINEPREFIX/drive_c/windows/$folder/$program.exe ]] || {
        mkdir -p "$hidden/$folder"
        mv "$WINEPREFIX/drive_c/windows/$folder/$program.exe" "$hidden/$folder/"
      }
    done
  done
}
restore_tools() {
  local file
  for file in "$hidden"/*/*.exe; do
    [[ ! -e $file ]] || mv "$file" "$WINEPREFIX/drive_c/windows/${file#"$hidden/"}"
  done
}
set_temp "$(windows_path "${temps[1]}")"
trap restore_tools EXIT
hide_tools
for program in cmd reg; do
  status=0
  wine "$ZELMORA_HELPERS/run-child.exe" "C:\\windows\\system32\\$program.exe" >/dev/null 2>&1 ||
    status=$?
  expect_status "$status" 121 # cannot be started
done
for run in first skip; do
  rm -f "${temps[1]}/zelmora-setup.log"
  expect_status "$(launch)" 0
  expect_line "$OUT" "${IDENTITIES[A]}"
done
[[ ! -e ${temps[1]}/zelmora-setup.log ]] || fail "the second run without cmd ran the tool"
restore_tools
trap - EXIT
expect_layout "$DIR" "$(windows_path "${temps[1]}")" ordinary "${IDENTITIES[A]}"
