"""What the terminal screens show: real output of real commands where there is one (ls, the compiler),
made here where a live program would change between runs (a process table).

Each function returns (bytes shown, truth text); the bytes may hold colour escapes, the truth never does.
"""

import os
import subprocess
import textwrap

SCRIPT = textwrap.dedent("""\
    #!/bin/sh
    # Packs the site and copies it to the staging host.
    set -eu
    out="${OUT:-dist}"
    rm -rf "$out" && mkdir -p "$out"
    for page in pages/*.md; do
        name=$(basename "$page" .md)
        pandoc "$page" -o "$out/$name.html" --template=site.html
    done
    tar -czf site.tar.gz -C "$out" .
    scp site.tar.gz deploy@staging:/srv/site/ && echo "copied $(du -h site.tar.gz | cut -f1)"
    """)

BROKEN = textwrap.dedent("""\
    #include <string>
    #include <vector>

    struct Entry { std::string name; int size; };

    int total(const std::vector<Entry>& entries) {
        int sum = 0;
        for (const auto& e : entries)
            sum += e.length;
        return sum
    }

    int main() {
        std::vector<Entry> list{{"a", 1}};
        return totals(list);
    }
    """)


def ls_listing(workdir, colour):
    folder = os.path.join(workdir, "project")
    os.makedirs(os.path.join(folder, "docs"), exist_ok=True)
    os.makedirs(os.path.join(folder, "src"), exist_ok=True)
    files = {"README.md": 2310, "build.sh": 512, "notes-2026-11.txt": 18044, "report.pdf": 96512,
             "screenshot-final.png": 734120, "Makefile": 1288, "config.toml": 377, "data.csv": 1203445}
    for name, size in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.truncate(size)
    os.chmod(os.path.join(folder, "build.sh"), 0o755)
    stamps = ["202611030902", "202612011415", "202612031122", "202612030817", "202611281733", "202610190940",
              "202612021205", "202611300001", "202612031840", "202612031841"]
    for name, stamp in zip(sorted(os.listdir(folder)), stamps):
        subprocess.run(["touch", "-t", stamp, os.path.join(folder, name)], check=True)
    env = dict(os.environ, LC_ALL="C", TZ="UTC")

    def run(*arguments):
        return subprocess.run(["ls", "-l", *arguments], cwd=folder, env=env, capture_output=True).stdout.decode()

    plain = run("--color=never")
    shown = run("--color=always") if colour else plain
    prompt = "mara@lathe:~/project$ "
    script_path = os.path.join(folder, "build.sh")
    with open(script_path, "w") as f:
        f.write(SCRIPT)
    text = prompt + "ls -l\n" + plain + prompt + "cat build.sh\n" + SCRIPT
    screen = prompt + "ls -l\n" + shown + prompt + "cat build.sh\n" + SCRIPT
    return screen.encode(), text


def compiler_errors(workdir, colour):
    source = os.path.join(workdir, "total.cpp")
    with open(source, "w") as f:
        f.write(BROKEN)

    def run(flag):
        return subprocess.run(["g++", "-std=c++20", "-c", "total.cpp", "-o", "/dev/null", flag], cwd=workdir,
                              capture_output=True, env=dict(os.environ, LC_ALL="C")).stderr.decode()

    plain = run("-fdiagnostics-color=never")
    shown = run("-fdiagnostics-color=always") if colour else plain
    prompt = "$ g++ -std=c++20 -c total.cpp\n"
    return (prompt + shown).encode(), prompt + plain


def process_table(colour):
    bars = [("1", 34.2), ("2", 11.0), ("3", 72.5), ("4", 5.1)]
    head = "  PID USER       PRI  NI  VIRT   RES   SHR S CPU% MEM%   TIME+  Command"
    procs = [
        (2211, "mara", 20, 0, "1204M", "312M", "88M", "S", 41.3, 3.9, "12:04.51", "chromium --type=renderer"),
        (1873, "mara", 20, 0, "734M", "121M", "64M", "S", 12.0, 1.5, "3:11.02", "pictolarium"),
        (1022, "root", 20, 0, "288M", "96M", "52M", "S", 6.4, 1.2, "41:57.80", "Xorg :0 -nolisten tcp"),
        (3340, "mara", 20, 0, "98M", "14M", "9M", "R", 3.1, 0.2, "0:01.77", "top-table -d 10"),
        (911, "root", 20, 0, "23M", "7M", "6M", "S", 0.7, 0.1, "1:09.33", "systemd-journald"),
        (2602, "mara", 39, 19, "510M", "61M", "30M", "S", 0.3, 0.8, "0:44.10", "indexer --low"),
        (1450, "mara", 20, 0, "41M", "11M", "8M", "S", 0.0, 0.1, "0:02.95", "bash"),
        (1, "root", 20, 0, "163M", "12M", "8M", "S", 0.0, 0.2, "0:05.61", "/sbin/init"),
    ]
    lines = []
    for name, value in bars:
        fill = int(value / 100 * 30)
        lines.append(f"  {name} [{'|' * fill}{' ' * (30 - fill)}{value:5.1f}%]")
    lines.append("  Mem[||||||||||||||        3.21G/7.74G]   Tasks: 142, 388 thr; 2 running")
    lines.append("  Swp[                        0K/2.00G]   Load average: 1.12 0.94 0.71")
    lines.append("")
    text_lines = lines + [head]
    shown_lines = lines + [("\033[30;42m" + head + "\033[0m") if colour else head]
    for p in procs:
        row = f"{p[0]:5d} {p[1]:<9s} {p[2]:4d} {p[3]:3d} {p[4]:>5s} {p[5]:>5s} {p[6]:>5s} {p[7]} {p[8]:4.1f} {p[9]:4.1f} {p[10]:>8s}  {p[11]}"
        text_lines.append(row)
        shown_lines.append(row)
    return ("\n".join(shown_lines) + "\n").encode(), "\n".join(text_lines) + "\n"


UNDECLARED = textwrap.dedent("""\
    #include <stdio.h>

    static int scale(int value)
    {
        int factor = 3;
        printf("scaling %d\\n", value);
        return undefined_name;
    }

    int main(void)
    {
        return scale(2) > 4;
    }
    """)


def c_errors(workdir, colour):
    # A C file with an undeclared name, built with warnings on, and the shell's prompt after it.
    source = os.path.join(workdir, "scale.c")
    with open(source, "w") as f:
        f.write(UNDECLARED)

    def run(flag):
        return subprocess.run(["gcc", "-Wall", "-c", "scale.c", "-o", "/dev/null", flag], cwd=workdir,
                              capture_output=True, env=dict(os.environ, LC_ALL="C")).stderr.decode()

    plain = run("-fdiagnostics-color=never")
    shown = run("-fdiagnostics-color=always") if colour else plain
    command = "mara@lathe:~/src$ gcc -Wall -c scale.c\n"
    after = "mara@lathe:~/src$ "
    return (command + shown + after).encode(), command + plain + after


def git_log(colour):
    # A project's history as a pager shows it: yellow commit lines, the author and date, an indented message.
    commits = [
        ("9f2c4e17a0b35d2e8c61f0a4b7d9e3c25a1f8b60", "Mara Lindqvist <mara@lathe.example>", "Tue Dec 8 10:41:07 2026 +0100",
         ["Keep the sidebar's width when the window is narrowed", "",
          "The list of sections shrank below its longest entry and wrapped it."]),
        ("41d7b0c9e2f8a3561c0d4e7b9a2f6c8e1d3b5a07", "Tomas Eberle <tomas@lathe.example>", "Mon Dec 7 17:02:55 2026 +0100",
         ["Read the port from the environment before the config file"]),
        ("c06e8a2d5f1b9e4370a6c2d8f4b1e9a3c5d7f218", "Priya Raman <priya@lathe.example>", "Mon Dec 7 09:15:30 2026 +0100",
         ["Fix the total when an entry has no size", "",
          "Entries without a size counted as zero bytes but still added one", "to the number of files."]),
    ]
    shown, text = [], []
    for sha, author, date, message in commits:
        head = f"commit {sha}"
        shown.append(f"\033[33m{head}\033[0m" if colour else head)
        text.append(head)
        for line in [f"Author: {author}", f"Date:   {date}", ""] + [f"    {m}" if m else "" for m in message] + [""]:
            shown.append(line)
            text.append(line)
    return ("\n".join(shown)).encode(), "\n".join(text).rstrip() + "\n"
