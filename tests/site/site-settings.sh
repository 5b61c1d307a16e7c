#!/usr/bin/env bash
# The site settings at and past their limits, taken or refused by the settings' module as a script;
# a refusal names its setting. (-D drops white space at a value's end and single quotes around it.)
set -uo pipefail
source=$1 work=$2 failures=0 # site-settings.sh SOURCE WORK
copies() { local pad; printf -v pad '%*s' "$1" ''; printf '%s' "${pad// /$2}"; }
failed() { printf 'FAILED: %s\n' "$@" >&2; failures=$((failures + 1)); }

# expect SETTING taken|refused VALUE...
expect() {
  local setting=ZELMORA_$1 outcome=$2 value log
  shift 2
  for value; do
    log=$(cmake "-D$setting=$value" -P "$source/cmake/SiteSettings.cmake" 2>&1)
    case $?/$outcome/${log//$'\n'/ } in
      0/taken/* | [1-9]*/refused/*"$setting is "*) ;;
      *) failed "$(printf '%s=%q is not %s' "$setting" "$value" "$outcome")" "$log" ;;
    esac
  done
}

a=$(copies 63 a) b=$(copies 63 b) c=$(copies 63 c)
expect FILE_SERVER taken FS-TLV-02 10.20.30.40 _fs_01.corp.example "$a" "$a.$b.$c.$(copies 61 d)"
expect FILE_SERVER refused '' "${a}a" "$a.$b.$c.$(copies 62 d)" -fs fs- fs.-fs fs-.fs .fs fs. \
  fs..fs 'fs 01' ' fs' $'fs\t01' $'fs\n' $'fs\x01' $'fs\x7f' 'fs\01' fs/01 fs:01 'fs*' 'fs?' \
  'fs"' 'fs<' 'fs>' 'fs|' 'fs;01' 'שרת' $'fs\xc2\xa0'
# 255 UTF-16 units: a Hebrew letter is one, a character beyond the BMP two.
h=$(copies 255 א) e=$(copies 127 🌳)
expect COMPANY taken 'השקמה "אשראי" בע"מ' "$h" "${e}א" ' ' 'a;b[c\d$e@f@' $'\x7e\xc2\xa0' \
  $'\xed\x9f\xbf' $'\xee\x80\x80' $'\xef\xbf\xbf' $'\xe0\xa0\x80' $'\xf0\x90\x80\x80' $'\xf4\x8f\xbf\xbf'
expect COMPANY refused '' "${h}א" "${e}🌳" $'א\x01' $'\t' $'א\x1f' $'א\x7f' $'\xc2\x80' $'\xc2\x9f' \
  $'\x80' $'א\xbf' $'\xc0\xaf' $'\xc1\xbf' $'\xe0\x9f\xbf' $'\xf0\x8f\xbf\xbf' $'\xed\xa0\x80' \
  $'\xed\xbf\xbf' $'\xf4\x90\x80\x80' $'\xf5\x80\x80\x80' $'\xf8\xbf\xbf\xbf' $'\xfe' $'\xff' \
  $'\xd7' $'\xd7\x7f' $'\xe2\x80' $'\xf0\x9f\x8c' $'א\xd7'
# A refused server shows a control character as an escape, never raw.
log=$(cmake $'-DZELMORA_FILE_SERVER=fs\x1b[2J' -P "$source/cmake/SiteSettings.cmake" 2>&1)
[[ $log == *'ZELMORA_FILE_SERVER is "fs\x1b[2J"'* ]] || failed "the server shown" "$log"

# The project's own configure stops at a refused company text, shows it, and generates nothing.
rm -rf "$work"
log=$(cmake -S "$source" -B "$work" -DZELMORA_BUILD_TESTS=OFF $'-DZELMORA_COMPANY=בע"מ\x01' 2>&1) &&
  failed "the configure took a control character"
[[ $log == *'ZELMORA_COMPANY is "בע"מ\x01"'* && ! -e $work/Makefile ]] || failed "the configure" "$log"
# A taken one reaches the installer's header as UTF-16 units, U+10000 and U+10FFFF as pairs.
rm -rf "$work"
log=$(cmake -S "$source" -B "$work" -DZELMORA_BUILD_TESTS=OFF \
  $'-DZELMORA_COMPANY=א\xf0\x90\x80\x80\xf4\x8f\xbf\xbf' 2>&1) && log=$(<"$work/site/SiteTexts.h")
[[ ${log,,} == *'kcompanytext = u"\x5d0\xd800\xdc00\xdbff\xdfff";'* ]] || failed "the units" "$log"
((failures == 0)) && echo "every site setting taken or refused as its rule says"
