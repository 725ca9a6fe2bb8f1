"""The private sound server's two-channel sink as the instrument's tests
hear it: a recorder of its monitor, the tool's loops, and whether what
plays is a loop sample for sample. Set RENDER to the wavegen-render to use."""
import array
import os
import subprocess
import tempfile
import threading
import time

RENDER = None


class Recorder:
    """The two-channel sink's monitor as 16-bit samples, as they arrive:
    channel 1 (left) in `samples`, channel 2 in `right`. The instrument
    plays there (PULSE_SINK=stereosink), as on a desktop's stereo output."""

    def __init__(self):
        self.samples = array.array("h")
        self.right = array.array("h")
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            ["parec", "-d", "stereosink.monitor", "--raw", "--format=s16le", "--rate=48000",
             "--channels=2", "--latency-msec=10"], stdout=subprocess.PIPE)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        pending = b""
        while chunk := self.process.stdout.read1(4096):
            pending += chunk
            whole = len(pending) // 4 * 4
            frames = array.array("h")
            frames.frombytes(pending[:whole])
            pending = pending[whole:]
            with self.lock:
                self.samples.extend(frames[0::2])
                self.right.extend(frames[1::2])

    def count(self):
        with self.lock:
            return len(self.samples)

    def since(self, start):
        with self.lock:
            return self.samples[start:]

    def pairs_since(self, start):
        """Both channels from frame `start`, interleaved."""
        with self.lock:
            pairs = array.array("h", bytes(4 * (len(self.samples) - start)))
            pairs[0::2] = self.samples[start:]
            pairs[1::2] = self.right[start:len(self.samples)]
            return pairs

    def stop(self):
        self.process.terminate()
        self.process.wait()


def wait_for(condition, seconds=10.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def rendered(frequency, *options, points=None):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "loop.raw")
        if points is not None:
            with open(os.path.join(folder, "points.txt"), "w") as text:
                text.write("\n".join(str(p) for p in points))
            options += ("--arb", os.path.join(folder, "points.txt"))
        subprocess.run([RENDER, "-f", frequency, "-o", path, "--raw", *options], check=True,
                       stderr=subprocess.DEVNULL)
        samples = array.array("h")
        with open(path, "rb") as raw:
            samples.frombytes(raw.read())
        return samples


def plays(recorder, loop, start, samples=30000):
    """True once the sink has played `samples` of `loop` in a row, from any
    place in it, after sample `start` of the recording; a wrong sample fails
    with its place."""
    def ready():
        got = recorder.since(start)
        return any(v != 0 for v in got) and len(got) - next(
            i for i, v in enumerate(got) if v != 0) > samples + 4800
    assert wait_for(ready), "nothing played"
    got = recorder.since(start)
    # (the last part of the recording: what plays now, not what was queued)
    first = len(got) - samples
    played = got[first:first + samples]
    # (a loop with stretches of silence matches its first samples in many
    # places: the one where all of them match)
    twice = loop + loop[:samples] if samples <= len(loop) else loop * (samples // len(loop) + 2)
    head = played[:48]
    offset = next((o for o in range(len(loop)) if twice[o:o + 48] == head
                   and twice[o:o + samples] == played), None)
    if offset is None:
        near = next((o for o in range(len(loop)) if twice[o:o + 48] == head), None)
        assert near is not None, "what plays is not the loop"
        wrong = next(i for i in range(samples) if twice[near + i] != played[i])
        assert False, f"sample {wrong} differs: {played[wrong]} played, {twice[near + wrong]} rendered"
    return True


def settled(inst, recorder):
    """Where the recording holds only what the last settings play: once
    their sound is at the device (*OPC?) and the device's queue (90 ms)
    has played on; a loaded machine may stretch the change itself."""
    assert inst.query("*OPC?") == "1"
    start = recorder.count() + 9600
    assert wait_for(lambda: recorder.count() > start), "nothing recorded"
    return start
