"""A private home for running Cartfeeder from a script: every folder the program reads or writes
lies in one temporary folder, so a run never touches the real home."""

import os
import signal
import subprocess
import tempfile


def private_home(prefix):
    """Returns (root, env): a new temporary folder and an environment whose HOME and XDG
    folders lie in it, with the offscreen Qt platform."""
    root = tempfile.mkdtemp(prefix=prefix)
    env = dict(os.environ)
    for name, sub in (("HOME", "home"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                      ("XDG_RUNTIME_DIR", "run")):
        env[name] = os.path.join(root, sub)
        os.makedirs(env[name], mode=0o700, exist_ok=True)
    env["QT_QPA_PLATFORM"] = "offscreen"
    return root, env


def profile_folder(env, profile):
    """The tool's folder of a profile, where Importer.ini lives; made when missing."""
    folder = os.path.join(env["XDG_DATA_HOME"], "Orvane", "Cartvault v3", "Tools", "Cartfeeder",
                          "Profiles", profile)
    os.makedirs(folder, exist_ok=True)
    return folder


def stop(program, seconds):
    """Asks the program to close as the session's end does, and kills it after the given seconds."""
    program.send_signal(signal.SIGTERM)
    try:
        program.wait(seconds)
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()
