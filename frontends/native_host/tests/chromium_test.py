#!/usr/bin/env python3
"""End to end in a real browser: Debian's Chromium, headless, loads the
repository's extension, whose service worker connects to the built host and
signs transactions on a software key. The report comes back over HTTP to this
script, which checks every signature with the openssl command line.

Usage: chromium_test.py --bin BUILD_BIN --extension EXTENSION_DIR
Exit status 0 passed, 1 failed, 77 skipped (no Chromium, and not under CI)."""

import argparse
import base64
import hashlib
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
SERIAL = "SK0000000042"
ZHANG_SAN = "CN=Zhang San,OU=Unit,O=Bank"
LI_SI = "CN=Li Si,OU=Unit,O=Bank"
XML = "<T><Payee>\u5f20\u4e09</Payee><Amount>100.00</Amount></T>"
DISPLAY = "\u4ed8\u6b3e 100.00 \u5143"
ATTACHMENT_BYTES = 700_000  # signs into a result of more than 1,000,000 bytes
# An enrolment: a new SM2 and a new RSA key pair, one request each.
CERT_REQ = ("DN(CN=Zhang San,OU=Unit,O=Bank)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)||"
            "DN(CN=Zhang San,OU=Unit,O=Bank)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)")


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def find_chromium():
    # The program itself: the Debian wrapper adds flags and extensions of its own.
    for path in ("/usr/lib/chromium/chromium", shutil.which("chromium") or ""):
        if path and os.access(path, os.X_OK):
            return path
    return None


def extension_id(manifest):
    """The id Chromium derives from the manifest's "key"."""
    der = base64.b64decode(manifest["key"])
    digest = hashlib.sha256(der).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


class Run:
    def __init__(self, bin_dir, root):
        self.bin = bin_dir
        self.root = root
        self.env = dict(os.environ)
        self.env.update({
            "ORVA_REGISTRY": os.path.join(root, "registry.reg"),
            "ORVA_SOFTKEY_DIR": os.path.join(root, "softkey"),
            "TMPDIR": os.path.join(root, "tmp"),
            "ORVA_ACP": "65001",
            # Chromium keeps nothing of its own outside the test's folder.
            "HOME": os.path.join(root, "home"),
            "XDG_CONFIG_HOME": os.path.join(root, "home", ".config"),
            "XDG_CACHE_HOME": os.path.join(root, "home", ".cache"),
        })
        for folder in ("tmp", "home"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)

    def tool(self, *args, text=True):
        result = subprocess.run([os.path.join(self.bin, args[0]), *args[1:]], env=self.env,
                                capture_output=True, text=text, timeout=60)
        if result.returncode != 0:
            fail("%s: %s" % (" ".join(args), result.stderr))
        return result.stdout

    def openssl(self, *args):
        return subprocess.run(["openssl", *args], cwd=self.root, capture_output=True, text=True,
                              timeout=60)


def verify_sm2(run, name, base64_p7):
    """SM2 with SM3 over the content, the signer chained to the test CA; the content."""
    der = os.path.join(run.root, name + ".p7")
    with open(der, "wb") as out:
        out.write(base64.b64decode(base64_p7))
    parsed = run.openssl("asn1parse", "-inform", "DER", "-in", der)
    for expected in (":pkcs7-signedData", ":sm3", ":sm2"):
        if expected not in parsed.stdout:
            fail("%s: no %s in the PKCS#7" % (name, expected))
    signer = name + ".signer.pem"
    for args in (("pkcs7", "-inform", "DER", "-in", der, "-print_certs", "-out", signer),
                 ("verify", "-CAfile", "ca.pem", signer),
                 ("x509", "-in", signer, "-pubkey", "-noout", "-out", name + ".pub")):
        result = run.openssl(*args)
        if result.returncode != 0:
            fail("%s: openssl %s: %s" % (name, args[0], result.stderr))
    offset = [line.split(":")[0] for line in parsed.stdout.splitlines()
              if "prim: OCTET STRING" in line][-1]
    content = name + ".content"
    for args in (("asn1parse", "-inform", "DER", "-in", der, "-noout", "-strparse", offset,
                  "-out", name + ".sig"),
                 ("cms", "-verify", "-inform", "DER", "-noverify", "-nosigs", "-binary", "-in",
                  der, "-out", content),
                 ("pkeyutl", "-verify", "-pubin", "-inkey", name + ".pub", "-rawin", "-digest",
                  "sm3", "-pkeyopt", "distid:1234567812345678", "-in", content, "-sigfile",
                  name + ".sig")):
        result = run.openssl(*args)
        if result.returncode != 0:
            fail("%s: openssl %s: %s %s" % (name, args[0], result.stdout, result.stderr))
    with open(os.path.join(run.root, content), "rb") as signed:
        return signed.read()


def check_requests(run, name, resp):
    """Each request verifies under its own new key and the test CA issues it."""
    requests = resp.split("||")
    if len(requests) != 2:
        fail("%s: %r is not two requests" % (name, resp[:300]))
    for index, (request, options) in enumerate(
            zip(requests, (["-vfyopt", "distid:1234567812345678"], []))):
        der = os.path.join(run.root, "%s%d.der" % (name, index))
        with open(der, "wb") as out:
            out.write(base64.b64decode(request))
        verified = run.openssl("req", "-inform", "DER", "-in", der, "-noout", "-verify", *options)
        if "verify OK" not in verified.stdout + verified.stderr:
            fail("%s %d: openssl req -verify: %s" % (name, index, verified.stderr))
        run.tool("softkey", "issue", der)


def verify_rsa(run, name, base64_p7):
    der = os.path.join(run.root, name + ".p7")
    with open(der, "wb") as out:
        out.write(base64.b64decode(base64_p7))
    content = name + ".content"
    result = run.openssl("cms", "-verify", "-inform", "DER", "-binary", "-in", der, "-CAfile",
                         "ca.pem", "-purpose", "any", "-out", content)
    if result.returncode != 0:
        fail("%s: openssl cms -verify: %s" % (name, result.stderr))
    with open(os.path.join(run.root, content), "rb") as signed:
        return signed.read()


class ReportServer(http.server.ThreadingHTTPServer):
    def __init__(self):
        super().__init__(("127.0.0.1", 0), ReportHandler)
        self.report = None
        self.arrived = threading.Event()


class ReportHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.server.report = self.rfile.read(length)
        self.send_response(204)
        self.send_header("Access-Control-Allow-Origin", "*")
        self.end_headers()
        self.server.arrived.set()

    def log_message(self, *args):
        pass


def scenario(report_url, attachment):
    sign = {"CmdType": "GMUsbKeySign", "SignerDN": ZHANG_SAN, "HashName": "SM3",
            "xmlMsg": XML, "keyMsg": DISPLAY, "NewVal": ""}
    return {"report": report_url, "steps": [
        {"name": "version", "request": {"CmdType": "GetVersion"}},
        {"name": "media", "request": {"CmdType": "GetMediaID"}},
        {"name": "unknown", "request": {"CmdType": "NoSuchCommand"}},
        {"name": "nothingPending", "request": {"CmdType": "GetDataPackage"}},
        {"name": "sm2Gbk", "request": sign, "whole": True},
        {"name": "rsa", "request": dict(sign, SignerDN=LI_SI, HashName="SHA256"), "whole": True},
        {"name": "utf8", "request": {"CmdType": "SetCharset", "CharSet": "utf-8"}},
        {"name": "sm2Utf8", "request": sign, "whole": True},
        {"name": "long", "request": dict(sign, NewVal=attachment), "whole": True},
        {"name": "pkcs10", "request": {"CmdType": "GMCreatePKCS10", "CertReq": CERT_REQ}},
        # No usable CmdType: the host answers a frame of length 0, which the
        # browser does not pass on.
        {"name": "noCmdType", "request": {"cmd": "GetVersion"}, "timeoutMs": 2000},
        {"name": "afterNoCmdType", "request": {"CmdType": "GetVersion"}, "timeoutMs": 5000},
    ]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--extension", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the test's folder")
    options = parser.parse_args()

    chromium = find_chromium()
    if chromium is None:
        if os.environ.get("CI"):
            fail("Chromium is not installed; CI must run this test (./setup installs it)")
        print("SKIP: no Chromium")
        return SKIP

    root = tempfile.mkdtemp(prefix="orva-chromium-")
    try:
        return run_test(chromium, options, root)
    finally:
        if not options.keep:
            shutil.rmtree(root, ignore_errors=True)
        else:
            print("kept " + root)


def run_test(chromium, options, root):
    run = Run(options.bin, root)
    with open(os.path.join(options.extension, "manifest.json")) as manifest_file:
        ext_id = extension_id(json.load(manifest_file))

    # The key, its containers and the install, as a bank and an installer leave them.
    run.tool("softkey", "create", "--sn", SERIAL)
    run.tool("softkey", "user", "--pin", "12345678")
    run.tool("softkey", "provision", "--sn", SERIAL, "--alg", "sm2", "--type", "3",
             "--subject", ZHANG_SAN)
    run.tool("softkey", "provision", "--sn", SERIAL, "--alg", "rsa2048", "--type", "3",
             "--subject", LI_SI)
    with open(os.path.join(root, "ca.pem"), "w") as ca:
        ca.write(run.tool("softkey", "ca"))
    run.tool("orva-setup", "register")
    profile = os.path.join(root, "profile")
    run.tool("orva-setup", "manifest", "--user-data-dir", profile, "--extension-id", ext_id)

    attachment = os.path.join(root, "attachment.bin")
    with open(attachment, "wb") as out:
        out.write(os.urandom(ATTACHMENT_BYTES))

    server = ReportServer()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    extension = os.path.join(root, "extension")
    shutil.copytree(options.extension, extension)
    with open(os.path.join(extension, "scenario.json"), "w") as out:
        json.dump(scenario("http://127.0.0.1:%d/report" % server.server_port, attachment), out)

    flags = ["--headless", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
             "--no-default-browser-check", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--disable-default-apps",
             "--user-data-dir=" + profile, "--load-extension=" + extension, "about:blank"]
    if os.geteuid() == 0:
        flags.insert(0, "--no-sandbox")
    log_path = os.path.join(root, "chromium.log")
    with open(log_path, "wb") as log:
        browser = subprocess.Popen([chromium, *flags], env=run.env, stdout=log, stderr=log,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
    started = time.time()
    try:
        if not server.arrived.wait(90):
            with open(log_path, errors="replace") as log:
                fail("no report from the extension within 90 s; Chromium said:\n" +
                     log.read()[-4000:])
        # The worker closed its port: our host sees the end of its input and ends.
        host = os.path.realpath(os.path.join(options.bin, "orva_xr_usbkey_extension"))
        deadline = time.time() + 15
        while hosts_running(host, run.env["ORVA_REGISTRY"]):
            if time.time() > deadline:
                fail("the host did not end after the port was closed")
            time.sleep(0.1)
    finally:
        # The browser and the processes it started, in the session we made.
        try:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait(15)
        except subprocess.TimeoutExpired:
            os.killpg(browser.pid, signal.SIGKILL)
            browser.wait(15)
        except ProcessLookupError:
            pass
        server.shutdown()
    print("report after %.1f s" % (time.time() - started))
    check_report(run, json.loads(server.report), attachment)
    print("PASS")
    return 0


def hosts_running(program, registry):
    """Our host's processes that run with this test's registry."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.realpath("/proc/%s/exe" % pid) != program:
                continue
            with open("/proc/%s/environ" % pid, "rb") as environ:
                if ("ORVA_REGISTRY=" + registry).encode() in environ.read().split(b"\0"):
                    found.append(pid)
        except OSError:
            pass  # gone, or not ours to read
    return found


def step(report, name):
    if name not in report["steps"]:
        fail("no step " + name)
    result = report["steps"][name]
    if "error" in result:
        fail("%s: %s" % (name, result["error"]))
    return result


def check_report(run, report, attachment):
    if "error" in report:
        fail("the extension failed: " + report["error"])
    expect = lambda name, got, want: got == want or fail(
        "%s: got %r, want %r" % (name, got if len(repr(got)) < 300 else repr(got)[:300], want))

    expect("version", step(report, "version")["reply"],
           {"CmdType": "GetVersion", "Resp": "1.0.0.0"})
    expect("media", step(report, "media")["reply"]["Resp"], SERIAL)
    expect("unknown", step(report, "unknown")["reply"], {"CmdType": "NoSuchCommand", "Resp": ""})
    expect("nothingPending", step(report, "nothingPending")["reply"]["Resp"],
           {"leftsize": 0, "content": ""})

    # GBK at start: the key got GB18030 bytes.
    sm2 = step(report, "sm2Gbk")
    expect("sm2Gbk pieces", sm2["leftsizes"], [])
    content = verify_sm2(run, "sm2Gbk", sm2["resp"])
    if XML.encode("gb18030") not in content:
        fail("sm2Gbk: the signed packet does not hold the GB18030 transaction")
    rsa = step(report, "rsa")
    content = verify_rsa(run, "rsa", rsa["resp"])
    if XML.encode("gb18030") not in content:
        fail("rsa: the signed packet does not hold the transaction")
    expect("utf8", step(report, "utf8")["reply"]["Resp"], "0")
    content = verify_sm2(run, "sm2Utf8", step(report, "sm2Utf8")["resp"])
    if XML.encode("utf-8") not in content:
        fail("sm2Utf8: the signed packet does not hold the UTF-8 transaction")

    # The long one came in pieces and joins into a signature over the file.
    long = step(report, "long")
    length = len(long["resp"])
    if length < 1_000_000:
        fail("long: only %d bytes" % length)
    want = []
    left = length - 999_999
    while left > 1_000_000:
        want.append(left)
        left -= 1_000_000
    want.append(left)
    want.append(0)
    expect("long leftsizes", long["leftsizes"], want)
    with open(attachment, "rb") as attached:
        # The packet carries the file in base64.
        if base64.b64encode(attached.read()) not in verify_sm2(run, "long", long["resp"]):
            fail("long: the signed packet does not hold the attached file")

    check_requests(run, "pkcs10", step(report, "pkcs10")["reply"]["Resp"])

    expect("noCmdType", step(report, "noCmdType")["reply"], None)
    expect("afterNoCmdType", step(report, "afterNoCmdType")["reply"],
           {"CmdType": "GetVersion", "Resp": "1.0.0.0"})

    # What the person at the key read, in the charset the key was told.
    shown = [json.loads(line) for line in
             run.tool("softkey", "display", "--json").splitlines() if line.strip()]
    expect("shows", [(s["outcome"], s["charset"]) for s in shown],
           [("signed", 1), ("signed", 1), ("signed", 2), ("signed", 2)])
    for s in shown:
        expect("display", s["display"], DISPLAY)
    expect("display bytes", base64.b64decode(shown[0]["displayBase64"]), DISPLAY.encode("gb18030"))
    expect("display bytes", base64.b64decode(shown[2]["displayBase64"]), DISPLAY.encode("utf-8"))


if __name__ == "__main__":
    sys.exit(main())
