#!/usr/bin/env bash
# The main job: a bank's page enrols a software USB key and signs a
# transaction and a file with it, the way a browser extension does it through
# the native-messaging host; openssl checks the signatures and the encryption
# key the bank sent. Everything lives in a temporary folder.
#   tools/demo.sh [BIN]    BIN: the built programs (default build/default/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/default/bin}")
work=$(mktemp -d /tmp/orva-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
export ORVA_SOFTKEY_DIR=$work/softkey ORVA_REGISTRY=$work/registry.reg TMPDIR=$work/tmp ORVA_ACP=65001
export PATH=$bin:$PATH
subject='CN=Zhang San,OU=Retail,O=Demo Bank'
step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
shown() { grep -E '^(serial|pin tries left|container|  +(signature key|signature certificate|exchange key|exchange certificate)):' | sed 's/^ */   /'; }

# The page: its requests (JSON on stdin; a text "@FILE" stands for that file's
# contents) framed as the browser frames them, to the host; every reply shown,
# the last one's "Resp" written to OUT.
cat > "$work/page.py" <<'PY'
import json, struct, subprocess, sys
host, out = sys.argv[1:3]
load = lambda v: open(v[1:]).read().strip() if isinstance(v, str) and v.startswith("@") else v
requests = [{k: load(v) for k, v in r.items()} for r in json.load(sys.stdin)]
frames = b"".join(struct.pack("<I", len(body)) + body
                  for body in (json.dumps(r, ensure_ascii=False).encode() for r in requests))
answer = subprocess.run([host], input=frames, capture_output=True, timeout=60).stdout
cut = lambda text: text[:110] + " ..." if len(text) > 110 else text
for request in requests:
    length = struct.unpack("<I", answer[:4])[0]
    reply = json.loads(answer[4:4 + length])
    answer = answer[4 + length:]
    print("   -> %s\n   <- %s" % (cut(json.dumps(request, ensure_ascii=False)),
                                  cut(json.dumps(reply, ensure_ascii=False))))
if reply["Resp"].startswith("-") or reply["Resp"] == "":
    sys.exit("the host answered " + reply["Resp"])
with open(out, "w") as f:
    f.write(reply["Resp"])
PY
page() { (cd "$work" && python3 page.py "$bin/orva_xr_usbkey_extension" "$1"); }

step "1. A new software USB key: no container yet"
softkey create --sn SK0000000001 >/dev/null
# The person at the key types the PIN when asked and presses the button.
softkey user --pin 12345678
softkey show SK0000000001 | shown

step "2. orva-setup: the registry entries for $bin and the host manifest for Chromium"
orva-setup register | sed 's/^/   /'
orva-setup manifest --user-data-dir "$work/profile" | sed 's/^/   manifest: /'

step "3. Enrolment: the key makes an SM2 key pair and signs its certificate request"
page request.b64 <<JSON
[{"CmdType": "GetMediaID"},
 {"CmdType": "GMCreatePKCS10", "CertReq": "DN($subject)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)"}]
JSON

step "4. The bank: its CA issues the certificate, its server seals an encryption key pair to the new key"
cd "$work"
softkey issue request.b64 > certificate.b64
container=$(softkey show SK0000000001 --json |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["containers"][0]["index"])')
softkey envelope --container "$container" --subject "$subject" > envelope.txt
echo "   certificate: $(cut -c1-60 certificate.b64)... (PKCS#7, base64)"
echo "   envelope:    $(cut -c1-60 envelope.txt)... (certificate||algorithm||A||B||C)"
cd - >/dev/null

step "5. The page installs the certificate and the encryption key pair"
page installed.txt <<'JSON'
[{"CmdType": "GMWritePKCS7_Enc", "SignCertP7": "@certificate.b64", "encData": "@envelope.txt",
  "servRand": ""}]
JSON
softkey show SK0000000001 | shown

step "6. The page signs a transaction with the new certificate"
page p7.b64 <<JSON
[{"CmdType": "GMUsbKeySign", "SignerDN": "$subject", "HashName": "SM3",
  "xmlMsg": "<Transfer><Payee>\u674e\u56db</Payee><Amount>1,250.00 CNY</Amount></Transfer>",
  "keyMsg": "\u8f6c\u8d26\u7ed9\u674e\u56db 1,250.00 \u5143", "NewVal": ""}]
JSON

step "7. The signature: PKCS#7 SignedData, base64"
fold -w 100 "$work/p7.b64" | sed 's/^/   /'
echo
echo "   (the host turned both texts into GB18030, the charset it starts with, and the key was told GBK)"

# An SM2 SignedData checked by openssl: structure, certificate chain, and the
# signature over the signed packet (left in $work/<name>.content).
check_signature() {
    local name=$1
    (
        cd "$work"
        openssl base64 -d -A -in "$name.b64" -out "$name.der"
        echo "   structure:$(openssl asn1parse -inform DER -in "$name.der" |
            grep -oE ':(pkcs7-signedData|pkcs7-data|sm3|sm2)$' | sort -u | tr '\n' ' ' | tr -d :)"
        openssl pkcs7 -inform DER -in "$name.der" -print_certs -out "$name.signer.pem"
        openssl verify -CAfile ca.pem "$name.signer.pem" | sed 's/^/   certificate: /'
        offset=$(openssl asn1parse -inform DER -in "$name.der" | grep 'prim: OCTET STRING' | tail -1 | cut -d: -f1)
        openssl asn1parse -inform DER -in "$name.der" -noout -strparse "$offset" -out "$name.sig.der"
        openssl cms -verify -inform DER -noverify -nosigs -binary -in "$name.der" -out "$name.content" 2>/dev/null
        openssl x509 -in "$name.signer.pem" -pubkey -noout -out "$name.signer.pub"
        openssl pkeyutl -verify -pubin -inkey "$name.signer.pub" -rawin -digest sm3 \
            -pkeyopt distid:1234567812345678 -in "$name.content" -sigfile "$name.sig.der" |
            sed 's/^/   SM2 over the signed packet: /'
    )
}

step "8. openssl checks the signature, and the encryption key pair the bank sent"
softkey ca > "$work/ca.pem"
check_signature p7
(
    cd "$work"
    softkey export-cert --slot exchange --container "$container" > exchange.pem
    softkey export-key --slot exchange --container "$container" > exchange.key
    printf 'account 6222 0000 1234 5678' > secret.txt
    openssl pkeyutl -encrypt -certin -inkey exchange.pem -in secret.txt -out secret.sm2
    echo "   sealed by openssl to the encryption certificate, opened by the key pair the key holds:" \
        "$(openssl pkeyutl -decrypt -inkey exchange.key -in secret.sm2)"
)

step "9. What the key showed its user"
softkey display | sed 's/^/   /'

step "10. A file signed: the page holds tokens only, never the path or the bytes"
printf '%%PDF-1.4 Loan contract No. 2026-0042\n' > "$work/contract.pdf"
# The file dialog a person would click through, scripted.
export ORVA_FILE_DIALOG="printf '%s\\n' '$work/contract.pdf'"
python3 - "$bin/orva_xr_usbkey_extension" "$work/contract.pdf" "$work/file.b64" <<'PY'
import base64, json, struct, subprocess, sys
host, path, out = sys.argv[1:4]
proc = subprocess.Popen([host], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

def ask(request):
    body = json.dumps(request, ensure_ascii=False).encode()
    proc.stdin.write(struct.pack("<I", len(body)) + body)
    proc.stdin.flush()
    length = struct.unpack("<I", proc.stdout.read(4))[0]
    reply = json.loads(proc.stdout.read(length))
    shown = json.dumps(reply, ensure_ascii=False)
    print("   -> %s\n   <- %s" % (json.dumps(request, ensure_ascii=False)[:110],
                                  shown if len(shown) <= 110 else shown[:106] + " ..."))
    return reply["Resp"]

def token(resp):
    if resp.startswith("-"):
        sys.exit("the host answered " + resp)
    text = base64.b64decode(resp).decode()
    print("      token text: " + text)
    return dict(field.split("=", 1) for field in text.split("||"))

token(ask({"CmdType": "NSFileToTokenExt", "path": path}))
chosen = token(ask({"CmdType": "NSChooseFileExt"}))
signature = token(ask({"CmdType": "GMUsbKeySignFileExt", "SignerDN": "", "HashName": "SM3",
                       "xmlMsg": "<Contract><No>2026-0042</No></Contract>",
                       "keyMsg": "\u7b7e\u7f72\u5408\u540c 2026-0042",
                       "chooseFileToken": chosen["TOKEN"]}))
joined, offset = "", 0
while True:
    piece = ask({"CmdType": "GetSignFileContent", "FileToken": signature["TOKEN"],
                 "MaxLength": 1000, "FileOffset": offset})
    if not piece.startswith("MARK="):
        sys.exit("the host answered " + piece)
    joined += piece[len("MARK=0||CONTENT="):]
    offset += 1000
    if piece[5] == "2":
        break
proc.stdin.close()
proc.wait(30)
with open(out, "w") as f:
    f.write(joined)
print("   %d pieces joined: %d bytes, the signature file %s" % (offset // 1000, len(joined),
                                                               signature["FILENAME"]))
PY
check_signature file
grep -qF "$(base64 -w0 "$work/contract.pdf")" "$work/file.content" ||
    { echo "   the signed packet does not hold the contract"; exit 1; }
echo "   the signed packet holds the contract (base64)"
softkey display | tail -1 | sed 's/^/   the key showed: /'

step "11. The same from a real browser: headless Chromium opens a bank's page on 127.0.0.1"
echo "   (its script signs a transaction and a file, then enrols a new SM2 and RSA key pair and signs"
echo "   with them, through the built extension; pages of other origins are refused)"
if command -v chromium >/dev/null || [ -x /usr/lib/chromium/chromium ]; then
    python3 frontends/native_host/tests/chromium_test.py --bin "$bin" \
        --extension "$bin/extension" 2>&1 | sed 's/^/   /'
else
    echo "   skipped: Chromium is not installed"
fi

printf '\nDone: a software key was enrolled, then signed a transaction and a file through the native host, and openssl verified all of it.\n'
