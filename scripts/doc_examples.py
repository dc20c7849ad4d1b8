#!/usr/bin/env python3
"""Keeps the command examples of the documentation true to the program.

A markdown file marks each example with a comment naming the command, followed by a fenced
block that this script fills with what the command prints:

    <!-- run: tarnwick inspect corpus/pytorch/mlp.pt -->        the command line and its output
    <!-- json: tarnwick onnx --json corpus/onnx/x.onnx -->      the JSON document alone

Commands run in a scratch directory that holds `corpus` (the shared corpus), `examples` (the
project's examples, with `examples/models` written by make_examples.py as `make examples` writes
it in a clone) and `fixtures` (small files written by fixtures.py), so the paths in the output
read the same on every machine. Every `tarnwick` line of a ```sh block is run there too and
must end with status 0, or 1 from a gate (`check`, `scan`) that printed its report.

JSON documents are described by key tables between `<!-- keys: NAME -->` and
`<!-- end keys -->`: one row per key path (`a.b`, `list[].c`, `map.*` for the members of an
object keyed by data), its types, its meaning. Every `json:` example and every hidden
`<!-- covers: NAME: tarnwick ... -->` command of a section is checked against the section's
table: each key path it holds must be listed with a matching type, each listed path must
appear in one of them (unless its meaning begins "(in no example)"), and the members of every object must come in the section's key
order (`Key order: sorted.` or `Key order: as listed.`).

    doc_examples.py --write BINARY FILE...   regenerate the blocks in place
    doc_examples.py --check BINARY FILE...   fail (exit 1) when a block or key table is stale
Exit status 77 when a document uses the shared corpus and it is absent.
"""

import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

import fixtures
import make_examples

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus"))

MARKER = re.compile(r"^<!-- (run|json): (tarnwick .*) -->$")
COVERS = re.compile(r"^<!-- covers: ([a-z_]+): (tarnwick .*) -->$")
KEYS_START = re.compile(r"^<!-- keys: ([a-z_]+) -->$")
KEYS_END = "<!-- end keys -->"
SECTION = re.compile(r"^## `?([a-z_]+)`?")
UNREACHED = "(in no example)"
ORDER = re.compile(r"Key order: (sorted|as listed)\.")


def run(binary, workdir, command_line):
    args = shlex.split(command_line)[1:]
    env = dict(os.environ, VESPRINE_PYTHON="/nonexistent/python", PATH="/nonexistent")
    result = subprocess.run([binary] + args, cwd=workdir, env=env, capture_output=True,
                            text=True, check=False)
    return result


def run_block(binary, workdir, kind, command_line):
    result = run(binary, workdir, command_line)
    if kind == "json":
        # A gate (scan) prints its whole document before it fails; anything else must succeed.
        if result.returncode != 0 and not result.stdout.startswith("{"):
            raise SystemExit(f"`{command_line}` failed: {result.stderr.strip()}")
        return "```json\n" + result.stdout + "```\n", result.stdout
    text = f"$ {command_line}\n" + result.stdout + result.stderr
    if result.returncode != 0:
        text += f"$ echo $?\n{result.returncode}\n"
    return "```text\n" + text + "```\n", None


SH_BLOCK = "```sh\n"


def shell_examples(lines):
    """Every `tarnwick ...` command of the ```sh blocks, without its trailing comment, with the
    folder a `cd` line of its block moved to."""
    commands, inside, folder = [], False, "."
    for line in lines:
        command = line.split("  #")[0].split(" # ")[0].strip()
        if line == SH_BLOCK:
            inside, folder = True, "."
        elif line.startswith("```"):
            inside = False
        elif inside and command.startswith("cd "):
            folder = os.path.join(folder, command[3:].strip())
        elif inside and command.startswith("tarnwick "):
            commands.append((folder, command))
    return commands


def run_shell_examples(lines, binary, workdir):
    problems = []
    for folder, command in shell_examples(lines):
        result = run(binary, os.path.join(workdir, folder), command)
        gate = command.split()[1] in ("check", "scan") and result.returncode == 1 and result.stdout
        if result.returncode != 0 and not gate:
            problems.append(f"`{command}` ended with status {result.returncode}: {result.stderr.strip()[:200]}")
    return problems


def example_folder(workdir):
    """The project's examples beside the models `make examples` writes."""
    folder = os.path.join(workdir, "examples")
    os.makedirs(folder)
    for name in os.listdir(os.path.join(ROOT, "examples")):
        if name != "models":
            os.symlink(os.path.join(ROOT, "examples", name), os.path.join(folder, name))
    make_examples.fixtures.write_all(os.path.join(folder, "models"))
    make_examples.write_trees(os.path.join(folder, "models"))
    make_examples.write_torch_models(os.path.join(folder, "models"))


def regenerate(lines, binary, workdir):
    """The file's lines with every marked block refilled, and the JSON documents by section."""
    out, documents, i, section = [], [], 0, None
    while i < len(lines):
        line = lines[i]
        out.append(line)
        heading = SECTION.match(line)
        if heading:
            section = heading.group(1)
        covers = COVERS.match(line.rstrip("\n"))
        if covers:
            text = run(binary, workdir, covers.group(2))
            if text.returncode != 0 and not text.stdout.startswith("{"):
                raise SystemExit(f"`{covers.group(2)}` failed: {text.stderr.strip()}")
            documents.append((covers.group(1), covers.group(2), text.stdout))
        marker = MARKER.match(line.rstrip("\n"))
        i += 1
        if not marker:
            continue
        if i >= len(lines) or not lines[i].startswith("```"):
            raise SystemExit(f"no fenced block after `{line.strip()}`")
        i += 1
        while i < len(lines) and lines[i] != "```\n":
            i += 1
        i += 1
        block, document = run_block(binary, workdir, marker.group(1), marker.group(2))
        out.append(block)
        if document is not None:
            documents.append((section, marker.group(2), document))
    return out, documents


class KeyTable:
    def __init__(self, name):
        self.name = name
        self.rows = {}  # path -> set of types
        self.order = []  # paths as listed
        self.unreached = set()  # paths no example can show, marked as such in the table
        self.sorted_keys = True


def read_key_tables(lines):
    tables, current, section, order = {}, None, None, {}
    for line in lines:
        line = line.rstrip("\n")
        heading = SECTION.match(line)
        if heading:
            section = heading.group(1)
        rule = ORDER.search(line)
        if rule and section:
            order[section] = rule.group(1) == "sorted"
        start = KEYS_START.match(line)
        if start:
            current = tables.setdefault(start.group(1), KeyTable(start.group(1)))
            continue
        if line == KEYS_END:
            current = None
            continue
        if current is None or not line.startswith("| `"):
            continue
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        path = cells[0].strip("`")
        types = {t.strip() for t in cells[1].split(" or ")}
        current.rows[path] = types
        current.order.append(path)
        if len(cells) > 2 and cells[2].startswith(UNREACHED):
            current.unreached.add(path)
    for name, table in tables.items():
        table.sorted_keys = order.get(name, True)
    return tables


def json_type(value):
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, int):
        return "integer"
    if isinstance(value, float):
        return "number"
    if isinstance(value, str):
        return "string"
    if isinstance(value, list):
        return "array"
    return "object"


def parent(path):
    return path.rsplit(".", 1)[0] if "." in path else ""


class Checker:
    """Walks documents against the key tables; a type `object: NAME` sends the member to the
    table NAME (a shared object), whose rows are then relative to that member."""

    def __init__(self, tables):
        self.tables = tables
        self.seen = {name: set() for name in tables}
        self.problems = []

    def document(self, section, command, value):
        if section not in self.tables:
            self.problems.append(f"`{command}`: no key table for section {section}")
            return
        table = self.tables[section]
        for item in value if isinstance(value, list) else [value]:
            self.walk(item, "", table, table.sorted_keys, command)

    def walk(self, value, path, table, sorted_keys, where):
        if isinstance(value, dict):
            keys = list(value.keys())
            is_map = (path + ".*" if path else "*") in table.rows
            if sorted_keys:
                if keys != sorted(keys, key=lambda k: k.encode()):
                    self.problems.append(f"{where}: members of `{path or table.name}` are not in byte order")
            elif not is_map:
                listed = [p.rsplit(".", 1)[-1] for p in table.order
                          if not p.endswith("[]") and parent(p) == path]
                present = [k for k in listed if k in keys]
                if present != keys:
                    self.problems.append(f"{where}: members of `{path or table.name}` come as {keys}, "
                                         f"the table lists {present}")
            for key, member in value.items():
                child = (path + "." if path else "") + ("*" if is_map else key)
                self.visit(member, child, table, sorted_keys, where)
        elif isinstance(value, list):
            for item in value:
                self.visit(item, path + "[]", table, sorted_keys, where)

    def visit(self, value, path, table, sorted_keys, where):
        self.seen[table.name].add(path)
        if path not in table.rows:
            self.problems.append(f"{where}: `{path}` is not in the key table {table.name}")
            return
        types = table.rows[path]
        actual = json_type(value)
        shapes = [t[len("object: "):] for t in types if t.startswith("object: ")]
        if actual == "object" and shapes:
            shape = self.tables.get(shapes[0])
            if shape is None:
                self.problems.append(f"{table.name}: `{path}` names the missing table {shapes[0]}")
                return
            self.walk(value, "", shape, sorted_keys, where)
            return
        if actual not in types:
            self.problems.append(f"{where}: `{path}` is {actual}, the table {table.name} says "
                                 f"{' or '.join(sorted(types))}")
        self.walk(value, path, table, sorted_keys, where)

    def unseen(self):
        return [f"{name}: `{path}` is listed but no example holds it"
                for name, table in self.tables.items() for path in table.order
                if path not in self.seen[name] and path not in table.unreached]


def check_documents(tables, documents):
    checker = Checker(tables)
    for section, command, text in documents:
        checker.document(section, command, json.loads(text))
    return checker.problems + checker.unseen()


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("--write", "--check"):
        raise SystemExit(__doc__)
    mode, binary, files = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3:]
    texts = {name: open(os.path.join(ROOT, name), encoding="utf-8").readlines() for name in files}
    if not os.path.isdir(CORPUS) and any("corpus/" in line for lines in texts.values() for line in lines):
        print(f"skipped: shared corpus not found at {CORPUS}")
        return 77
    try:
        import torch  # noqa: F401  (make_examples writes the PyTorch examples with it)
    except ImportError:
        print("skipped: python3-torch is not installed (make deps installs it)")
        return 77
    failures = 0
    with tempfile.TemporaryDirectory() as workdir:
        if os.path.isdir(CORPUS):
            os.symlink(CORPUS, os.path.join(workdir, "corpus"))
        example_folder(workdir)
        fixtures.write_all(os.path.join(workdir, "fixtures"))
        for name in files:
            path = os.path.join(ROOT, name)
            lines = texts[name]
            fresh, documents = regenerate(lines, binary, workdir)
            problems = check_documents(read_key_tables(lines), documents)
            problems += run_shell_examples(lines, binary, workdir)
            for problem in problems:
                print(f"{name}: {problem}")
            failures += len(problems)
            if "".join(fresh) == "".join(lines):
                print(f"{name}: examples current ({len(documents)} JSON documents checked)")
            elif mode == "--write":
                with open(path, "w", encoding="utf-8") as handle:
                    handle.writelines(fresh)
                print(f"{name}: examples rewritten")
            else:
                failures += 1
                with tempfile.NamedTemporaryFile("w", suffix=".md", delete=False) as handle:
                    handle.writelines(fresh)
                subprocess.run(["diff", "-u", path, handle.name], check=False)
                os.unlink(handle.name)
                print(f"{name}: examples are stale; run scripts/doc_examples.py --write")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
