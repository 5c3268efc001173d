#!/usr/bin/env bash
# The package's zip as an administrator uses it: unpacked into a fresh Wine
# prefix of its own, its checksums and contents checked, installed from the
# unpacked folder with drvinst.exe /quiet, a job played through the
# installed jobtap.dll (demo.exe --installed), uninstalled with /quiet (3010:
# the second phase waits for the restart), the restart played by ending the
# prefix's server (Wine runs RunOnce at the next start), and the state
# checked afterwards from a fresh process (instdemo.exe check): nothing of
# the package left.
#   zip_test.sh ARCH BUILDDIR ZIP
set -u
arch=$1; bdir=$(cd "$2" && pwd); zip=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
export KZT_PREFIX=package
prefix="$bdir/wineprefix-$KZT_PREFIX"
wr() { "$root/tests/support/wine-run" "$arch" "$bdir" "$@"; }
failures=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok    $1"; else echo "FAIL  $1: expected $2, got $3"; failures=$((failures + 1)); fi
}

[ -f "$zip" ] || { echo "FAIL  no $zip"; exit 1; }
WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
rm -rf "$prefix"
wr up
folder=$(basename "$zip" .zip)
(cd "$prefix/drive_c" && cmake -E tar xf "$zip") || { echo "FAIL  unzip"; exit 1; }
package="$prefix/drive_c/$folder"

# One folder; the shipped files and nothing else.
check "one folder in the zip" "$folder" "$(ls "$prefix/drive_c" | grep -x "$folder")"
expected="KZTTZ.HLP KZTTZ1000.DAT KZTTZ2000.DAT KZTTZDRV.DLL KZTTZPP.DLL KZTTZRES.DLL KZTTZUIF.DLL LICENSE SHA256SUMS TZ.INF admin-guide.ja.md admin-guide.md drvinst.exe jobtap.dll vigil.exe"
check "files" "$expected" "$(cd "$package" && LC_ALL=C ls | tr '\n' ' ' | sed 's/ $//')"
check "SHA256SUMS" "0" "$(cd "$package" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1; echo $?)"

# The quiet install from the unpacked folder, with its log where /log says.
(cd "$package" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" LPT1: /Install /quiet /log install.log)
check "quiet install exit code" 0 $?
check "install log ends with the exit code" 1 "$(grep -c 'DBG Quiet() exit code 0' "$package/install.log")"
(cd "$bdir/bin" && wr ./demo.exe --installed) > "$bdir/package-demo.log" 2>&1
check "a job through the installed jobtap (package-demo.log)" 0 $?
check "the job reached the port whole" 1 "$(grep -c 'complete and in order' "$bdir/package-demo.log")"

(cd "$package" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" LPT1: /Uninstall /quiet)
# Wine hands a Windows exit code to the shell as its low 8 bits.
check "quiet uninstall exit code (3010, low 8 bits)" $((3010 & 255)) $?

# The restart: the prefix's server ends, and its next start runs RunOnce
# (the second phase, quiet as the first) before the next program.
WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
(cd "$bdir/bin" && wr ./instdemo.exe check) > "$bdir/package-check.log" 2>&1
check "nothing of the package left (package-check.log)" 0 $?
check "no RunOnce entry left" 0 "$(grep -c 'RunOnce entry left behind' "$bdir/package-check.log")"

WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
[ "$failures" = 0 ] && echo "package test passed" || { cat "$bdir/package-check.log"; exit 1; }
