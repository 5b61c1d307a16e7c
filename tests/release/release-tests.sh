# The release checks that need no Wine, one per CTest test: "release-tests.sh NAME".
#   reproducible  both programs built again from a copy of the sources in another folder are
#                 byte-identical to this build's, and carry their version and manifest
#   exe-header    how each program is linked: its flags, no time stamp, console, its imports
#   package       the ZIP package, unsigned: its files, their checksums, the programs as built
#
# From CTest's environment: ZELMORA_SOURCE, ZELMORA_TOOL and ZELMORA_LAUNCHER (the built
# zelmora-setup.exe and zelmora-launch.exe), ZELMORA_WORK (scratch folder), ZELMORA_OBJDUMP, and
# what release-support.sh reads.
set -euo pipefail
source "$(dirname "$0")/release-support.sh"
: "${ZELMORA_SOURCE:?}" "${ZELMORA_TOOL:?}" "${ZELMORA_LAUNCHER:?}" "${ZELMORA_WORK:?}"
readonly NAME=$1
readonly WORK=$ZELMORA_WORK/$NAME
rm -rf "$WORK"
mkdir -p "$WORK"
readonly PROGRAMS=("$ZELMORA_TOOL" "$ZELMORA_LAUNCHER")

# Whether FILE holds TEXT as UTF-16LE, as resources store it.
holds_utf16() {
  local pattern
  pattern=$(printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' '  ')
  od -An -v -tx1 "$1" | tr -s ' \n' '  ' | grep -qF -- "${pattern% }"
}

case $NAME in
  reproducible)
    # Another folder, of another length, for the sources and so for the build.
    copy=$WORK/elsewhere/zelmora-setup-sources
    mkdir -p "$copy"
    tar -C "$ZELMORA_SOURCE" --exclude=./build --exclude=./.git --exclude=./.cache -cf - . |
      tar -C "$copy" -xf -
    { IFS= read -r server && IFS= read -r company; } <"$ZELMORA_SITE" # the same site
    (cd "$copy" && cmake --preset windows -DZELMORA_BUILD_TESTS=OFF \
      "-DZELMORA_FILE_SERVER=$server" "-DZELMORA_COMPANY=$company" &&
      cmake --build --preset windows --target zelmora-setup zelmora-launch) \
      >"$WORK/build.log" 2>&1 ||
      fail "the second build failed: $(tail -20 "$WORK/build.log")"
    identity=$(cat "$ZELMORA_BUILD_IDENTITY_FILE")
    for program in "${PROGRAMS[@]}"; do
      name=${program##*/}
      second=$copy/build/windows/app/$name
      [[ $second != "$program" && -f $second ]] || fail "no second build at $second"
      cmp "$program" "$second" >"$WORK/cmp" 2>&1 || fail "the two builds of $name differ in \
$(cmp -l "$program" "$second" | wc -l) bytes: $(cat "$WORK/cmp")"
      # Identical, and really the release: version, company, name, identity and manifest ...
      for text in "$ZELMORA_VERSION" Quorvane "$name" "$identity"; do
        holds_utf16 "$second" "$text" || fail "$name has no '$text' in its version resource"
      done
      grep -qaF 'level="asInvoker"' "$second" || fail "$name has no manifest"
      # ... and neither build's folder.
      for folder in "$ZELMORA_SOURCE" "$copy"; do
        ! grep -qaF "$folder" "$second" && ! holds_utf16 "$second" "$folder" ||
          fail "$name holds the build folder $folder"
      done
    done
    rm -rf "$WORK/elsewhere"
    ;;
  exe-header)
    for program in "${PROGRAMS[@]}"; do
      name=${program##*/}
      "$ZELMORA_OBJDUMP" -p "$program" >"$WORK/$name.header"
      field() { sed -nE "s#^$1[[:space:]]+##p" "$WORK/$name.header" | head -1; }
      [[ $(field 'Time/Date') == 'Thu Jan  1 00:00:00 1970' ]] ||
        fail "$name: time stamp $(field 'Time/Date'), expected none"
      [[ $(field Subsystem) == 00000003*'(Windows CUI)' ]] ||
        fail "$name: subsystem $(field Subsystem)"
      # Terminal-server aware, and ASLR with high-entropy addresses and NX kept.
      [[ $(field DllCharacteristics) == 00008160 ]] ||
        fail "$name: DllCharacteristics $(field DllCharacteristics), expected 00008160"
      imports=$(sed -nE 's/^[[:space:]]*DLL Name: //p' "$WORK/$name.header" | sort -f | tr '\n' ' ')
      [[ $imports == 'ADVAPI32.dll KERNEL32.dll msvcrt.dll ' ]] || fail "$name imports $imports"
    done
    ;;
  package)
    archive=$(make_package "$WORK/out") || fail "packaging failed"
    check_package "$archive" "$WORK/unpacked"
    for program in "${PROGRAMS[@]}"; do
      cmp -s "$program" "$WORK/unpacked/${program##*/}" ||
        fail "the unsigned package's ${program##*/} differs from the build's"
    done
    # The identity: one line, printed by the package step; it tells apart servers of 32, 33 and
    # 253 characters that differ only in the last, companies, and a server and company that part
    # the same characters differently, showing 32 of the server.
    identity=$(cat "$WORK/unpacked/build-identity.txt")
    [[ $(od -An -c "$WORK/unpacked/build-identity.txt" | tr -d ' \n') == "$identity\\n" ]] ||
      fail "build-identity.txt is not one line"
    grep -qF -- "-- Build identity: $identity " "$WORK/out.log" || fail "the package step names no identity"
    of() {
      cmake -DVERSION=1.0.0 "-DZELMORA_FILE_SERVER=$1" "-DZELMORA_COMPANY=${2:-נבדרון}" \
        -P "$ZELMORA_SOURCE/cmake/BuildIdentity.cmake"
    }
    long=$(printf 'a%.0s' {1..252})
    [[ $(of "$(sed -n 1p "$ZELMORA_SITE")" "$(sed -n 2p "$ZELMORA_SITE")") == "$identity" ]] ||
      fail "the identity $identity is not that of the build's settings"
    ids=$(for server in "${long:0:32}" "${long:0:33}" "${long}b" "${long}c"; do of "$server"; done
      of "${long}c" 'נבדרון אחרת' && of "${long:0:32}ab" c && of "${long:0:32}a" bc)
    [[ $(grep -cxE "1\.0\.0-${long:0:32}-[0-9a-f]{8}" <<<"$ids") == 7 &&
      $(sort -u <<<"$ids" | wc -l) == 7 ]] || fail "identities"$'\n'"$ids"
    # The longest server, 253 characters, configures the Windows build, whose package is named
    # after its first 36 and a hash.
    longest=${long:0:63}.${long:0:63}.${long:0:63}.${long:0:61}
    cmake -S "$ZELMORA_SOURCE" --preset windows -B "$WORK/longest" -DZELMORA_BUILD_TESTS=OFF \
      "-DZELMORA_FILE_SERVER=$longest" >"$WORK/longest.log" 2>&1 ||
      fail "the longest server is refused: $(grep -A3 "CMake Error" "$WORK/longest.log")"
    name=$(sed -nE 's/^set\(CPACK_PACKAGE_FILE_NAME "(.*)"\)$/\1/p' \
      "$WORK/longest/CPackConfig.cmake")
    [[ $name =~ ^zelmora-setup-"$ZELMORA_VERSION"-${long:0:36}~[0-9a-f]{8}-win64$ ]] ||
      fail "the longest server's package is $name.zip"
    for doc in "$ZELMORA_README" "$ZELMORA_GUIDE"; do
      grep -qF "zelmora-setup-$ZELMORA_VERSION-" "$doc" || fail "$doc names another version"
    done
    ;;
  *)
    fail "no release check named $NAME"
    ;;
esac
