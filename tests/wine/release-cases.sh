# The release's Wine cases: "release-cases.sh NAME" runs one, "--list" names them all.
#   release.version     both programs' version resources as Windows reads them
#   release.manifest    their manifests as Windows reads them: run level and supported systems
#   release.dll-search  both restrict the DLL search to System32 before their runtime starts, and
#                       load no DLL that a program calling GetUserNameW alone does not
#   release.guide       the deployment guide's commands, after runs that succeed and that fail
#   release.signed      packages signed with a throwaway certificate verify, and their programs run
#   release.launcher    the launcher run as one user through each of its paths, beside the tools
#                       of three builds and files that are none, and with no cmd.exe or reg.exe
#   release.sites       tools/release-sites on two sites: this release's packages alone, each
#                       tool checked, and a site whose check fails ending the release
set -euo pipefail

if [[ ${1:-} == --list ]]; then
  printf 'release.%s\n' version manifest dll-search guide signed launcher sites
  exit 0
fi

source "$(dirname "$0")/wine-suite.sh"
source "$(dirname "$0")/../release/release-support.sh"
readonly NAME=$1
DIR=$(case_dir "$NAME")
readonly DIR OUT="$DIR/stdout" ERR="$DIR/stderr"
TOOL_PATH=$(windows_path "$ZELMORA_TOOL")
LAUNCHER_PATH=$(windows_path "$ZELMORA_LAUNCHER")
readonly TOOL_PATH LAUNCHER_PATH VERSION=$ZELMORA_VERSION SERVER=$(sed -n 1p "$ZELMORA_SITE")
IDENTITY=$(cat "$ZELMORA_BUILD_IDENTITY_FILE")
readonly IDENTITY

# The file holds these lines (after CR LF line ends are made LF).
expect_lines() {
  local file=$1 what=$2
  shift 2
  tr -d '\r' <"$file" >"$file.lf"
  printf '%s\n' "$@" >"$file.expected"
  diff "$file.expected" "$file.lf" >&2 || fail "$what differs (expected <, actual >)"
}

# Runs PROGRAM with its ARGUMENTS as the ordinary user with the calls that show the start of a
# process traced into TRACE, one "Call ..." or "Ret ..." per line: DLL attaches, TLS callbacks,
# the DLL-search call and the runtime's initialiser tables. start_trace TRACE PROGRAM [ARGUMENT...]
start_trace() {
  local trace=$1
  shift
  reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'kernel32.SetDefaultDllDirectories;msvcrt._initterm' /f
  USER=$ORDINARY_USER WINEDEBUG=+relay wine "$@" >/dev/null 2>"$trace.raw" || true
  wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1
  sed -nE 's/^[0-9a-f]+:((Call|Ret) .*)/\1/p' "$trace.raw" >"$trace"
}

# The DLLs that a traced process attached, sorted.
attached_dlls() {
  sed -nE 's/^Call PE DLL .*module=[0-9A-Fa-f]+ L"([^"]+)".*PROCESS_ATTACH.*/\1/p' "$1" |
    tr 'A-Z' 'a-z' | sort -u
}

# Runs DIR/NAME.cmd with cmd, as the ordinary user, from the folder FROM, its output into
# DIR/NAME.out; prints its exit status: run_cmd NAME FROM
run_cmd() {
  local status=0
  (cd "$2" && USER=$ORDINARY_USER wine cmd /c "$(windows_path "$DIR/$1.cmd")") \
    >"$DIR/$1.out" 2>&1 || status=$?
  echo "$status"
}

# Writes a guide block into DIR/NAME.cmd with CR LF and runs it with cmd from the folder FROM;
# prints its exit status. run_guide_block NAME FROM [VARIABLE=VALUE...]: each VARIABLE's own
# `set "VARIABLE=..."` line gets VALUE instead, as an administrator would fill it in.
# Under load Wine at times fails to start a process: `wine cmd` ends with status 1 before cmd
# echoed any command (with nothing or "ShellExecuteEx failed: Internal error" as output), or cmd
# says it cannot start a program that is there ("Can't recognize '...'", status 9009). Such a
# block is run again, at most twice; a command misspelt in the guide still fails all three tries.
run_guide_block() {
  local name=$1 from=$2 block line assignment replaced=0 status try
  shift 2
  block=$(guide_block "$name") || fail "the guide has no $name block"
  while IFS= read -r line; do
    for assignment; do
      if [[ $line == "set \"${assignment%%=*}="* ]]; then
        line="set \"$assignment\""
        replaced=$((replaced + 1))
      fi
    done
    printf '%s\r\n' "$line"
  done <<<"$block" >"$DIR/$name.cmd"
  ((replaced == $#)) || fail "$name does not set each of $*"
  for try in 1 2 3; do
    status=$(run_cmd "$name" "$from")
    if { ((status == 0)) || grep -qs '^[A-Z]:\\[^>]*>' "$DIR/$name.out"; } &&
      ! grep -qs "^Can't recognize '" "$DIR/$name.out"; then
      break
    fi
    echo "$name: Wine could not start a program (try $try, status $status)" >&2
    ((try == 3)) || sleep "$try"
  done
  echo "$status"
}

# The guide's detection query finds the value (status 0, and it shows it) or not (status 1):
# expect_detection yes|no WHEN
expect_detection() {
  local status
  status=$(run_guide_block detection "$DIR")
  case $1/$status in
    yes/0) tr -d '\r' <"$DIR/detection.out" | grep -qE '^ +Installed3T +REG_DWORD +0x1 *$' ||
      fail "detection succeeded without the value $2: $(cat "$DIR/detection.out")" ;;
    no/1) ;;
    *) fail "detection query ended with status $status $2" ;;
  esac
}

# A volatile product key: no lasting key can be created below it, so every run fails.
break_registry() {
  clear_product_keys
  wine "$ZELMORA_HELPERS/create-volatile-key.exe" 'Software\Quorvane' ||
    wine "$ZELMORA_HELPERS/create-volatile-key.exe" 'Software\Quorvane' # a start that failed
}

clear_product_keys
set_temp "$PLAIN_TEMP"

# The release programs of the builds that the cases run: this one (A), the test build of another
# server (B) and of this server with another company (C), by the identity of each.
declare -A TOOLS=([A]=$ZELMORA_TOOL [B]=$ZELMORA_HELPERS/zelmora-setup-other-site.exe
  [C]=$ZELMORA_HELPERS/zelmora-setup-same-server.exe)
declare -A LAUNCHERS=([A]=$ZELMORA_LAUNCHER [B]=$ZELMORA_HELPERS/zelmora-launch-other-site.exe)
declare -A LAYOUTS=([A]=$ZELMORA_LAYOUT [B]=$ZELMORA_HELPERS/other-site/layout.txt
  [C]=$ZELMORA_HELPERS/same-server/layout.txt)
declare -A IDENTITIES=([A]=$IDENTITY [B]=$(cat "$ZELMORA_HELPERS/other-site/build-identity.txt")
  [C]=$(cat "$ZELMORA_HELPERS/same-server/build-identity.txt"))
declare -A SERVERS=([A]=$SERVER [B]=$(sed -n 1p "$ZELMORA_HELPERS/other-site/settings.txt")
  [C]=$SERVER)
[[ $(printf '%s\n' "${IDENTITIES[@]}" | grep -cE '^1\.0\.0-.+-[0-9a-f]{8}$' | tr -d ' ') == 3 &&
  $(printf '%s\n' "${IDENTITIES[@]}" | sort -u | wc -l) == 3 ]] ||
  fail "identities ${IDENTITIES[*]}"

clear_product_keys
set_temp "$PLAIN_TEMP"

case $NAME in
  release.version)
    # Both programs, and those of another site, whose resources name that site's server and
    # identity: program|build|name|description.
    for row in "$ZELMORA_TOOL|A|zelmora-setup|Zelmora workstation set-up" \
      "$ZELMORA_LAUNCHER|A|zelmora-launch|Zelmora set-up launcher" \
      "${TOOLS[B]}|B|zelmora-setup|Zelmora workstation set-up" \
      "${LAUNCHERS[B]}|B|zelmora-launch|Zelmora set-up launcher"; do
      IFS='|' read -r program build name description <<<"$row"
      wine "$ZELMORA_HELPERS/release-check.exe" version "$(windows_path "$program")" >"$OUT"
      expect_lines "$OUT" "version resource of $program" \
        "fixed FileVersion=$VERSION.0 ProductVersion=$VERSION.0" \
        "fixed FileFlags=0 FileOS=40004 FileType=1" "translation 040904b0" \
        "CompanyName=Quorvane" "FileDescription=$description (${SERVERS[$build]})" \
        "FileVersion=$VERSION" "InternalName=$name" "OriginalFilename=$name.exe" \
        "ProductName=Zelmora" "ProductVersion=${IDENTITIES[$build]}"
    done
    ;;
  release.manifest)
    for program in "$TOOL_PATH" "$LAUNCHER_PATH"; do
      wine "$ZELMORA_HELPERS/release-check.exe" manifest "$program" >"$OUT"
      # Windows 7, 8, 8.1, and 10 and 11.
      expect_lines "$OUT" "manifest of $program" "run level=asInvoker uiAccess=0" \
        "supportedOS {35138B9A-5D96-4FBD-8E2D-A2440225F93A}" \
        "supportedOS {4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}" \
        "supportedOS {1F676C76-80E1-4239-95BB-83D0F6D0DA78}" \
        "supportedOS {8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}"
    done
    ;;
  release.dll-search)
    start_trace "$DIR/baseline.trace" "$ZELMORA_HELPERS/advapi32-console-program.exe"
    attached_dlls "$DIR/baseline.trace" >"$DIR/baseline.dlls"
    [[ -s $DIR/baseline.dlls ]] || fail "no DLLs in the trace"
    # The tool, and the launcher showing its usage, which starts no other program.
    for row in "$ZELMORA_TOOL|" "$ZELMORA_LAUNCHER|/?"; do
      program=${row%|*} argument=${row##*|}
      name=${program##*/}
      start_trace "$DIR/$name.trace" "$program" ${argument:+"$argument"}
      # The first call after its TLS callbacks (the runtime's, which load nothing) restricts the
      # search and succeeds; the runtime's initialisers come after it.
      first=$(grep -vE '^(Call|Ret) +(PE DLL|TLS callback)' "$DIR/$name.trace" | head -2)
      call=KERNEL32.SetDefaultDllDirectories
      [[ $first == "Call $call(00000800)"*$'\n'"Ret  $call() retval=00000001"* ]] ||
        fail "$name starts with"$'\n'"$first"
      grep -q '^Call msvcrt._initterm' "$DIR/$name.trace" ||
        fail "no runtime start in $name's trace"
      # No DLL is loaded once it runs, and none that the plain advapi32 program does not load.
      sed -n '/SetDefaultDllDirectories/,$p' "$DIR/$name.trace" |
        grep -q '^Call PE DLL.*PROCESS_ATTACH' && fail "$name loads a DLL while it runs"
      attached_dlls "$DIR/$name.trace" >"$DIR/$name.dlls"
      diff "$DIR/baseline.dlls" "$DIR/$name.dlls" >&2 || fail "$name loads other DLLs (>)"
    done
    ;;
  release.guide)
    # Every command block of the guide is checked, here or by the package check.
    blocks=$(grep -cE '^ *```(cmd|sh)$' "$ZELMORA_GUIDE")
    markers=$(grep -oE '<!-- checked: [a-z-]+ -->' "$ZELMORA_GUIDE" | cut -d' ' -f3 | sort)
    checked="build-for-site confirm-site copy-build detection detection-build install-command \
logon-script uninstall-command verify-package"
    [[ $(echo $markers) == "$checked" && $blocks == 9 ]] ||
      fail "the guide has $blocks command blocks, checked as:" $markers
    # Its example build folder is named after the identity of its example site.
    example=$(cmake -DVERSION="$VERSION" -DZELMORA_FILE_SERVER=FS-TLV-02 \
      '-DZELMORA_COMPANY=השקמה אשראי בע"מ' -P "$ZELMORA_SOURCE/cmake/BuildIdentity.cmake")
    grep -qF "\\deploy\\zelmora\\$example\"" <(guide_block copy-build) ||
      fail "the guide's build folder is not named after $example"

    package=$DIR/package
    temp=$DIR/temp
    reports=$DIR/reports
    mkdir -p "$package" "$temp" "$reports"
    IFS=':' read -r -a beside <<<"$ZELMORA_BESIDE_EXE"
    cp "$ZELMORA_TOOL" "$ZELMORA_LAUNCHER" "${beside[@]}" "$package/"
    set_temp "$(windows_path "$temp")"
    log=$temp/zelmora-setup.log
    trap '(($? == 0)) || tail -n +1 "$DIR"/*.out "$log" >&2 2>/dev/null' EXIT # tells why
    # The build's detection query: status 0 and the identity shown, or status 1.
    expect_build() {
      local status
      status=$(run_guide_block detection-build "$DIR")
      [[ $status == "$1" ]] && { ((status)) || tr -d '\r' <"$DIR/detection-build.out" |
        grep -qE "^ +Build +REG_SZ +$IDENTITY *\$"; } ||
        fail "build query: $status $(cat "$DIR/detection-build.out")"
    }

    # The Intune and Configuration Manager commands, run in the package's folder.
    expect_detection no "before any run"
    expect_status "$(run_guide_block install-command "$package")" 0
    expect_bytes "$log" 'Zelmora Installed\r\n'
    expect_layout "$DIR" "$(windows_path "$temp")" ordinary "$IDENTITY"
    expect_detection yes "after a complete run"
    expect_build 0
    expect_status "$(run_guide_block confirm-site "$DIR")" 0
    grep -qF "$SERVER" "$DIR/confirm-site.out" || fail "no server read back"
    # The site build's settings are taken by the settings' module.
    (cmake() { [[ $1 != --preset ]] || command cmake "${@:3}" -P "$ZELMORA_SOURCE/cmake/SiteSettings.cmake" || exit 1; } &&
      eval "$(guide_block build-for-site)") || fail "the guide's site build is refused"
    expect_status "$(run_guide_block uninstall-command "$package")" 0
    expect_detection no "after the uninstall command"
    expect_build 1

    # Group Policy: the build copied into its own folder, and the logon script run from there,
    # once after a run that fails and twice after one that completes.
    folder=$DIR/deploy/$IDENTITY
    mkdir -p "$DIR/deploy"
    settings=("ZELMORA_BUILD_FOLDER=$(windows_path "$folder")")
    expect_status "$(run_guide_block copy-build "$package" "${settings[@]}")" 0
    for file in "$folder"/*; do cmp -s "$file" "$package/${file##*/}" || fail "$file differs"; done
    [[ $(ls "$folder" | wc -l) == 3 ]] || fail "the build folder holds $(ls "$folder")"
    settings+=("ZELMORA_REPORTS=$(windows_path "$reports")")
    break_registry
    expect_status "$(run_guide_block logon-script "$DIR" "${settings[@]}")" 20
    expect_bytes "$log" 'Installation Error\r\n'
    expect_detection no "after a failed run"
    [[ $(ls "$reports" | wc -l) == 1 ]] || fail "reports after a failed run: $(ls "$reports")"
    clear_product_keys
    for run in first second; do
      expect_status "$(run_guide_block logon-script "$DIR" "${settings[@]}")" 0
      expect_layout "$DIR" "$(windows_path "$temp")" ordinary "$IDENTITY"
      [[ -z $(ls "$reports") ]] || fail "a report after the $run complete run: $(ls "$reports")"
    done
    ;;
  release.signed)
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Zelmora test signer' \
      -addext extendedKeyUsage=codeSigning -keyout "$DIR/key.pem" -out "$DIR/cert.pem" \
      >/dev/null 2>&1 || fail "cannot make the test certificate"
    printf 'throwaway passphrase\n' >"$DIR/passphrase"
    openssl pkey -in "$DIR/key.pem" -aes256 -passout "file:$DIR/passphrase" \
      -out "$DIR/key-encrypted.pem" || fail "cannot encrypt the test key"

    # Named in the environment, with an encrypted key; and in the cache, with a plain one.
    by_environment=$(make_package "$DIR/by-environment" "ZELMORA_SIGN_CERT=$DIR/cert.pem" \
      "ZELMORA_SIGN_KEY=$DIR/key-encrypted.pem" \
      "ZELMORA_SIGN_KEY_PASSWORD_FILE=$DIR/passphrase") || fail "signing by environment failed"
    by_cache=$(make_package "$DIR/by-cache" "CPACK_ZELMORA_SIGN_CERT=$DIR/cert.pem" \
      "CPACK_ZELMORA_SIGN_KEY=$DIR/key.pem") || fail "signing by cache failed"
    for archive in "$by_environment" "$by_cache"; do
      unpacked=${archive%.zip}
      check_package "$archive" "$unpacked"
      for program in "$ZELMORA_TOOL" "$ZELMORA_LAUNCHER"; do
        signed=$unpacked/${program##*/}
        osslsigncode verify -in "$signed" -CAfile "$DIR/cert.pem" >"$signed.verify" 2>&1 ||
          fail "${program##*/}'s signature does not verify: $(cat "$signed.verify")"
        grep -q 'Message digest algorithm *: SHA256' "$signed.verify" || fail "not SHA-256"
        cmp -s "$program" "$signed" && fail "the packaged ${program##*/} is unsigned"
      done
    done
    # The signed launcher runs the signed tool beside it, and records its identity.
    unpacked=${by_environment%.zip}
    status=0
    USER=$ORDINARY_USER wine "$unpacked/zelmora-launch.exe" >"$OUT" 2>"$ERR" || status=$?
    expect_status "$status" 0
    expect_layout "$DIR" "$PLAIN_TEMP" ordinary "$IDENTITY"

    # Half a set-up, and a time-stamp server that cannot be reached, give no package at all.
    make_package "$DIR/half" "ZELMORA_SIGN_CERT=$DIR/cert.pem" 2>/dev/null &&
      fail "a certificate without its key was taken"
    make_package "$DIR/unreachable" "ZELMORA_SIGN_CERT=$DIR/cert.pem" \
      "ZELMORA_SIGN_KEY=$DIR/key.pem" "ZELMORA_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/" \
      2>/dev/null && fail "signing went on without its time stamp"
    [[ -z $(find "$DIR/half" "$DIR/unreachable" -maxdepth 1 -name '*.zip') ]] ||
      fail "a package was left"
    ;;
  release.launcher)
    source "$(dirname "$0")/launcher-case.sh"
    ;;
  release.sites)
    # Two sites released into a folder that holds an earlier release, then released again with
    # the first site's tool another site's (newer than its build, so the build keeps it).
    out=$DIR/out
    mkdir "$out"
    printf 'FS-A01\tחברה "א"\nfs-b02.corp.example\tב\n' >"$DIR/sites"
    echo earlier >"$out/zelmora-setup-0.9.0-FS-A01-win64.zip"
    (cd "$out" && sha256sum zelmora-setup-0.9.0-FS-A01-win64.zip >SHA256SUMS)
    release() { # release NAME: its output into DIR/NAME.out and DIR/NAME.err
      env -u ZELMORA_SIGN_CERT -u ZELMORA_SIGN_KEY "$ZELMORA_SOURCE/tools/release-sites" \
        "$DIR/sites" "$out" >"$DIR/$1.out" 2>"$DIR/$1.err"
    }
    release first || fail "the release failed: $(tail -n 40 "$DIR/first.err")"
    sites=(FS-A01 fs-b02.corp.example)
    packages=$(printf "zelmora-setup-$VERSION-%s-win64.zip\n" "${sites[@]}")
    files=$(find "$out" -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)
    [[ $files == "SHA256SUMS"$'\n'"$packages" &&
      $(sed -E 's/^[0-9a-f]{64}  //' "$out/SHA256SUMS") == "$packages" ]] ||
      fail "the release left $(ls "$out"), with SHA256SUMS"$'\n'"$(cat "$out/SHA256SUMS")"
    (cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
    [[ $(awk -F'\t' '{ print $3 "  " $2 }' "$DIR/first.out") == "$(cat "$out/SHA256SUMS")" ]] ||
      fail "the release printed"$'\n'"$(cat "$DIR/first.out")"
    # Each site's log shows its layout cases and its version case passed.
    checks=$({ bash "$(dirname "$0")/cases.sh" --list | grep '^layout\.'; echo release.version; } |
      sed 's/^/wine./' | sort)
    for site in "${sites[@]}"; do
      passed=$(sed -nE 's/.* Test +#[0-9]+: (wine\.[^ ]+) \.* +Passed .*/\1/p' \
        "$out/$site/release-sites.log" | grep -v '^wine\.prefix\.' | sort)
      [[ $passed == "$checks" ]] || fail "$site's check passed"$'\n'"$passed"
    done
    cp "$out/fs-b02.corp.example/release-sites.log" "$DIR/second-site.log"
    cp "$out/fs-b02.corp.example/app/zelmora-setup.exe" "$out/FS-A01/app/zelmora-setup.exe"
    release again && fail "a site whose tool fails its check was released"
    grep -qF 'the site FS-A01 failed: check the tool under Wine' "$DIR/again.err" ||
      fail "the release ended otherwise: $(tail -n 40 "$DIR/again.err")"
    cmp -s "$DIR/second-site.log" "$out/fs-b02.corp.example/release-sites.log" ||
      fail "the release went on to the second site"
    [[ -z $(find "$out" -maxdepth 1 -type f) ]] || fail "the ended release left $(ls "$out")"
    ;;
  *)
    fail "no release case named $NAME"
    ;;
esac
