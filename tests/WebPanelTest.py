#!/usr/bin/env python3
"""wavegen-scpi's web pages in a real browser (Debian's chromium, headless,
driven by chromium-driver through Selenium) while the private sound
server's two-channel sink is recorded; the identification checked by
xmllint and opened by PyVISA; refusals checked with plain HTTP.

    WebPanelTest.py WAVEGEN_SCPI WAVEGEN_RENDER SCHEMA   (PULSE_SERVER set)
"""
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.error
import urllib.request

import pyvisa
from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

import SinkRecording
from SinkRecording import Recorder, plays, rendered, settled, wait_for

SCPI, SCHEMA = sys.argv[1], sys.argv[3]
SinkRecording.RENDER = sys.argv[2]
STEREO = dict(os.environ, PULSE_SINK="stereosink")


class Scpi:
    """A raw-socket SCPI client: a line out, a line back for a query."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.file = self.sock.makefile("r")

    def write(self, line):
        self.sock.sendall(line.encode() + b"\n")

    def query(self, line):
        self.write(line)
        return self.file.readline().strip()


def browser(folder):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", f"--user-data-dir={folder}"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def open_panel(driver, base):
    """Loads the front panel; the seconds until it shows the state."""
    started = time.monotonic()
    driver.get(base + "/panel")
    assert wait_for(lambda: driver.execute_script("return document.body.dataset.updated"))
    return time.monotonic() - started


def field(driver, channel, name):
    return driver.find_element(By.ID, f"ch{channel}-{name}")


def typed(driver, element, text):
    element.clear()
    element.send_keys(text + "\n")  # (Enter: the change event)


def body_text(driver):
    """The page's text; "" while a navigation replaces the page."""
    try:
        return driver.find_element(By.TAG_NAME, "body").text
    except (NoSuchElementException, StaleElementReferenceException):
        return ""


def http(base, path, body=None, headers=None):
    """(status, body) of a request; refusals are answers too."""
    request = urllib.request.Request(base + path, data=body, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=10) as reply:
            return reply.status, reply.read().decode()
    except urllib.error.HTTPError as refusal:
        return refusal.code, refusal.read().decode()


def case_panel_sets_what_plays(driver, base, scpi, recorder):
    """Shape, frequency, amplitude and output set on the page from the
    keyboard: the sink plays the tool's loop for them, and the page says
    and draws it; every control has a name a screen reader reads."""
    scpi.write("*RST;*CLS")
    print(f"     page load {1000 * open_panel(driver, base):.0f} ms")
    controls = driver.find_elements(By.CSS_SELECTOR, "main input, main select, button")
    unnamed = [c.get_attribute("outerHTML") for c in controls
               if c.is_displayed() and not c.accessible_name]
    assert len(controls) >= 14 and not unnamed, unnamed
    Select(field(driver, 1, "function")).select_by_value("SQU")
    typed(driver, field(driver, 1, "frequency"), "1000")
    typed(driver, field(driver, 1, "amplitude"), "1")
    field(driver, 1, "output").send_keys(Keys.SPACE)  # (the keyboard alone)
    assert wait_for(lambda: scpi.query("OUTP1?") == "1"), "the output did not go on"
    assert scpi.query("FUNC?;FREQ?;VOLT?") == "SQU;1.0000000000E+03;1.0000000000E+00"
    assert plays(recorder, rendered("1000", "-w", "square", "--level", "0.5"),
                 settled(scpi, recorder))
    sentence = "Channel 1 plays a square wave of 50 % duty cycle at 1000 Hz, 1 Vpp."
    assert wait_for(lambda: field(driver, 1, "sentence").text == sentence), \
        field(driver, 1, "sentence").text
    path = driver.find_element(By.CSS_SELECTOR, "#channel1 svg path").get_attribute("d")
    heights = {int(y) for y in re.findall(r"L\d+ (\d+)", path)}
    assert len(heights) >= 2 and len(path) > 100, path  # (a square's two levels, not a line)
    assert scpi.query("SYST:ERR?") == '0,"No error"'
    # Corrected as a script's would be: the field shows what plays, and the
    # page's error queue why.
    typed(driver, field(driver, 1, "frequency"), "20000")
    assert wait_for(lambda: field(driver, 1, "frequency").get_attribute("value") == "16000")
    errors = driver.find_element(By.ID, "errors")
    assert wait_for(lambda: errors.text.startswith("-222, Data out of range; Frequency is too high")), \
        errors.text
    scpi.write("*CLS;OUTP OFF")


def case_scpi_change_shows_on_the_page(driver, base, scpi, recorder):
    """Another client's FREQ shows in the page's field; the latency is
    measured from the write to the field's new value."""
    open_panel(driver, base)
    latencies = []
    for i in range(10):
        target = str(1100 + i)
        sent = []
        timer = threading.Timer(0.05, lambda t=target: (sent.append(time.time()),
                                                        scpi.write(f"FREQ {t}")))
        timer.start()
        seen = driver.execute_async_script("""
            const [target, done] = arguments;
            const look = () => document.getElementById("ch1-frequency").value === target
                ? done(Date.now()) : setTimeout(look, 1);
            look();""", target)
        timer.join()
        latencies.append(seen / 1000 - sent[0])
    print(f"     a SCPI FREQ on the page: median {1000 * statistics.median(latencies):.1f} ms, "
          f"most {1000 * max(latencies):.1f} ms")


def case_display_text_shows_as_text(driver, base, scpi, recorder):
    """DISP:TEXT is user text: markup in it shows as the characters typed."""
    text = '<img src=x onerror="window.pwned=1">'
    scpi.write(f"DISP:TEXT '{text}'")
    open_panel(driver, base)
    display = driver.find_element(By.ID, "display")
    assert wait_for(lambda: display.text == text), display.text
    assert not display.find_elements(By.XPATH, "./*"), "markup became elements"
    assert driver.execute_script("return window.pwned") is None
    scpi.write("DISP:TEXT:CLE")


def case_identify(driver, base, scpi, recorder, log):
    """The welcome page's Identify: its indicator, and a line on stderr."""
    driver.get(base + "/")
    for item in ("Model", "Manufacturer", "Serial number", "Description", "LXI version",
                 "LXI extended functions", "Host name", "MAC address", "TCP/IP address",
                 "Firmware revision", "VISA resource string"):
        assert driver.find_elements(By.XPATH, f"//th[text()='{item}']"), item
    driver.find_element(By.XPATH, "//button[text()='Identify']").click()
    assert wait_for(lambda: "Identify is on" in body_text(driver))
    assert wait_for(lambda: "identify on" in log()), log()
    driver.find_element(By.XPATH, "//button[text()='Stop identifying']").click()
    assert wait_for(lambda: "Identify is off" in body_text(driver))


def case_identification_validates_and_opens(driver, base, scpi, recorder):
    """/lxi/identification against the schema's required elements, and
    each address string it gives opened by PyVISA."""
    status, document = http(base, "/lxi/identification")
    assert status == 200
    with tempfile.NamedTemporaryFile("w", suffix=".xml") as file:
        file.write(document)
        file.flush()
        checked = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, file.name],
                                 capture_output=True, text=True)
        assert checked.returncode == 0, checked.stderr
    addresses = re.findall(r"<InstrumentAddressString>(.*?)<", document)
    assert any(a.endswith("::SOCKET") for a in addresses), addresses
    manager = pyvisa.ResourceManager("@py")
    for address in addresses:
        if address.endswith("::INSTR"):
            continue  # (no rpcbind here: the LAN check opens it)
        inst = manager.open_resource(address, read_termination="\n", write_termination="\n")
        assert inst.query("*IDN?").startswith("wavegen,wavegen-scpi,"), address
        inst.close()


def case_changes_are_refused_unless_they_are_the_page_own(driver, base, scpi, recorder):
    """A change from another site's page, through a name that is not the
    instrument's, or too large, is refused and changes nothing."""
    scpi.write("*RST;*CLS;FREQ 500")
    port = base.rsplit(":", 1)[1]
    for headers, body, status in [
        ({"Origin": "http://evil.example"}, b"FREQ 900", 403),
        ({"Host": f"rebound.example:{port}"}, b"FREQ 900", 403),
        ({}, b"FREQ 900;" * 2000, 413),
        ({"Origin": base}, b"FREQ?", 200),
    ]:
        got, text = http(base, "/scpi", body, headers)
        assert got == status, (headers, got, text)
    assert scpi.query("FREQ?") == "5.0000000000E+02"


def case_event_streams_are_bounded_and_freed(driver, base, scpi, recorder):
    """At most 32 pages follow the instrument; one closed frees its place
    at once, not at the next keep-alive."""
    host, port = base.removeprefix("http://").split(":")

    def stream():
        sock = socket.create_connection((host, int(port)))
        sock.sendall(f"GET /events HTTP/1.1\r\nHost: {host}:{port}\r\n\r\n".encode())
        sock.settimeout(10)
        return sock, sock.recv(4096).split(b"\r\n", 1)[0]

    driver.get("about:blank")  # (the browser's own stream closed)
    opened = []
    try:
        for _ in range(32):
            opened.append(stream())
        assert all(status.endswith(b" 200 OK") for _, status in opened), opened[-1][1]
        extra, status = stream()
        extra.close()
        assert status.endswith(b" 503 Service Unavailable"), status
        opened.pop()[0].close()
        assert wait_for(lambda: stream()[1].endswith(b" 200 OK"), 5), "the place stayed taken"
    finally:
        for sock, _ in opened:
            sock.close()


def device_lost_shows_on_the_page(driver, folder):
    """The sound server killed under a playing instrument (a private one
    of this case's own): the page says the device is lost."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts",
                          "sound-server")
    sound = os.path.join(folder, "lost-sound")
    started = subprocess.run([script, "start", sound], capture_output=True, text=True, check=True)
    env = dict(os.environ, PULSE_SINK="stereosink",
               **dict(re.findall(r"export (\w+)=['\"]?([^'\"\n]+)", started.stdout)))
    log_path = os.path.join(folder, "lost.log")
    with open(log_path, "w") as log_file:
        server = subprocess.Popen([SCPI, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0"],
                                  stderr=log_file, env=env)
    try:
        assert wait_for(lambda: "web pages on" in open(log_path).read())
        log = open(log_path).read()
        scpi = Scpi(int(re.search(r"listening on 127.0.0.1:(\d+)", log).group(1)))
        assert scpi.query("OUTP ON;*OPC?") == "1"
        open_panel(driver, "http://" + re.search(r"web pages on http://([\d.:]+)/", log).group(1))
        with open(os.path.join(sound, "pulse.pid")) as pid:
            os.kill(int(pid.read()), signal.SIGKILL)
        killed = time.monotonic()
        assert wait_for(lambda: "the sound device is lost" in field(driver, 1, "sentence").text)
        print(f"     the device lost on the page after {1000 * (time.monotonic() - killed):.0f} ms")
    finally:
        server.kill()
        server.wait()
        subprocess.run([script, "stop", sound], capture_output=True)


CASES = [case_panel_sets_what_plays, case_scpi_change_shows_on_the_page,
         case_display_text_shows_as_text, case_identification_validates_and_opens,
         case_changes_are_refused_unless_they_are_the_page_own,
         case_event_streams_are_bounded_and_freed]


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    folder = tempfile.TemporaryDirectory()
    log_path = os.path.join(folder.name, "scpi.log")
    with open(log_path, "w") as log_file:
        server = subprocess.Popen([SCPI, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0",
                                   "--serial", "WG-WEB-1"], stderr=log_file, env=STEREO)
    log = lambda: open(log_path).read()  # noqa: E731
    driver = recorder = None
    try:
        assert wait_for(lambda: "web pages on" in log()), log()
        port = int(re.search(r"listening on 127.0.0.1:(\d+)", log()).group(1))
        base = "http://" + re.search(r"web pages on http://([\d.:]+)/", log()).group(1)
        scpi = Scpi(port)
        recorder = Recorder()
        driver = browser(os.path.join(folder.name, "profile"))
        failed = 0
        for case in CASES + [case_identify, device_lost_shows_on_the_page]:
            try:
                if case is case_identify:
                    case(driver, base, scpi, recorder, log)
                elif case is device_lost_shows_on_the_page:
                    case(driver, folder.name)
                else:
                    case(driver, base, scpi, recorder)
                print(f"ok   {case.__name__}")
            except AssertionError as error:
                failed += 1
                where = traceback.extract_tb(error.__traceback__)[-1]
                print(f"FAIL {case.__name__} (line {where.lineno}: {where.line}): {error}")
        print(f"{len(CASES) + 2 - failed} passed, {failed} failed")
        return 1 if failed else 0
    finally:
        if driver is not None:
            driver.quit()
        if recorder is not None:
            recorder.stop()
        server.terminate()
        server.wait(10)
        folder.cleanup()


if __name__ == "__main__":
    sys.exit(main())
