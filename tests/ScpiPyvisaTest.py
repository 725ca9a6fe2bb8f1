#!/usr/bin/env python3
"""wavegen-scpi driven by a real SCPI client, PyVISA with its pure-Python
backend, over TCPIP::127.0.0.1::<port>::SOCKET, while the private sound
server's null sink is recorded.

    ScpiPyvisaTest.py WAVEGEN_SCPI WAVEGEN_RENDER   (PULSE_SERVER set)
"""
import array
import math
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pyvisa

import DriverSweep
import SinkRecording
from SinkRecording import Recorder, plays, rendered, settled, wait_for
from pymeasure.instruments.agilent import Agilent33220A, Agilent33500, Agilent33521A

RATE = 48000
PORT = 0
# The instrument plays two channels: on the two-channel sink, as on a desktop.
STEREO = dict(os.environ, PULSE_SINK="stereosink")
SCPI, RENDER = sys.argv[1], sys.argv[2]
SinkRecording.RENDER = RENDER


def case_identity(inst, recorder):
    assert inst.query("*IDN?") == "wavegen,wavegen-scpi,WG-TEST-7,1.0.0", inst.query("*IDN?")


def case_sine_plays_what_the_tool_renders(inst, recorder):
    inst.write("*RST;FUNC SIN;FREQ 1000;OUTP ON")
    assert inst.query("OUTP?") == "1"
    assert plays(recorder, rendered("1000"), settled(inst, recorder))


ARB_POINTS = [round(math.sin(2 * math.pi * k / 64) ** 3, 4) for k in range(64)]

# Each shape, parameter, burst and sweep: the instrument's settings, and the
# tool's options for the same samples.
SHAPES = [
    ("FUNC RAMP;FUNC:RAMP:SYMM 30", "1000", ("-w", "ramp", "--symmetry", "30")),
    ("FUNC RAMP;FUNC:RAMP:SYMM 0;PHAS 45", "440", ("-w", "ramp", "--symmetry", "0",
                                                   "--phase", "45")),
    ("FUNC SQU;FUNC:SQU:DCYC 20", "1000", ("-w", "square", "--duty", "20")),
    ("FUNC PULS;PULS:WIDT 0.001;PULS:TRAN 0.0001", "200",
     ("-w", "pulse", "--width", "0.001", "--edge", "0.0001")),
    ("FUNC PULS;FUNC:PULS:DCYC 25", "100", ("-w", "pulse", "--width", "0.0025")),
    ("FUNC SIN;PHAS 90", "1000", ("--phase", "90")),
    ("FUNC TRI;OUTP:POL INV", "1000", ("-w", "triangle", "--invert")),
    ("BURS:NCYC 3;BURS:INT:PER 0.01;BURS:PHAS 90;BURS:STAT ON", "1200",
     ("--burst", "3", "--burst-period", "0.01", "--burst-phase", "90")),
    ("FREQ:STAR 200;FREQ:STOP 2000;SWE:TIME 0.5;SWE:STAT ON", "500",
     ("--sweep", "200:2000", "--sweep-time", "0.5")),
    ("FUNC SQU;FREQ:STAR 2000;FREQ:STOP 200;SWE:TIME 0.25;SWE:SPAC LOG;SWE:STAT ON", "500",
     ("-w", "square", "--sweep", "2000:200", "--sweep-time", "0.25", "--log-sweep")),
    ("DATA:ARB:DAC SHAPE," + ",".join(str(round(p * 32767)) for p in ARB_POINTS) +
     ";FUNC:ARB SHAPE;FUNC ARB", "750", ("-w", "arb")),
]


def case_shapes_play_what_the_tool_renders(inst, recorder):
    """Every new shape, parameter, burst and sweep at the sink's monitor,
    sample for sample the tool's loop for the same settings."""
    failures = []
    for settings, frequency, options in SHAPES:
        inst.write(f"*RST;*CLS;FREQ {frequency};{settings};:OUTP ON")
        error = inst.query("SYST:ERR?")
        start = settled(inst, recorder)
        points = [round(p * 32767) / 32767 for p in ARB_POINTS] if "arb" in options else None
        try:
            assert error == '0,"No error"', error
            plays(recorder, rendered(frequency, *options, points=points), start, 24000)
        except AssertionError as failure:
            failures.append(f"{settings[:50]}: {failure}")
    inst.write("OUTP OFF")
    assert not failures, "; ".join(failures)


def case_a_bus_trigger_plays_one_burst(inst, recorder):
    """TRIG:SOUR BUS: silence until *TRG, then the burst once, the tool's
    triggered burst sample for sample; *OPC? answers once it has played."""
    inst.write("*RST;*CLS;FREQ 1000;BURS:NCYC 5;TRIG:SOUR BUS;BURS:STAT ON;OUTP ON")
    assert inst.query("*OPC?") == "1"
    start = recorder.count()
    wait_for(lambda: recorder.count() > start + 9600)
    assert not any(recorder.since(start)), "a triggered burst sounded before its trigger"
    started = time.monotonic()
    assert inst.query("*TRG;*OPC?") == "1"
    print(f"     *TRG;*OPC? {1000 * (time.monotonic() - started):.1f} ms for a 5 ms burst")
    burst = rendered("1000", "--burst", "5", "--triggered")
    assert wait_for(lambda: recorder.count() > start + 9600 + len(burst))
    got = recorder.since(start)
    first = next((i for i, v in enumerate(got) if v != 0), None)
    assert first is not None, "nothing played"
    lead = next(i for i, v in enumerate(burst) if v != 0)
    played = got[first:first + len(burst) - lead]
    wrong = next((i for i, v in enumerate(played) if v != burst[lead + i]), None)
    assert wrong is None, f"sample {wrong} of the burst: {played[wrong]}, rendered {burst[lead + wrong]}"
    assert inst.query("SYST:ERR?") == '0,"No error"'
    inst.write("OUTP OFF")


def case_pymeasure_drivers_set_and_read_back(inst, recorder):
    """pymeasure's generator drivers, unchanged: at least 90 % of each
    one's properties set and read back with an empty error queue, and
    what is refused is refused for a reason the manual names."""
    results = DriverSweep.sweep(f"TCPIP::127.0.0.1::{PORT}::SOCKET", read_termination="\n",
                                write_termination="\n")
    for line in DriverSweep.table(results):
        print("     " + line)
    for name, (works, total, refused) in results.items():
        assert works >= 0.9 * total, f"{name}: {works} of {total}"
        assert set(refused) <= set(DriverSweep.REFUSED), f"{name}: {refused}"


def case_pymeasure_uploads_and_plays_an_arbitrary_waveform(inst, recorder):
    """The 33500 driver's data_volatile_clear and data_arb, then arb_file
    and shape: the sink plays the tool's samples of the same points; then
    a burst by its trigger()."""
    loop = rendered("480", "-w", "arb", points=[p / 32767 for p in DriverSweep.CUBE])
    start = recorder.count()
    played, errors = DriverSweep.arbitrary_upload_and_burst(
        f"TCPIP::127.0.0.1::{PORT}::SOCKET", lambda: plays(recorder, loop, start, 24000),
        read_termination="\n", write_termination="\n")
    assert played == 'ARB;CUBE;100;"CUBE","HALF"', played
    assert errors == '0,"No error"', errors


def case_too_high_is_corrected(inst, recorder):
    inst.write("*CLS;FREQ 20000")
    assert float(inst.query("FREQ?")) == 16000.0
    error = inst.query("SYST:ERR?")
    assert error.startswith('-222,"Data out of range; Frequency is too high; try less than 16000'), error


def case_not_a_number_changes_nothing(inst, recorder):
    before = inst.query("FREQ?;OUTP?;FUNC?")
    inst.write("*CLS;FREQ abc")
    code = int(inst.query("SYST:ERR?").split(",")[0])
    assert code == -224 or -199 <= code <= -100, code
    assert inst.query("FREQ?;OUTP?;FUNC?") == before


def case_a_refused_setting_changes_nothing(inst, recorder):
    """A setting the synthesis refuses queues its error; shape, frequency and
    output stay, and the old sound plays on."""
    inst.write("*RST;*CLS;FREQ 1000;OUTP ON")
    inst.write("FUNC PULS")  # the pulse allows at most 480 Hz
    error = inst.query("SYST:ERR?")
    assert error.startswith('-221,"Settings conflict; decrease the frequency below'), error
    assert inst.query("OUTP?;FUNC?;FREQ?") == "1;SIN;1.0000000000E+03"
    assert plays(recorder, rendered("1000"), recorder.count())
    inst.write("FREQ 480;FUNC PULS;FREQ 481")
    assert inst.query("SYST:ERR?").startswith("-221,"), "481 Hz pulse not refused"
    assert inst.query("OUTP?;FUNC?;FREQ?;SYST:ERR?") == '1;PULS;4.8000000000E+02;0,"No error"'
    inst.write("OUTP OFF")


def case_noise_centres_on_zero_at_its_level(inst, recorder):
    """The noises meet VOLT in VRMS and VPP within 1 % and centre on zero.
    (Held noise draws 480 values a second: its span and mid-range, which
    settle within a fraction of a percent, stand for its RMS and mean.)"""
    for shape, volts, unit in (("NOIS", 0.25, "VRMS"), ("NOIS", 0.6, "VPP"),
                               ("HNO", 0.1, "VRMS"), ("HNO", 0.6, "VPP")):
        inst.write(f"*RST;FUNC {shape};VOLT:UNIT {unit};VOLT {volts};OUTP ON")
        assert inst.query("*OPC?") == "1"
        start = recorder.count()
        assert wait_for(lambda: recorder.count() > start + 3 * RATE)
        got = recorder.since(start + RATE // 2)[:2 * RATE]
        mean = sum(got) / len(got)
        rms = (sum((v - mean) ** 2 for v in got) / len(got)) ** 0.5 / 32768
        vpp = (max(got) - min(got)) / 32768
        middle = (max(got) + min(got)) / 2
        print(f"     {shape} {volts} {unit}: mean {mean:+.1f} counts, RMS {rms:.4f} V, "
              f"{vpp:.4f} Vpp")
        want = volts * 12 ** 0.5 if unit == "VRMS" else volts
        assert abs(vpp - want) <= 0.01 * want, f"{shape}: {vpp} Vpp, not {want}"
        assert abs(middle) <= 0.005 * 32768, f"{shape}: centred on {middle} counts"
        if shape == "NOIS" and unit == "VRMS":
            assert abs(rms - volts) <= 0.01 * volts, f"{shape}: RMS {rms} V, not {volts}"
            assert abs(mean) <= 0.005 * 32768, f"{shape}: mean {mean} counts"
    inst.write("*RST")


def case_output_off_is_silent_within_100_ms(inst, recorder):
    inst.write("*RST;OUTP ON")
    start = recorder.count()
    assert wait_for(lambda: any(v != 0 for v in recorder.since(start))), "nothing played"
    inst.write("OUTP OFF")
    assert inst.query("OUTP?") == "0"
    off = recorder.count()
    time.sleep(0.5)  # (to see what still arrives; the assertion counts samples)
    late = sum(1 for v in recorder.since(off) if v != 0)
    assert late <= RATE // 10, f"{late} samples of sound after OUTP OFF"


def case_client_gone_mid_line_changes_nothing(inst, recorder):
    before = inst.query("FREQ?;OUTP?")
    inst.close()
    with socket.create_connection(("127.0.0.1", PORT)) as other:
        other.sendall(b"FREQ 2000;OUTP ON")  # no line end: never run
    again = session()
    assert again.query("FREQ?;OUTP?") == before
    again.close()


def case_drivers_of_bench_generators_run_unchanged(inst, recorder):
    """pymeasure's drivers of three bench generators, as a script uses them."""
    for driver in (Agilent33220A, Agilent33500, Agilent33521A):
        gen = driver(f"TCPIP::127.0.0.1::{PORT}::SOCKET", visa_library="@py",
                     read_termination="\n", write_termination="\n", timeout=10000)
        try:
            gen.clear()
            gen.shape = "SQU"
            gen.frequency = 1000
            gen.amplitude_unit = "VPP"
            gen.amplitude = 1.0
            gen.offset = 0
            gen.output = True
            # (a driver maps 1 back to True, another to "ON")
            got = (gen.shape, float(gen.frequency), float(gen.amplitude), gen.amplitude_unit,
                   float(gen.offset), str(gen.output).upper() in ("TRUE", "ON"))
            assert got == ("SQU", 1000.0, 1.0, "VPP", 0.0, True), f"{driver.__name__}: {got}"
            if hasattr(gen, "output_load"):
                gen.output_load = "INF"
                assert float(gen.output_load) == 9.9e37, gen.output_load
            gen.output = False
            error = gen.ask("SYST:ERR?")
            assert error == '0,"No error"', f"{driver.__name__}: {error}"
        finally:
            gen.adapter.connection.close()


def case_a_query_after_a_command_is_not_held_back(inst, recorder):
    """A command then a query, as drivers check each setting: no delayed
    acknowledgement holds the query (it held each pair 40 ms)."""
    def median_ms(action):
        times = []
        for _ in range(40):
            started = time.perf_counter()
            action()
            times.append((time.perf_counter() - started) * 1000)
        return sorted(times)[len(times) // 2]
    bare = median_ms(lambda: inst.query("FREQ?"))
    pair = median_ms(lambda: (inst.write("VOLT:UNIT VPP"), inst.query("FREQ?")))
    print(f"     command+query {pair:.2f} ms, bare query {bare:.2f} ms (medians of 40)")
    # (the stall is 40 ms; the bound leaves a loaded machine ten times the goal)
    assert pair < bare + 20, f"command+query {pair:.1f} ms against {bare:.1f} ms for a query"


def case_clients_share_one_instrument_and_never_wait(inst, recorder):
    """Eight clients at once on the one state and error queue; one that holds
    half a line, or idles, delays nobody."""
    holder = socket.create_connection(("127.0.0.1", PORT))
    holder.sendall(b"FREQ 2")  # half a line, held
    others = [session() for _ in range(8)]
    try:
        others[0].write("*RST;*CLS;FREQ 1234")
        for other in others:
            assert other.query("FREQ?") == "1.2340000000E+03"
        others[1].write("FREQ 1 XHZ")
        assert others[2].query("SYST:ERR?").startswith("-131,"), "the queue is not shared"
        assert others[3].query("SYST:ERR?") == '0,"No error"'
        # Each keeps its own place in the tree within its line.
        assert others[4].query("SOUR:FREQ?;FUNC?") == "1.2340000000E+03;SIN"
        holder.sendall(b"000\n")  # the held line ends: FREQ 2000
        assert wait_for(lambda: others[5].query("FREQ?") == "2.0000000000E+03")
    finally:
        holder.close()
        for other in others:
            other.close()


def case_settings_while_playing_switch_with_no_gap(inst, recorder):
    """A new frequency, amplitude or function while the output plays: no
    silent gap at the sink, and no step larger than the waveforms' own (the
    sine's phase carries on)."""
    inst.write("*RST;FUNC SIN;FREQ 1000;OUTP ON")
    assert inst.query("*OPC?") == "1"
    start = recorder.count()
    assert wait_for(lambda: recorder.count() > start + 9600), "nothing played"
    for setting in ("FREQ 2000", "VOLT 1.5", "FREQ 1500.5", "FUNC TRI"):
        inst.write(setting)
        assert inst.query("*OPC?;:SYST:ERR?") == '1;0,"No error"', setting
        time.sleep(0.15)
    end = recorder.count()
    assert wait_for(lambda: recorder.count() > end + 9600)
    got = recorder.since(start)[: end - start + 9600]
    first = next(i for i, v in enumerate(got) if v != 0)
    got = got[first:]
    run = longest = 0
    for v in got:
        run = run + 1 if v == 0 else 0
        longest = max(longest, run)
    step = max(abs(got[i + 1] - got[i]) for i in range(len(got) - 1))
    inst.write("OUTP OFF")
    # (a 2000 Hz full-scale sine steps up to 8553 between samples)
    assert longest < 48, f"{longest} zero samples in a row: a gap"
    assert step <= 8600, f"a step of {step}: the phase jumped"


def case_lxi_tools_raw(inst, recorder):
    """lxi-tools' raw SCPI client, as a shell script uses it."""
    ask = lambda command: subprocess.run(
        ["lxi", "scpi", "-a", "127.0.0.1", "-p", str(PORT), "-r", command],
        capture_output=True, text=True, timeout=30).stdout.strip()
    assert ask("*IDN?") == "wavegen,wavegen-scpi,WG-TEST-7,1.0.0"
    assert ask("APPL:TRI 440,1.5;:APPL?") == '"TRI 4.4000000000E+02,1.5000000000E+00,0.0000000000E+00"'
    assert ask("OUTP?;:SYST:ERR?") == '1;0,"No error"'
    ask("OUTP OFF")


CASES = [case_identity, case_sine_plays_what_the_tool_renders,
         case_shapes_play_what_the_tool_renders, case_a_bus_trigger_plays_one_burst,
         case_pymeasure_drivers_set_and_read_back,
         case_pymeasure_uploads_and_plays_an_arbitrary_waveform,
         case_too_high_is_corrected,
         case_not_a_number_changes_nothing, case_a_refused_setting_changes_nothing,
         case_noise_centres_on_zero_at_its_level,
         case_output_off_is_silent_within_100_ms, case_client_gone_mid_line_changes_nothing,
         case_drivers_of_bench_generators_run_unchanged,
         case_a_query_after_a_command_is_not_held_back,
         case_clients_share_one_instrument_and_never_wait,
         case_settings_while_playing_switch_with_no_gap, case_lxi_tools_raw]


def signal_during_a_hung_open_ends_at_once():
    """SIGINT while OUTP ON waits for a hung sound server: the open is given
    up, and the server ends with 0 and no failure, not at the open's time-out."""
    sound_dir = os.environ["PULSE_SERVER"].removeprefix("unix:").removesuffix("/native")
    with open(os.path.join(sound_dir, "pulse.pid")) as pid_file:
        pulse = int(pid_file.read())
    server = subprocess.Popen([SCPI, "--listen", "127.0.0.1:0"], stderr=subprocess.PIPE, text=True)
    port = int(re.search(r":(\d+),", server.stderr.readline()).group(1))
    os.kill(pulse, signal.SIGSTOP)
    try:
        client = socket.create_connection(("127.0.0.1", port))
        client.sendall(b"OUTP ON\n")
        # The device's thread is there once the open waits for it.
        assert wait_for(lambda: len(os.listdir(f"/proc/{server.pid}/task")) >= 2), "no open"
        server.send_signal(signal.SIGINT)
        status = server.wait(10)
        errors = server.stderr.read()
        client.close()
    finally:
        os.kill(pulse, signal.SIGCONT)
        if server.poll() is None:
            server.kill()
    assert status == 0, f"status {status}"
    assert "cannot open" not in errors, errors


def no_descriptor_left_pauses_and_says_so():
    """With no descriptor left for a client (EMFILE), the server says so
    once and pauses, instead of spinning on the readable listening socket."""
    # 0-2, the signal descriptor, the listening socket, the output's eventfd.
    server = subprocess.Popen(["prlimit", "--nofile=6:6", SCPI, "--listen", "127.0.0.1:0"],
                              stderr=subprocess.PIPE, text=True)
    port = int(re.search(r":(\d+),", server.stderr.readline()).group(1))
    client = socket.create_connection(("127.0.0.1", port))
    try:
        line = server.stderr.readline()
        # (no descriptor for VXI-11 or the web pages either; the raw socket serves)
        while any(said in line for said in ("VXI-11", "serial number", "web pages")):
            line = server.stderr.readline()
        assert "cannot take a client (accept: Too many open files)" in line, line
        started = time.monotonic()
        wait_for(lambda: time.monotonic() - started > 2, 5)
        with open(f"/proc/{server.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        assert cpu < 0.5, f"{cpu} s of CPU in 2 s: it spins"
    finally:
        client.close()
        server.terminate()
    assert server.wait(10) == 0
    assert "cannot take a client" not in server.stderr.read(), "said more than once"


def rendered_pair(left, right):
    """The tool's two-channel loop: left options, then --ch2 right ones."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "pair.raw")
        subprocess.run([RENDER, *left, "-o", path, "--raw", "--ch2", " ".join(right)], check=True,
                       stderr=subprocess.DEVNULL)
        samples = array.array("h")
        with open(path, "rb") as raw:
            samples.frombytes(raw.read())
        return samples


def phase_spread(left, right, frequency):
    """The least and most phase of right against left, in degrees, over
    blocks of 100 ms (quadrature sums against the frequency)."""
    phases = []
    for start in range(0, len(left) - 4800 + 1, 4800):
        def angle(samples):
            re = sum(v * math.cos(2 * math.pi * frequency * (start + i) / RATE)
                     for i, v in enumerate(samples[start:start + 4800]))
            im = sum(v * math.sin(2 * math.pi * frequency * (start + i) / RATE)
                     for i, v in enumerate(samples[start:start + 4800]))
            return math.degrees(math.atan2(re, im))
        phases.append((angle(right) - angle(left)) % 360)
    return min(phases), max(phases)


def two_channels_are_locked():
    """SOURce1 and SOURce2 on the two-channel sink, through PyVISA as the
    33500-class drivers address them: a sine/cosine pair that is the tool's
    pair sample for sample for 10 s, channel 1 untouched while channel 2
    changes, channel 2 off, and TRACk INVerted."""
    server = subprocess.Popen([SCPI, "--listen", "127.0.0.1:0"], stderr=subprocess.PIPE, text=True,
                              env=STEREO)
    recorder = Recorder()
    try:
        port = int(re.search(r":(\d+),", server.stderr.readline()).group(1))
        inst = pyvisa.ResourceManager("@py").open_resource(
            f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n", write_termination="\n",
            timeout=10000)
        inst.write("SOUR1:FUNC SIN;FREQ 1000;:OUTP1 ON;:SOUR2:FUNC SIN;FREQ 1000;PHAS 90;"
                   ":OUTP2 ON;:PHAS:SYNC")
        assert inst.query("*OPC?;:SOUR2:PHAS?;:OUTP2?;:SYST:ERR?") == \
            '1;9.0000000000E+01;1;0,"No error"'
        pair = rendered_pair(["-f", "1000"], ["-f", "1000", "--phase", "90"])
        start = recorder.count() + 24000  # (after what was queued before the synchronisation)
        assert wait_for(lambda: recorder.count() > start + 48000 * 10, 30), "too little recorded"
        played = recorder.pairs_since(start)[:2 * 48000 * 10]
        offset = next((o for o in range(0, len(pair), 2) if pair[o:o + 96] == played[:96]), None)
        assert offset is not None, "what plays is not the tool's pair"
        twice = pair + pair
        assert played == twice[offset:offset + len(played)], "the pair differs from the tool's"
        low, high = phase_spread(played[0::2], played[1::2], 1000)
        print(f"     sine/cosine pair, 10 s: channel 2 leads by {low:.6f} to {high:.6f} degrees")
        assert 89.99 <= low <= high <= 90.01, (low, high)
        # Channel 2 changes; channel 1 goes on sample for sample, without a gap.
        left = rendered("1000")
        start = recorder.count()
        for setting in ["SOUR2:FREQ 440", "SOUR2:FUNC SQU", "SOUR2:VOLT 0.5",
                        "SOUR2:FUNC RAMP;FUNC:RAMP:SYMM 20", "SOUR2:BURS:NCYC 2;STAT ON",
                        "OUTP2 OFF", "OUTP2 ON"]:
            inst.write(setting)
            assert inst.query("*OPC?") == "1"
        error = inst.query("SYST:ERR?")
        assert error == '0,"No error"', error
        assert wait_for(lambda: recorder.count() > start + 48000, 30), "too little recorded"
        played = recorder.since(start)
        offset = next(o for o in range(len(left)) if left[o:o + 48] == played[:48])
        assert all(played[i] == left[(offset + i) % len(left)] for i in range(len(played))), \
            "channel 1 changed while channel 2 did"
        # Channel 2 off: silence beside channel 1; TRACk INVerted: its negation.
        inst.write("OUTP2 OFF;*OPC?")
        inst.read()
        start = recorder.count()
        assert wait_for(lambda: recorder.count() > start + 9600, 10)
        assert not any(recorder.right[start + 4800:recorder.count()]), "channel 2 plays while off"
        inst.write("SOUR1:TRAC INV;*OPC?")
        inst.read()
        start = recorder.count()
        assert wait_for(lambda: recorder.count() > start + 9600, 10)
        both = recorder.pairs_since(start + 4800)
        tracking = inst.query("OUTP2?;:SOUR2:TRAC?")
        assert tracking == "1;INV", tracking
        assert all(r == -l for l, r in zip(both[0::2], both[1::2])), "TRACk INV is not the negation"
        inst.write("OUTP OFF;:OUTP2 OFF")
        inst.close()
    finally:
        recorder.stop()
        server.terminate()
        server.wait(10)


def queue_option_is_checked_and_taken():
    """--queue: a length outside 20-90 ms is a usage error that names it; a
    short queue plays a switched setting like the default one."""
    refused = subprocess.run([SCPI, "--queue", "10"], capture_output=True, text=True, timeout=30)
    assert refused.returncode == 2 and "--queue: not a whole number of milliseconds from 20 to 90: 10" \
        in refused.stderr, refused.stderr
    server = subprocess.Popen([SCPI, "--listen", "127.0.0.1:0", "--queue", "30"],
                              stderr=subprocess.PIPE, text=True)
    try:
        port = int(re.search(r":(\d+),", server.stderr.readline()).group(1))
        with socket.create_connection(("127.0.0.1", port)) as client:
            answers = client.makefile("r")
            client.sendall(b"FREQ 1000;OUTP ON;*OPC?\n")
            assert answers.readline().strip() == "1"
            client.sendall(b"FREQ 2000;*OPC?;:OUTP?;FREQ?;SYST:ERR?\n")
            assert answers.readline().strip() == '1;1;2.0000000000E+03;0,"No error"'
            client.sendall(b"OUTP OFF\n")
    finally:
        server.terminate()
    assert server.wait(10) == 0


def session():
    return pyvisa.ResourceManager("@py").open_resource(
        f"TCPIP::127.0.0.1::{PORT}::SOCKET", read_termination="\n", write_termination="\n",
        timeout=10000)


def main():
    # ctest ends a test that overruns with SIGTERM: the servers go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    server = subprocess.Popen([SCPI, "--listen", "127.0.0.1:0", "--serial", "WG-TEST-7"],
                              stderr=subprocess.PIPE, text=True, env=STEREO)
    try:
        return run_cases(server)
    finally:
        if server.poll() is None:
            server.kill()


def run_cases(server):
    global PORT
    PORT = int(re.search(r":(\d+),", server.stderr.readline()).group(1))
    recorder = Recorder()
    passed = failed = 0
    for case in CASES:
        inst = session()  # each case a client of its own
        try:
            case(inst, recorder)
            passed += 1
            print(f"ok   {case.__name__}")
        except AssertionError as error:
            failed += 1
            print(f"FAIL {case.__name__}: {error}")
        finally:
            inst.close()
    recorder.stop()
    server.terminate()
    status = server.wait(10)
    if status != 0:
        failed += 1
        print(f"FAIL the server ended with status {status} on SIGTERM")
    own_processes = [signal_during_a_hung_open_ends_at_once, queue_option_is_checked_and_taken,
                     two_channels_are_locked]
    # (a sanitizer's runtime takes descriptors of its own: no fixed limit fits)
    if "build-asan" not in SCPI:
        own_processes.append(no_descriptor_left_pauses_and_says_so)
    for case in own_processes:
        try:
            case()
            passed += 1
            print(f"ok   {case.__name__}")
        except AssertionError as error:
            failed += 1
            print(f"FAIL {case.__name__}: {error}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
