#!/usr/bin/env bash
# Signing as a fleet with application allow-listing needs it: scripts/sign.sh
# with a throwaway code-signing certificate signs the program, the MSI is
# packed from the signed program and signed itself, and osslsigncode
# verifies the program, the MSI and the program inside it against that
# certificate. Without a certificate the files stay as they were.
#
#   signing.sh WATCHDOG.EXE WATCHDOG.WXS ICON ARCH
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"
usage="usage: signing.sh WATCHDOG.EXE WATCHDOG.WXS ICON x64|x86"
EXE=$(readlink -f "${1:?$usage}")
WXS=$(readlink -f "${2:?$usage}")
ICON=$(readlink -f "${3:?$usage}")
ARCH=${4:?$usage}
SIGN="$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../../scripts/sign.sh"
for tool in openssl osslsigncode wixl msiextract; do
    command -v "$tool" >/dev/null 2>&1 || { echo "signing: skipped: $tool is missing"; exit $SKIP; }
done
TMP=$(mktemp -d /tmp/zq-sign.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
cd "$TMP" || exit 1

# verified FILE: osslsigncode finds a valid signature by the throwaway certificate.
verified() {
    osslsigncode verify -CAfile cert.pem -in "$1" >"$1.verify" 2>&1 && grep -q 'Signature verification: ok' "$1.verify"
}

# ---- without a certificate nothing changes
cp "$EXE" unsigned.exe
ZQ_SIGN_PFX= bash "$SIGN" unsigned.exe >unsigned.out 2>&1
check "without a certificate the program stays unsigned, byte for byte" \
    "$(cmp -s "$EXE" unsigned.exe && grep -q 'left unsigned' unsigned.out && ! verified unsigned.exe; echo $?)" \
    "$(cat unsigned.out)"

# ---- a throwaway code-signing certificate
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brindlemoor test signing" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout key.pem -out cert.pem >openssl.out 2>&1 &&
    openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:'throw away' -out sign.pfx >>openssl.out 2>&1
check "openssl makes a throwaway code-signing certificate" "$?" "$(cat openssl.out)"
export ZQ_SIGN_PFX="$TMP/sign.pfx" ZQ_SIGN_PASSWORD='throw away'

# ---- the program, then the MSI packed from it
mkdir pack
cp "$EXE" pack/watchdog.exe
cp "$ICON" pack/watchdog.ico
bash "$SIGN" pack/watchdog.exe >sign-exe.out 2>&1
check "sign.sh signs watchdog.exe and the signature verifies" \
    "$(verified pack/watchdog.exe; echo $?)" "$(cat sign-exe.out pack/watchdog.exe.verify 2>/dev/null | tail -n 8)"
(cd pack && wixl --arch "$ARCH" -D Arch="$ARCH" -D Version=1.0.0.4 -D UpgradeBelow=1.0.1 -D ExePath=watchdog.exe \
    -D IconPath=watchdog.ico -o watchdog.msi "$WXS" >../wixl.out 2>&1)
bash "$SIGN" pack/watchdog.msi >sign-msi.out 2>&1
check "sign.sh signs watchdog.msi and the signature verifies" \
    "$(verified pack/watchdog.msi; echo $?)" "$(cat wixl.out sign-msi.out pack/watchdog.msi.verify 2>/dev/null | tail -n 8)"
mkdir extracted
(cd extracted && msiextract ../pack/watchdog.msi >/dev/null 2>&1)
packed=$(find extracted -iname watchdog.exe | head -n 1)
check "the MSI carries the signed program" \
    "$([ -n "$packed" ] && cmp -s "$packed" pack/watchdog.exe && verified "$packed"; echo $?)" "packed: [$packed]"

# ---- a wrong password signs nothing
cp "$EXE" wrong.exe
ZQ_SIGN_PASSWORD=wrong bash "$SIGN" wrong.exe >wrong.out 2>&1
rc=$?
check "a wrong password fails and leaves the program as it was" \
    "$([ $rc -ne 0 ] && cmp -s "$EXE" wrong.exe; echo $?)" "exit $rc, $(tail -n 2 wrong.out)"

echo "signing: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
