#!/usr/bin/python3
# Nocturo, installed, starts, shows its window, lists no port on a machine
# with none, and ends cleanly on SIGTERM: its lines released, by the
# signal's own status. It never opens a port, and START is never pressed.
import glob
import re
import signal
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find(node, test):
    if test(node):
        return node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        found = child and find(child, test)
        if found:
            return found
    return None


program = subprocess.Popen(["/usr/bin/nocturo"])
window = ports = None
for _ in range(100):
    time.sleep(0.2)
    desktop = Atspi.get_desktop(0)
    app = find(desktop, lambda n: n.get_role() == Atspi.Role.APPLICATION and n.get_name() == "nocturo")
    window = app and find(app, lambda n: n.get_role() == Atspi.Role.FRAME and n.get_name() == "Nocturo")
    # The port list: the combo box that shows its row, "Com1".
    ports = window and find(
        window, lambda n: n.get_role() == Atspi.Role.COMBO_BOX and re.fullmatch(r"Com\d+", n.get_name())
    )
    if ports:
        break
assert program.poll() is None, f"nocturo ended with status {program.returncode}"
assert window, "no window named Nocturo"
assert ports, "no Com port list in the window"
said = ports.get_description()
print("Com port:", said)
assert said.startswith("Com1: "), said
# Serial ports other than a console's: USB adapters and modems, UARTs with a chip.
console = open("/sys/class/tty/console/active").read().split() if glob.glob("/sys/class/tty/console") else []
uarts = [p for p in glob.glob("/sys/class/tty/ttyS*") if open(p + "/type").read().strip() != "0"]
if not glob.glob("/dev/ttyUSB*") + glob.glob("/dev/ttyACM*") and all(p.split("/")[-1] in console for p in uarts):
    assert said.startswith("Com1: no serial port has that number now"), said

program.send_signal(signal.SIGTERM)
status = program.wait(timeout=10)
assert status == -signal.SIGTERM, f"ended with status {status}, not by SIGTERM"
print("started, showed its window, listed no port, and ended by SIGTERM")
sys.exit(0)
