#!/usr/bin/env bash
# The Debian package: cpack builds it from the build directory; it declares
# its dependencies and holds the programs, their manual pages, the desktop
# entry and the MIME type; unpacked into a scratch root (dpkg -x) its
# programs run from there: mcbrun --version, and an application assembled by
# the package's mcb-as run headless by its mcbrun.
source "$(dirname "$0")/lib.bash"
e2e_init "$1" "$2"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
log=$E2E_TMP/cpack.log
E2E_SHOW="$log"
cd "$E2E_TMP"

version=$(sed -nE 's/^project\(mcb VERSION ([0-9.]+) .*/\1/p' "$SOURCE/CMakeLists.txt")
cpack --config "$BUILD/CPackConfig.cmake" -B "$E2E_TMP/package" >"$log" 2>&1 || e2e_fail "cpack failed"
deb=$E2E_TMP/package/mcb_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || e2e_fail "no package $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Package)" = mcb ] || e2e_fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || e2e_fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libx11-6 fonts-dejavu-core; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$needed" || e2e_fail "Depends lacks $needed: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for file in usr/bin/mcbrun usr/bin/mcb-as usr/bin/mcb-dis usr/share/man/man1/mcbrun.1.gz \
    usr/share/man/man1/mcb-as.1.gz usr/share/man/man1/mcb-dis.1.gz usr/share/applications/mcbrun.desktop \
    usr/share/mime/packages/mcb-application.xml; do
    echo "$contents" | grep -qx "./$file" || e2e_fail "the package lacks $file"
done
if [ -x "$BUILD/mcb-trace" ]; then
    echo "$contents" | grep -qx './usr/bin/mcb-trace' || e2e_fail "the package lacks mcb-trace"
fi

root=$E2E_TMP/root
dpkg -x "$deb" "$root"
out=$("$root/usr/bin/mcbrun" --version) || e2e_fail "the installed mcbrun --version failed"
[ "$out" = "mcbrun $version" ] || e2e_fail "installed mcbrun --version printed '$out'"
mkdir app
"$root/usr/bin/mcb-as" -o app/index.mcb "$SOURCE/tests/e2e/programs/scene.mcbs" || e2e_fail "installed mcb-as failed"
"$root/usr/bin/mcb-dis" app/index.mcb >/dev/null || e2e_fail "installed mcb-dis failed"
"$root/usr/bin/mcbrun" --headless --screenshot shot.png app 2>/dev/null || e2e_fail "installed mcbrun did not run"
e2e_expect_pixel shot.png 0 0 FF0000

# The manual page comes from --help: every option of the help has an entry.
page=$(zcat "$root/usr/share/man/man1/mcbrun.1.gz")
echo "$page" | head -n 1 | grep -q "^\.TH MCBRUN 1 " || e2e_fail "manual page header"
for option in auto keymap help version windowed fullscreen scale portrait window\\\\-position tilt headless \
    screenshot after frames every run\\\\-for events trace; do
    echo "$page" | grep -qE "^\.B (\\\\-h, )?\\\\-\\\\-$option( |$)" || e2e_fail "the manual page has no entry for --$option"
done
echo "$page" | grep -qx '\.SH "EXIT STATUS"' || e2e_fail "the manual page has no exit statuses"
if command -v groff >/dev/null; then
    for tool in mcbrun mcb-as mcb-dis mcb-trace; do
        warnings=$(zcat "$root/usr/share/man/man1/$tool.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || e2e_fail "groff warns about $tool.1: $warnings"
    done
fi
grep -qx 'Exec=mcbrun %f' "$root/usr/share/applications/mcbrun.desktop" || e2e_fail "desktop entry Exec"
echo "PASS package_deb"
