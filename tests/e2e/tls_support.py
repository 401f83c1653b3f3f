"""HTTPS for the end-to-end tests: the throwaway certificates
(tools/testca.py), the stand-in portal over TLS with its control port kept
plain, and the test CA in a prefix's trusted roots (the prefix's registry
store, never the machine's)."""

import hashlib
import importlib.util
import select
import struct
import subprocess

import harness
from harness import E2E_BUILD, TOOLS, HarnessError

ROOT_STORE = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"


def certificates():
    """The folder of the test certificates, made on first use."""
    found = importlib.util.spec_from_file_location("testca", TOOLS / "testca.py")
    testca = importlib.util.module_from_spec(found)
    found.loader.exec_module(testca)
    return testca.make(E2E_BUILD / "tls")


class TlsPortal(harness.Portal):
    """tools/portal.py serving HTTPS with one of the test certificates
    ("server", "wrong" or "rogue"); scripted over its plain control port."""

    def __init__(self, log_path, cert="server"):
        super().__init__(log_path)
        self.cert = cert
        self.control_port = None

    def start(self, timeout=15, port=0):
        folder = certificates()
        self.proc = subprocess.Popen(
            ["python3", str(TOOLS / "portal.py"), "--port", str(port), "--log", str(self.log_path),
             "--control-port", "0", "--tls-cert", str(folder / (self.cert + ".pem")),
             "--tls-key", str(folder / (self.cert + ".key"))],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        harness._register(self)
        ports = []
        if not select.select([self.proc.stdout.fileno()], [], [], timeout)[0]:
            raise HarnessError("TLS portal did not start")
        # Both ports are printed at once (a second select could miss the
        # line that the first read buffered).
        for _ in range(2):
            line = self.proc.stdout.readline().decode().strip()
            if not line.isdigit():
                raise HarnessError("TLS portal printed %r" % line)
            ports.append(int(line))
        self.port, self.control_port = ports
        return self

    def control(self, command, payload=None, timeout=10):
        # The base class speaks plain HTTP to self.port: point it at the
        # control port for the call.
        port, self.port = self.port, self.control_port
        try:
            return super().control(command, payload, timeout)
        finally:
            self.port = port


def trust_test_ca(prefix):
    """Adds the test CA to the prefix's trusted roots (the registry store
    that crypt32 reads besides the host's bundle)."""
    der = (certificates() / "ca.der").read_bytes()
    thumb = hashlib.sha1(der).hexdigest().upper()
    # The certificate property element: id 0x20, reserved 1, length, DER.
    blob = struct.pack("<III", 0x20, 1, len(der)) + der
    rc, o, e = prefix.wine("reg", "add", ROOT_STORE + "\\" + thumb, "/v", "Blob", "/t", "REG_BINARY",
                           "/d", blob.hex().upper(), "/f", timeout=60)
    if rc != 0:
        raise HarnessError("reg add of the test CA failed: %r" % (o + e)[-500:])
