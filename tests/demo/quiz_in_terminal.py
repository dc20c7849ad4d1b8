#!/usr/bin/env python3
"""Answers `tarnwick quiz` in a real pseudo-terminal, typing at each prompt as a person would.

Usage: quiz_in_terminal.py <tarnwick binary> <plan.json>
Closes with "N passed, N failed".
"""
import os
import pty
import select
import sys
import time


def read_until(fd, marker, timeout=10.0):
    seen = b""
    deadline = time.monotonic() + timeout
    while marker not in seen:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("no {!r} in {!r}".format(marker, seen[-200:]))
        ready, _, _ = select.select([fd], [], [], remaining)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    return seen


def main():
    binary, plan = sys.argv[1], sys.argv[2]
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(binary, [binary, "quiz", plan])
    transcript = b""
    for answer in (b"[1, 8]", b"[1, 8]", b"[1, 2]", b"[1, 3]"):
        transcript += read_until(fd, b"output shape> ")
        os.write(fd, answer + b"\r")
    transcript += read_until(fd, b"Score: ")
    transcript += read_until(fd, b"\n")
    _, status = os.waitpid(pid, 0)
    text = transcript.decode("utf-8", "replace").replace("\r\n", "\n")
    checks = {
        "exit status 0": os.WEXITSTATUS(status) == 0,
        "answers echoed at the prompt": "output shape> [1, 8]\n" in text,
        "wrong answer corrected": "Answer: [1, 3]" in text,
        "score line": "Score: 3/4" in text,
    }
    for name, ok in checks.items():
        print(("ok   " if ok else "FAIL ") + name)
    if not all(checks.values()):
        print(text)
    failed = sum(1 for ok in checks.values() if not ok)
    print("quiz in a terminal: {} passed, {} failed".format(len(checks) - failed, failed))
    sys.exit(1 if failed else 0)


main()
