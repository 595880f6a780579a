#!/usr/bin/env python3
"""End to end in a real browser: Debian's Chromium, headless, with the built
extension, opens a bank's page (bank_page.html) served on 127.0.0.1, whose own
script signs transactions through the extension and the built host on a
software key and posts what it got back to this script, which checks every
signature with the openssl command line. Pages of origins that are not the
bank's are opened beside it and must not reach the host.

The page runs the steps it is given (see bank_page.html): a new road is more
steps in page_steps() and more checks in check_page(). The key's queries and
deletions run last in the bank's run; a "secure" run follows once the test has
put the key in admin state 2 (check_key_road()). The bank's certificate
requests are answered by the last run, made from the bank run's report: the
page installs what the test CA issued and signs with it (enrol_steps()).

Usage: chromium_test.py --bin BUILD_BIN --extension BUILT_EXTENSION_DIR
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
import urllib.parse

SKIP = 77
SERIAL = "SK0000000042"
ZHANG_SAN = "CN=Zhang San,OU=Unit,O=Bank"
LI_SI = "CN=Li Si,OU=Unit,O=Bank"
XML = "<T><Payee>\u5f20\u4e09</Payee><Amount>100.00</Amount></T>"
DISPLAY = "\u4ed8\u6b3e 100.00 \u5143"
ATTACHMENT_BYTES = 700_000  # signs into a result of more than 1,000,000 bytes
CONTRACT = b"%PDF-1.4 loan contract 2026-0042\n" * 100
FILE_DISPLAY = "\u7b7e\u7f72\u5408\u540c 2026-0042"
PIECE = 1000
# An enrolment: a new SM2 and a new RSA key pair, one request each; both
# containers sign once their certificates are installed.
WANG_WU = "CN=Wang Wu,OU=Unit,O=Bank"
CERT_REQ = ("DN(%s)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)||"
            "DN(%s)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(02)" % (WANG_WU, WANG_WU))
# Two type-4 RSA keys of one subject, the first ending sooner.
ZHAO_LIU = "CN=Zhao Liu,OU=Branch,O=Bank"
SERVER_RANDOM = bytes(range(15))
PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bank_page.html")
VERSION = {"CmdType": "GetVersion", "Resp": "1.0.0.0"}
NOT_A_REQUEST = {"Error": "not a request"}
ORIGIN_REFUSED = {"Error": "origin not allowed"}
# Allowed by the test's copy of the manifest only, so that the service
# worker's own check is what refuses it.
WORKER_REFUSED_HOST = "127.0.0.2"
# On no list: the browser itself keeps chrome.runtime from the page.
UNLISTED_HOST = "127.0.0.3"


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


class Site:
    """The bank's page and the runs it is given: GET /runs/NAME answers the
    run's steps, POST /runs/NAME takes the page's report."""

    def __init__(self, extension):
        with open(PAGE, "rb") as page:
            self.page = page.read()
        self.extension = extension
        self.runs = {}
        self.reports = {}
        self.followers = {}
        self.hooks = {}
        self.errors = []
        self.lock = threading.Lock()
        self.all_in = threading.Event()

    def follow(self, name, follower, make_steps):
        """When run NAME reports, run FOLLOWER gets the steps make_steps(report)
        makes, before the page asks for them."""
        self.followers[name] = (follower, make_steps)

    def add_run(self, name, steps, next_page=None, reported=None):
        """reported() runs when the run's report is in, before the page goes on."""
        run = {"extension": self.extension, "steps": steps}
        if reported:
            self.hooks[name] = reported
        if next_page:
            run["next"] = next_page
        self.runs[name] = json.dumps(run).encode()

    def report(self, name, body):
        if name in self.hooks:
            self.hooks[name]()
        with self.lock:
            self.reports[name] = json.loads(body)
            if name in self.followers:
                follower, make_steps = self.followers.pop(name)
                try:
                    self.add_run(follower, make_steps(self.reports[name]))
                except BaseException as error:  # fail() exits; the page must go on
                    self.errors.append("%s: %s" % (follower, error))
                    self.add_run(follower, [])
            if self.reports.keys() == self.runs.keys():
                self.all_in.set()


class SiteServer(http.server.ThreadingHTTPServer):
    def __init__(self, address, site):
        super().__init__((address, 0), SiteHandler)
        self.site = site
        self.origin = "http://%s:%d" % (address, self.server_port)


class SiteHandler(http.server.BaseHTTPRequestHandler):
    def answer(self, status, body=b"", content_type="application/json"):
        self.send_response(status)
        # The pages of other origins, file: included, fetch their runs here.
        self.send_header("Access-Control-Allow-Origin", "*")
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        site = self.server.site
        if path == "/bank_page.html":
            self.answer(200, site.page, "text/html; charset=utf-8")
        elif path.startswith("/runs/") and path[6:] in site.runs:
            self.answer(200, site.runs[path[6:]])
        else:
            self.answer(404)

    def do_POST(self):
        name = urllib.parse.urlsplit(self.path).path[6:]
        if not self.path.startswith("/runs/") or name not in self.server.site.runs:
            self.answer(404)
            return
        length = int(self.headers.get("Content-Length", "0"))
        self.server.site.report(name, self.rfile.read(length))
        self.answer(204)

    def log_message(self, *args):
        pass


def page_steps(attachment, contract):
    sign = {"CmdType": "GMUsbKeySign", "SignerDN": ZHANG_SAN, "HashName": "SM3",
            "xmlMsg": XML, "keyMsg": DISPLAY, "NewVal": ""}
    long = dict(sign, NewVal=attachment)
    sign_file = {"CmdType": "GMUsbKeySignFileExt", "SignerDN": "", "HashName": "SM3",
                 "xmlMsg": XML, "keyMsg": FILE_DISPLAY}
    return [

        # The first host to start fails (see count_host_starts): the port closes.
        {"name": "hostGone", "port": "gone", "request": {"CmdType": "GetVersion"}},
        {"name": "afterHostGone", "port": "gone", "request": {"CmdType": "GetVersion"}},
        # One message each, on a host of its own; a long result comes joined.
        {"name": "version", "request": {"CmdType": "GetVersion"}},
        {"name": "media", "request": {"CmdType": "GetMediaID"}},
        {"name": "unknown", "request": {"CmdType": "NoSuchCommand"}},
        {"name": "anyCase", "request": {"cmdtype": "GetVersion"}},
        {"name": "sm2Gbk", "request": sign},
        {"name": "rsa", "request": dict(sign, SignerDN=LI_SI, HashName="SHA256")},
        {"name": "longJoined", "request": long},
        {"name": "pkcs10", "request": {"CmdType": "GMCreatePKCS10", "CertReq": CERT_REQ}},
        # Not a request: the bridge answers, and starts no host.
        {"name": "notObject", "request": "GetVersion"},
        {"name": "array", "request": [{"CmdType": "GetVersion"}]},
        {"name": "noCmdType", "request": {"cmd": "GetVersion"}},
        {"name": "emptyCmdType", "request": {"CmdType": ""}},
        {"name": "nullCmdType", "request": {"CmdType": None}},
        {"name": "numberCmdType", "request": {"CmdType": 7}},
        {"name": "twoCmdTypes", "request": {"CmdType": "GetVersion", "cmdType": "GetMediaID"}},
        # Port a keeps its host's charset and pieces; port b is another tab's.
        {"name": "utf8", "port": "a", "request": {"CmdType": "SetCharset", "CharSet": "utf-8"}},
        {"name": "sm2Utf8", "port": "a", "request": sign},
        {"name": "longFirst", "port": "a", "request": long},
        {"name": "otherTab", "port": "b", "request": {"CmdType": "GetDataPackage"}},
        {"name": "longRest", "port": "a", "request": {"CmdType": "GetDataPackage"}},
        {"name": "refusedOnPort", "port": "a", "request": {"CmdType": ["GetVersion"]}},
        {"name": "afterRefused", "port": "a", "request": {"CmdType": "GetVersion"}},
        # A file: named, then chosen in the (scripted) dialog, signed into a
        # signature file, read back in pieces; all on one host, which keeps
        # the tokens.
        {"name": "fileNamed", "port": "file",
         "request": {"CmdType": "NSFileToTokenExt", "path": contract}},
        {"name": "fileChosen", "port": "file", "request": {"CmdType": "NSChooseFileExt"}},
        {"name": "fileSigned", "port": "file", "request": sign_file,
         "token": {"into": "chooseFileToken", "from": "fileChosen"}},
        {"name": "filePieces", "port": "file", "pieces": PIECE,
         "request": {"CmdType": "GetSignFileContent", "MaxLength": PIECE},
         "token": {"into": "FileToken", "from": "fileSigned"}},
        # What the key holds, in admin state 1; then older and named keys deleted.
        *({"name": name, "port": "keys", "request": dict(request, CmdType=command)}
          for name, command, request in KEY_STEPS),
    ]


KEY_STEPS = [
    ("certDn", "GMGetCertDN", {}),
    ("keyNum", "GetPublicKeyNum", {}),
    ("allKeys", "GMGetPublicKey", {"ReadType": "AllPubKey"}),
    ("noCertKeys", "GMGetPublicKey", {"ReadType": "NoCertPubKey"}),
    ("certificates", "GMGetPKCS7", {}),
    ("adminInfo", "GMGetAdminKeyInfo", {}),
    ("temKey", "GMGetTemKey", {}),
    ("encKeys", "GetPublicKeyC", {}),
    ("randomRefused", "GMBankEncGetRand", {}),
    ("register", "RegisterCert", {}),
    ("judge", "GMJudgeAndDelOlderDN", {}),
    ("judgeAgain", "GMJudgeAndDelOlderDN", {}),
    ("delTempKey", "GMDelTempKey", {"CertDn": LI_SI, "PublicKeyId": ""}),
    ("certDnAfter", "GMGetCertDN", {}),
]

# The secure road, once the test has put the key in admin state 2: the
# enrolment's two new key pairs (public-key files 10 and 12) by id, and the
# remaining Zhao key by name, enciphered for the issuer.
SECURE_STEPS = [
    {"name": name, "port": "secure", "request": dict(request, CmdType=command)}
    for name, command, request in [
        ("random", "GMBankEncGetRand", {}),
        ("encKeyByName", "GMGetPublicKeyC", {"KeyType": "02", "DnOrID": "Zhao",
                                             "Base64SerRand": base64.b64encode(SERVER_RANDOM).decode()}),
        ("encKeyById", "GMGetPublicKeyC", {"KeyType": "01", "DnOrID": "10||12",
                                           "Base64SerRand": base64.b64encode(SERVER_RANDOM).decode()}),
        ("temKeyRefused", "GMGetTemKey", {}),
        ("unregister", "UnRegisterCert", {}),
    ]]


def enrol_steps(run, report):
    """The bank answers the page's certificate requests: the test CA issues
    both, and the SM2 key pair gets an encryption key pair in an envelope.
    The page installs them and signs with both new certificates."""
    requests = report["steps"]["pkcs10"]["reply"]["Resp"].split("||")
    issued = []
    for index, request in enumerate(requests):
        der = os.path.join(run.root, "enrol%d.der" % index)
        with open(der, "wb") as out:
            out.write(base64.b64decode(request))
        issued.append(run.tool("softkey", "issue", der).strip())
    key = json.loads(run.tool("softkey", "show", SERIAL, "--json"))
    waiting = [c["index"] for c in key["containers"]
               if c["signature"]["algorithmName"] == "sm2" and c["signature"]["certificate"] is None]
    if len(waiting) != 1:
        fail("enrol: %d SM2 containers wait for a certificate" % len(waiting))
    run.enrolled = str(waiting[0])
    envelope = run.tool("softkey", "envelope", "--container", run.enrolled, "--subject", WANG_WU)
    sign = {"CmdType": "GMUsbKeySign", "SignerDN": WANG_WU, "HashName": "SM3", "xmlMsg": XML,
            "keyMsg": DISPLAY, "NewVal": ""}
    return [
        {"name": "installSm2", "request": {"CmdType": "GMWritePKCS7_Enc", "SignCertP7": issued[0],
                                           "encData": envelope.strip(), "servRand": ""}},
        {"name": "installRsa", "request": {"CmdType": "GMWritePKCS7", "SignCertP7": issued[1]}},
        {"name": "enrolledSm2", "request": sign},
        {"name": "enrolledRsa", "request": dict(sign, HashName="SHA256")},
    ]


def check_enrolment(run, report):
    """Both certificates installed; each new container signs, chained to the
    test CA; the imported key pair opens what openssl seals to its certificate."""
    for name in ("installSm2", "installRsa"):
        expect(name, outcome(report, name)["Resp"], "0")
    verify_sm2(run, "enrolledSm2", outcome(report, "enrolledSm2")["Resp"])
    verify_rsa(run, "enrolledRsa", outcome(report, "enrolledRsa")["Resp"])
    for name in ("enrolledSm2", "enrolledRsa"):
        signer = run.openssl("pkcs7", "-inform", "DER", "-in", name + ".p7", "-print_certs",
                             "-noout")
        if "subject=O = Bank, OU = Unit, CN = Wang Wu" not in signer.stdout:
            fail("%s: signed with another certificate: %s" % (name, signer.stdout))
    for slot, out in (("export-cert", "exchange.pem"), ("export-key", "exchange.key")):
        with open(os.path.join(run.root, out), "w") as f:
            f.write(run.tool("softkey", slot, "--slot", "exchange", "--container", run.enrolled))
    with open(os.path.join(run.root, "secret"), "w") as f:
        f.write("key material")
    sealed = run.openssl("pkeyutl", "-encrypt", "-certin", "-inkey", "exchange.pem", "-in",
                         "secret", "-out", "sealed")
    opened = run.openssl("pkeyutl", "-decrypt", "-inkey", "exchange.key", "-in", "sealed")
    expect("exchange key pair", (sealed.returncode, opened.stdout), (0, "key material"))


# The replies known to the byte; the signatures are checked with openssl.
EXACT_REPLIES = {
    "hostGone": {"Error": "host not available"},
    "version": VERSION,
    "media": {"CmdType": "GetMediaID", "Resp": SERIAL},
    "unknown": {"CmdType": "NoSuchCommand", "Resp": ""},
    "anyCase": VERSION,
    "notObject": NOT_A_REQUEST,
    "array": NOT_A_REQUEST,
    "noCmdType": NOT_A_REQUEST,
    "emptyCmdType": NOT_A_REQUEST,
    "nullCmdType": NOT_A_REQUEST,
    "numberCmdType": NOT_A_REQUEST,
    "twoCmdTypes": NOT_A_REQUEST,
    "utf8": {"CmdType": "SetCharset", "Resp": "0"},
    "otherTab": {"CmdType": "GetDataPackage", "Resp": {"leftsize": 0, "content": ""}},
    "refusedOnPort": NOT_A_REQUEST,
    "afterRefused": VERSION,
}
KEY_REPLIES = {
    "certDn": ZHANG_SAN + "||" + LI_SI + "||" + ZHAO_LIU + "||" + ZHAO_LIU,
    "keyNum": "6",
    "randomRefused": "-411",
    "register": "0",
    "judge": "0",
    "judgeAgain": "1",
    "delTempKey": "0",
    "certDnAfter": ZHANG_SAN + "||" + ZHAO_LIU,
}


def expected_host_starts(steps):
    """A host for each message the bridge forwards, and one for each port."""
    messages = [s for s in steps if "port" not in s and EXACT_REPLIES.get(s["name"]) != NOT_A_REQUEST]
    return len(messages) + len({s["port"] for s in steps if "port" in s})


REFUSED_STEPS = [
    {"name": "message", "request": {"CmdType": "GetVersion"}},
    {"name": "port", "port": "p", "request": {"CmdType": "GetVersion"}},
]


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


def install_extension(built, root):
    """A copy of the built extension whose manifest also lets
    WORKER_REFUSED_HOST connect; its id."""
    extension = os.path.join(root, "extension")
    shutil.copytree(built, extension)
    path = os.path.join(extension, "manifest.json")
    with open(path) as manifest_file:
        manifest = json.load(manifest_file)
    matches = manifest["externally_connectable"]["matches"]
    if any(WORKER_REFUSED_HOST in m or UNLISTED_HOST in m for m in matches):
        fail("the built extension already lets %s or %s in" % (WORKER_REFUSED_HOST, UNLISTED_HOST))
    matches.append("http://%s/*" % WORKER_REFUSED_HOST)
    with open(path, "w") as manifest_file:
        json.dump(manifest, manifest_file)
    return extension, extension_id(manifest)


def count_host_starts(profile, run, host):
    """Points the host manifest at a wrapper that notes each start of the host;
    the first start fails, as a host that cannot run would."""
    starts = os.path.join(run.root, "host-starts")
    wrapper = os.path.join(run.root, "host-wrapper.sh")
    with open(wrapper, "w") as out:
        out.write("#!/bin/sh\necho started >> '%s'\n" % starts +
                  "[ \"$(wc -l < '%s')\" -eq 1 ] && exit 1\n" % starts +
                  "exec '%s' \"$@\"\n" % host)
    os.chmod(wrapper, 0o755)
    path = os.path.join(profile, "NativeMessagingHosts", "orva_xr_usbkey_extension.json")
    with open(path) as manifest_file:
        manifest = json.load(manifest_file)
    if os.path.realpath(manifest["path"]) != host:
        fail("the host manifest names %s, not the built host" % manifest["path"])
    manifest["path"] = wrapper
    with open(path, "w") as manifest_file:
        json.dump(manifest, manifest_file)
    return starts


def run_test(chromium, options, root):
    run = Run(options.bin, root)
    extension, ext_id = install_extension(options.extension, root)
    host = os.path.realpath(os.path.join(options.bin, "orva_xr_usbkey_extension"))

    # The key, its containers and the install, as a bank and an installer leave them.
    run.tool("softkey", "create", "--sn", SERIAL)
    run.tool("softkey", "user", "--pin", "12345678")
    run.tool("softkey", "provision", "--sn", SERIAL, "--alg", "sm2", "--type", "3",
             "--subject", ZHANG_SAN)
    # Type 2: a file is signed with the one type-3 container.
    run.tool("softkey", "provision", "--sn", SERIAL, "--alg", "rsa2048", "--type", "2",
             "--subject", LI_SI)
    for days in ("10", "730"):
        run.tool("softkey", "provision", "--sn", SERIAL, "--alg", "rsa1024", "--type", "4",
                 "--days", days, "--subject", ZHAO_LIU)
    with open(os.path.join(root, "ca.pem"), "w") as ca:
        ca.write(run.tool("softkey", "ca"))
    run.tool("orva-setup", "register")
    profile = os.path.join(root, "profile")
    run.tool("orva-setup", "manifest", "--user-data-dir", profile, "--extension-id", ext_id)
    starts = count_host_starts(profile, run, host)

    attachment = os.path.join(root, "attachment.bin")
    with open(attachment, "wb") as out:
        out.write(os.urandom(ATTACHMENT_BYTES))
    contract = os.path.join(root, "contract.pdf")
    with open(contract, "wb") as out:
        out.write(CONTRACT)
    # The file dialog, as the person at the computer would answer it.
    run.env["ORVA_FILE_DIALOG"] = "printf '%%s\\n' '%s'" % contract
    steps = page_steps(attachment, contract)
    site = Site(ext_id)
    servers = [SiteServer(address, site) for address in ("127.0.0.1", WORKER_REFUSED_HOST,
                                                         UNLISTED_HOST)]
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    # Headless Chromium opens one page: each goes on to the next when it has
    # reported, the refused ones first (a page may leave file: but not enter it).
    runs = servers[0].origin + "/runs/"
    file_page = os.path.join(root, "bank_page.html")
    shutil.copy(PAGE, file_page)
    pages = [("file", "file://" + file_page),
             ("unlisted", servers[2].origin + "/bank_page.html"),
             ("workerRefused", servers[1].origin + "/bank_page.html"),
             ("bank", servers[0].origin + "/bank_page.html"),
             ("secure", servers[0].origin + "/bank_page.html"),
             ("enrol", servers[0].origin + "/bank_page.html")]
    urls = [page + "?run=" + runs + name for name, page in pages]
    # What the key held and had registered when each of the key road's runs ended.
    snapshots = {}

    def to_secure_road():
        snapshots["bank"] = (run.tool("softkey", "registered"), key_file(run))
        run.tool("softkey", "admin-state", "2")

    def back_to_plain_road():
        snapshots["secure"] = (run.tool("softkey", "registered"), key_file(run))
        run.tool("softkey", "admin-state", "1")

    run_steps = {"bank": steps, "secure": SECURE_STEPS}
    hooks = {"bank": to_secure_road, "secure": back_to_plain_road}
    for (name, _), next_page in zip(pages, urls[1:] + [None]):
        if name != "enrol":
            site.add_run(name, run_steps.get(name, REFUSED_STEPS), next_page, hooks.get(name))
    # The bank answers the page's certificate requests with the next run.
    site.follow("bank", "enrol", lambda report: enrol_steps(run, report))

    flags = ["--headless", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
             "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--disable-default-apps",
             "--user-data-dir=" + profile, "--load-extension=" + extension, urls[0]]
    if os.geteuid() == 0:
        flags.insert(0, "--no-sandbox")
    log_path = os.path.join(root, "chromium.log")
    with open(log_path, "wb") as log:
        browser = subprocess.Popen([chromium, *flags], env=run.env, stdout=log, stderr=log,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
    started = time.time()
    try:
        if not site.all_in.wait(120):
            with open(log_path, errors="replace") as log:
                fail("reports from %s only within 120 s; Chromium said:\n%s" %
                     (sorted(site.reports), log.read()[-4000:]))
        # The page closed its ports: each host sees the end of its input and ends.
        deadline = time.time() + 15
        while hosts_running(host, run.env["ORVA_REGISTRY"]):
            if time.time() > deadline:
                fail("a host did not end after its port was closed")
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
        for server in servers:
            server.shutdown()
    print("reports after %.1f s" % (time.time() - started))
    if site.errors:
        fail("; ".join(site.errors))
    check_refused(site.reports)
    check_page(run, site.reports["bank"], attachment)
    check_file_road(run, site.reports["bank"], contract)
    check_key_road(run, site.reports["bank"], site.reports["secure"], snapshots)
    check_enrolment(run, site.reports["enrol"])
    enrolment = json.loads(site.runs["enrol"])["steps"]
    with open(starts) as started_hosts:
        expect("host starts", len(started_hosts.readlines()), expected_host_starts(steps) +
               expected_host_starts(SECURE_STEPS) + expected_host_starts(enrolment))
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


def expect(name, got, want):
    if got != want:
        shown = got if len(repr(got)) < 300 else repr(got)[:300]
        fail("%s: got %r, want %r" % (name, shown, want))


def outcome(report, name):
    if name not in report["steps"]:
        fail("no step " + name)
    result = report["steps"][name]
    if "error" in result:
        fail("%s: %s" % (name, result["error"]))
    shown = json.dumps(result["reply"], ensure_ascii=False)
    print("  %-14s %s" % (name, shown if len(shown) < 100 else shown[:96] + " ..."))
    return result["reply"]


def check_refused(reports):
    """No page of another origin reached the host: the worker answers one the
    manifest lets in; the browser keeps chrome.runtime from the others."""
    report = reports["workerRefused"]
    expect("workerRefused runtime", report["runtime"], True)
    for name in ("message", "port"):
        expect("workerRefused " + name, report["steps"][name], {"reply": ORIGIN_REFUSED})
    for run in ("unlisted", "file"):
        expect(run + " runtime", reports[run]["runtime"], False)
        for name in ("message", "port"):
            if "error" not in reports[run]["steps"][name]:
                fail("%s %s: %r" % (run, name, reports[run]["steps"][name]))


def check_page(run, report, attachment):
    if "error" in report:
        fail("the page failed: " + report["error"])
    for name, want in EXACT_REPLIES.items():
        expect(name, outcome(report, name), want)
    expect("afterHostGone", report["steps"]["afterHostGone"], {"error": "disconnected"})

    # GBK at start: the key got GB18030 bytes.
    for name, verify in (("sm2Gbk", verify_sm2), ("rsa", verify_rsa)):
        reply = outcome(report, name)
        expect(name + " CmdType", reply["CmdType"], "GMUsbKeySign")
        if XML.encode("gb18030") not in verify(run, name, reply["Resp"]):
            fail(name + ": the signed packet does not hold the GB18030 transaction")
    # The port kept the charset its page set.
    content = verify_sm2(run, "sm2Utf8", outcome(report, "sm2Utf8")["Resp"])
    if XML.encode("utf-8") not in content:
        fail("sm2Utf8: the signed packet does not hold the UTF-8 transaction")

    with open(attachment, "rb") as attached:
        # The packet carries the file in base64.
        attached_base64 = base64.b64encode(attached.read())
    # Asked once: the bridge joined the pieces.
    joined = outcome(report, "longJoined")["Resp"]
    if len(joined) < 1_000_000 or attached_base64 not in verify_sm2(run, "longJoined", joined):
        fail("longJoined: not a signature of the attached file")
    # On the port, the page fetched the pieces itself.
    first = outcome(report, "longFirst")["Resp"]
    rest = outcome(report, "longRest")["Resp"]
    expect("longFirst piece", len(first["content"]), 1_000_000)
    length = len(first["content"]) + len(rest["content"])
    # The host counts one more than the bytes still to come.
    expect("longFirst leftsize", first["leftsize"], length - 999_999)
    expect("longRest leftsize", rest["leftsize"], 0)
    if attached_base64 not in verify_sm2(run, "longPieces", first["content"] + rest["content"]):
        fail("longPieces: the signed packet does not hold the attached file")

    # An SM2 and an RSA key pair made on the key, each with its request.
    requests = outcome(report, "pkcs10")
    expect("pkcs10 CmdType", requests["CmdType"], "GMCreatePKCS10")
    check_requests(run, "pkcs10", requests["Resp"])

    # What the person at the key read, in the charset the key was told.
    shown = [json.loads(line) for line in
             run.tool("softkey", "display", "--json").splitlines() if line.strip()]
    # The file's signature last, once; its port's host has the charset it started with.
    expect("shows", [(s["outcome"], s["charset"]) for s in shown],
           [("signed", 1)] * 3 + [("signed", 2)] * 2 + [("signed", 1)] * 3)
    # The enrolled containers signed last, after the file.
    expect("file display", shown.pop(5)["display"], FILE_DISPLAY)
    for s in shown:
        expect("display", s["display"], DISPLAY)
    expect("display bytes", base64.b64decode(shown[0]["displayBase64"]), DISPLAY.encode("gb18030"))
    expect("display bytes", base64.b64decode(shown[3]["displayBase64"]), DISPLAY.encode("utf-8"))


def token_text(name, reply):
    """A file token's text as a dict: TOKEN, FILEPATH or FILENAME, FILESIZE."""
    text = base64.b64decode(reply["Resp"]).decode()
    fields = dict(field.split("=", 1) for field in text.split("||"))
    if len(fields.get("TOKEN", "")) != 64:
        fail("%s: not a file token: %s" % (name, text))
    return fields


def check_file_road(run, report, contract):
    for name in ("fileNamed", "fileChosen"):
        fields = token_text(name, outcome(report, name))
        expect(name + " FILEPATH", fields["FILEPATH"], contract)
        expect(name + " FILESIZE", fields["FILESIZE"], str(len(CONTRACT)))
    signature = token_text("fileSigned", outcome(report, "fileSigned"))
    # Beside the signed file, named after the signer.
    path = os.path.join(os.path.dirname(contract), signature["FILENAME"])
    if not signature["FILENAME"].startswith("Zhang San.") or not os.path.isfile(path):
        fail("fileSigned: no signature file %s" % path)
    with open(path) as signature_file:
        written = signature_file.read()
    expect("fileSigned FILESIZE", signature["FILESIZE"], str(len(written)))

    if "replies" not in report["steps"]["filePieces"]:
        fail("filePieces: %r" % report["steps"]["filePieces"])
    pieces = [reply["Resp"] for reply in report["steps"]["filePieces"]["replies"]]
    marks = "".join(piece[:16] for piece in pieces)
    count = (len(written) + PIECE - 1) // PIECE
    expect("file marks", marks, "MARK=0||CONTENT=" + "MARK=1||CONTENT=" * (count - 2) +
           "MARK=2||CONTENT=")
    joined = "".join(piece[16:] for piece in pieces)
    expect("file pieces joined", joined, written)
    content = verify_sm2(run, "fileSigned", joined)
    if base64.b64encode(CONTRACT) not in content or XML.encode("gb18030") not in content:
        fail("fileSigned: the signed packet does not hold the transaction and the file")



def check_key_road(run, report, secure, snapshots):
    """The queries and deletions: listings to the byte where they are known,
    keys and certificates through openssl, the issuer's blocks opened with the
    key's device key as the bank's server would. The enrolment's requests made
    containers 5 (SM2, public-key file 10) and 6 (RSA, 12) without certificates."""
    for name, want in KEY_REPLIES.items():
        expect(name, outcome(report, name)["Resp"], want)
    # "%02d" id and base64: SM2 as 04 X Y, RSA as DER RSAPublicKey.
    listed = outcome(report, "allKeys")["Resp"].split("||")
    expect("allKeys ids", [item[:2] for item in listed], ["02", "04", "06", "08", "10", "12"])
    for item in listed:
        der = os.path.join(run.root, "key%s.der" % item[:2])
        with open(der, "wb") as out:
            out.write(base64.b64decode(item[2:]))
        if item[:2] in ("02", "10"):
            with open(der, "rb") as key:
                expect("allKeys SM2 " + item[:2], key.read()[:1], b"\x04")
            expect("allKeys SM2 size", os.path.getsize(der), 65)
            continue
        result = run.openssl("rsa", "-RSAPublicKey_in", "-inform", "DER", "-in", der, "-noout")
        if result.returncode != 0:
            fail("allKeys: %s is not an RSA public key: %s" % (item[:2], result.stderr))
    expect("noCertKeys", outcome(report, "noCertKeys")["Resp"], "||".join(listed[4:]))
    certificates = outcome(report, "certificates")["Resp"].split("||")
    expect("certificates", len(certificates), 4)
    for i, item in enumerate(certificates):
        der = os.path.join(run.root, "cert%d.der" % i)
        with open(der, "wb") as out:
            out.write(base64.b64decode(item))
        result = run.openssl("verify", "-CAfile", "ca.pem", der)
        if result.returncode != 0:
            fail("certificates: %d does not chain to the test CA: %s" % (i, result.stdout))
    admin = outcome(report, "adminInfo")["Resp"]
    expect("adminInfo", (len(admin), admin[:4]), (20, "A100"))
    expect("temKey", len(base64.b64decode(outcome(report, "temKey")["Resp"])), 16)
    expect("encKeys", len(outcome(report, "encKeys")["Resp"].split("||")), 6)
    # The RSA certificates of types 2 and 4 were registered. Withdrawing walks
    # the key, so the registrations of containers deleted since stay.
    registered, key = snapshots["bank"]
    lines = registered.splitlines()
    expect("registered", sorted(line.split("\t")[::2] for line in lines),
           [[LI_SI, "Korvane CSP ORVA V1.0"]] + [[ZHAO_LIU, "Korvane CSP ORVA V1.0"]] * 2)
    expect("registered key type", [line.split("\t")[3] for line in lines], ["2"] * 3)
    unregistered, left = snapshots["secure"]
    names = [c["name"] for c in left["containers"]]
    expect("unregistered", unregistered.splitlines(),
           [line for line in lines if line.split("\t")[1] not in names])

    expect("random", len(base64.b64decode(outcome(secure, "random")["Resp"])), 15)
    for name, want in (("temKeyRefused", "-411"), ("unregister", "0")):
        expect(name, outcome(secure, name)["Resp"], want)
    for name, key_type, fids in (("encKeyByName", 2, [8]), ("encKeyById", 1, [10, 12])):
        block = bytes([key_type, len(fids)])
        for fid in fids:
            public = next(bytes.fromhex(f["publicFile"]) for f in key["keyFiles"]
                          if f["privateFid"] + 1 == fid)
            block += bytes([fid, len(public) >> 8, len(public) & 0xFF]) + public
        block += SERVER_RANDOM
        block += bytes(-len(block) % 16)
        enciphered = os.path.join(run.root, name + ".bin")
        with open(enciphered, "wb") as out:
            out.write(base64.b64decode(outcome(secure, name)["Resp"]))
        opened = subprocess.run(["openssl", "enc", "-d", "-sm4-ecb", "-nopad", "-K",
                                 key["deviceKey"], "-in", enciphered], capture_output=True)
        expect(name, opened.stdout, block)


def key_file(run):
    """The key as it stands in the store."""
    with open(os.path.join(run.root, "softkey", "present", SERIAL + ".json")) as key:
        return json.load(key)

if __name__ == "__main__":
    sys.exit(main())
