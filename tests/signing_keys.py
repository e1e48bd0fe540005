"""Throwaway signing keys, signatures made with them, and a time-stamp
server on 127.0.0.1, for the tests of signed launchers and of a signed build.

make_keys(folder) makes, with openssl, a root CA and a code-signing
certificate it issued, or a self-signed certificate alone; given a password,
also a PKCS#12 file of the signer and the CA protected by it (the password
kept in a file of its own) and a time-stamping certificate. sign(keys, ...)
signs a program with osslsigncode. TimestampServer(keys) answers RFC 3161
requests with `openssl ts -reply` for as long as it runs. Nothing leaves the
folder.

    python3 signing_keys.py FOLDER PASSWORD    makes the keys and serves time stamps
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import types

CONFIG = """\
[ req ]
distinguished_name = name
[ name ]
[ ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ self_signed ]
basicConstraints = critical, CA:TRUE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[ code_signing ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ time_stamping ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ tsa ]
default_tsa = tsa_section
[ tsa_section ]
serial = {folder}/tsa-serial
crypto_device = builtin
signer_cert = {folder}/tsa.pem
certs = {folder}/ca.pem
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def tool(*command, cwd=None):
    """Runs a command-line tool to its end; its output. RuntimeError, with
    the output, when it fails."""
    result = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=120)
    output = result.stdout.decode(errors="replace")
    if result.returncode != 0:
        raise RuntimeError("%s %s failed: %s" % (command[0], command[1], output))
    return output


def openssl(folder, *args):
    return tool("openssl", *args, cwd=folder)


def issue(folder, name, subject, section, serial):
    """A key and a certificate for it that the CA issued, with the
    extensions of section."""
    openssl(folder, "req", "-new", "-newkey", "rsa:2048", "-nodes", "-config", "openssl.cnf",
            "-subj", subject, "-keyout", name + ".key", "-out", name + ".csr")
    openssl(folder, "x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-set_serial", str(serial), "-days", "2", "-sha256",
            "-extfile", "openssl.cnf", "-extensions", section, "-out", name + ".pem")


def make_keys(folder, password=None, self_signed=False):
    """The keys in folder (made if need be): key, the private key that
    signs; certificates, the PEM file of the certificates a signature
    carries (the signer's, then the CA's); ca, the root to verify with.
    self_signed: one self-signed certificate, its own root. Given a
    password: pkcs12 and password_file, and the time-stamp server's config
    (tsa_config)."""
    os.makedirs(folder, exist_ok=True)
    config = os.path.join(folder, "openssl.cnf")
    with open(config, "w") as f:
        f.write(CONFIG.format(folder=folder))
    keys = types.SimpleNamespace(folder=folder, key=os.path.join(folder, "signer.key"),
                                 certificates=os.path.join(folder, "chain.pem"),
                                 ca=os.path.join(folder, "ca.pem"))
    if self_signed:
        openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-sha256",
                "-config", "openssl.cnf", "-extensions", "self_signed",
                "-subj", "/CN=Morvex Throwaway Self-Signed", "-keyout", "signer.key",
                "-out", "signer.pem")
        keys.certificates = keys.ca = os.path.join(folder, "signer.pem")
        return keys
    openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-sha256",
            "-config", "openssl.cnf", "-extensions", "ca", "-subj", "/CN=Morvex Throwaway Root CA",
            "-keyout", "ca.key", "-out", "ca.pem")
    issue(folder, "signer", "/CN=Morvex Throwaway Code Signing", "code_signing", 2)
    with open(keys.certificates, "w") as chain:
        for name in ("signer.pem", "ca.pem"):
            with open(os.path.join(folder, name)) as f:
                chain.write(f.read())
    if password is None:
        return keys
    issue(folder, "tsa", "/CN=Morvex Throwaway Time Stamps", "time_stamping", 3)
    with open(os.path.join(folder, "tsa-serial"), "w") as f:
        f.write("01\n")
    keys.tsa_config = config
    keys.password_file = os.path.join(folder, "password.txt")
    with open(keys.password_file, "w") as f:
        f.write(password + "\n")
    openssl(folder, "pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem",
            "-certfile", "ca.pem", "-name", "Morvex code signing", "-passout",
            "file:" + keys.password_file, "-out", "signer.p12")
    keys.pkcs12 = os.path.join(folder, "signer.p12")
    return keys


def sign(keys, program, signed, description="Morvex test"):
    """program signed with the keys into the file signed, by osslsigncode,
    without a time stamp; its output."""
    return tool("osslsigncode", "sign", "-certs", keys.certificates, "-key", keys.key,
                "-n", description, "-in", program, "-out", signed)


class TimestampServer:
    """RFC 3161 over HTTP on 127.0.0.1: the body of a POST is the query, the
    answer `openssl ts -reply`'s. requests counts the answers given."""

    def __init__(self, keys):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                reply = server.reply(query)
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.keys = keys
        self.requests = 0
        self.lock = threading.Lock()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def reply(self, query):
        with self.lock, tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "query.tsq"), "wb") as f:
                f.write(query)
            result = subprocess.run(["openssl", "ts", "-reply", "-config", self.keys.tsa_config,
                                     "-queryfile", "query.tsq", "-out", "reply.tsr"], cwd=work,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, timeout=60)
            if result.returncode != 0:
                return b""
            self.requests += 1
            with open(os.path.join(work, "reply.tsr"), "rb") as f:
                return f.read()

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()


if __name__ == "__main__":
    keys = make_keys(os.path.abspath(sys.argv[1]), sys.argv[2])
    with TimestampServer(keys) as server:
        print("pkcs12 %s\npassword file %s\nCA %s\ntime stamps %s" % (
            keys.pkcs12, keys.password_file, keys.ca, server.url), flush=True)
        threading.Event().wait()
