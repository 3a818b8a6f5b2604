#!/usr/bin/env bash
# Fails when an include climbs to a higher layer or is not written from the repository root.
# Layers, lowest first: platform, framework, engine, toolwindows, ui, app. Code outside a
# widgets/ folder includes no widgets/ folder. Inside platform/ each component includes only
# the components it is allowed below. Tests follow the layer they test (any component of
# platform/ may help a platform test); all may use tests/support.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | python3 -c '
import os, re, sys

LAYERS = {"platform": 0, "framework": 1, "engine": 2, "toolwindows": 3, "ui": 4, "app": 5}
# The components of platform/ and the ones each may include.
COMPONENTS = {
    "system": set(),
    "richtext": {"system"},
    "support": {"system"},
    "cartstore": {"system"},
    "directory": {"system", "cartstore"},
    "profiles": {"system", "cartstore", "directory"},
    "cartbrowser": {"system", "cartstore", "directory"},
}
ROOTS = set(LAYERS) | {"tests"}
INCLUDE = re.compile(r"^\s*#\s*include\s*\"([^\"]+)\"", re.M)

def place(path):
    """(layer, component, widgets, test folder) of a repository path; None outside the layers."""
    parts = path.split("/")
    test = None
    if parts[0] == "tests":
        if len(parts) < 3:
            return None
        test = parts[1]
        if test == "support":
            return (0, None, True, "support")
        parts = parts[1:]
    if parts[0] not in LAYERS:
        return None
    component = None
    if parts[0] == "platform" and len(parts) > 2 and parts[1] in COMPONENTS:
        component = parts[1]
    # toolwindows, ui and app are windows throughout.
    windows = LAYERS[parts[0]] >= LAYERS["toolwindows"] or "widgets" in parts[1:-1]
    return (LAYERS[parts[0]], component, windows or test is not None, test)

problems = []
for path in sys.stdin.read().split("\0"):
    if not path:
        continue
    top = path.split("/")[0]
    # Benchmarks and fuzz targets keep their own helpers beside them.
    checked_root = top not in ("bench", "fuzz")
    here = place(path)
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    for line_no, target in ((text.count("\n", 0, m.start()) + 1, m.group(1)) for m in INCLUDE.finditer(text)):
        where = f"{path}:{line_no}: \"{target}\""
        if ".." in target.split("/"):
            problems.append(f"{where} climbs with ..")
            continue
        if target.split("/")[0] not in ROOTS:
            if checked_root:
                problems.append(f"{where} is not written from the repository root")
            continue
        if not os.path.exists(target):
            problems.append(f"{where} names no file of the repository")
            continue
        there = place(target)
        if here is None or there is None:
            continue
        layer, component, widgets, test = here
        t_layer, t_component, t_widgets, t_test = there
        if t_test is not None and t_test != "support" and t_test != test:
            problems.append(f"{where} reaches into another test folder")
        elif t_layer > layer:
            problems.append(f"{where} climbs to a higher layer")
        elif t_widgets and not widgets:
            problems.append(f"{where} brings widgets into code that opens no window")
        elif (test is None and component and t_component and component != t_component
              and t_component not in COMPONENTS[component]):
            problems.append(f"{where} reaches a platform component {component} may not use")

for p in problems:
    print(p)
if problems:
    print(f"{len(problems)} include(s) break the layering", file=sys.stderr)
    sys.exit(1)
'
