"""pymeasure's function-generator drivers, unchanged, against the
instrument: each property set and read back, the error queue read after
each. Used over the raw socket (ScpiPyvisaTest.py) and over VXI-11
(Vxi11Check.py)."""
import math

from pymeasure.instruments.agilent import Agilent33220A, Agilent33500, Agilent33521A
from pymeasure.instruments.hp import HP33120A

# Each property in the order it is set, the value set, and the value read
# back (None: the property is set only, its error queue checked); a fourth
# item names a property the driver must also have (an arbitrary waveform
# is the drivers' that upload one).
STEPS = [
    ("output", False, False),
    ("shape", "SIN", "SIN"),
    ("shape", "sinusoid", "sinusoid", "amplitude_units"),  # (the HP driver's own names)
    ("frequency", 1000, 1000.0),
    ("amplitude_unit", "VPP", "VPP"),
    ("amplitude_units", "Vpp", "Vpp"),
    ("amplitude", 1.5, 1.5),
    ("offset", 0, 0.0),
    ("output_load", 50, 50.0),
    ("voltage_high", 0.4, 0.4),
    ("voltage_low", -0.4, -0.4),
    ("shape", "SQU", "SQU"),
    ("square_dutycycle", 30, 30.0),
    ("shape", "RAMP", "RAMP"),
    ("ramp_symmetry", 25, 25.0),
    ("pulse_period", 0.005, 0.005),
    ("shape", "PULS", "PULS"),
    ("pulse_hold", "WIDT", "WIDT"),
    ("pulse_width", 0.001, 0.001),
    ("pulse_dutycycle", 30, 30.0),
    ("pulse_transition", 5e-8, 5e-8),
    ("output", True, True),
    ("burst_mode", "TRIG", "TRIG"),
    ("burst_ncycles", 3, 3.0),
    ("burst_period", 0.1, 0.1),
    ("trigger_source", "BUS", "BUS"),
    ("trigger_state", False, False),
    ("ext_trig_out", False, False),
    ("burst_state", True, True),
    ("burst_state", False, False),
    ("arb_file", "CUBE", "CUBE"),
    ("shape", "ARB", "ARB", "arb_file"),
    ("arb_srate", 48000, 48000.0),
    ("arb_advance", "SRAT", "SRAT"),
    ("arb_filter", "NORM", "NORM"),
    ("beeper_state", False, False),
    ("remote_local_state", "REM", None),
    ("display", "wavegen", None),
    ("output", False, False),
]

# What is refused, and why: the output's edges are whole samples.
REFUSED = {"pulse_transition": "edges take at least one sample, 20.8 us at 48 kHz"}

CUBE = [round(32767 * math.sin(2 * math.pi * k / 100) ** 3) for k in range(100)]

DRIVERS = (Agilent33220A, Agilent33500, Agilent33521A, HP33120A)


def properties(driver):
    """The driver's settable properties (controls and settings)."""
    names = set()
    for klass in driver.__mro__:
        for name, value in vars(klass).items():
            if isinstance(value, property) and value.fset is not None and name not in names:
                names.add(name)
    return names


def same(got, want):
    if isinstance(want, bool):  # (a driver maps 1 back to True, another to "ON")
        return str(got).upper() in (("TRUE", "ON", "1") if want else ("FALSE", "OFF", "0"))
    if isinstance(want, float):
        return isinstance(got, (int, float)) and math.isclose(got, want, rel_tol=1e-9)
    if isinstance(want, str) and isinstance(got, str):
        return got.upper() == want.upper()
    return got == want


def sweep(resource, **options):
    """{driver name: (properties that work, properties, {refused: error})}."""
    results = {}
    for driver in DRIVERS:
        gen = driver(resource, visa_library="@py", timeout=10000, **options)
        try:
            gen.write("*RST;*CLS")
            names = properties(driver) - {"id"}
            works, refused = set(), {}
            if hasattr(gen, "data_arb"):
                gen.data_arb("CUBE", CUBE, data_format="DAC")
            for name, value, readback, *needs in STEPS:
                if name not in names or not names.issuperset(needs):
                    continue
                try:
                    setattr(gen, name, value)
                except ValueError:
                    continue  # a value this driver does not offer (its validator)
                try:
                    got = getattr(gen, name) if readback is not None else readback
                    error = gen.ask("SYST:ERR?").strip()
                except Exception as failure:  # an answer the driver cannot read
                    refused[name] = f"{type(failure).__name__}: {failure}"
                    gen.ask("SYST:ERR?")
                    continue
                if error != '0,"No error"' or not same(got, readback):
                    refused[name] = f"{error} (read {got!r})"
                else:
                    works.add(name)
            results[driver.__name__] = (len(works - set(refused)), len(names), refused)
        finally:
            gen.adapter.connection.close()
    return results


def arbitrary_upload_and_burst(resource, while_playing, **options):
    """The 33500 driver's upload, select and play (while_playing() runs
    then), and a burst by *TRG. Returns what the instrument says it plays,
    and the errors it queued."""
    gen = Agilent33500(resource, visa_library="@py", timeout=10000, **options)
    try:
        gen.write("*RST;*CLS")
        gen.data_volatile_clear()
        gen.data_arb("CUBE", CUBE, data_format="DAC")
        gen.data_arb("HALF", [p / 65534 for p in CUBE], data_format="float")
        gen.arb_file = "CUBE"
        gen.shape = "ARB"
        gen.frequency = 480
        gen.output = True
        played = gen.ask("FUNC?;:FUNC:ARB?;:DATA:ATTR:POIN?;:DATA:CAT?").strip()
        while_playing()
        gen.burst_ncycles = 2
        gen.trigger_source = "BUS"
        gen.burst_state = True
        gen.trigger()
        errors = gen.ask("SYST:ERR:ALL?").strip()
        gen.output = False
        return played, errors
    finally:
        gen.adapter.connection.close()


def table(results):
    lines = []
    for name, (works, total, refused) in results.items():
        lines.append(f"{name}: {works} of {total} properties"
                     + "".join(f"; {p} refused: {why}" for p, why in sorted(refused.items())))
    return lines
