"""What a screen reader on Linux is told of the running window, read through AT-SPI.

Started by scripts/check-accessibility inside its own D-Bus session and X server, with the program
already starting on a synthetic history. Prints what it finds and exits non-zero on the first
mismatch.
"""

import sqlite3
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

WINDOW = "Parlorix Suite"
BUTTONS = [
    "Help",
    "1. List Contacts In Skype",
    "2. Click 'Allow access' In Skype",
    "Check All",
    "Uncheck All",
    "Choose the output folder",
    "3. Save Checked Chat Histories",
    "Old 3.",
]
# The window's own keyboard order (Form1::setTabOrder), by the names the controls are read with. The
# two options are one Tab stop, the selected one; the Down arrow goes from "Export All" to "Date
# Range:" and selects it, as on the desktop the window comes from.
KEY_ORDER = [
    ("Contacts", "Tab"),
    ("1. List Contacts In Skype", "Tab"),
    ("Old 3.", "Tab"),
    ("Help", "Tab"),
    ("Output folder", "Tab"),
    ("Choose the output folder", "Tab"),
    ("Export All", "Down"),
    ("Date Range:", "Tab"),
    ("First date", "Tab"),
    ("Last date", "Tab"),
    ("2. Click 'Allow access' In Skype", "Tab"),
    ("Check All", "Tab"),
    ("Uncheck All", "Tab"),
    ("3. Save Checked Chat Histories", "Tab"),
    ("Save Shared Files", "Tab"),
]


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def wait_for(what, probe, seconds=30.0):
    """The program answers in its own time: ask again until it does."""
    deadline = time.monotonic() + seconds
    while True:
        found = probe()
        if found:
            return found
        if time.monotonic() > deadline:
            fail("no " + what + " after %d s" % seconds)
        time.sleep(0.2)


def descendants(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from descendants(child)


def states(node):
    return node.getState()


def action_index(node, name):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == name:
            return action, i
    fail("%s %r has no action %r" % (node.getRoleName(), node.name, name))


def do_action(node, name):
    action, index = action_index(node, name)
    if not action.doAction(index):
        fail("%r refused %r" % (node.name, name))


def pump():
    """Delivers the events that have arrived; the check has no main loop of its own."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "parlorix":
            return app
    return None


def main(history):
    app = wait_for("program on the accessibility bus", application)
    window = wait_for(
        "window named %r" % WINDOW,
        lambda: next((w for w in app if w is not None and w.name == WINDOW), None),
    )
    if window.getRole() != pyatspi.ROLE_FRAME:
        fail("the window reads as a %s, not a frame" % window.getRoleName())
    print("window: %s %r" % (window.getRoleName(), window.name))

    nodes = list(descendants(window))
    buttons = [n for n in nodes if n.getRole() == pyatspi.ROLE_PUSH_BUTTON]
    for button in buttons:
        print("  button %r: %s" % (button.name, button.description))
    names = [b.name for b in buttons]
    if sorted(names) != sorted(BUTTONS):
        fail("the buttons read as %r" % names)
    # Every control that takes the focus has a name.
    for node in nodes:
        if states(node).contains(pyatspi.STATE_FOCUSABLE) and not node.name.strip():
            fail("a %s without a name" % node.getRoleName())

    contacts = [n for n in nodes if n.getRole() == pyatspi.ROLE_LIST and n.name == "Contacts"]
    if len(contacts) != 1:
        fail("no single list named 'Contacts'")
    contacts = contacts[0]

    list_button = next(b for b in buttons if b.name == "1. List Contacts In Skype")
    do_action(list_button, "Press")
    # The history's contacts, without the account's own entry.
    db = sqlite3.connect("file:%s?mode=ro" % history, uri=True)
    expected = sorted(
        row[0]
        for row in db.execute(
            "SELECT skypename FROM Contacts WHERE is_permanent = 1 "
            "AND skypename NOT IN (SELECT skypename FROM Accounts)"
        )
    )
    rows = wait_for(
        "rows in the contact list",
        lambda: [c for c in contacts if c is not None and c.getRole() == pyatspi.ROLE_CHECK_BOX],
    )
    read = [r.name for r in rows]
    print("contacts after pressing '1. List Contacts In Skype': %d rows" % len(read))
    for name in read:
        print("  " + name)
    if sorted(read) != expected:
        fail("the rows read %r, the history holds %r" % (read, expected))

    # A tick through the row's toggle action shows as its checked state, and the program tells of
    # it as a check box does: that event is what makes a screen reader say "checked".
    row = rows[1]
    if states(row).contains(pyatspi.STATE_CHECKED):
        fail("row %r reads as ticked before any tick" % row.name)
    announced = []
    listener = lambda event: announced.append((event.source.name, event.detail1))
    pyatspi.Registry.registerEventListener(listener, "object:state-changed:checked")
    do_action(row, "Toggle")
    if not states(row).contains(pyatspi.STATE_CHECKED):
        fail("row %r is not ticked after its toggle action" % row.name)
    wait_for("event telling of the tick of %r" % row.name, lambda: pump() or (row.name, 1) in announced, 5.0)
    pyatspi.Registry.deregisterEventListener(listener, "object:state-changed:checked")
    do_action(row, "Toggle")
    if states(row).contains(pyatspi.STATE_CHECKED):
        fail("row %r is still ticked after a second toggle" % row.name)
    print("row %r ticked and cleared through its toggle action" % row.name)

    # The keyboard: focus the list, press each key as a user would and read where the focus went.
    subprocess.run(["xdotool", "search", "--sync", "--name", "^%s$" % WINDOW, "windowfocus", "--sync"],
                   check=True, stdout=subprocess.DEVNULL)
    contacts.queryComponent().grabFocus()
    order = []
    for _ in range(len(KEY_ORDER) + 1):
        focused = wait_for("focused control", lambda: focused_control(window), 5.0)
        key = KEY_ORDER[len(order)][1] if len(order) < len(KEY_ORDER) else "Tab"
        order.append((focused.name, key))
        if len(order) > len(KEY_ORDER):
            break
        subprocess.run(["xdotool", "key", key], check=True)
        wait_for("focus to move on from %r with %s" % (focused.name, key),
                 lambda: (focused_control(window) or focused).name != focused.name, 5.0)
    print("keyboard order:")
    for name, key in order[:-1]:
        print("  %-34s then %s" % (name, key))
    print("  and round to %r" % order[-1][0])
    if order[:-1] != KEY_ORDER:
        fail("the keyboard order read through AT-SPI is not the window's: %r" % order)
    if order[-1][0] != KEY_ORDER[0][0]:
        fail("Tab after the last control reached %r" % order[-1][0])
    date_range = next(n for n in nodes if n.name == "Date Range:")
    if not states(date_range).contains(pyatspi.STATE_CHECKED):
        fail("the Down arrow did not select 'Date Range:'")
    print("accessibility: the window, its names, the contact list and the Tab order read as designed")


def focused_control(window):
    """The control holding the focus; a focused row stands for its list."""
    for node in descendants(window):
        if states(node).contains(pyatspi.STATE_FOCUSED):
            if node.parent is not None and node.parent.getRole() == pyatspi.ROLE_LIST:
                return node.parent
            return node
    return None


if __name__ == "__main__":
    main(sys.argv[1])
