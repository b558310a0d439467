#!/usr/bin/env bash
# Checks the Debian packages `make deb` built: the program stripped, its manual page and bash
# completion in step with the program's own help, the shared library with its SONAME and
# ldconfig trigger, the development files, the licence in every package, and no lintian error.
#
#   tests/install/check-deb.sh DEB_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DEB_DIR" >&2; exit 2; }
debs=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "deb check: $*" >&2; exit 1; }
step() { echo "deb check: $*"; }

for tool in dpkg-deb readelf groff lintian; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps --test installs it)"
done

deb_of() {
  local found
  found=$(find "$debs" -maxdepth 1 -name "$1_*.deb" | sort | tail -n1)
  [ -n "$found" ] || fail "no $1 package in $debs"
  echo "$found"
}
program_deb=$(deb_of ktinet)
runtime_deb=$(deb_of libktinet0)
dev_deb=$(deb_of libktinet-dev)
root=$work/root
for deb in "$program_deb" "$runtime_deb" "$dev_deb"; do dpkg-deb -x "$deb" "$root"; done
has() { [ -e "$root/$1" ] || fail "$(basename "$2") lacks /$1"; }

step "the program"
has usr/bin/ktinet "$program_deb"
if readelf -S "$root/usr/bin/ktinet" | grep -qE '\.debug_|\.symtab'; then fail "/usr/bin/ktinet is not stripped"; fi
dpkg-deb -f "$program_deb" Depends | grep -q 'libktinet0' || fail "ktinet does not depend on libktinet0"
# The packaged program runs from the unpacked tree: it finds its library beside its prefix.
help=$("$root/usr/bin/ktinet" --help) || fail "the packaged program does not run"
commands=$(echo "$help" | sed -n '/^Commands:/,/^$/p' | awk '/^  [a-z]/ {print $1}')
[ "$(echo "$commands" | wc -l)" -gt 10 ] || fail "could not read the command list from ktinet --help"

step "the manual page"
man=$root/usr/share/man/man1/ktinet.1.gz
has usr/share/man/man1/ktinet.1.gz "$program_deb"
gzip -t "$man" || fail "the manual page is not gzip-compressed"
warnings=$(zcat "$man" | groff -man -Tutf8 -ww -z 2>&1 || true)
[ -z "$warnings" ] || fail "groff warns about the manual page:"$'\n'"$warnings"
# (Here-strings rather than pipes into grep -q, whose early exit would fail a pipeline.)
page=$(zcat "$man" | groff -man -Tutf8 -P-c -P-b -P-u 2>/dev/null)
squeezed=$(sed 's/  */ /g' <<<"$page")
grep -q '^NAME' <<<"$page" || fail "the manual page has no NAME section"
for cmd in $commands; do
  grep -qE "^   $cmd\$" <<<"$page" || fail "the manual page has no section for '$cmd'"
  usage=$("$root/usr/bin/ktinet" "$cmd" --help | sed -n '1s/  */ /gp')
  grep -qF -- "$usage" <<<"$squeezed" || fail "the manual page lacks the usage of '$cmd': $usage"
done

step "the bash completion"
completion=$root/usr/share/bash-completion/completions/ktinet
has usr/share/bash-completion/completions/ktinet "$program_deb"
complete_words() {
  # shellcheck disable=SC2016
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ktinet; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$@"
}
offered=$(complete_words ktinet '')
for cmd in $commands; do
  grep -qx -- "$cmd" <<<"$offered" || fail "the completion does not offer the command '$cmd'"
done
[ "$(complete_words ktinet htt)" = http ] || fail "the completion of 'ktinet htt' is not 'http'"
options=$(complete_words ktinet update --)
for option in --user --password --resume --no-window --cacert --help; do
  grep -qx -- "$option" <<<"$options" || fail "the completion of 'ktinet update --' lacks $option"
done
if grep -qx -- --include <<<"$options"; then fail "the completion offers another command's option"; fi

step "the libraries and development files"
lib=$(find "$root/usr/lib" -name 'libktinet.so.0' | head -n1)
[ -n "$lib" ] || fail "libktinet0 holds no libktinet.so.0"
readelf -d "$lib" | grep -q 'SONAME.*\[libktinet\.so\.0\]' || fail "libktinet.so.0 has no SONAME"
if readelf -S "$(readlink -f "$lib")" | grep -q '\.debug_'; then fail "libktinet.so.0 is not stripped"; fi
dpkg-deb -e "$runtime_deb" "$work/control"
grep -q 'libktinet 0 libktinet0' "$work/control/shlibs" || fail "libktinet0 has no shlibs entry"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "libktinet0 does not trigger ldconfig"
for f in usr/include/ktinet/core/KtInBase.h usr/include/ktinet/protocols/KtITime.h; do has "$f" "$dev_deb"; done
for name in libktinet.so libktinet.a pkgconfig/ktinet.pc pkgconfig/ktinet-static.pc cmake/ktinet/ktinetConfig.cmake; do
  [ -n "$(find "$root/usr/lib" -path "*/$name")" ] || fail "libktinet-dev lacks $name"
done

step "the licence"
permission=$(sed -n '/^Permission is hereby granted/,$p' "$src/LICENSE" | sed 's/^$/./;s/^/ /')
for package in ktinet libktinet0 libktinet-dev; do
  copyright=$root/usr/share/doc/$package/copyright
  [ -f "$copyright" ] || fail "$package has no /usr/share/doc/$package/copyright"
  grep -q '^Copyright: .*the ktinet developers' "$copyright" || fail "$package's copyright file names no copyright holder"
  [ "$(sed -n '/^License: MIT$/,$p' "$copyright" | tail -n +2 | tail -n "$(echo "$permission" | wc -l)")" = "$permission" ] ||
    fail "$package's copyright file does not carry the MIT licence of LICENSE"
done

step "lintian"
report=$(lintian "$program_deb" "$runtime_deb" "$dev_deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "$report" | sed 's/^/  /'
if grep -q '^E: ' <<<"$report"; then fail "lintian reports errors"; fi

step "passed"
