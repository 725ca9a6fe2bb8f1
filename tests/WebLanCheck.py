#!/usr/bin/env python3
"""The web pages from the lab PC's namespace: anyone reads the welcome page
and the identification (valid, and its address strings open); a change
needs the password, by digest authentication, and is refused without it.

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


def fetch(path, body=None, headers=None, opener=None):
    request = urllib.request.Request(base + path, data=body, headers=headers or {})
    try:
        with (opener or urllib.request.build_opener()).open(request, timeout=10) as reply:
            return reply.status, dict(reply.headers), reply.read().decode()
    except urllib.error.HTTPError as refusal:
        return refusal.code, dict(refusal.headers), refusal.read().decode()


def with_password(word):
    words = urllib.request.HTTPPasswordMgrWithDefaultRealm()
    words.add_password(None, base, "lab", word)
    return urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(words))


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
status, _, _ = fetch("/scpi", b"FREQ 700", opener=with_password(password + "x"))
assert status == 401, status
assert inst.query("FREQ?") == "5.0000000000E+02", "changed without the password"
status, _, _ = fetch("/scpi", b"FREQ 700", {"Origin": "http://evil.example"},
                     opener=with_password(password))
assert status == 403, status
status, _, answer = fetch("/scpi", b"FREQ 700;FREQ?", {"Origin": base},
                          opener=with_password(password))
assert status == 200 and answer.strip() == "7.0000000000E+02", (status, answer)
print("welcome page and identification read; a change refused without the password, "
      "taken with it")
