# Shared by the Wine cases and the prefix set-up: how to reach the prefix, set the tool's
# inputs, run it and read back what it left. Sourced, not run.
#
# From CTest's environment: WINEPREFIX, ZELMORA_TOOL (the built zelmora-setup.exe),
# ZELMORA_HELPERS (folder of the suite's Windows helpers), ZELMORA_WORK (scratch folder),
# ZELMORA_LAYOUT (the layout table the C++ suites read too), ZELMORA_POSIX_TOOL.
set -euo pipefail
# The replacement text of ${var//pattern/text} is taken literally.
shopt -u patsub_replacement 2>/dev/null || true

export WINEDEBUG=-all
: "${WINEPREFIX:?}" "${ZELMORA_TOOL:?}" "${ZELMORA_WORK:?}"

readonly PRODUCT_PATH='Software\Quorvane'
readonly PRODUCT_KEY="HKCU\\$PRODUCT_PATH"
readonly USER_ENVIRONMENT_KEY='HKCU\Environment'
readonly ORDINARY_USER=tester
readonly PLAIN_TEMP='C:\Users\tester\AppData\Local\Temp'

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Wine's own registry tool, quiet unless it fails. It only sets the scene or reads it back, and
# every use is idempotent, so a failure is tried once more, with Wine's error channel on: Wine
# itself failing prints nothing under WINEDEBUG=-all and would otherwise end a case with no word
# on why. Each failure is shown with its status.
reg() {
  local log status try debug=-all
  for try in first second; do
    status=0
    log=$(WINEDEBUG=$debug wine reg "$@" 2>&1) || status=$?
    ((status)) || return 0
    echo "wine reg $1 failed at the $try try with status $status: $log" >&2
    [[ $try == second ]] || sleep 1
    debug=-all,err+all
  done
  return 1
}

# A deletion that failed, as a start of Wine at times does under load, would leave the last
# case's values for this case to take as its own: keys still there go through the retry above.
clear_product_keys() {
  wine reg delete "$PRODUCT_KEY" /f >/dev/null 2>&1 || true
  if wine reg query "$PRODUCT_KEY" >/dev/null 2>&1; then reg delete "$PRODUCT_KEY" /f; fi
}

# The TEMP the tool will see. Wine builds a process's environment from the registry, not from
# the caller's, so TEMP is set there. "--unset" removes it (the suite's prefix has no
# machine-wide TEMP, so it is then really unset).
set_temp() {
  if [[ $1 == --unset ]]; then
    wine reg delete "$USER_ENVIRONMENT_KEY" /v TEMP /f >/dev/null 2>&1 || true
  else
    reg add "$USER_ENVIRONMENT_KEY" /v TEMP /t REG_SZ /d "$1" /f
  fi
}

# A scratch folder for the running case, empty.
case_dir() {
  local dir="$ZELMORA_WORK/$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "$dir"
}

windows_path() { echo -n "Z:${1//\//\\}"; }

# Runs the tool as USER with stdout and stderr into files and prints its exit status:
# run_tool USER OUT ERR [RUN_CHILD_OPTION...]. With options, the tool is started by the
# run-child helper, which applies them.
run_tool() {
  local user=$1 out=$2 err=$3 status=0
  shift 3
  if (($#)); then
    USER=$user wine "$ZELMORA_HELPERS/run-child.exe" "$@" "$(windows_path "$ZELMORA_TOOL")" \
      >"$out" 2>"$err" || status=$?
  else
    USER=$user wine "$ZELMORA_TOOL" >"$out" 2>"$err" || status=$?
  fi
  echo "$status"
}

# Ends the prefix's wineserver, which saves the registry to disk as it goes, and starts a new one
# as the suite's set-up does: only what was saved to last is read back after this. The system
# processes are started here with their output closed, or they would hold the case's open.
restart_wineserver() {
  wineserver -k 2>/dev/null || true
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
}

export_product_keys() { reg export "$PRODUCT_KEY" "$1" /y; }

# Text as a .reg file spells it inside quotes.
reg_escape() {
  local text=${1//\\/\\\\}
  echo -n "${text//\"/\\\"}"
}

# UTF-8 text with LF line ends as the registry editor writes it: UTF-16LE with a byte-order
# mark and CR LF.
to_reg_file() {
  printf '\xff\xfe'
  sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
}

# Reads a row of the layout table into stage, who, key, name, kind and value: the first five
# columns without the spaces around them, the value as it is after the space that follows its
# "|" (a company text may hold "|" and spaces at its ends).
read_layout_row() {
  local line column text
  IFS= read -r line || return
  for column in stage who key name kind; do
    text=${line%%|*}
    text=${text#"${text%%[! ]*}"}
    printf -v "$column" '%s' "${text%"${text##*[! ]}"}"
    line=${line#*|}
  done
  value=${line# }
}

# The export expected after complete runs: expected_layout TEMP ACCOUNT, where ACCOUNT is
# "ordinary", "designated", or "designated-after-ordinary" (an ordinary run and then a designated
# one, whose MultiTier 0 stands beside the first run's MultiTierPort and MultiTierServer). The
# runs' writes come from the layout table, a later write replacing an earlier one of the same
# name; keys and values are listed in the order the registry editor exports them.
expected_layout() {
  local temp=$1 account=$2 run stage who key name kind value entry
  local -a runs=("$account")
  local -A lines=() keys=()
  [[ $account == designated-after-ordinary ]] && runs=(ordinary designated)
  for run in "${runs[@]}"; do
    while read_layout_row; do
      [[ $who == all || $who == "$run" ]] || continue
      case $kind in
        string) value="\"$(reg_escape "$value")\"" ;;
        temp) value="\"$(reg_escape "$temp$value")\"" ;;
        integer) printf -v value 'dword:%08x' "$value" ;;
        boolean) value=dword:0000000$([[ $value == true ]] && echo 1 || echo 0) ;;
        *) fail "layout table: unknown kind $kind" ;;
      esac
      lines[$key\\$name]="$name"$'\t'"\"$name\"=$value"
      while [[ $key == "$PRODUCT_PATH"* ]]; do # the key and its parents up to the product's
        keys[$key]=1
        key=${key%\\*}
      done
    done < <(sed -E '/^#/d; /^$/d' "$ZELMORA_LAYOUT")
  done
  printf 'Windows Registry Editor Version 5.00\n\n'
  while read -r key; do
    printf '[HKEY_CURRENT_USER\\%s]\n' "$key"
    for entry in "${!lines[@]}"; do
      if [[ ${entry%\\*} == "$key" ]]; then printf '%s\n' "${lines[$entry]}"; fi
    done | LC_ALL=C sort -f -t $'\t' -k1,1 | cut -f2-
    printf '\n'
  done < <(printf '%s\n' "${!keys[@]}" | LC_ALL=C sort)
}

# Compares two files byte for byte; on a difference shows both as text.
expect_same_file() {
  local expected=$1 actual=$2 what=$3
  cmp -s "$expected" "$actual" && return 0
  echo "--- expected $what / +++ actual (long lines cut):" >&2
  diff <(iconv -f UTF-16 -t UTF-8 "$expected" 2>/dev/null || cat -v "$expected") \
    <(iconv -f UTF-16 -t UTF-8 "$actual" 2>/dev/null || cat -v "$actual") | cut -c1-200 >&2 || true
  fail "$what differs"
}

# The launcher's record of a run of the build IDENTITY with TEMP, as the registry editor exports
# it: expected_record IDENTITY TEMP
expected_record() {
  printf '[HKEY_CURRENT_USER\\%s\\ZelmoraSetup]\n"Build"="%s"\n"Temp"="%s"\n\n' \
    "$PRODUCT_PATH" "$1" "$(reg_escape "$2")"
}

# The product keys hold exactly the layout of a complete run (of the table ZELMORA_LAYOUT) and,
# when BUILD is given, the launcher's record of it: that identity and TEMP.
# expect_layout DIR TEMP ACCOUNT [BUILD]
expect_layout() {
  local dir=$1 temp=$2 account=$3 build=${4:-}
  { expected_layout "$temp" "$account"
    [[ -z $build ]] || expected_record "$build" "$temp"
  } | to_reg_file >"$dir/expected.reg"
  export_product_keys "$dir/actual.reg"
  expect_same_file "$dir/expected.reg" "$dir/actual.reg" "registry ($account account${build:+, build $build})"
}

# The file holds exactly these bytes (printf format).
expect_bytes() {
  local file=$1 format=$2
  # shellcheck disable=SC2059
  printf "$format" >"$file.expected"
  cmp -s "$file.expected" "$file" && return 0
  echo "expected: $(od -c "$file.expected")" >&2
  echo "actual:   $(od -c "$file")" >&2
  fail "$(basename "$file") differs"
}

expect_status() { [[ $1 == "$2" ]] || fail "exit status $1, expected $2"; }

# The failure report for an escaped output failure with the given I/O code; with a TAG, in the
# form that the override files of the suite give it: "[TAG] " before each line. The address
# varies with the build, so any 16 upper-case hexadecimal digits stand.
expect_output_failure_report() {
  local err=$1 code=$2 tag=${3:+[$3] }
  sed -E 's/ at [0-9A-F]{16}\.\r$/ at ADDRESS.\r/' "$err" >"$err.masked"
  expect_bytes "$err.masked" "${tag}Exception EInOutError in module zelmora-setup.exe at \
ADDRESS.\r\n${tag}I/O error $code.\r\n\r\n"
}
