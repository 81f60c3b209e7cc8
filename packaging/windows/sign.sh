#!/usr/bin/env bash
# Signs Windows program files in place with osslsigncode (Authenticode,
# SHA-256, an RFC 3161 timestamp) when a key is configured; without one it
# changes nothing and returns 1, so callers can say the files are unsigned.
#   sign.sh <file>...
#   sign.sh --configured     status 0 when a key is configured
# The key, from the environment:
#   LUMIVEX_SIGN_PKCS12         a PKCS#12 file (.pfx/.p12) with the key and certificates
#   LUMIVEX_SIGN_PKCS11_MODULE  or a PKCS#11 token: its module (.so), with
#   LUMIVEX_SIGN_PKCS11_KEY       the key's PKCS#11 URI and
#   LUMIVEX_SIGN_PKCS11_CERT      the certificate chain (PEM)
#   LUMIVEX_SIGN_PASSWORD_FILE  a file holding the PKCS#12 password or the token's PIN
#   LUMIVEX_SIGN_TIMESTAMP_URL  the timestamp server (default http://timestamp.digicert.com;
#                               "none" signs without a timestamp)
#   LUMIVEX_SIGN_TSA_CERTS, LUMIVEX_SIGN_TSA_KEY
#                               instead of a server, a timestamp authority's certificate
#                               chain and key (the package test's throwaway one)
set -euo pipefail

args=(sign -h sha256 -n "Lumivex Software" -i "https://www.quarnel.com/")
if [[ -n "${LUMIVEX_SIGN_PKCS12:-}" ]]; then
    args+=(-pkcs12 "$LUMIVEX_SIGN_PKCS12")
elif [[ -n "${LUMIVEX_SIGN_PKCS11_MODULE:-}" ]]; then
    if [[ -z "${LUMIVEX_SIGN_PKCS11_KEY:-}" || -z "${LUMIVEX_SIGN_PKCS11_CERT:-}" ]]; then
        echo "sign.sh: LUMIVEX_SIGN_PKCS11_MODULE needs LUMIVEX_SIGN_PKCS11_KEY and" \
             "LUMIVEX_SIGN_PKCS11_CERT" >&2
        exit 2
    fi
    args+=(-pkcs11module "$LUMIVEX_SIGN_PKCS11_MODULE" -key "$LUMIVEX_SIGN_PKCS11_KEY"
           -certs "$LUMIVEX_SIGN_PKCS11_CERT")
else
    exit 1
fi
[[ "${1:-}" == --configured ]] && exit 0
[[ -z "${LUMIVEX_SIGN_PASSWORD_FILE:-}" ]] || args+=(-readpass "$LUMIVEX_SIGN_PASSWORD_FILE")
timestamp=${LUMIVEX_SIGN_TIMESTAMP_URL:-http://timestamp.digicert.com}
if [[ -n "${LUMIVEX_SIGN_TSA_CERTS:-}" ]]; then
    args+=(-TSA-certs "$LUMIVEX_SIGN_TSA_CERTS" -TSA-key "${LUMIVEX_SIGN_TSA_KEY:?}")
elif [[ "$timestamp" != none ]]; then
    args+=(-ts "$timestamp")
fi

for file in "$@"; do
    # A file signed before (a rerun) is signed anew, not nested.
    osslsigncode remove-signature -in "$file" -out "$file.unsigned" > /dev/null 2>&1 \
        && mv "$file.unsigned" "$file"
    rm -f "$file.unsigned"
    osslsigncode "${args[@]}" -in "$file" -out "$file.signed" > /dev/null \
        || { rm -f "$file.signed"; echo "sign.sh: could not sign $file" >&2; exit 1; }
    mv "$file.signed" "$file"
done
