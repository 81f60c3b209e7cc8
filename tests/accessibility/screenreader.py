"""What a screen reader learns about Lumivex over AT-SPI, checked step by step:
the main window and its controls with their names, roles, descriptions and
values; the strobe window announced with how to leave it when Start is
pressed; the focus back on "Start Strobing" after Escape.

    screenreader.py <main window id>     (run on the program's display and bus)
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

WINDOW = sys.argv[1]
STROBE_NAME = "press Escape to exit"
failures = []
events = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)


def run_until(predicate, seconds):
    """Runs the event loop until predicate() holds or the time is up."""
    loop = GLib.MainLoop()
    deadline = time.monotonic() + seconds

    def poll():
        if predicate() or time.monotonic() > deadline:
            loop.quit()
            return False
        return True

    GLib.timeout_add(100, poll)
    loop.run()
    return predicate()


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Lumivex":
            return app
    return None


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(app, role, name):
    for node in walk(app):
        if node.getRole() == role and node.name == name:
            return node
    return None


def focused(app):
    for node in walk(app):
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            return node
    return None


def frames(app):
    return [app.getChildAtIndex(i) for i in range(app.childCount)
            if app.getChildAtIndex(i).getRole() == pyatspi.ROLE_FRAME]


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "80", *names], check=True)


def remember(event):
    try:
        events.append((event.type, event.source.name, event.source.getRole()))
    except Exception:  # the source may be gone already
        pass


app = None
run_until(lambda: application() is not None, 15)
app = application()
check(app is not None, "the program is on the accessibility bus as Lumivex")
if app is None:
    sys.exit(1)

main = find(app, pyatspi.ROLE_FRAME, "Lumivex Software")
check(main is not None, "the main window is a frame named by its caption")
for name, value in (("Strobe Option", "Random Colors"), ("Speed Option", "Slow")):
    combo = find(app, pyatspi.ROLE_COMBO_BOX, name)
    check(combo is not None, f"a list named {name!r}")
    if combo is not None:
        check(bool(combo.description), f"{name!r} has a description: {combo.description!r}")
        check(text_of(combo) == value, f"{name!r} reads {value!r}: {text_of(combo)!r}")
for name in ("Help", "Start Strobing"):
    button = find(app, pyatspi.ROLE_PUSH_BUTTON, name)
    check(button is not None and bool(button.description), f"a described push button {name!r}")

pyatspi.Registry.registerEventListener(
    remember, "focus:", "object:state-changed:focused", "window:activate")
# Give the program time to learn that someone listens.
run_until(lambda: False, 1)

subprocess.run(["xdotool", "windowfocus", "--sync", WINDOW], check=True)
keys("Tab", "Tab", "Return")
announced = lambda: any(STROBE_NAME in name and role == pyatspi.ROLE_FRAME
                        for _, name, role in events)
check(run_until(announced, 10), "the strobe window is announced with how to leave it: "
      + repr(sorted({(kind, name) for kind, name, _ in events})))
now = focused(app)
check(now is not None and now.getRole() == pyatspi.ROLE_FRAME and STROBE_NAME in now.name,
      f"the focus is on the strobe window: {now.name if now else None!r}")
if now is not None:
    check("Escape" in now.description, f"its description says Escape: {now.description!r}")

del events[:]
keys("Escape")
back = lambda: (focused(app) is not None and focused(app).name == "Start Strobing"
                and len(frames(app)) == 1)
check(run_until(back, 10), "after Escape the focus is back on 'Start Strobing' and the strobe "
      f"window is gone: {[f.name for f in frames(app)]}")
check(any(name == "Start Strobing" for _, name, _ in events),
      "the focus change back is announced")

pyatspi.Registry.deregisterEventListener(
    remember, "focus:", "object:state-changed:focused", "window:activate")
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)
