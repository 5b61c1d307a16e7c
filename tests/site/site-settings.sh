#!/usr/bin/env bash
# The site settings at and past their limits, taken or refused by the settings' module as a script
# (-D drops white space at a value's end); a refusal names its setting.
failures=0
copies() { local pad; printf -v pad '%*s' "$1" ''; printf '%s' "${pad// /$2}"; }
expect() { # SETTING taken|refused VALUE...
  for value in "${@:3}"; do
    log=$(cmake "-DZELMORA_$1=$value" -P "$SOURCE/cmake/SiteSettings.cmake" 2>&1)
    case $?/$2/${log//$'\n'/ } in 0/taken/* | [1-9]*/refused/*"ZELMORA_$1 is "*) ;; *)
      printf 'FAILED: ZELMORA_%s=%q is not %s\n%s\n' "$1" "$value" "$2" "$log" >&2 && failures=1 ;;
    esac
  done
}
SOURCE=$1 a=$(copies 63 a) d=$(copies 61 d) h=$(copies 255 א) e=$(copies 127 🌳)
expect FILE_SERVER taken FS-TLV-02 10.20.30.40 _fs_01.corp.example "$a.$a.$a.$d"
expect FILE_SERVER refused '' "${a}a" "$a.$a.$a.${d}d" -fs fs- fs.-fs fs-.fs .fs fs..fs 'fs 01' \
  $'fs\tx' $'fs\x7f' 'fs\01' fs/01 fs:01 'fs*' 'fs?' 'fs"' 'fs<' 'fs>' 'fs|' 'שרת'
# 255 UTF-16 units: a Hebrew letter is one, a character beyond the BMP two.
expect COMPANY taken 'השקמה "אשראי" בע"מ' "$h" "${e}א" \
  $'\xc2\xa0\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf' # U+00A0, U+D7FF, U+E000, U+10FFFF
expect COMPANY refused '' "${h}א" "${e}🌳" $'א\x1f' $'א\x7f' $'\xc2\x80' $'\xc2\x9f' $'\x80' \
  $'\xc1\xbf' $'\xe0\x9f\xbf' $'\xf0\x8f\xbf\xbf' $'\xed\xa0\x80' $'\xf4\x90\x80\x80' $'\xf8' \
  $'\xe2\x80' $'\xed\xb0\x80' $'\xed\xbf\xbf' $'\xf8\x90\x80\x80'
((failures == 0)) && echo "every site setting taken or refused as its rule says"
