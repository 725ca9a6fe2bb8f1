#!/usr/bin/env python3
"""The web pages from the lab PC's namespace: anyone reads the welcome page
and the identification (valid, and its address strings open); a change
needs the password, by digest authentication (curl's), and is refused
without it.

    WebLanCheck.py HOST PASSWORD SCHEMA
"""
import re
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

import pyvisa

host, password, schema = sys.argv[1:4]
base = f"http://{host}"


def fetch(path, body=None):
    request = urllib.request.Request(base + path, data=body)
    try:
        with urllib.request.urlopen(request, timeout=10) as reply:
            return reply.status, dict(reply.headers), reply.read().decode()
    except urllib.error.HTTPError as refusal:
        return refusal.code, dict(refusal.headers), refusal.read().decode()


def with_password(word, path, body, headers=()):
    """(status, body) of a request curl makes with digest authentication
    (the password on its standard input, never on a command line)."""
    command = ["curl", "-s", "--digest", "-K", "-", "-w", "\n%{http_code}", "--data-binary",
               body]
    for header in headers:
        command += ["-H", header]
    out = subprocess.run(command + [base + path], input=f'user = "lab:{word}"\n',
                         capture_output=True, text=True, check=True).stdout
    text, status = out.rsplit("\n", 1)
    return int(status), text


status, _, page = fetch("/")
assert status == 200 and "Serial number" in page and host in page, (status, page)
status, _, document = fetch("/lxi/identification")
with tempfile.NamedTemporaryFile("w", suffix=".xml") as file:
    file.write(document)
    file.flush()
    subprocess.run(["xmllint", "--noout", "--schema", schema, file.name], check=True)
addresses = re.findall(r"<InstrumentAddressString>(.*?)<", document)
assert f"TCPIP::{host}::INSTR" in addresses and f"TCPIP::{host}::5025::SOCKET" in addresses, \
    addresses
manager = pyvisa.ResourceManager("@py")
for address in addresses:
    inst = manager.open_resource(address, read_termination="\n", write_termination="\n")
    assert inst.query("*IDN?").startswith("wavegen,wavegen-scpi,"), address
    inst.close()
inst = manager.open_resource(f"TCPIP::{host}::5025::SOCKET", read_termination="\n",
                             write_termination="\n")
inst.write("*RST;FREQ 500")

status, headers, _ = fetch("/scpi", b"FREQ 700")
assert status == 401 and headers.get("WWW-Authenticate", "").startswith("Digest "), \
    (status, headers)
status, _ = with_password(password + "x", "/scpi", "FREQ 700")
assert status == 401, status
assert inst.query("FREQ?") == "5.0000000000E+02", "changed without the password"
status, _ = with_password(password, "/scpi", "FREQ 700", ["Origin: http://evil.example"])
assert status == 403, status
status, answer = with_password(password, "/scpi", "FREQ 700;FREQ?", [f"Origin: {base}"])
assert status == 200 and answer.strip() == "7.0000000000E+02", (status, answer)
print("welcome page and identification read; a change refused without the password, "
      "taken with it")
