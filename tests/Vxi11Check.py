"""The instrument over VXI-11, driven by PyVISA (pyvisa-py) from the lab
PC's namespace of scripts/lan-check.
  Vxi11Check.py session HOST     every operation a lab script uses
  Vxi11Check.py abort HOST      device_abort on the abort channel
  Vxi11Check.py drivers HOST    pymeasure's generator drivers, unchanged
  Vxi11Check.py discover BCAST  prints the hosts that answer a broadcast
                                 for the core channel, as pyvisa-py's
                                 list_resources() asks in its later
                                 releases (Debian 12's 0.5.1 lists none)"""
import os
import sys
import threading
import time

import pyvisa
from pyvisa import constants, errors
from pyvisa_py.protocols import rpc, vxi11

import DriverSweep


def open_link(manager, host):
    return manager.open_resource(f"TCPIP0::{host}::inst0::INSTR", timeout=5000,
                                 read_termination="\n", write_termination="\n")


def expect_error(status, action):
    try:
        action()
    except errors.VisaIOError as error:
        assert error.error_code == status, error
        return
    raise AssertionError(f"no {status}")


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def session(host):
    manager = pyvisa.ResourceManager("@py")
    first, second = open_link(manager, host), open_link(manager, host)
    # One instrument behind every link; each link its own answers.
    first.write("FREQ 1234")
    assert second.query("FREQ?") == "1.2340000000E+03"
    assert first.query("*IDN?").startswith("wavegen,wavegen-scpi,WG-LAN-1,")
    # The status byte: MAV while this link's answer waits, not the other's.
    first.write("*IDN?")
    assert first.read_stb() & 0x10 and not second.read_stb() & 0x10
    first.read()
    assert not first.read_stb() & 0x10
    # A clear in the middle of reading a long answer drops the rest of it
    # (and nothing else); the next query answers afresh.
    first.write(";".join(["FREQ?"] * 20))
    assert first.read_bytes(8) == b"1.234000"
    first.clear()
    first.timeout = 300
    expect_error(constants.StatusCode.error_timeout, first.read)
    first.timeout = 5000
    assert first.query("SYST:ERR?") == '-420,"Query UNTERMINATED"'
    assert first.query("FREQ?") == "1.2340000000E+03"
    # A lock keeps the other links out until it is let go (pyvisa-py
    # reports any refused write as an I/O error: the code is read below
    # through its protocol client).
    first.lock_excl()
    expect_error(constants.StatusCode.error_io, lambda: second.write("FREQ 500"))
    other = vxi11.CoreClient(host)
    error, link, _, _ = other.create_link(2, 0, 0, "inst0")
    assert error == 0, error
    assert other.device_write(link, 1000, 0, 8, b"FREQ 600\n") == (11, 0)
    assert other.device_lock(link, 0, 0) == 11
    # A lock asked with waitlock waits for the holder to let go, while the
    # holder is served (PyVISA's lock_excl(3000) is such a call).
    unlocking = threading.Timer(0.5, first.unlock)
    unlocking.start()
    started = time.monotonic()
    assert other.device_lock(link, 1, 3000) == 0
    assert 0.3 < time.monotonic() - started < 2.5, time.monotonic() - started
    assert other.device_unlock(link) == 0
    # (the unlock's reply read before the link carries another call: the
    # lock can be granted before the timer's thread has read it)
    unlocking.join()
    first.lock_excl()
    first.unlock()
    assert other.destroy_link(link) == 0
    other.close()
    assert first.query("FREQ?") == "1.2340000000E+03"
    second.write("FREQ 500")
    assert first.query("FREQ?") == "5.0000000000E+02"
    # A client that goes away holding the lock leaves no lock behind.
    child = os.fork()
    if child == 0:
        holder = open_link(pyvisa.ResourceManager("@py"), host)
        holder.lock_excl()
        os._exit(0)
    os.waitpid(child, 0)
    assert wait_for(lambda: try_lock(second), 5), "the lock outlived its link"
    second.unlock()
    # No trigger on a generator.
    expect_error(constants.StatusCode.error_nonsupported_operation, first.assert_trigger)
    first.close()
    second.close()
    print("ok")


def try_lock(resource):
    try:
        resource.lock_excl(timeout=0)
        return True
    except errors.VisaIOError:
        return False


def abort(host):
    client = vxi11.CoreClient(host)
    error, link, port, _ = client.create_link(1, 0, 0, "inst0")
    assert error == 0, error
    channel = rpc.RawTCPClient(host, vxi11.DEVICE_ASYNC_PROG, 1, port)
    channel.packer, channel.unpacker = rpc.Packer(), rpc.Unpacker(b"")

    def device_abort(lid):
        return channel.make_call(vxi11.DEVICE_ABORT, lid, channel.packer.pack_int,
                                 channel.unpacker.unpack_int)

    assert device_abort(link) == 0
    # A call that waits for the lock ends at once when its link is aborted.
    holder = vxi11.CoreClient(host)
    _, held, _, _ = holder.create_link(2, 1, 0, "inst0")  # (made locked)
    result = []
    waiter = threading.Thread(target=lambda: result.append(client.device_lock(link, 1, 10000)))
    started = time.monotonic()
    waiter.start()
    while waiter.is_alive() and time.monotonic() - started < 5:
        assert device_abort(link) == 0  # (until the call is there to abort)
        waiter.join(0.05)
    assert result == [23] and time.monotonic() - started < 2, result
    assert holder.destroy_link(held) == 0
    holder.close()
    assert client.destroy_link(link) == 0
    assert device_abort(link) == 4  # no such link
    channel.close()
    client.close()
    print("ok")


def discover(broadcast):
    found = []
    portmapper = rpc.BroadcastUDPPortMapperClient(broadcast)
    portmapper.set_reply_handler(lambda port, sender: found.append((sender[0], port)))
    portmapper.set_timeout(2)
    portmapper.get_port((vxi11.DEVICE_CORE_PROG, vxi11.DEVICE_CORE_VERS, rpc.IPPROTO_TCP, 0))
    for host, port in found:
        print(f"TCPIP::{host}::INSTR (core channel on port {port})")


def drivers(host):
    """Each driver's properties set and read back over VXI-11 as over the
    raw socket; an upload selected and played, and a burst by *TRG."""
    resource = f"TCPIP::{host}::INSTR"
    results = DriverSweep.sweep(resource, read_termination="\n", write_termination="\n")
    for line in DriverSweep.table(results):
        print(line)
    for name, (works, total, refused) in results.items():
        assert works >= 0.9 * total, f"{name}: {works} of {total}"
        assert set(refused) <= set(DriverSweep.REFUSED), f"{name}: {refused}"
    played, errors = DriverSweep.arbitrary_upload_and_burst(
        resource, lambda: None, read_termination="\n", write_termination="\n")
    assert played == 'ARB;CUBE;100;"CUBE","HALF"', played
    assert errors == '0,"No error"', errors
    print("ok")


if __name__ == "__main__":
    {"session": session, "abort": abort, "discover": discover, "drivers": drivers}[sys.argv[1]](sys.argv[2])
