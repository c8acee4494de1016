#!/usr/bin/env bash
# test_package.sh BUILD_DIR: the Debian package as a user gets it: files, dependencies, icon,
# desktop entry, and how korvant-launcher picks and seeds the working folder (a stub as the tool).
set -uo pipefail

build=$(cd "${1:?usage: test_package.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "PASS: $1"; }
bad() { failed=$((failed + 1)); echo "FAIL: $1"; }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}
mode_of() { stat -c %a "$1"; }
user_writable() { [ $((8#$(mode_of "$1") & 8#200)) -ne 0 ]; }

# --- the package -------------------------------------------------------------------------------
# Packs what the build made: cpack's "make preinstall" would rebuild programs other tests may be
# running; naming Ninja (which need not be installed) leaves that step out.
cat >"$work/CPackConfig.cmake" <<EOF
include("$build/CPackConfig.cmake")
set(CPACK_CMAKE_GENERATOR Ninja)
EOF
if ! (cd "$build" && cpack -G DEB -B "$work/out" --config "$work/CPackConfig.cmake") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    bad "cpack builds the package"
    finish
fi
debs=("$work"/out/korvant_*.deb)
deb=${debs[0]}
[ ${#debs[@]} -eq 1 ] && [ -f "$deb" ] || { bad "cpack made one korvant_VERSION_ARCH.deb (found: ${debs[*]})"; finish; }
ok "cpack builds $(basename "$deb")"

root="$work/root"
dpkg-deb -x "$deb" "$root"

check "package name is korvant" [ "$(dpkg-deb -f "$deb" Package)" = korvant ]
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libqt6serialport6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-ipafont-gothic; do
    check "depends on $p" grep -Eq "(^|, )$p( |,|$)" <<<"$depends"
done

# Exactly these files, with these modes: the defaults read-only for everyone, no test programs.
expected="-rwxr-xr-x ./usr/bin/korvant-cli
-rwxr-xr-x ./usr/bin/korvant-debug
-rwxr-xr-x ./usr/bin/korvant-launcher
-rwxr-xr-x ./usr/bin/korvant-report
-rwxr-xr-x ./usr/bin/korvant-sim
-rw-r--r-- ./usr/share/applications/korvant.desktop
-rw-r--r-- ./usr/share/bash-completion/completions/korvant-cli
-rw-r--r-- ./usr/share/doc/korvant/changelog.gz
-rw-r--r-- ./usr/share/doc/korvant/copyright
-rw-r--r-- ./usr/share/icons/hicolor/32x32/apps/korvant.png
-r--r--r-- ./usr/share/korvant/sys/kv.ico
-r--r--r-- ./usr/share/korvant/sys/set.rc
-r--r--r-- ./usr/share/korvant/sys/tm.rc
-rw-r--r-- ./usr/share/man/man1/korvant-cli.1.gz
-rw-r--r-- ./usr/share/man/man1/korvant-debug.1.gz
-rw-r--r-- ./usr/share/man/man1/korvant-report.1.gz
-rw-r--r-- ./usr/share/man/man1/korvant-sim.1.gz"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $6}' | sort -k2)
check "file list and modes" diff <(echo "$expected") <(echo "$actual")

# Version on stdout, without a display; run, each finds its libraries.
version=$(dpkg-deb -f "$deb" Version)
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" 2>/dev/null; }
for p in korvant-debug korvant-cli korvant-sim korvant-report; do
    check "$p --version says $p $version" [ "$(nodisplay "$root/usr/bin/$p" --version)" = "$p $version" ]
done
check "korvant-debug --help without a display" bash -c "$(declare -f nodisplay); nodisplay '$root/usr/bin/korvant-debug' --help | grep -q -- '--traffic-log <FILE>'"

# Manual pages from each program's help (help2man reads it on stdout): its name, one of its options, gzip-compressed.
for page in korvant-debug:traffic korvant-cli:baud korvant-sim:module; do
    p=${page%%:*}
    man=$(zcat "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null)
    check "man page of $p names it and its --${page#*:}" bash -c 'grep -q "^\.SH NAME" <<<"$1" && grep -qF "$2 \- " <<<"$1" && grep -qF "\-\-$3" <<<"$1"' _ "$man" "$p" "${page#*:}"
done
# The licence in Debian's machine-readable copyright format; the changelog's first entry is this version.
doc="$root/usr/share/doc/korvant"
check "copyright names GPL-3.0-or-later" bash -c "grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' '$doc/copyright' && grep -qx 'License: GPL-3.0-or-later' '$doc/copyright'"
check "changelog starts with korvant ($version)" bash -c "zcat '$doc/changelog.gz' | head -1 | grep -q '^korvant ($version) '"
# The shell tool runs where there is no display: QtCore and QtSerialPort, never Gui or Widgets.
check "korvant-cli links no Qt GUI library" bash -c "ldd '$root/usr/bin/korvant-cli' >'$work/ldd' && grep -q libQt6SerialPort '$work/ldd' && ! grep -Eq 'libQt6(Gui|Widgets)' '$work/ldd'"

# The bash completion as installed: subcommands, options (each subcommand's are test_core's), every
# model spelling, the ports there are.
completion="$root/usr/share/bash-completion/completions/korvant-cli"
complete_words() { # complete_words WORD... : what the completion offers for the last word
    PATH="$root/usr/bin:$PATH" bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _korvant_cli; echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
while IFS='|' read -r words offered; do
    # shellcheck disable=SC2086
    check "completion of '$words' offers '$offered'" [ "$(complete_words korvant-cli $words)" = "$offered" ]
done <<'EOF'
s|scan set-address set-comm survey site
site c|check
f|find
read KV55|KV5510ADAM KV5520ADAM KV5530ADAM KV5540ADAM KV5550ADAM
write kv17|kv1710adam kv1720adam kv1730adam kv1740adam
poll 77|7710 7720
scan -|--port --timeout --json --quiet
--port COM|COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9
EOF
# Every device offered for --port is one korvant-cli ports lists; never a virtual console.
ports=$(complete_words korvant-cli --port /)
listed=$("$root/usr/bin/korvant-cli" ports 2>/dev/null | awk '{print $1; if ($3 != "-") print $3}' | sort | tr '\n' ' ')
check "completion offers for --port the devices ports lists ($ports)" [ "$(tr ' ' '\n' <<<"$ports" | sed '/^$/d' | sort | tr '\n' ' ')" = "$listed" ]
check "completion offers no /dev/ttyN" bash -c '! grep -Eq "/dev/tty[0-9]" <<<"$1"' _ "$ports"

# The menu icon: a 32x32 PNG (signature, then the IHDR width and height).
png="$root/usr/share/icons/hicolor/32x32/apps/korvant.png"
check "icon is a PNG" [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
check "icon is 32x32" [ "$(dd if="$png" bs=1 skip=16 count=8 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 0000002000000020 ]

# --- the desktop entry -------------------------------------------------------------------------
desktop="$root/usr/share/applications/korvant.desktop"
# desktop-file-validate comes with desktop-file-utils (scripts/deps.sh).
check "desktop-file-validate accepts the entry" desktop-file-validate "$desktop"
# It starts korvant-launcher, with the installed korvant.png, without a terminal.
for line in Exec=korvant-launcher Icon=korvant Terminal=false "Categories=Development;Electronics;" "Name=..*" "Comment=..*"; do
    check "entry has $line" grep -qx "$line" "$desktop"
done

# --- the launcher ------------------------------------------------------------------------------
launcher="$root/usr/bin/korvant-launcher"
stub="$work/stub"
cat >"$stub" <<'EOF'
#!/bin/sh
pwd -P
printf 'arg:%s\n' "$@" >&2
exit 7
EOF
chmod +x "$stub"

# run_launcher HOME DIR [VAR=VALUE...]: the launcher ($via, else the installed one) in DIR with a
# clean environment; the stub prints its working folder into $work/cwd.
run_launcher() {
    local home=$1 dir=$2
    shift 2
    mkdir -p "$home"
    (cd "$dir" && env -i PATH="$PATH" HOME="$home" KORVANT_BIN="$stub" "$@" "${via:-$launcher}" "${args[@]}") >"$work/cwd" 2>"$work/err"
}
args=()
cwd_is() { [ "$(cat "$work/cwd")" = "$(cd "$1" && pwd -P)" ]; }

# A first start: the per-user folder is made and seeded with writable copies of the defaults.
home="$work/home1"
mkdir -p "$work/elsewhere"
run_launcher "$home" "$work/elsewhere"
status=$?
user="$home/.local/share/korvant"
check "launcher passes on the tool's exit status" [ "$status" -eq 7 ]
check "first start runs in ~/.local/share/korvant" cwd_is "$user"
for f in kv.ico set.rc tm.rc; do
    check "first start seeds sys/$f" cmp -s "$source_dir/sys/$f" "$user/sys/$f"
    check "seeded sys/$f is writable by its owner" user_writable "$user/sys/$f"
done

# A later start keeps the user's own files and only fills in what is missing.
printf '3\r\n19200\r\nEven\r\n' >"$user/sys/set.rc"
cp "$user/sys/set.rc" "$work/users-set.rc"
rm "$user/sys/tm.rc"
run_launcher "$home" "$work/elsewhere"
check "later start leaves the user's set.rc alone" cmp -s "$work/users-set.rc" "$user/sys/set.rc"
check "later start restores a missing tm.rc" cmp -s "$source_dir/sys/tm.rc" "$user/sys/tm.rc"
check "later start runs in the same folder" cwd_is "$user"

# The arguments reach the tool; a relative traffic log is made absolute, since the tool runs elsewhere.
args=(--traffic-log "my log.txt" --traffic-log=/abs/log --traffic-log=rel.log -x "")
run_launcher "$home" "$work/elsewhere"
args=()
here=$(cd "$work/elsewhere" && pwd -P)
check "launcher passes its arguments on" diff <(printf 'arg:%s\n' --traffic-log "$here/my log.txt" --traffic-log=/abs/log --traffic-log="$here/rel.log" -x "") "$work/err"

# XDG_DATA_HOME moves the per-user folder; a relative one is ignored.
home="$work/home2"
run_launcher "$home" "$work/elsewhere" XDG_DATA_HOME="$work/xdg"
check "XDG_DATA_HOME holds the per-user folder" cwd_is "$work/xdg/korvant"
check "XDG_DATA_HOME folder is seeded" cmp -s "$source_dir/sys/set.rc" "$work/xdg/korvant/sys/set.rc"
run_launcher "$home" "$work/elsewhere" XDG_DATA_HOME=relative/data
check "relative XDG_DATA_HOME is ignored" cwd_is "$home/.local/share/korvant"

# A folder with its own sys/ (a portable install) is used as it is.
home="$work/home3"
mkdir -p "$work/portable/sys"
printf '2\r\n4800\r\nNone\r\n' >"$work/portable/sys/set.rc"
run_launcher "$home" "$work/portable"
check "portable folder is used in place" cwd_is "$work/portable"
check "portable start makes no per-user folder" [ ! -e "$home/.local/share/korvant" ]
check "portable start copies nothing in" [ "$(ls "$work/portable/sys")" = set.rc ]

# A sys/ folder that holds none of the tool's files (say ~/sys of something else) is not one.
mkdir -p "$work/unrelated/sys"
run_launcher "$home" "$work/unrelated"
check "foreign sys/ folder is not taken for a portable one" cwd_is "$home/.local/share/korvant"

# Started through a symbolic link, the launcher still finds the defaults beside its real place.
mkdir -p "$work/links"
ln -s "$launcher" "$work/links/korvant-launcher"
via="$work/links/korvant-launcher" run_launcher "$work/home4" "$work/elsewhere"
check "through a link: defaults still found" cmp -s "$source_dir/sys/tm.rc" "$work/home4/.local/share/korvant/sys/tm.rc"

# Without KORVANT_BIN the launcher starts the korvant-debug that lies beside it.
fake="$work/fake"
mkdir -p "$fake/bin"
cp -a "$root/usr/share" "$fake/share"
cp "$launcher" "$fake/bin/korvant-launcher"
cp "$stub" "$fake/bin/korvant-debug"
via="$fake/bin/korvant-launcher" run_launcher "$work/home5" "$work/elsewhere" KORVANT_BIN= PATH=/usr/bin:/bin
check "default program is bin/korvant-debug beside the launcher" cwd_is "$work/home5/.local/share/korvant"

finish
