# Shared by the release checks (CTest and Wine): packaging into a scratch folder, checking a
# package, and the commands of the deployment guide. Sourced, not run.
#
# From the environment: ZELMORA_CPACK_CONFIG (the build's CPackConfig.cmake), ZELMORA_VERSION
# (the CMake project's), ZELMORA_GUIDE (docs/deploying.md), ZELMORA_README, ZELMORA_BESIDE_EXE,
# ZELMORA_BUILD_IDENTITY_FILE.

declare -F fail >/dev/null || fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Packages into OUT_DIR with CPack and prints the archive's path. The build's own signing
# settings, in the cache and in the environment, are cleared; the arguments set them again:
# ZELMORA_SIGN_<SETTING>=VALUE in the environment, CPACK_ZELMORA_SIGN_<SETTING>=VALUE as the
# cache does. make_package OUT_DIR [SETTING=VALUE...]
make_package() {
  local out=$1 setting
  local -a environment=(env) options=()
  shift
  for setting in CERT KEY KEY_PASSWORD_FILE TIMESTAMP_URL; do
    environment+=(-u "ZELMORA_SIGN_$setting")
    options+=(-D "CPACK_ZELMORA_SIGN_$setting=")
  done
  for setting; do
    if [[ $setting == CPACK_* ]]; then options+=(-D "$setting"); else environment+=("$setting"); fi
  done
  rm -rf "$out"
  mkdir -p "$out"
  "${environment[@]}" cpack --config "$ZELMORA_CPACK_CONFIG" -B "$out" "${options[@]}" \
    >"$out.log" 2>&1 || {
    cat "$out.log" >&2
    return 1
  }
  echo "$out/$(sed -nE 's/^set\(CPACK_PACKAGE_FILE_NAME "(.*)"\)$/\1/p' "$ZELMORA_CPACK_CONFIG").zip"
}

# Unpacks ARCHIVE into DIR and checks it: exactly the two programs, the build's identity, the
# guide, the README, SHA256SUMS and the files of ZELMORA_BESIDE_EXE (their sources, ':'-separated,
# which go beside the tool), each but the programs identical to its source, and every file's
# checksum right by the guide's own command. check_package ARCHIVE DIR
check_package() {
  local archive=$1 dir=$2 expected entry listed verify
  local -a beside=()
  [[ -z ${ZELMORA_BESIDE_EXE:-} ]] || IFS=':' read -r -a beside <<<"$ZELMORA_BESIDE_EXE"
  [[ -f $archive ]] || fail "no package $archive"
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && cmake -E tar xf "$archive") || fail "cannot unpack $archive"

  expected=$(printf '%s\n' zelmora-setup.exe zelmora-launch.exe build-identity.txt \
    docs/deploying.md docs/translations.md README.md SHA256SUMS "${beside[@]##*/}" | sort)
  entry=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort)
  [[ $entry == "$expected" ]] || fail "package holds"$'\n'"$entry"$'\n'"expected"$'\n'"$expected"
  # Each source and its path in the package.
  local -a copies=("$ZELMORA_GUIDE|docs/deploying.md" "$ZELMORA_README|README.md"
    "$ZELMORA_TRANSLATIONS_GUIDE|docs/translations.md"
    "$ZELMORA_BUILD_IDENTITY_FILE|build-identity.txt")
  for entry in "${beside[@]}"; do copies+=("$entry|${entry##*/}"); done
  for entry in "${copies[@]}"; do
    cmp -s "${entry%|*}" "$dir/${entry##*|}" || fail "${entry##*|} in the package differs"
  done

  listed=$(sed -E 's/^[0-9a-f]{64}  //' "$dir/SHA256SUMS" | sort)
  [[ $listed == "$(grep -vx SHA256SUMS <<<"$expected")" ]] ||
    fail "SHA256SUMS lists"$'\n'"$listed"
  # The guide's check passes, and fails once a file has changed.
  verify=$(guide_block verify-package) || fail "the guide has no verify-package block"
  (cd "$dir" && bash -euo pipefail -c "$verify") >"$dir.verify" 2>&1 ||
    fail "checksums do not match: $(cat "$dir.verify")"
  cp "$dir/README.md" "$dir.readme"
  echo >>"$dir/README.md"
  ! (cd "$dir" && bash -euo pipefail -c "$verify") >"$dir.verify" 2>&1 ||
    fail "the guide's check misses a changed file"
  mv "$dir.readme" "$dir/README.md"
}

# The code block that follows the marker "<!-- checked: NAME -->" in the guide, without the
# indentation of its fence; fails when there is none.
guide_block() {
  awk -v marker="<!-- checked: $1 -->" '
    index($0, marker) { found = 1; next }
    found && !inside && /^ *```/ { inside = 1; match($0, /^ */); indent = RLENGTH; next }
    inside && /^ *```/ { closed = 1; exit }
    inside { print substr($0, indent + 1) }
    END { exit !closed }
  ' "$ZELMORA_GUIDE"
}
