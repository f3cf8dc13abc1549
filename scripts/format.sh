#!/usr/bin/env bash
# Formats the repository's tracked files in place: C and C++ with clang-format
# (.clang-format), Python with black (pyproject.toml).
# With --check it changes nothing, lists the files that are not formatted and
# fails when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
for arg in "$@"; do
  case "$arg" in
    --check) check=1 ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
  esac
done

for tool in clang-format black; do
  command -v "$tool" > /dev/null || { echo "$0: $tool not found; scripts/setup.sh installs it" >&2; exit 2; }
done
# Versions break lines differently; the style is kept with Debian 12's.
clang_major=$(clang-format --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
if [ "$clang_major" != 14 ]; then
  echo "$0: warning: clang-format $clang_major, the style is kept with clang-format 14" >&2
fi

# Every C and C++ file is the project's own; text that is not (test data, the
# fuzzer's seeds, CMake templates such as buildInfo.h.in) has other endings.
mapfile -t sources < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp' '*.hxx')
mapfile -t scripts < <(git ls-files -- '*.py')

if [ "$check" -eq 0 ]; then
  clang-format -i -- "${sources[@]}"
  black --quiet -- "${scripts[@]}"
  exit 0
fi

unformatted=()
for f in "${sources[@]}"; do
  clang-format -- "$f" | cmp -s - "$f" || unformatted+=("$f")
done
# black names each file it would change, on stderr: "would reformat <file>".
while IFS= read -r line; do
  case "$line" in "would reformat "*) unformatted+=("${line#would reformat }") ;; esac
done < <(black --check -- "${scripts[@]}" 2>&1 || true)

if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted (./scripts/format.sh formats them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "${#sources[@]} C/C++ and ${#scripts[@]} Python files formatted"
