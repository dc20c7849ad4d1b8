"""Stand-in for PyYAML's safe_load: nested "key:" / "key: value" mappings by indentation."""


def safe_load(stream):
    text = stream.read() if hasattr(stream, "read") else stream
    root = {}
    stack = [(-1, root)]
    for raw in text.splitlines():
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        indent = len(raw) - len(raw.lstrip())
        key, _, value = raw.strip().partition(":")
        while stack[-1][0] >= indent:
            stack.pop()
        parent = stack[-1][1]
        if value.strip():
            parent[key] = value.strip()
        else:
            parent[key] = {}
            stack.append((indent, parent[key]))
    return root
