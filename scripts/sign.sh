#!/usr/bin/env bash
# Signs Windows programs and packages in place with Authenticode, for fleets
# that start only signed software:
#
#   ZQ_SIGN_PFX=code-signing.pfx ZQ_SIGN_PASSWORD=... scripts/sign.sh FILE...
#
# ZQ_SIGN_PFX       the code-signing certificate with its key (PKCS#12)
# ZQ_SIGN_PASSWORD  its password (given to osslsigncode on its standard input,
#                   never on a command line)
# ZQ_SIGN_TIMESTAMP a timestamp server's URL (optional; Authenticode
#                   timestamps, which every Windows from XP on reads)
# ZQ_SIGN_DIGEST    the digest, sha256 unless given (sha1 for a fleet whose
#                   Windows lacks the SHA-2 updates)
#
# Without ZQ_SIGN_PFX the files stay unsigned and the script says so. The
# build calls it for watchdog.exe before the MSI packs it, and for the MSI.
set -euo pipefail

if [ -z "${ZQ_SIGN_PFX:-}" ]; then
    echo "sign.sh: ZQ_SIGN_PFX not set: $* left unsigned"
    exit 0
fi
[ -r "$ZQ_SIGN_PFX" ] || { echo "sign.sh: cannot read the certificate $ZQ_SIGN_PFX" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing: run scripts/install-deps.sh" >&2; exit 1; }

options=(-pkcs12 "$ZQ_SIGN_PFX" -readpass - -h "${ZQ_SIGN_DIGEST:-sha256}"
         -n "Brindlemoor Win32 Watch Dog")
[ -z "${ZQ_SIGN_TIMESTAMP:-}" ] || options+=(-t "$ZQ_SIGN_TIMESTAMP")

for file in "$@"; do
    rm -f "$file.signed"
    if ! printf '%s' "${ZQ_SIGN_PASSWORD:-}" |
        osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1; then
        cat "$file.sign.log" >&2
        rm -f "$file.signed" "$file.sign.log"
        echo "sign.sh: signing $file failed" >&2
        exit 1
    fi
    mv "$file.signed" "$file"
    rm -f "$file.sign.log"
    echo "sign.sh: signed $file"
done
