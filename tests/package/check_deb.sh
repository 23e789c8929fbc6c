#!/usr/bin/env bash
# Builds the Debian package from the build tree into a scratch folder (no root, nothing installed)
# and checks what a seller's machine would get: the paths, the control fields, the desktop entry
# and AppStream data, lintian's verdict, and where the menu launcher runs the program.
# Usage: check_deb.sh BUILD_DIR DEB_VERSION APP_ID
set -uo pipefail
# The checks match Chinese text: the same answer whatever locale the caller runs in.
export LC_ALL=C.UTF-8
build=$1 version=$2 id=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack did not build the package" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
deb="$scratch/out/vantero_${version}_${arch}.deb"
[ -f "$deb" ] || { ls "$scratch/out" >&2; echo "FAIL: no $deb" >&2; exit 1; }

# Paths. Every listed file must be there, and nothing outside the expected folders.
dpkg-deb -c "$deb" >"$scratch/contents" || fail "dpkg-deb -c"
expected=(
    ./usr/bin/vantero
    ./usr/bin/vantero-cli
    ./usr/libexec/vantero/vantero-menu-start
    "./usr/share/applications/$id.desktop"
    "./usr/share/metainfo/$id.metainfo.xml"
    "./usr/share/icons/hicolor/scalable/apps/$id.svg"
    ./usr/share/man/man1/vantero.1.gz
    ./usr/share/man/man1/vantero-cli.1.gz
    ./usr/share/man/zh_CN/man1/vantero.1.gz
    ./usr/share/man/zh_CN/man1/vantero-cli.1.gz
    ./usr/lib/systemd/user/vantero-update.service
    ./usr/lib/systemd/user/vantero-update.timer
    ./usr/share/doc/vantero/README.md
    ./usr/share/doc/vantero/manual/index.html
    ./usr/share/doc/vantero/manual/images/main.png
    ./usr/share/doc/vantero/LICENSE
    ./usr/share/doc/vantero/copyright
    ./usr/share/doc/vantero/changelog.Debian.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
paths=$(awk '{print $NF}' "$scratch/contents")
for p in "${expected[@]}"; do
    grep -qxF "$p" <<<"$paths" || fail "missing $p"
done
unexpected=$(grep -v '/$' <<<"$paths" | grep -vE '^\./usr/(bin|libexec/vantero|lib/systemd/user|share/(applications|metainfo|icons/hicolor|man/(zh_CN/)?man1|doc/vantero))/')
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"
for p in ./usr/bin/vantero ./usr/bin/vantero-cli ./usr/libexec/vantero/vantero-menu-start; do
    grep -E " $p\$" "$scratch/contents" | grep -q '^-rwxr-xr-x root/root ' || fail "$p is not an executable owned by root"
done

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vantero ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = x11 ] || fail "Section is '$(field Section)'"
field Maintainer | grep -qE '^[^<]+ <[^>]+@[^>]+>$' || fail "Maintainer is '$(field Maintainer)'"
[ "$(field Description | wc -l)" -ge 3 ] || fail "Description has no long description"
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ *(.*//')
# Not linked, loaded at run time: must be named explicitly.
for pkg in libqt6sql6-sqlite qt6-translations-l10n fonts-wqy-microhei libqt6svg6; do
    grep -qxF "$pkg" <<<"$depends" || fail "Depends lacks $pkg"
done
# Linked: must come from the binaries' shared libraries.
for pkg in libc6 libqt6core6 libqt6widgets6 libqt6webenginewidgets6 libsqlite3-0 libsecret-1-0; do
    grep -qxF "$pkg" <<<"$depends" || fail "Depends lacks the linked $pkg"
done

# The installed files as the desktop and software centres read them.
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
desktop="$root/usr/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >"$scratch/as.log" 2>&1 ||
    { cat "$scratch/as.log" >&2; fail "appstreamcli validate"; }
grep -qx 'Categories=Office;Finance;' "$desktop" || fail "Categories"
grep -qx "Icon=$id" "$desktop" || fail "Icon"
grep -qx 'Exec=/usr/libexec/vantero/vantero-menu-start' "$desktop" || fail "Exec: $(grep ^Exec= "$desktop")"
grep -qP '^Name=.*\p{Han}' "$desktop" || fail "Name is not Chinese"
grep -qP '^Comment=\p{Han}' "$desktop" || fail "Comment is not Chinese"
grep -qP '<summary>\p{Han}' "$root/usr/share/metainfo/$id.metainfo.xml" || fail "summary is not Chinese"

lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1 ||
    { cat "$scratch/lintian.log" >&2; fail "lintian reports errors"; }

# The menu launcher runs the program in the per-user data folder, creating it; a stand-in program
# records where it was started.
mv "$root/usr/bin/vantero" "$root/usr/bin/vantero.real"
printf '#!/bin/sh\npwd > "%s"\n' "$scratch/started-in" >"$root/usr/bin/vantero"
chmod +x "$root/usr/bin/vantero"
launch() {
    rm -f "$scratch/started-in"
    (cd / && env -u XDG_DATA_HOME HOME="$scratch/home" "$@" "$root/usr/libexec/vantero/vantero-menu-start")
    cat "$scratch/started-in" 2>/dev/null
}
mkdir -p "$scratch/home"
[ "$(launch)" = "$scratch/home/.local/share/vantero" ] || fail "default folder: '$(launch)'"
[ "$(stat -c %a "$scratch/home/.local/share/vantero")" = 700 ] || fail "data folder is not private"
[ "$(launch XDG_DATA_HOME="$scratch/xdg")" = "$scratch/xdg/vantero" ] || fail "XDG_DATA_HOME not used"
[ "$(launch XDG_DATA_HOME=relative/path)" = "$scratch/home/.local/share/vantero" ] ||
    fail "a relative XDG_DATA_HOME must be ignored"


# The timed update runs the command line through the same launcher, so in the same folder.
mv "$root/usr/bin/vantero-cli" "$root/usr/bin/vantero-cli.real"
printf '#!/bin/sh\n{ pwd; echo "$*"; } > "%s"\n' "$scratch/started-in" >"$root/usr/bin/vantero-cli"
chmod +x "$root/usr/bin/vantero-cli"
launch_cli() {
    rm -f "$scratch/started-in"
    (cd / && env -u XDG_DATA_HOME HOME="$scratch/home" "$root/usr/libexec/vantero/vantero-menu-start" --cli update-all)
    cat "$scratch/started-in" 2>/dev/null
}
[ "$(launch_cli)" = "$scratch/home/.local/share/vantero
update-all" ] || fail "the launcher's --cli: '$(launch_cli)'"
mv "$root/usr/bin/vantero-cli.real" "$root/usr/bin/vantero-cli"
mv "$root/usr/bin/vantero.real" "$root/usr/bin/vantero"

# The user service and timer: the launcher's absolute path, not enabled by the package (no
# maintainer scripts), and valid for systemd where its analyser is present.
units="$root/usr/lib/systemd/user"
grep -qx 'ExecStart=/usr/libexec/vantero/vantero-menu-start --cli update-all' "$units/vantero-update.service" ||
    fail "service: $(grep ^ExecStart= "$units/vantero-update.service")"
grep -qx 'WantedBy=timers.target' "$units/vantero-update.timer" || fail "timer is not wanted by timers.target"
dpkg-deb -e "$deb" "$scratch/control"
ls "$scratch/control" | grep -qE '^(postinst|preinst|prerm|postrm)$' && fail "the package has maintainer scripts"
if command -v systemd-analyze >/dev/null; then
    # The analyser checks that ExecStart exists (point it into the unpacked package) and, without
    # --man=no, that the manual page is installed on this machine.
    sed "s|^ExecStart=/|ExecStart=$root/|" "$units/vantero-update.service" >"$scratch/vantero-update.service"
    cp "$units/vantero-update.timer" "$scratch/"
    (cd "$scratch" && systemd-analyze verify --man=no ./vantero-update.service ./vantero-update.timer) >"$scratch/verify.log" 2>&1 ||
        fail "systemd-analyze verify: $(cat "$scratch/verify.log")"
    [ -s "$scratch/verify.log" ] && fail "systemd-analyze verify: $(cat "$scratch/verify.log")"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package $deb: contents, fields, desktop entry, AppStream data, lintian, launcher and units OK"
