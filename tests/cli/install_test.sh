#!/usr/bin/env bash
# Installs the build into a temporary prefix and packages it as a Debian archive, then checks
# that both hold the program, its manual page and its bash completion, that the installed
# program states the project version, and that the manual renders without warnings.
set -u
export LC_ALL=C
build=$1
version=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() {  # check NAME COMMAND...: one ok/FAIL line per condition
  local name=$1
  shift
  if "$@" >"$work/check.out" 2>&1; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    sed 's/^/     /' "$work/check.out"
    failed=$((failed + 1))
  fi
}
installed_files=(bin/tarnwick share/man/man1/tarnwick.1 share/bash-completion/completions/tarnwick)

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
for file in "${installed_files[@]}"; do
  check "installs $file" test -s "$work/prefix/$file"
done
check "the installed program is executable" test -x "$work/prefix/bin/tarnwick"
check "the completion is the source's" cmp "$root/completion/tarnwick.bash" "$work/prefix/share/bash-completion/completions/tarnwick"
for word in version --version; do
  check "tarnwick $word prints the project version" \
    test "$("$work/prefix/bin/tarnwick" "$word")" = "tarnwick $version"
done

man_page="$work/prefix/share/man/man1/tarnwick.1"
check "the manual names the project version" grep -q "^\.TH TARNWICK 1 .*\"tarnwick $version\"" "$man_page"
MANWIDTH=80 man --warnings -l "$man_page" >"$work/man.txt" 2>"$work/man.err"
check "man -l renders the manual" test -s "$work/man.txt"
check "man -l gives no warnings" test ! -s "$work/man.err"
check "groff finds nothing to warn about" bash -c "groff -ww -man -z '$man_page' 2>&1 | (! grep .)"
sections=(NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "FILE KINDS" "TENSOR LAB" ENVIRONMENT "EXIT STATUS" EXAMPLES)
for section in "${sections[@]}"; do
  check "the manual has the section $section" grep -qx "$section" "$work/man.txt"
done
# Each command table entry opens with {"word", {"alias", ...}, handler.
table_words=$(grep -oE '^ *\{"[^"]+", \{[^}]*\}, [a-z_]+_command' "$root/src/cli/command_table.cpp" |
  grep -oE '"[^"]+"' | tr -d '"')
check "the command table's words are found" test "$(echo "$table_words" | wc -w)" -ge 30
for word in $table_words; do
  check "the manual names the command word $word" grep -qw -- "$word" "$work/man.txt"
done
for option in $(grep -rhoE '"--[a-z-]+"' "$root/src" | tr -d '"' | sort -u); do
  check "the manual names the option $option" grep -qw -- "$option" "$work/man.txt"
done
check "the manual names VESPRINE_PYTHON" grep -q VESPRINE_PYTHON "$work/man.txt"

# The Debian package, built from the same install rules into a scratch directory.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/package/tarnwick_"$version"_*.deb 2>/dev/null | head -n 1)
check "cpack builds tarnwick_${version}_<arch>.deb" test -n "$deb"
if [ -n "$deb" ]; then
  dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/package.list"
  for file in "${installed_files[@]}"; do
    check "the package holds /usr/$file" grep -qx "./usr/$file" "$work/package.list"
  done
  check "the package is named tarnwick" test "$(dpkg-deb -f "$deb" Package)" = tarnwick
  check "the package depends on the C++ runtime" bash -c "dpkg-deb -f '$deb' Depends | grep -q libstdc++6"
  if ldd "$work/prefix/bin/tarnwick" | grep -q libxxhash; then
    check "the package depends on libxxhash0" bash -c "dpkg-deb -f '$deb' Depends | grep -q libxxhash0"
  fi
  check "the package recommends bash-completion" bash -c "dpkg-deb -f '$deb' Recommends | grep -q bash-completion"
  check "the packaged program is stripped" bash -c \
    "dpkg-deb -x '$deb' '$work/unpacked' && file '$work/unpacked/usr/bin/tarnwick' | grep -q ', stripped'"
fi

# `make install PREFIX=...` is the same cmake install into that prefix, stripped; `make demo`
# builds the program alone.
check "make install passes PREFIX to cmake --install, stripped" \
  bash -c "make -n -C '$root' install PREFIX=/opt/x BUILD='$build' | grep -q -- \"cmake --install $build --prefix /opt/x --strip\""
check "make demo builds only the program" \
  bash -c "make -n -C '$root' demo BUILD='$build' | grep -q -- '--target tarnwick'"

echo "install and package: $failed failed"
[ "$failed" -eq 0 ]
