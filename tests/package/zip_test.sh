#!/usr/bin/env bash
# The package's zip as an administrator uses it: unpacked into a fresh Wine
# prefix of its own, its checksums and contents checked (the guides' text as
# Notepad reads it, the screenshots they show), installed from the unpacked
# folder with drvinst.exe /quiet, a job played through the installed
# jobtap.dll (demo.exe --installed), uninstalled with /quiet (3010: the
# second phase waits for the restart), the restart played by ending the
# prefix's server (Wine runs RunOnce at the next start), and the state
# afterwards compared from a fresh process with the state before the
# install (statesnap.exe: spooler, files, registry): nothing of the package
# left, nothing else removed. Then an upgrade over an older package keeps
# every setting of two configured queues (queueconf.exe).
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
expected="KZTTZ.HLP KZTTZ1000.DAT KZTTZ2000.DAT KZTTZDRV.DLL KZTTZPP.DLL KZTTZRES.DLL KZTTZUIF.DLL LICENSE SHA256SUMS TZ.INF admin-guide.ja.md admin-guide.md drvinst.exe jobtap.dll screenshots vigil.exe"
check "files" "$expected" "$(cd "$package" && LC_ALL=C ls | tr '\n' ' ' | sed 's/ $//')"
check "SHA256SUMS" "0" "$(cd "$package" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1; echo $?)"
check "SHA256SUMS covers every file" "$(cd "$package" && find . -type f ! -name SHA256SUMS | wc -l)" \
  "$(grep -c . "$package/SHA256SUMS")"
# Every image a guide shows lies where its link points, and nothing else does.
links=$(cd "$package" && grep -oh '](screenshots/[^)]*)' admin-guide.md admin-guide.ja.md | sed 's/^](//; s/)$//' | LC_ALL=C sort -u | tr '\n' ' ')
check "the guides' screenshots" "$links" "$(cd "$package" && find screenshots -type f | LC_ALL=C sort | tr '\n' ' ')"
# Text as Notepad reads it: CR LF at every line end, the Japanese guide in
# UTF-8 with a byte-order mark (without one Notepad takes the ANSI code page).
for text in admin-guide.md admin-guide.ja.md LICENSE TZ.INF KZTTZ.HLP KZTTZ1000.DAT KZTTZ2000.DAT SHA256SUMS; do
  check "$text: every line ends with CR LF" 0 "$(grep -c $'[^\r]$\\|^$' "$package/$text")"
done
check "admin-guide.ja.md begins with the UTF-8 byte-order mark" efbbbf "$(head -c 3 "$package/admin-guide.ja.md" | od -An -tx1 | tr -d ' \n')"
check "admin-guide.md has no byte-order mark" 23 "$(head -c 1 "$package/admin-guide.md" | od -An -tx1 | tr -d ' \n')"
version=${folder#tz-host-}; version=${version%-*}
check "TZ.INF's DriverVer gives the package's version" 1 "$(grep -c "^DriverVer=[0-9/]*,$version[.]0"$'\r' "$package/TZ.INF")"

# The state of the fresh prefix, to compare with after the uninstall.
(cd "$bdir/bin" && wr ./statesnap.exe) > "$bdir/package-before.txt" 2>/dev/null
check "state before the install (package-before.txt)" 0 $?

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
(cd "$bdir/bin" && wr ./statesnap.exe) > "$bdir/package-after.txt" 2>/dev/null
check "state after the uninstall (package-after.txt)" 0 $?
# Wine's DeletePrintProcessor reports success but deletes nothing, so the
# spooler still lists the print processor after the uninstall; its file,
# compared with the processor folder's list, must be gone like any other.
leftover='^processor KZT TZ Print Processor'
diff <(grep -v "$leftover" "$bdir/package-before.txt") <(grep -v "$leftover" "$bdir/package-after.txt") \
  > "$bdir/package-state.diff"
check "the state after the uninstall equals the state before (package-state.diff)" 0 $?

# An upgrade: this package installed over an older one (its TZ.INF with a
# lower DriverVer and another rendering library: what an earlier build
# ships), with the model's queue and a second one configured as an
# administrator does. The install finds other driver files and becomes a
# reinstall (3010); the restart runs its second phase, /finish finds nothing
# left, and every queue has every setting it had, with the new files.
older="$prefix/drive_c/tz-host-older"
rm -rf "$older"; cp -r "$package" "$older"
sed -i "s/^DriverVer=\([0-9\/]*\),$version[.]0\r\$/DriverVer=\1,0.9.0.0\r/" "$older/TZ.INF"
check "the older package's DriverVer" 1 "$(grep -c "^DriverVer=[0-9/]*,0.9.0.0"$'\r' "$older/TZ.INF")"
printf 'an earlier build' >> "$older/KZTTZDRV.DLL"
(cd "$older" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" LPT1: /Install /quiet)
check "the older package's install exit code" 0 $?
q() { (cd "$bdir/bin" && wr ./queueconf.exe "$@"); }
q add "Ostrel TZ-1000 Office" "Ostrel TZ-1000" LPT2:
check "a second queue of the model" 0 $?
for queue in "Ostrel TZ-1000" "Ostrel TZ-1000 Office"; do
  q set "$queue"; check "$queue configured" 0 $?
  q show "$queue" > "$bdir/package-upgrade-before-${queue// /_}.txt"
done
(cd "$package" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" LPT1: /Install /quiet /log upgrade.log)
check "upgrade exit code (3010: a reinstall waits for the restart, low 8 bits)" $((3010 & 255)) $?
WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
(cd "$package" && wr ./drvinst.exe /quiet /finish /log upgrade.log)
check "/finish after the restart: nothing left to finish" 0 $?
for queue in "Ostrel TZ-1000" "Ostrel TZ-1000 Office"; do
  name=${queue// /_}
  q show "$queue" > "$bdir/package-upgrade-after-$name.txt"
  check "$queue: every setting kept (package-upgrade-*-$name.txt)" 0 \
    "$(cmp -s "$bdir/package-upgrade-before-$name.txt" "$bdir/package-upgrade-after-$name.txt"; echo $?)"
done
check "the settings compared include the copies" 1 "$(grep -c '^devmode copies 3 ' "$bdir/package-upgrade-after-Ostrel_TZ-1000.txt")"
installed=$(find "$prefix/drive_c/windows/system32/spool/drivers" -path '*/3/KZTTZDRV.DLL' | head -1)
check "the new rendering library installed" 0 "$(cmp -s "$installed" "$package/KZTTZDRV.DLL"; echo $?)"
check "RunOnce and the durable record are gone" 1 "$(grep -c 'DBG Finish() exit code 0' "$package/upgrade.log")"

WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
[ "$failures" = 0 ] && echo "package test passed" || { head -40 "$bdir/package-state.diff"; exit 1; }
