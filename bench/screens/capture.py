#!/usr/bin/env python3
"""Makes the screen set again: real programs (xterm, chromium, a Qt dialog) on a virtual display, each
window taken with pictolarium-screencapture, and beside each picture the text it shows.

    bench/screens/capture.py <build folder> [display number] [first place]

Writes NN-name.png and NN-name.txt in this folder and the list screens.tsv (file, language, half).
The half is fixed by position: even places are for tuning, odd places are only checked. With a first
place, the screens before it are kept as they are and only the later ones are taken again.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pages
import terminal

HERE = os.path.dirname(os.path.abspath(__file__))

# name, program, variant, dark, scale, recogniser language. Neighbours are two looks of one kind of
# screen, so each kind has a place in both halves.
SCREENS = [
    ("term-ls", "xterm", "ls", False, 1, "eng"),
    ("term-ls", "xterm", "ls", True, 2, "eng"),
    ("term-gcc", "xterm", "gcc", True, 1, "eng"),
    ("term-gcc", "xterm", "gcc", False, 2, "eng"),
    ("term-top", "xterm", "top", True, 1, "eng"),
    ("term-top", "xterm", "top", False, 2, "eng"),
    ("docs", "web", "docs", False, 1, "eng"),
    ("docs", "web", "docs", True, 2, "eng"),
    ("settings", "web", "settings", True, 1, "eng"),
    ("settings", "web", "settings", True, 2, "eng"),
    ("mail", "web", "mail", False, 1, "eng"),
    ("mail", "web", "mail", True, 1, "eng"),
    ("forum", "web", "forum", False, 1, "eng"),
    ("forum", "web", "forum", True, 2, "eng"),
    ("report", "web", "report", False, 1, "eng"),
    ("report", "web", "report", True, 2, "eng"),
    ("rtl", "web", "rtl", False, 1, "eng"),
    ("rtl", "web", "rtl", True, 2, "eng"),
    ("help-de", "web", "help-de", False, 1, "deu"),
    ("help-de", "web", "help-de", True, 2, "deu"),
    ("settings-fr", "web", "settings-fr", True, 1, "fra"),
    ("settings-fr", "web", "settings-fr", False, 2, "fra"),
    ("dialog", "dialog", "", False, 1, "eng"),
    ("dialog", "dialog", "", True, 2, "eng"),
    ("term-ls", "xterm", "ls", True, 1, "eng"),
    ("settings", "web", "settings", False, 1, "eng"),
    ("market", "web", "market", False, 1, "eng"),
    ("market", "web", "market", True, 2, "eng"),
    ("term-cc", "xterm", "cc", True, 1, "eng"),
    ("term-cc", "xterm", "cc", False, 2, "eng"),
    ("figures", "web", "figures", False, 2, "eng"),
    ("figures", "web", "figures", True, 1, "eng"),
    ("dense", "web", "dense", False, 1, "eng"),
    ("dense", "web", "dense", True, 1, "eng"),
    ("player", "web", "player", True, 1, "eng"),
    ("player", "web", "player", True, 2, "eng"),
    ("chat", "web", "chat", False, 1, "eng"),
    ("chat", "web", "chat", True, 2, "eng"),
    ("timetable", "web", "timetable", False, 1, "eng"),
    ("timetable", "web", "timetable", True, 2, "eng"),
    ("timetable-side", "web", "timetable-side", False, 1, "eng"),
    ("timetable-side", "web", "timetable-side", True, 2, "eng"),
    ("guide", "web", "guide", False, 1, "eng"),
    ("guide", "web", "guide", True, 2, "eng"),
    ("shop-narrow", "web", "shop", False, 1, "eng", (760, 600)),
    ("shop-narrow", "web", "shop", True, 1, "eng", (700, 560)),
    ("term-log", "xterm", "log", True, 1, "eng"),
    ("term-log", "xterm", "log", True, 2, "eng"),
    ("docs-ruled", "web", "docs-ruled", False, 1, "eng"),
    ("docs-ruled", "web", "docs-ruled", True, 2, "eng"),
    ("hours", "web", "hours", False, 1, "eng"),
    ("hours", "web", "hours", True, 2, "eng"),
    ("plans", "web", "plans", True, 1, "eng"),
    ("plans", "web", "plans", True, 2, "eng"),
]


def wait_for_window(display, pid=None, name=None, timeout=150):
    env = dict(os.environ, DISPLAY=display)
    deadline = time.time() + timeout
    while time.time() < deadline:
        arguments = ["xdotool", "search", "--onlyvisible"]
        arguments += ["--pid", str(pid)] if pid else ["--name", name]
        found = subprocess.run(arguments, env=env, capture_output=True, text=True).stdout.split()
        if found:
            return found[-1]
        time.sleep(0.3)
    raise RuntimeError(f"no window appeared for {pid or name}")


def capture(build, display, window, target):
    tool = os.path.join(build, "tools/screencapture/pictolarium-screencapture")
    if os.path.exists(target):
        os.remove(target)
    subprocess.run([tool, "-l", str(int(window, 0)), target], env=dict(os.environ, DISPLAY=display), check=True,
                   capture_output=True)


def settle(seconds):
    # A loaded machine draws slowly; the picture is taken once drawing has had time to finish.
    time.sleep(seconds)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    number = sys.argv[2] if len(sys.argv) > 2 else "300"
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    display = ":" + number
    work = tempfile.mkdtemp(prefix="screens-")
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "2600x1700x24", "-nolisten", "tcp"],
                            stderr=subprocess.DEVNULL)
    for _ in range(100):
        if xvfb.poll() is not None:
            raise RuntimeError(f"the virtual display {display} did not start (is the number taken?)")
        if subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                          capture_output=True).returncode == 0:
            break
        time.sleep(0.2)
    env = dict(os.environ, DISPLAY=display, LC_ALL="C.UTF-8")
    listing = []
    if first:
        with open(os.path.join(HERE, "screens.tsv")) as f:
            listing = [line.rstrip("\n") for line in f if not line.startswith("#")][:first]
    try:
        for index, (name, program, variant, dark, scale, language, *size) in enumerate(SCREENS):
            if index < first:
                continue
            stem = f"{index:02d}-{name}-{'dark' if dark else 'light'}-{scale}x"
            target = os.path.join(HERE, stem + ".png")
            if program == "xterm":
                shown, truth = {"ls": lambda: terminal.ls_listing(work, dark),
                                "gcc": lambda: terminal.compiler_errors(work, dark),
                                "top": lambda: terminal.process_table(dark),
                                "cc": lambda: terminal.c_errors(work, True),
                                "log": lambda: terminal.git_log(True)}[variant]()
                screen_file = os.path.join(work, stem + ".screen")
                with open(screen_file, "wb") as f:
                    f.write(shown)
                colours = ["-bg", "#1e1f22", "-fg", "#d8d8d8"] if dark else ["-bg", "white", "-fg", "black"]
                process = subprocess.Popen(
                    ["xterm", "-fa", "DejaVu Sans Mono", "-fs", str(11 * scale), "-geometry", f"{112 if variant == 'cc' else 96}x34+0+0",
                     "-T", stem, *colours, "-e", "sh", "-c", f"printf '\\033[?25l'; cat '{screen_file}'; sleep 600"],
                    env=env)
                window = wait_for_window(display, name=stem)
            elif program == "web":
                page, truth = pages.PAGES[variant](dark)
                page = re.sub(r"<title>[^<]*</title>", f"<title>{stem}</title>", page)
                page_file = os.path.join(work, stem + ".html")
                with open(page_file, "w") as f:
                    f.write(page)
                profile = tempfile.mkdtemp(prefix="profile-", dir=work)
                width, height = size[0] if size else (1280, 800) if scale == 1 else (960, 640)
                process = subprocess.Popen(
                    ["chromium", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--test-type", "--hide-scrollbars", f"--user-data-dir={profile}",
                     f"--force-device-scale-factor={scale}", f"--window-size={width},{height}", "--window-position=0,0",
                     f"--app=file://{page_file}"],
                    env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                window = wait_for_window(display, name=stem)
                settle(3)
            else:
                dialog = os.path.join(build, "bench/screens-dialog")
                truth = subprocess.run([dialog, "--truth"], capture_output=True, text=True, check=True).stdout
                process = subprocess.Popen([dialog] + (["--dark"] if dark else []),
                                           env=dict(env, QT_SCALE_FACTOR=str(scale), QT_QPA_PLATFORM="xcb"))
                window = wait_for_window(display, pid=process.pid)
            settle(2)
            capture(build, display, window, target)
            process.terminate()
            process.wait()
            with open(os.path.join(HERE, stem + ".txt"), "w") as f:
                f.write(truth.strip() + "\n")
            listing.append(f"{stem}\t{language}\t{'tune' if index % 2 == 0 else 'checked'}")
            print(stem, flush=True)
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    with open(os.path.join(HERE, "screens.tsv"), "w") as f:
        f.write("# file\tlanguage\thalf (even places tune, odd places are only checked)\n")
        f.write("\n".join(listing) + "\n")


if __name__ == "__main__":
    main()
