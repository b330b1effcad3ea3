#!/usr/bin/env python3
"""Checks that docs/troubleshooting.md quotes every text an installer can see: the loaded UI
strings, the update warning and error messages of the UPDATER properties, and the firewall box.

Usage: check_troubleshooting.py [SOURCE_DIR]. Exit 1 and a list when a text is missing."""
import re
import sys
from pathlib import Path

# Loaded UI strings that never reach the screen as text, with the reason.
NOT_SHOWN = {
    103: "loaded, never read",
    110: "window class name",
    117: "loaded, never read (the NoResponse property text is shown instead)",
    118: "loaded, never read (the WrongResponse property text is shown instead)",
    125: "loaded, never read",
    126: "loaded, never read",
    127: "loaded, never read",
    153: "font face name",
    155: "help page caption piece",
    156: "help page button",
    157: "help page button",
}
SHOWN_PROPERTY_KEYS = re.compile(r"^(update-warning|error-message\..+)$")


def ui_strings(source):
    """(label, text) of every loaded UI string that is shown."""
    texts = []
    for line in (source / "ui/ui_strings.def").read_text().splitlines():
        m = re.match(r'UI_STRING\(\w+,\s*(\d+),\s*"(.*)"\)\s*$', line)
        if m and int(m.group(1)) not in NOT_SHOWN:
            texts.append((f"UI string {m.group(1)}", m.group(2)))
    return texts


def property_texts(source):
    """(label, line) for each line of the shown property values; "\\n" splits lines."""
    texts = []
    for raw in (source / "resources/updater.properties").read_text().splitlines():
        key, _, value = raw.partition("=")
        key = key.strip()
        if not SHOWN_PROPERTY_KEYS.match(key):
            continue
        for line in value.strip().split("\\n"):
            line = line.strip()
            if line:
                texts.append((key, line))
    return texts


def message_box_texts(path):
    """Texts and titles of the MessageBoxW calls in one source file (adjacent literals joined)."""
    texts = []
    code = path.read_text()
    for call in re.finditer(r"MessageBoxW\((.*?)\);", code, re.S):
        for run in re.finditer(r'(?:L"(?:[^"\\]|\\.)*"\s*)+', call.group(1)):
            joined = "".join(re.findall(r'L"((?:[^"\\]|\\.)*)"', run.group(0)))
            texts.append((path.name, joined))
    return texts


def normalised(text):
    return " ".join(text.split())


def main():
    source = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    page = normalised((source / "docs/troubleshooting.md").read_text())
    texts = ui_strings(source) + property_texts(source) + message_box_texts(source / "shell/firewall_rule.cpp")
    missing = [(label, text) for label, text in texts if normalised(text) not in page]
    for label, text in missing:
        print(f"missing from docs/troubleshooting.md: {label}: {text!r}")
    print(f"troubleshooting page: {len(texts) - len(missing)} of {len(texts)} texts quoted")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
