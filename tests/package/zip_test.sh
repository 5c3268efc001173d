#!/usr/bin/env bash
# The package's zip as an administrator uses it: unpacked into a fresh Wine
# prefix of its own, its checksums and contents checked (the guides' text as
# Notepad reads it, the screenshots they show; the binaries without debug
# sections, linked to the symbols zip, unsigned; a package signed with a
# throwaway certificate verifies, a wrong password fails), installed from
# the unpacked folder with drvinst.exe /quiet, a job played through the installed
# jobtap.dll (demo.exe --installed), uninstalled with /quiet (3010: the
# second phase waits for the restart), the restart played by ending the
# prefix's server (Wine runs RunOnce at the next start), and the state
# afterwards compared from a fresh process with the state before the
# install (statesnap.exe: spooler, files, registry): nothing of the package
# left, nothing else removed. Then an upgrade over an older package keeps
# every setting of two configured queues (queueconf.exe).
#   zip_test.sh ARCH BUILDDIR ZIP
set -u
arch=$1; bdir=$(cd "$2" && pwd); zip=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
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

# The binaries ship without debug sections; each links to its <name>.debug
# (name and CRC-32, the one gzip ends with) in the symbols zip beside it.
triple=$arch-w64-mingw32
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
binaries=$(cd "$package" && LC_ALL=C ls | grep -iE '[.](exe|dll)$')
symbols=${zip%.zip}-symbols.zip
check "the symbols zip holds one .debug per binary" "$(printf '%s.debug\n' $binaries | tr '\n' ' ')" \
  "$(cmake -E tar tf "$symbols" | LC_ALL=C sort | tr '\n' ' ')"
mkdir "$tmp/symbols"; (cd "$tmp/symbols" && cmake -E tar xf "$symbols")
crc() { gzip -c "$1" | tail -c8 | head -c4 | od -An -tx1 | tr -d ' \n'; }
for b in $binaries; do
  check "$b: no debug sections" 0 "$("$triple-objdump" -h "$package/$b" | grep -c ' [.]debug_')"
  "$triple-objcopy" --dump-section .gnu_debuglink="$tmp/link" "$package/$b" "$tmp/null" 2>/dev/null
  check "$b: links to $b.debug" "$b.debug" "$(tr '\0' '\n' < "$tmp/link" | head -1)"
  check "$b: the link's CRC is its .debug's" "$(crc "$tmp/symbols/$b.debug")" "$(tail -c4 "$tmp/link" | od -An -tx1 | tr -d ' \n')"
  rm -f "$tmp/link"
done

# Signed: the product build's cpack (what ./run package runs) with a
# throwaway code-signing certificate, into a folder of its own (the zip above
# stays as it is). Every binary verifies against that certificate and the
# signed package's SHA256SUMS are of the signed files; a wrong password
# fails the package.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/key.pem" -out "$tmp/cert.pem" -days 2 \
  -subj "/CN=TZ package test" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1
openssl pkcs12 -export -inkey "$tmp/key.pem" -in "$tmp/cert.pem" -out "$tmp/cert.pfx" -passout pass:tz-test
sign() {  # sign PASSWORD OUTDIR: the package made with the certificate, cpack's exit code
  KZT_SIGN_PFX="$tmp/cert.pfx" KZT_SIGN_PASSWORD=$1 cpack --config "$bdir/product/CPackConfig.cmake" -B "$2" \
    > "$bdir/package-sign.log" 2>&1
}
sign tz-test "$tmp/signed"
check "the signed package (package-sign.log)" 0 $?
(cd "$tmp/signed" && cmake -E tar xf "$(basename "$zip")")
check "the signed package's SHA256SUMS" 0 "$(cd "$tmp/signed/$folder" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1; echo $?)"
verify() { osslsigncode verify -CAfile "$tmp/cert.pem" -in "$1" 2>&1; }
for b in $binaries; do
  check "$b: signed, verifies against the certificate" 1 "$(verify "$tmp/signed/$folder/$b" | grep -c '^Succeeded$')"
  check "$b: the zip made without a certificate has no signature" 1 "$(verify "$package/$b" | grep -c '^No signature found')"
done
sign wrong "$tmp/wrong"
check "a wrong password fails the package" 1 $?
check "and says so (package-sign.log)" 1 "$(grep -c '^  signing [^ ]* with' "$bdir/package-sign.log")"
check "and makes no zip" 0 "$(ls "$tmp/wrong" | grep -c '[.]zip$')"

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

# What a deployment tool reads (the guide's detection rule), then the guide's
# Intune install command run again as the tool does when its detection
# misses: nothing changes. Wine hands a Windows exit code to the shell as its
# low 8 bits.
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Ostrel TZ-1000'
regval() { wr reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^  */, ""); print }'; }
check "the Uninstall entry's DisplayVersion" "$version.0" "$(regval "$uninstall" DisplayVersion)"
check "the Uninstall entry's Publisher" Ostrel "$(regval "$uninstall" Publisher)"
check "the Uninstall entry's QuietUninstallString" "$(regval "$uninstall" UninstallString) /quiet" \
  "$(regval "$uninstall" QuietUninstallString)"
tzlog="$prefix/drive_c/windows/temp/tz-host.log"; rm -f "$tzlog"
(cd "$package" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" LPT1: /Install /quiet /finish /norestart /log 'C:\Windows\Temp\tz-host.log')
check "the install again, as the guide's Intune command" 0 $?
check "changed nothing" 1 "$(grep -c 'DBG Excecute() Already Installed \[Ostrel TZ-1000\] on \[LPT1:\]' "$tzlog")"
check "one queue of the model" 1 "$(wr reg query 'HKLM\System\CurrentControlSet\Control\Print\Printers' 2>/dev/null | grep -c 'Ostrel TZ-1000')"

# The guide's Intune uninstall command: 3010, the second phase after the
# restart, logging into the same file.
(cd "$package" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" /Uninstall /quiet /finish /norestart /log 'C:\Windows\Temp\tz-host.log')
check "quiet uninstall exit code (3010, low 8 bits)" $((3010 & 255)) $?

# The restart: the prefix's server ends, and its next start runs RunOnce
# (the second phase, quiet as the first) before the next program.
WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
(cd "$bdir/bin" && wr ./statesnap.exe) > "$bdir/package-after.txt" 2>/dev/null
check "state after the uninstall (package-after.txt)" 0 $?
check "the second phase logged where the first was told to" 2 "$(grep -c 'DBG Quiet() exit code 0' "$tzlog")"
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
(cd "$older" && wr ./drvinst.exe TZ.INF "Ostrel TZ-1000" LPT1: /Install /quiet /log install.log)
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
check "the older package's DisplayVersion before the upgrade" 1 "$(grep -c 'DisplayVersion\],\[0.9.0.0\]' "$older/install.log")"
check "the Uninstall entry names the new version" "$version.0" "$(regval "$uninstall" DisplayVersion)"

WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
[ "$failures" = 0 ] && echo "package test passed" || { head -40 "$bdir/package-state.diff"; exit 1; }
