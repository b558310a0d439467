#!/usr/bin/env bash
# The library as an application developer meets it. Installs the build into a temporary prefix,
# builds the README's example with pkg-config (shared and static) and with a CMake project that
# uses find_package(ktinet), and runs every build against a daytime server on loopback: the
# answer, a refused connection and a read time-out. A program using TKtWebUpdater, linked with
# `pkg-config --libs ktinet`, downloads a file from a loopback HTTP server. Any fault of the
# install fails the test: a header that includes another by a short path or names one that was
# not installed, a library without its SONAME or exporting more than the ktinet namespace,
# metadata with wrong paths or a missing dependency, a program that does not load.
#
#   tests/install/consumer.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3

work=$(mktemp -d "${TMPDIR:-/tmp}/ktinet-install.XXXXXX")
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install test: $*" >&2; exit 1; }
step() { echo "install test: $*"; }

# Starts a loopback server; its port lands in $port.
start_server() {
  local out=$work/server.$#.$RANDOM
  "$python" "$here/loopback_server.py" "$@" >"$out" &
  servers+=($!)
  for _ in $(seq 100); do
    port=$(head -n1 "$out" 2>/dev/null || true)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  fail "the loopback server ($*) did not start"
}

step "installing into $work/prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --strip >/dev/null
pc=$(find "$prefix" -name ktinet.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "no ktinet.pc was installed"
pcdir=$(dirname "$pc")
libdir=$(cd "$pcdir/.." && pwd)
export PKG_CONFIG_PATH=$pcdir

step "headers"
[ "$(ls "$prefix/include")" = ktinet ] || fail "the include folder holds more than ktinet/: $(ls "$prefix/include" | tr '\n' ' ')"
folders=$(cd "$prefix/include/ktinet" && ls -d -- */ | tr -d / | paste -sd'|')
if short=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($folders)/" "$prefix/include"); then
  fail "installed headers include others by their short path:"$'\n'"$short"
fi
# Every header, compiled with nothing but the installed tree on the include path.
(cd "$prefix/include" && find ktinet -name '*.h' | sort | sed 's/.*/#include <&>/') >"$work/all_headers.cpp"
echo 'int main() {}' >>"$work/all_headers.cpp"
# shellcheck disable=SC2046
c++ -fsyntax-only -Wall -Wextra $(pkg-config --cflags ktinet) "$work/all_headers.cpp" ||
  fail "the installed headers do not compile on their own"

step "libraries"
lib=$libdir/libktinet.so.$(pkg-config --modversion ktinet | cut -d. -f1)
[ -f "$lib" ] || fail "no $lib"
[ -f "$libdir/libktinet.a" ] || fail "no static library beside the shared one"
readelf -d "$lib" | grep -q "SONAME.*\[$(basename "$lib")\]" || fail "$lib has no SONAME $(basename "$lib")"
exported=$(nm -D --defined-only "$lib" | cut -d' ' -f3- | c++filt)
[ "$(wc -l <<<"$exported")" -gt 100 ] || fail "$lib exports almost nothing"
interface='^((typeinfo( name)?|vtable|VTT|construction vtable|(non-)?virtual thunk|covariant return thunk|guard variable) (for|to) )?ktinet::'
if stray=$(grep -vE "$interface" <<<"$exported" | grep -vx 'KTINET_0'); then
  fail "$lib exports symbols outside the ktinet namespace:"$'\n'"$(echo "$stray" | head -20)"
fi

step "the README example"
sed -n '/^## Using a component/,/^## /p' "$src/README.md" | sed -n '/^```cpp$/,/^```$/p' | sed '1d;$d' >"$work/daytime.cpp"
grep -q 'int main' "$work/daytime.cpp" || fail "no C++ example under 'Using a component' in README.md"

# shellcheck disable=SC2046
c++ -Wall -Wextra "$work/daytime.cpp" $(pkg-config --cflags --libs ktinet) -Wl,-rpath,"$libdir" -o "$work/daytime_pc" ||
  fail "the example does not build with pkg-config --cflags --libs ktinet"
readelf -d "$work/daytime_pc" | grep -q 'NEEDED.*libktinet\.so' || fail "pkg-config ktinet did not link the shared library"
# shellcheck disable=SC2046
c++ -Wall -Wextra "$work/daytime.cpp" $(pkg-config --cflags --libs ktinet-static) -o "$work/daytime_pc_static" ||
  fail "the example does not build with pkg-config --cflags --libs ktinet-static"
if readelf -d "$work/daytime_pc_static" | grep -q 'NEEDED.*libktinet'; then fail "ktinet-static linked the shared library"; fi

cmake -S "$here/project" -B "$work/project" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DEXAMPLE="$work/daytime.cpp" -DCMAKE_BUILD_TYPE=Release >"$work/project.log" 2>&1 ||
  { cat "$work/project.log" >&2; fail "find_package(ktinet) failed"; }
cmake --build "$work/project" >>"$work/project.log" 2>&1 ||
  { cat "$work/project.log" >&2; fail "the CMake project does not build against the install"; }
readelf -d "$work/project/daytime_shared" | grep -q 'NEEDED.*libktinet\.so' || fail "ktinet::ktinet is not the shared library"

examples=("$work/daytime_pc" "$work/daytime_pc_static" "$work/project/daytime_shared" "$work/project/daytime_static")
start_server daytime
for example in "${examples[@]}"; do
  out=$(timeout 60 "$example" 127.0.0.1 "$port") || fail "$(basename "$example") failed against the daytime server"
  [ "$out" = "2026-12-07 13:34:51 UTC" ] || fail "$(basename "$example") printed '$out'"
done
# A port nobody listens on: one the system just gave out and took back.
closed=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for example in "${examples[@]}"; do
  if err=$(timeout 60 "$example" 127.0.0.1 "$closed" 2>&1); then fail "$(basename "$example") succeeded with nothing listening"; fi
  grep -qi 'refused' <<<"$err" || fail "$(basename "$example") printed '$err' for a refused connection"
done
start_server silent
if err=$(timeout 60 "$work/daytime_pc" 127.0.0.1 "$port" 2>&1); then fail "the example succeeded against a silent server"; fi
grep -qi 'timed out' <<<"$err" || fail "the example printed '$err' when the server kept silent"

step "a TKtWebUpdater program linked with pkg-config --libs ktinet"
cat >"$work/updater.cpp" <<'CPP'
#include <ktinet/transfer/ktiupdate.h>

#include <iostream>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  ktinet::TKtWebUpdater updater(nullptr);
  updater.SetService(ktinet::isHTTP);
  updater.SetHost(u"127.0.0.1");
  updater.SetPort(static_cast<ktinet::Word>(std::stoi(argv[1])));
  updater.SetRemoteFileName(ktinet::UTF8ToString(argv[2]));
  updater.SetLocalFileName(ktinet::UTF8ToString(argv[3]));
  updater.StatusDialog()->SetEnabled(false);
  updater.Execute();
  std::cout << (updater.Status() == ktinet::isFinished ? "finished" : "not finished") << "\n";
  return updater.Status() == ktinet::isFinished ? 0 : 1;
}
CPP
# shellcheck disable=SC2046
c++ -Wall -Wextra "$work/updater.cpp" $(pkg-config --cflags --libs ktinet) -Wl,-rpath,"$libdir" -o "$work/updater" ||
  fail "a program using TKtWebUpdater does not link with pkg-config --libs ktinet"
mkdir -p "$work/site"
head -c 200000 /dev/urandom >"$work/site/file.bin"
start_server http "$work/site"
timeout 60 "$work/updater" "$port" /file.bin "$work/file.bin" >/dev/null || fail "the TKtWebUpdater program did not finish its download"
cmp -s "$work/site/file.bin" "$work/file.bin" || fail "the TKtWebUpdater program's download differs from the served file"

step "the installed program"
"$prefix/bin/ktinet" --version | grep -q '^ktinet ' || fail "the installed program does not run from its prefix"
start_server daytime
[ "$("$prefix/bin/ktinet" daytime --host 127.0.0.1 --port "$port")" = "2026-12-07T13:34:51Z" ] ||
  fail "the installed program's daytime command did not print the server's time"

step "passed"
