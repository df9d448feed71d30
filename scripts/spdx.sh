#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source, header, script and CMake file of the project names its licence
# in one comment line at its top, after a script's #! line:
# "SPDX-License-Identifier: GPL-3.0-or-later".
#
#   scripts/spdx.sh --check   lists the files without that line; fails if any
#   scripts/spdx.sh --fix     adds the line where it is missing (running it
#                             again changes nothing)
#
# The files are those git tracks (outside a git checkout: the source tree less
# the build trees): C and C++ sources and headers (also *.h.in), shell
# scripts, any file starting with #! (such as .ci/run), CMakeLists.txt and
# *.cmake. The fuzz corpus is data, not source.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
identifier="SPDX-License-Identifier: GPL-3.0-or-later"
mode=${1:-}
case "$mode" in
  --check | --fix) ;;
  *) echo "usage: $0 --check|--fix" >&2; exit 2 ;;
esac
cd "$root"

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files)
else
  mapfile -t files < <(find . -path ./.git -prune -o -path './build*' -prune -o -type f -print | sed 's|^\./||' | sort)
fi

missing=()
for file in "${files[@]}"; do
  [[ -f $file ]] || continue
  first=
  second=
  { IFS= read -r first || true; IFS= read -r second || true; } <"$file" 2>/dev/null
  # The comment line the file takes, if any.
  case $file in
    fuzz/corpus/*) continue ;;
    *.c | *.cc | *.cpp | *.h | *.hpp | *.h.in) line="// $identifier" ;;
    *.sh | CMakeLists.txt | */CMakeLists.txt | *.cmake) line="# $identifier" ;;
    *) [[ $first == '#!'* ]] || continue; line="# $identifier" ;;
  esac
  # The line goes first, or second after a #! line.
  at=1
  present=$first
  if [[ $first == '#!'* ]]; then
    at=2
    present=$second
  fi
  [[ $present == "$line" ]] && continue
  if [[ $mode == --check ]]; then
    missing+=("$file")
    continue
  fi
  # Written into the same file, so its mode stays.
  content=$(awk -v at="$at" -v line="$line" 'NR == at { print line } { print } END { if (NR < at) print line }' "$file"; echo x)
  printf '%s' "${content%x}" >"$file"
  echo "added: $file"
done

if ((${#missing[@]} > 0)); then
  printf '%s\n' "${missing[@]}"
  echo "spdx.sh: ${#missing[@]} file(s) without \"$identifier\" at the top; scripts/spdx.sh --fix adds it" >&2
  exit 1
fi
[[ $mode == --check ]] && echo "spdx.sh: every source, script and CMake file carries \"$identifier\""
exit 0
