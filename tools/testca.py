#!/usr/bin/env python3
"""Throwaway certificates for the HTTPS tests and the demo, made with openssl.

    python3 tools/testca.py DIR

Makes in DIR (once; an existing complete set is kept):

    ca.pem ca.der          the test CA that the tests make Wine and Qt trust
    server.pem server.key  for 127.0.0.1 and localhost, signed by the test CA
                           (names DNS:127.0.0.1, IP:127.0.0.1, DNS:localhost:
                           Wine matches only DNS entries, Qt the IP one)
    wrong.pem wrong.key    for wrong.example only, signed by the test CA
    rogue.pem rogue.key    for 127.0.0.1 and localhost, signed by a second CA
                           that nothing trusts
    certs/                 ca.pem alone, hashed for OpenSSL (openssl rehash),
                           to stand in for /etc/ssl/certs

Nothing is installed anywhere; the keys are for 127.0.0.1 tests only.
"""

import subprocess
import sys
from pathlib import Path

NAMES = "DNS:127.0.0.1,IP:127.0.0.1,DNS:localhost"
FILES = ("ca.pem", "ca.der", "server.pem", "server.key", "wrong.pem", "wrong.key",
         "rogue.pem", "rogue.key", "certs")


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(name, subject, cwd):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
            "-out", name + ".pem", "-days", "30", "-subj", "/CN=" + subject,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=cwd)


def make_leaf(name, ca, names, cwd):
    ext = Path(cwd) / (name + ".ext")
    ext.write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n" % names)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=" + names.split(",")[0].split(":", 1)[1], cwd=cwd)
    openssl("x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
            "-CAcreateserial", "-out", name + ".pem", "-days", "30", "-extfile", ext.name, cwd=cwd)


def make(folder):
    folder = Path(folder)
    if all((folder / f).exists() for f in FILES):
        return folder
    folder.mkdir(parents=True, exist_ok=True)
    make_ca("ca", "orlimo test CA", folder)
    make_ca("rogue-ca", "orlimo untrusted CA", folder)
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=folder)
    make_leaf("server", "ca", NAMES, folder)
    make_leaf("wrong", "ca", "DNS:wrong.example", folder)
    make_leaf("rogue", "rogue-ca", NAMES, folder)
    certs = folder / "certs"
    certs.mkdir(exist_ok=True)
    (certs / "ca.pem").write_bytes((folder / "ca.pem").read_bytes())
    openssl("rehash", str(certs), cwd=folder)
    return folder


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    print(make(sys.argv[1]))
