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
expect FILE_SERVER taken FS-TLV-02 10.20.30.40 _fs_01.corp.example "$a.$a.$a.$d" 0.0.0.0 \
  255.249.199.99 1.2.3.4a 0x1.corp
expect FILE_SERVER refused '' "${a}a" "$a.$a.$a.${d}d" -fs fs- fs.-fs fs-.fs .fs fs..fs 'fs 01' \
  $'fs\tx' $'fs\x7f' 'fs\01' fs/01 fs:01 'fs*' 'fs?' 'fs"' 'fs<' 'fs>' 'fs|' 'שרת' \
  10.20.30.400 256.1.1.1 10.20.30 1.2.3.4.5 010.001.001.001 1.2.3.04 2024 0x0a.1.2.3 0X0A.1.2.3
# Names in file names: a server of 45 characters as it is, a longer one shortened to 45, two
# that differ only at their end told apart.
name() {
  cmake "-DZELMORA_FILE_SERVER=$1" -P "$SOURCE/cmake/SiteSettings.cmake" |
    sed -n 's/^-- file name: //p'
}
names=$(name "${d::45}")/$(name "${d::46}")/$(name "$a.$a.$a.$d")/$(name "$a.$a.$a.${d%d}e")
[[ $names =~ ^${d::45}/(${d::36}[^/]{9})/(${a::36}[^/]{9})/(${a::36}[^/]{9})$ &&
  ${BASH_REMATCH[2]} != "${BASH_REMATCH[3]}" ]] ||
  { echo "FAILED: names $names" >&2 && failures=1; }
# 255 UTF-16 units: a Hebrew letter is one, a character beyond the BMP two.
expect COMPANY taken 'השקמה "אשראי" בע"מ' "$h" "${e}א" \
  $'\xc2\xa0\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf' # U+00A0, U+D7FF, U+E000, U+10FFFF
expect COMPANY refused '' "${h}א" "${e}🌳" $'א\x1f' $'א\x7f' $'\xc2\x80' $'\xc2\x9f' $'\x80' \
  $'\xc1\xbf' $'\xe0\x9f\xbf' $'\xf0\x8f\xbf\xbf' $'\xed\xa0\x80' $'\xf4\x90\x80\x80' $'\xf8' \
  $'\xe2\x80' $'\xed\xb0\x80' $'\xed\xbf\xbf' $'\xf8\x90\x80\x80'

# Lists of sites refused before anything is built, naming the line and showing the value.
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
refused_list() { # LIST (printf format) SHOWN
  rm -rf "$work/out" && printf "$1" >"$work/sites" &&
    log=$("$SOURCE/tools/release-sites" "$work/sites" "$work/out" 2>&1)
  [[ $? != 0 && ${log//$'\n'/ } == *"$2"* && ! -e $work/out ]] ||
    { printf 'FAILED: list %q built or refused otherwise:\n%s\n' "$1" "$log" >&2 && failures=1; }
}
ok='FS01\tא\r\n'
refused_list "# sites\r\n\r\n$ok"'fs 02\tב\r\n' 'sites:4: ZELMORA_FILE_SERVER is "fs 02": it holds'
refused_list "$ok"'FS02\tא\rב\r\n' 'sites:2: ZELMORA_COMPANY is "א\x0dב": a control character'
refused_list "$ok"'fs01\tב\n' \
  'sites:2: ZELMORA_FILE_SERVER is "fs01": it is listed already, on line 1'
refused_list "$ok"'FS02 ב\n' 'sites:2: "FS02 ב" has no tab'
refused_list '\xff\xfeF\0S\0' 'sites is not UTF-8 text'
refused_list '# none yet\n' 'sites lists no site'
# A list taken: a byte-order mark, CR LF, and company texts that -D would not pass as they are,
# which reach each site's cache script exactly.
printf '\xef\xbb\xbfFS01\t  ]]; $x\\ | "q" \r\nfs02\t\x27א\x27]\n' >"$work/sites"
plan=$(cmake "-DZELMORA_SITES=$work/sites" "-DZELMORA_SITES_OUT=$work/out" \
  -P "$SOURCE/cmake/SiteSettings.cmake")
# So does the guide's cache file.
sed -n '/^```cmake$/,/^```$/{/^```/!p}' "$SOURCE/docs/deploying.md" >"$work/out/guide.cmake"
printf 'include(${FILE})\nmessage("[${ZELMORA_COMPANY}]")' >"$work/show.cmake"
for site in 'FS01/site-settings.cmake/  ]]; $x\ | "q" ' "fs02/site-settings.cmake/'א']" \
  "guide.cmake/'השקמה' אשראי  "; do
  shown=$(cmake "-DFILE=$work/out/${site%/*}" -P "$work/show.cmake" 2>&1)
  [[ $shown == "[${site##*.cmake/}]" ]] ||
    { echo "FAILED: $site" >&2 && failures=1; }
done
[[ $plan == $'-- FS01 FS01\n-- fs02 fs02' ]] || { echo "FAILED: plan $plan" >&2 && failures=1; }
((failures == 0)) && echo "every site setting and list taken or refused as its rule says"
