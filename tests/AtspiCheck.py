"""The window through a real AT-SPI bus, as a screen reader reads it.

Run by scripts/atspi-check inside a private D-Bus session with the
accessibility bus, a private X server and a private sound server:
    AtspiCheck.py WAVEGEN SOUND_SERVER_DIR
"""
import os
import signal
import subprocess
import sys
import time

import pyatspi

wavegen, sound_dir = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(condition, seconds=20.0):
    """Looks again every 50 ms, up to a deadline generous for a loaded machine."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    return condition()


def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "wavegen":
            return app
    return None


def find(root, predicate):
    if predicate(root):
        return root
    for i in range(root.childCount):
        child = root.getChildAtIndex(i)
        if child is not None:
            found = find(child, predicate)
            if found is not None:
                return found
    return None


def status_line(app):
    return find(app, lambda a: a.description == "Status")


def named(app, name, role):
    return find(app, lambda a: a.name == name and a.getRole() == role)


# The names a status change announced, gathered by a listener of our own
# (the event a screen reader speaks).
announced = []


def on_name_change(event):
    if event.source is not None and event.source.description == "Status":
        announced.append(event.source.name)


pyatspi.Registry.registerEventListener(on_name_change, "object:property-change:accessible-name")
environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   PULSE_SERVER="unix:" + os.path.join(sound_dir, "native"))
app_process = subprocess.Popen([wavegen], env=environment)
try:
    app = wait_for(find_app)
    check(app is not None, "the window is on the accessibility bus")
    if app is None:
        sys.exit(1)
    status = wait_for(lambda: status_line(app))
    check(status is not None and status.name == "", "at start the status line says nothing")
    start = named(app, "Start", pyatspi.ROLE_PUSH_BUTTON)
    start.queryAction().doAction(0)
    playing = "This is a sine wave, 500.000 Hz\n"
    check(wait_for(lambda: status_line(app).name == playing),
          "while playing it reads " + repr(status_line(app).name))

    def pump_until(condition):
        # The listener's events arrive through the bus's main loop.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not condition():
            pyatspi.Registry.pumpQueuedEvents()
            time.sleep(0.05)
        return condition()

    check(pump_until(lambda: playing in announced), "the change was announced: " + repr(announced))

    # Every route a reader has to the slider goes through the handler that
    # the mouse uses: box, thumb and sound move together.
    slider = named(app, "Frequency slider", pyatspi.ROLE_SCROLL_BAR)
    box = named(app, "Frequency in Hz", pyatspi.ROLE_TEXT)
    value = slider.queryValue()
    actions = slider.queryAction()
    action_index = {actions.getName(i): i for i in range(actions.nActions)}

    def box_text():
        return box.queryText().getText(0, -1)

    def set_value(target):
        value.currentValue = target

    middle = (value.minimumValue + value.maximumValue) // 2
    routes = [
        ("Value set to the middle", lambda: set_value(middle), lambda v: v == middle),
        ("Value set past the end", lambda: set_value(value.maximumValue + 50),
         lambda v: v == value.maximumValue),
        ("Decrease", lambda: actions.doAction(action_index["Decrease"]), lambda v: True),
        ("Increase", lambda: actions.doAction(action_index["Increase"]), lambda v: True),
    ]
    for what, act, thumb_ok in routes:
        before = box_text()
        act()
        moved = wait_for(lambda: box_text() != before)
        sounding = wait_for(lambda: status_line(app).name
                            == "This is a sine wave, %s Hz\n" % box_text())
        check(moved and sounding and thumb_ok(value.currentValue),
              "%s: box %r, thumb %s, status %r" % (what, box_text(), value.currentValue,
                                                  status_line(app).name))
    lost = status_line(app).name + "No sound: output device lost; reconnecting"
    with open(os.path.join(sound_dir, "pulse.pid")) as pid_file:
        os.kill(int(pid_file.read()), signal.SIGKILL)
    check(wait_for(lambda: status_line(app).name == lost),
          "while lost it reads " + repr(status_line(app).name))
    check(pump_until(lambda: lost in announced), "the loss was announced")
    named(app, "Stop", pyatspi.ROLE_PUSH_BUTTON).queryAction().doAction(0)
    check(wait_for(lambda: status_line(app).name == "Stopped"), "after Stop it reads Stopped")
finally:
    app_process.terminate()
    try:
        app_process.wait(20)
    except subprocess.TimeoutExpired:
        app_process.kill()
print(f"{0 if failures else 1} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
