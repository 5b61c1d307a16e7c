#!/usr/bin/env bash
# Checks that the layers run one way: the project's libraries link without a cycle, each folder
# holds one library, no file includes a header of a library that its own library does not link,
# directly or through others, and files, inside a library too, include one another without a cycle.
# Usage: check-layers.sh SOURCE_DIR LAYER_MAP
set -euo pipefail
source_dir=$1
map=$2
cd "$source_dir"

declare -A owner links
while read -r kind target item; do
  case $kind in
    file) owner[$item]=$target ;;
    link) links[$target]+=" $item" ;;
  esac
done <"$map"

failures=0
fail() {
  echo "$*" >&2
  failures=$((failures + 1))
}

# A folder that holds sources of two libraries hides a layer from whoever reads the tree.
for dir in $(awk '$1 == "file" { sub(/\/[^\/]*$/, "", $3); print $3, $2 }' "$map" | sort -u |
  cut -d' ' -f1 | uniq -d); do fail "$dir/ holds sources of two libraries"; done

# A loop in the link graph: tsort names it.
if ! awk '$1 == "link" { print $2, $3 }' "$map" | tsort >/dev/null; then
  fail "the libraries link in a loop"
fi

# The library of a file: its own entry, or that of the .cpp beside a header.
library_of() {
  local path=$1
  if [[ -n ${owner[$path]:-} ]]; then
    echo "${owner[$path]}"
  elif [[ $path == *.h && -n ${owner[${path%.h}.cpp]:-} ]]; then
    echo "${owner[${path%.h}.cpp]}"
  fi
}

# Every library a library may use: itself and all it links, however deep.
reachable() {
  local -A seen=()
  local queue=("$1") next
  while ((${#queue[@]})); do
    next=${queue[0]}
    queue=("${queue[@]:1}")
    [[ -n ${seen[$next]:-} ]] && continue
    seen[$next]=1
    # shellcheck disable=SC2206
    queue+=(${links[$next]:-})
  done
  echo "${!seen[@]}"
}

# The project's own folders, as an include names them.
folders='app\|entry\|installer\|launcher\|platform\|registry\|site'
checked=0
edges=""
while read -r path; do
  library=$(library_of "$path")
  if [[ -z $library ]]; then
    # The other build's back-end is not part of this one.
    [[ $path == platform/win32/* || $path == platform/posix/* || $path == platform/scripted/* ]] ||
      fail "$path belongs to no library"
    continue
  fi
  allowed=" $(reachable "$library") "
  while read -r included; do
    [[ -f $included ]] || continue
    used=$(library_of "$included")
    if [[ -z $used ]]; then
      fail "$path includes $included, which belongs to no library"
    elif [[ $allowed != *" $used "* ]]; then
      fail "$path ($library) includes $included ($used), which $library does not link"
    fi
    edges+="${path%.*} ${included%.*}"$'\n'  # a file and its header are one
  done < <(sed -n "s/^#include \"\\(\\($folders\\)\\/[^\"]*\\)\".*/\\1/p" "$path")
  checked=$((checked + 1))
done < <(git ls-files -- 'app/*.cpp' 'app/*.h' 'entry/*.cpp' 'entry/*.h' 'installer/*.cpp' \
  'installer/*.h' 'launcher/*.cpp' 'launcher/*.h' 'platform/*.cpp' 'platform/*.h' \
  'registry/*.cpp' 'registry/*.h' 'site/*.cpp' 'site/*.h' 2>/dev/null ||
  find app entry installer launcher platform registry site -name '*.cpp' -o -name '*.h')
tsort <<<"$edges" >/dev/null || fail "files include one another in a loop"

((checked > 20)) || fail "only $checked files were checked"
if ((failures)); then
  echo "$failures layering faults" >&2
  exit 1
fi
echo "layers run one way: $checked files checked"
