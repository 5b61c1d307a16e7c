#!/usr/bin/env bash
# The site settings' limits, value by value: the settings' module, run as a script, takes or
# refuses each, and a refusal names its setting. One refused value goes through a real configure
# of the project, which must stop before it generates a build system.
# Usage: site-settings.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
failures=0

# N copies of TEXT: copies N TEXT
copies() {
  local pad
  printf -v pad '%*s' "$1" ''
  printf '%s' "${pad// /$2}"
}

# expect SETTING taken|refused VALUE... (a -D value loses white space at its end, and single
# quotes around it, before any check sees it)
expect() {
  local setting=ZELMORA_$1 outcome=$2 value log status
  shift 2
  for value; do
    status=0
    log=$(cmake "-D$setting=$value" -P "$source_dir/cmake/SiteSettings.cmake" 2>&1) || status=$?
    case $outcome/$status in
      taken/0) continue ;;
      refused/0) ;;
      refused/*) [[ ${log//$'\n'/ } != *"$setting is "* ]] || continue ;;
    esac
    printf 'FAILED: %s=%q is not %s:\n%s\n' "$setting" "$value" "$outcome" "$log" >&2
    failures=$((failures + 1))
  done
}

a63=$(copies 63 a)
b63=$(copies 63 b)
c63=$(copies 63 c)
expect FILE_SERVER taken QVZELFS01 FS-TLV-02 10.20.30.40 _fs_01.corp.example 0-9 "$a63" \
  "$a63.$b63.$c63.$(copies 61 d)" # 253 characters
expect FILE_SERVER refused '' "${a63}a" "$a63.$b63.$c63.$(copies 62 d)" -fs fs- fs.-fs fs-.fs \
  .fs fs. fs..fs 'fs 01' ' fs' $'fs\t01' $'fs\n' $'fs\x01' $'fs\x7f' 'fs\01' fs/01 fs:01 \
  'fs*' 'fs?' 'fs"' 'fs<' 'fs>' 'fs|' '\\fs\share' 'fs;01' 'שרת' $'fs\xc2\xa0'

# 255 UTF-16 units: Hebrew letters count one each, characters beyond the BMP two.
h255=$(copies 255 א)
e254=$(copies 127 🌳)
expect COMPANY taken נבדרון 'השקמה "אשראי" בע"מ' "$h255" "${e254}א" ' ' 'a;b[c\d$e@f@' \
  $'\x20\x7e' $'\xc2\xa0' $'\xed\x9f\xbf' $'\xee\x80\x80' $'\xef\xbf\xbf' $'\xe0\xa0\x80' \
  $'\xf0\x90\x80\x80' $'\xf4\x8f\xbf\xbf'
expect COMPANY refused '' "${h255}א" "${e254}🌳" $'א\x01' $'\t' $'א\x1f' $'א\x7f' $'\xc2\x80' \
  $'\xc2\x9f' $'\x80' $'א\xbf' $'\xc0\xaf' $'\xc1\xbf' $'\xe0\x9f\xbf' $'\xf0\x8f\xbf\xbf' \
  $'\xed\xa0\x80' $'\xed\xbf\xbf' $'\xf4\x90\x80\x80' $'\xf5\x80\x80\x80' $'\xf8\xbf\xbf\xbf' \
  $'\xfe' $'\xff' $'\xd7' $'\xd7a' $'\xe2\x80' $'\xf0\x9f\x8c' $'א\xd7'

# The project's own configure, with a company text that a Hebrew name and a control character
# make: refused, shown as given, and no build system left.
rm -rf "$work/configure"
status=0
log=$(cmake -S "$source_dir" -B "$work/configure" -DZELMORA_BUILD_TESTS=OFF \
  $'-DZELMORA_COMPANY=בע"מ\x01' 2>&1) || status=$?
if ((status == 0)) || [[ $log != *'ZELMORA_COMPANY is "בע"מ\x01"'* || -e $work/configure/Makefile ]]; then
  printf 'FAILED: the configure took a control character, or left a build system:\n%s\n' "$log" >&2
  failures=$((failures + 1))
fi

((failures == 0)) || exit 1
echo "every site setting taken or refused as its rule says"
