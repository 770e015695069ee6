#!/usr/bin/env python3
"""The layer check on planted trees: an upward include written relative to
the including file, and a .ui form's custom-widget header, must fail it; the
same tree without them passes."""
import pathlib
import subprocess
import sys
import tempfile

CHECK = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "check-layers.py"


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for name, text in files.items():
            path = pathlib.Path(root) / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text, encoding="utf-8")
        done = subprocess.run([sys.executable, str(CHECK), root], capture_output=True, text=True)
        return done.returncode, done.stderr


clean = {
    "greetings/views/GreetingPage.h": "#pragma once\n",
    "greetings/core/GreetingRun.cpp": '#include "greetings/core/GreetingRun.h"\n#include "../../hostmail/HostError.h"\n',
    "greetings/core/GreetingRun.h": "#pragma once\n",
    "hostmail/HostError.h": "#pragma once\n",
    "templates/views/Editor.ui": "<ui><customwidget><header>templates/views/DesignEditor.h</header></customwidget></ui>\n",
    "templates/views/DesignEditor.h": "#pragma once\n",
}
code, said = run(clean)
assert code == 0, said

planted = dict(clean)
planted["greetings/core/GreetingRun.cpp"] += '#include "../views/GreetingPage.h"\n'
planted["templates/views/Editor.ui"] = "<ui><header>shell/views/frmNewMainForm.h</header></ui>\n"
planted["shell/views/frmNewMainForm.h"] = "#pragma once\n"
code, said = run(planted)
assert code == 1, said
assert "greetings/core/GreetingRun.cpp:3: greetings/core (layer 7) includes ../views/GreetingPage.h of " \
       "greetings/views (layer 10)" in said, said
assert "templates/views/Editor.ui:1: templates/views (layer 9) includes shell/views/frmNewMainForm.h" in said, said
print("1 passed, 0 failed")
