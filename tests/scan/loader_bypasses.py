#!/usr/bin/env python3
"""Files that run code under a real loader while looking harmless to a scanner: container tricks
(legacy torch files, zip and tar archives, files valid in two formats, numpy and joblib
wrappers, compressed entries) and the code-execution callables named in public pickle-scanner
advisories. Each file is first proven to run a harmless marker (creating a file) under the loader
its case names (torch.load, pickle.load, numpy.load, joblib.load, torch.package), then
`tarnwick scan` must refuse it (exit 1, verdict unsafe or unscannable), and refuse it still with
`--fail-on dangerous`: what runs code is dangerous, not merely unknown.

usage: loader_bypasses.py <tarnwick>
"""
import io
import json
import marshal
import os
import pickle
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
import zlib

LEGACY_MAGIC = 0x1950A86A20F9469CFC6C


class RunsMarker:
    """Unpickling calls os.system, which creates the marker file."""

    def __init__(self, marker):
        self.marker = marker

    def __reduce__(self):
        return (os.system, ("touch " + self.marker,))


def payload(marker):
    return pickle.dumps(RunsMarker(marker), protocol=2)


def text_payload(marker):
    """The same call in protocol 0: printable bytes, no NUL, ending at STOP."""
    return b"cposix\nsystem\n(V" + ("touch " + marker).encode() + b"\ntR."


def harmless():
    return pickle.dumps({"weights": [1, 2, 3]}, protocol=2)


# --- a small pickle assembler, for calls that no Python object's __reduce__ would write -------

class Global:
    """GLOBAL module name; a dotted name is looked up attribute by attribute (protocol 4)."""

    def __init__(self, module, name):
        self.module, self.name = module, name


class Call:
    def __init__(self, function, *args):
        self.function, self.args = function, args


def assemble(value):
    if isinstance(value, Global):
        return b"c" + value.module.encode() + b"\n" + value.name.encode() + b"\n"
    if isinstance(value, Call):
        return assemble(value.function) + b"(" + b"".join(assemble(a) for a in value.args) + b"tR"
    if value is None:
        return b"N"
    if isinstance(value, bool):
        return b"\x88" if value else b"\x89"
    if isinstance(value, int):
        return b"J" + struct.pack("<i", value)
    if isinstance(value, str):
        return b"X" + struct.pack("<I", len(value.encode())) + value.encode()
    if isinstance(value, bytes):
        return b"B" + struct.pack("<I", len(value)) + value
    if isinstance(value, tuple):
        return b"(" + b"".join(assemble(a) for a in value) + b"t"
    if isinstance(value, list):
        return b"](" + b"".join(assemble(a) for a in value) + b"e"
    if isinstance(value, dict):
        return b"}(" + b"".join(assemble(k) + assemble(v) for k, v in value.items()) + b"u"
    raise TypeError(f"cannot assemble {value!r}")


def program(value):
    return b"\x80\x04" + assemble(value) + b"."


def shell(marker):
    return "touch " + marker


def python_source(marker):
    return f"import os\nos.system({shell(marker)!r})\n"


# --- legacy torch.save files: five pickles, the first holding the magic number ---------------

def legacy_file(first_pickle, marker):
    sys_info = {"protocol_version": 1001, "little_endian": True, "type_sizes": {"short": 2, "int": 4, "long": 4}}
    return (first_pickle + pickle.dumps(1001, protocol=2) + pickle.dumps(sys_info, protocol=2) + payload(marker) +
            pickle.dumps([], protocol=2))


def magic_long1_with_sign_byte(marker):
    # LONG1 of 11 bytes: the number and a redundant zero sign byte
    return legacy_file(b"\x80\x02\x8a\x0b" + LEGACY_MAGIC.to_bytes(11, "little") + b".", marker)


def magic_protocol0_long(marker):
    return legacy_file(b"L" + str(LEGACY_MAGIC).encode() + b"L\n.", marker)


def magic_padded_first_pickle(marker):
    # the first pickle runs past 64 bytes: a long string pushed and popped before the number
    padding = b"X" + struct.pack("<I", 200) + b"p" * 200 + b"0"
    return legacy_file(b"\x80\x02" + padding + b"\x8a\x0a" + LEGACY_MAGIC.to_bytes(10, "little") + b".", marker)


class MagicByCall:
    """Unpickles to the magic number through a call of int, which torch compares as equal."""

    def __reduce__(self):
        return (int, (str(LEGACY_MAGIC),))


def magic_returned_by_a_call(marker):
    return legacy_file(pickle.dumps(MagicByCall(), protocol=2), marker)


# --- zip checkpoints --------------------------------------------------------------------------

def zip_bytes(entries, compression=zipfile.ZIP_STORED):
    """A zip of (name, bytes), written by Python's zipfile."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    return buffer.getvalue()


def upper_case_pickle_name(marker):
    return zip_bytes([("archive/data.PKL", payload(marker)), ("archive/decoy.pkl", harmless()),
                      ("archive/version", b"3\n")])


class RawZip:
    """A zip laid out by hand, for directories that disagree."""

    def __init__(self):
        self.data = b""

    def local(self, name, body, crc=None, local_name=None):
        offset = len(self.data)
        name = name.encode()
        crc = zlib.crc32(body) if crc is None else crc
        written_name = name if local_name is None else local_name.encode()
        self.data += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, crc, len(body), len(body),
                                  len(written_name), 0) + written_name + body
        return (name, body, offset, crc)

    @staticmethod
    def central(entries):
        out = b""
        for name, body, offset, crc in entries:
            out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0, crc, len(body),
                               len(body), len(name), 0, 0, 0, 0, 0, offset) + name
        return out

    def directory(self, entries):
        offset = len(self.data)
        self.data += self.central(entries)
        return offset, len(self.data) - offset, len(entries)

    def eocd(self, directory, comment=b""):
        offset, size, count = directory
        return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, len(comment)) + comment

    def zip64_end(self, directory):
        offset, size, count = directory
        record_at = len(self.data)
        self.data += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
        self.data += struct.pack("<IIQI", 0x07064B50, 0, record_at, 1)


def zip64_locator_to_another_directory(marker):
    z = RawZip()
    evil = z.local("archive/data.pkl", payload(marker))
    version = z.local("archive/version", b"3\n")
    decoy = z.local("archive/data.pkl", harmless())
    plain = z.directory([decoy, version])
    hidden = z.directory([evil, version])
    z.zip64_end(hidden)
    return z.data + z.eocd(plain)


def fake_end_record_in_the_comment(marker):
    z = RawZip()
    evil = z.local("archive/data.pkl", payload(marker))
    version = z.local("archive/version", b"3\n")
    decoy = z.local("archive/data.pkl", harmless())
    real = z.directory([evil, version])
    fake = z.directory([decoy, version])
    fake_record = z.eocd(fake)[:20]  # 20 of its 22 bytes: size and offset fit, the comment length does not
    return z.data + z.eocd(real, comment=fake_record)


def deflated_data_pkl(marker):
    return zip_bytes([("archive/data.pkl", payload(marker)), ("archive/version", b"3\n")], zipfile.ZIP_DEFLATED)


def one_entry_checkpoint(marker, **local_options):
    z = RawZip()
    evil = z.local("archive/data.pkl", payload(marker), **local_options)
    version = z.local("archive/version", b"3\n")
    directory = z.directory([evil, version])
    return z.data + z.eocd(directory)


def wrong_crc_on_data_pkl(marker):
    # Python's zipfile refuses the entry at its end; torch's reader does not check
    return one_entry_checkpoint(marker, crc=0xDEADBEEF)


def local_name_differs_from_directory(marker):
    # Python's zipfile refuses an entry whose two names differ; torch reads the directory's
    return one_entry_checkpoint(marker, local_name="archive/xxxx.pkl")


def two_data_pkl_entries(marker):
    # torch reads the first of two equal names, Python's zipfile the last
    z = RawZip()
    evil = z.local("archive/data.pkl", payload(marker))
    decoy = z.local("archive/data.pkl", harmless())
    version = z.local("archive/version", b"3\n")
    directory = z.directory([evil, decoy, version])
    return z.data + z.eocd(directory)


def pickle_named_safetensors(marker):
    return payload(marker)


# --- tar archives: torch's oldest format, tried first on every file that is not a zip --------

def tar_member(name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    return info, io.BytesIO(data)


def tar_bytes(members):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for name, data in members:
            tar.addfile(*tar_member(name, data))
    return buffer.getvalue()


def legacy_tar(storages, pickle_member):
    sys_info = {"protocol_version": 1001, "little_endian": True, "type_sizes": {"short": 2, "int": 4, "long": 4}}
    return tar_bytes([("sys_info", pickle.dumps(sys_info, protocol=2)), ("storages", storages),
                      ("tensors", pickle.dumps(0, protocol=2)), ("pickle", pickle_member)])


def no_storages():
    return pickle.dumps(0, protocol=2) + pickle.dumps([], protocol=2)


def tar_pickle_member(marker):
    return legacy_tar(no_storages(), payload(marker))


def tar_storages_member_after_raw_bytes(marker):
    # one float storage of two elements whose raw bytes are STOP opcodes, then the views pickle
    description = program(("0", "cpu", Global("torch", "FloatStorage")))
    raw = struct.pack("<q", 2) + b"." * 8
    storages = pickle.dumps(1, protocol=2) + description + raw + payload(marker)
    return legacy_tar(storages, harmless())


def tar_pickle_member_twice(marker):
    # tarfile finds the last member of a name
    return tar_bytes([("sys_info", harmless()), ("storages", no_storages()), ("tensors", pickle.dumps(0, protocol=2)),
                      ("pickle", harmless()), ("pickle", payload(marker))])


def tar_member_renamed_by_pax_header(marker):
    # the ustar header says "decoy"; the pax extended header that tarfile honours says "pickle"
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name, data in [("sys_info", harmless()), ("storages", no_storages()), ("tensors", pickle.dumps(0, protocol=2))]:
            tar.addfile(*tar_member(name, data))
        info, data = tar_member("decoy", payload(marker))
        info.pax_headers = {"path": "pickle"}
        tar.addfile(info, data)
    return buffer.getvalue()


def with_first_name_field(tar, name_field):
    """The archive with its first header's 100-byte name field replaced and the checksum redone."""
    assert len(name_field) <= 100 and b"\0" not in name_field
    header = bytearray(tar[:512])
    header[0:100] = name_field.ljust(100, b"\0")
    header[148:156] = b" " * 8
    header[148:156] = b"%06o\0 " % sum(header)
    return bytes(header) + tar[512:]


def tar_that_is_a_pickle(marker):
    # pickle.load reads the first header's name field; torch reads a harmless tar checkpoint. The
    # marker is named relative to the loader's working directory, where it lies, to fit 100 bytes.
    tar = tar_bytes([("placeholder", b"")])[:512]  # an empty member's header alone
    return with_first_name_field(tar, text_payload(os.path.basename(marker))) + legacy_tar(no_storages(), harmless())


def pickle_that_is_a_tar(marker):
    # a harmless pickle at byte 0 for whoever reads the file as one; torch reads the tar
    tar = tar_bytes([("placeholder", b"")])[:512]
    return with_first_name_field(tar, b"\x80\x02}.") + legacy_tar(no_storages(), payload(marker))


# --- files valid in another format that are also pickles --------------------------------------

def avoiding(value, bad=(0x0A, 0x5C)):
    return all(b not in bad for b in value)


def safetensors_polyglot(marker):
    """A valid safetensors file read by pickle as: UNICODE (the header length's bytes and the JSON
    up to a newline before its closing brace), EMPTY_DICT (the brace), then the tensor data: a
    one-tensor U8 buffer holding the payload pickle."""
    data = payload(marker)
    tensor = {"dtype": "U8", "shape": [len(data)], "data_offsets": [0, len(data)]}
    opening = '{"__metadata__":{"pad":"'
    closing = '"},"payload":' + json.dumps(tensor, separators=(",", ":")) + "\n}"
    padding = (0x56 - len(opening) - len(closing)) % 256
    while True:
        header = (opening + "x" * padding + closing).encode()
        length = struct.pack("<Q", len(header))
        if length[0] == ord("V") and avoiding(length):
            return length + header + data
        padding += 256


def check_safetensors(blob):
    """The rules the reference reader enforces (../shared/formats/safetensors.md)."""
    (length,) = struct.unpack("<Q", blob[:8])
    assert 8 + length <= len(blob) and length <= 100_000_000
    header = json.loads(blob[8:8 + length].decode("utf-8"))
    sizes = {"U8": 1, "F32": 4}
    spans = []
    for name, entry in header.items():
        if name == "__metadata__":
            assert all(isinstance(v, str) for v in entry.values())
            continue
        assert set(entry) == {"dtype", "shape", "data_offsets"}
        begin, end = entry["data_offsets"]
        numel = 1
        for d in entry["shape"]:
            numel *= d
        assert numel * sizes[entry["dtype"]] == end - begin
        spans.append((begin, end))
    position = 0
    for begin, end in sorted(spans):
        assert begin == position
        position = end
    assert position == len(blob) - 8 - length


def gguf_string(text):
    data = text.encode()
    return struct.pack("<Q", len(data)) + data


GGUF_TENSORS = 0x5600  # the tensor count's second byte is the pickle's UNICODE opcode


def gguf_polyglot(marker):
    """A valid GGUF v3 file read by pickle as: BINFLOAT (magic, version, the count's low byte),
    UNICODE (up to the newline inside the first key), then the payload written in that key."""
    key = "x\n" + text_payload(marker).decode() + "\n"
    kv_count = 1
    out = b"GGUF" + struct.pack("<IQQ", 3, GGUF_TENSORS, kv_count)
    out += gguf_string(key) + struct.pack("<IB", 0, 1)  # value type uint8
    assert avoiding(out[10:out.index(b"x\n")])
    for i in range(GGUF_TENSORS):
        out += gguf_string(f"t{i:05d}") + struct.pack("<IQIQ", 1, 8, 0, 32 * i)  # F32 [8]
    out += b"\0" * (-len(out) % 32)
    return out + b"\0" * (32 * GGUF_TENSORS)


def check_gguf(blob):
    """Parses the file by ../shared/formats/gguf.md: every count, string, dims and data range."""
    position = 0

    def take(fmt):
        nonlocal position
        values = struct.unpack_from(fmt, blob, position)
        position += struct.calcsize(fmt)
        return values

    def string():
        nonlocal position
        (n,) = take("<Q")
        assert position + n <= len(blob)
        text = blob[position:position + n].decode("utf-8")
        position += n
        return text

    assert blob[:4] == b"GGUF"
    position = 4
    version, tensors, kvs = take("<IQQ")
    assert version == 3
    for _ in range(kvs):
        string()
        (value_type,) = take("<I")
        assert value_type == 0
        take("<B")
    infos, names = [], set()
    for _ in range(tensors):
        name = string()
        assert name not in names
        names.add(name)
        (n_dims,) = take("<I")
        dims = take(f"<{n_dims}Q")
        ggml_type, offset = take("<IQ")
        assert ggml_type == 0 and offset % 32 == 0
        infos.append((offset, 4 * dims[0]))
    data_start = position + (-position % 32)
    for offset, size in infos:
        assert data_start + offset + size <= len(blob)


ONNX_DOC_LENGTH = 0x88 | 0x7D << 7  # the varint bytes 0x88 0x7D are NEWTRUE, EMPTY_DICT


def onnx_polyglot(marker):
    """A valid ONNX model whose first fields read as pickle opcodes: the model_version tag and
    its value 78 are MARK, NONE; the doc_string tag and its two-byte length are DUP, NEWTRUE,
    EMPTY_DICT; the doc_string holds the payload, padded with spaces after its STOP."""
    from onnx import TensorProto, helper
    graph = helper.make_graph([helper.make_node("Identity", ["x"], ["y"])], "g",
                              [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1])],
                              [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1])])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    model.ir_version = 8
    doc = text_payload(marker)
    assert len(doc) <= ONNX_DOC_LENGTH
    return b"(N2\x88}" + doc.ljust(ONNX_DOC_LENGTH, b" ") + model.SerializeToString()


def check_onnx(blob):
    import onnx
    model = onnx.load_model_from_string(blob)
    onnx.checker.check_model(model)
    assert model.model_version == 78 and model.doc_string.startswith("cposix")


# --- numpy files with object dtype ------------------------------------------------------------

def object_array(marker):
    import numpy
    array = numpy.empty(1, dtype=object)
    array[0] = RunsMarker(marker)
    return array


def npy_bytes(array):
    import numpy
    buffer = io.BytesIO()
    numpy.save(buffer, array, allow_pickle=True)
    return buffer.getvalue()


def npy_object(marker):
    return npy_bytes(object_array(marker))


def npy_structured_object_field(marker):
    import numpy
    array = numpy.empty(1, dtype=[("weights", "<f4"), ("extra", "O")])
    array[0] = (1.0, RunsMarker(marker))
    return npy_bytes(array)


def npy_bare_object_descr(marker):
    # "O" without the byte-order character names the same dtype as "|O"
    data = npy_bytes(object_array(marker))
    assert data.count(b"'|O'") == 1
    return data.replace(b"'|O'", b"'O' ")


def npy_version_3_header(marker):
    # a 4-byte header length and a UTF-8 header
    import numpy
    buffer = io.BytesIO()
    numpy.lib.format.write_array(buffer, object_array(marker), version=(3, 0), allow_pickle=True)
    return buffer.getvalue()


def npz_object_member(compression):
    def build(marker):
        import numpy
        return zip_bytes([("weights.npy", npy_bytes(numpy.arange(4.0))), ("extra.npy", npy_bytes(object_array(marker)))],
                         compression)
    return build


def pickle_named_npy(marker):
    # numpy.load with allow_pickle unpickles whatever lacks the npy and zip magic
    return payload(marker)


# --- joblib ---------------------------------------------------------------------------------

def joblib_bytes(value, **options):
    import joblib
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "model.joblib")
        joblib.dump(value, path, **options)
        with open(path, "rb") as f:
            return f.read()


def joblib_compressed(method):
    def build(marker):
        return joblib_bytes({"model": RunsMarker(marker)}, compress=(method, 3))
    return build


def joblib_zfile(marker):
    # joblib's first format, still read: "ZF", the length in hex, then zlib data
    from joblib import numpy_pickle_compat
    buffer = io.BytesIO()
    numpy_pickle_compat.write_zfile(buffer, payload(marker))
    return buffer.getvalue()


class NotSeekable(io.RawIOBase):
    """joblib writes its arrays without alignment padding to a file it cannot seek."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)

    def tell(self):
        raise io.UnsupportedOperation("tell")


def joblib_inband_array_then_payload(marker):
    # the array's raw bytes follow the wrapper's BUILD in the stream; here they are STOP opcodes,
    # so a reader that takes them for pickle sees a harmless file end before the payload
    import joblib
    import numpy
    out = NotSeekable()
    joblib.dump([numpy.frombuffer(b"." * 16, dtype=numpy.uint8), RunsMarker(marker)], out)
    data = bytes(out.data)
    assert data.index(b"." * 16) < data.index(b"posix")
    return data


def joblib_companion_npy(marker):
    # joblib's old wrapper names a file beside the pickle that numpy.load reads with allow_pickle
    import numpy
    from joblib.numpy_pickle_compat import NDArrayWrapper
    companion = marker + ".companion.npy"
    with open(companion, "wb") as f:
        f.write(npy_bytes(object_array(marker)))
    return pickle.dumps({"weights": NDArrayWrapper(companion, numpy.ndarray)}, protocol=2)


# --- torch.package: Python source in the archive runs on import -------------------------------

def torch_package_source(marker):
    from torch.package import PackageExporter
    buffer = io.BytesIO()
    with PackageExporter(buffer) as exporter:
        exporter.save_source_string("model_code", python_source(marker) + "class Model:\n    pass\n")
        exporter.save_binary("model", "model.pkl", program(Call(Global("model_code", "Model"))))
    return buffer.getvalue()


# --- code execution through callables named in scanner advisories -----------------------------

def calling(build_call):
    def build(marker):
        return program(build_call(marker))
    return build


OS_MODULE = Global("posixpath", "os")  # the os module, reached as an attribute of posixpath

FAMILIES = [
    ("runpy._run_code", lambda m: Call(Global("runpy", "_run_code"), python_source(m), {})),
    ("pydoc.pipepager", lambda m: Call(Global("pydoc", "pipepager"), "", shell(m))),
    ("pydoc.locate returning os.system", lambda m: Call(Call(Global("pydoc", "locate"), "os.system"), shell(m))),
    ("code.InteractiveInterpreter.runcode",
     lambda m: Call(Global("code", "InteractiveInterpreter.runcode"), Call(Global("code", "InteractiveInterpreter")),
                    python_source(m))),
    ("timeit.timeit", lambda m: Call(Global("timeit", "timeit"), python_source(m), "pass", Global("time", "perf_counter"), 1)),
    ("cProfile.run", lambda m: Call(Global("cProfile", "run"), python_source(m))),
    ("profile.run", lambda m: Call(Global("profile", "run"), python_source(m))),
    ("trace.Trace.run", lambda m: Call(Global("trace", "Trace.run"), Call(Global("trace", "Trace"), 0, 0), python_source(m))),
    ("bdb.Bdb.run", lambda m: Call(Global("bdb", "Bdb.run"), Call(Global("bdb", "Bdb")), python_source(m))),
    ("doctest.debug_script", lambda m: Call(Global("doctest", "debug_script"), python_source(m), True, {})),
    ("distutils.spawn.spawn", lambda m: Call(Global("distutils.spawn", "spawn"), ["touch", m])),
    ("numpy.testing runstring", lambda m: Call(Global("numpy.testing._private.utils", "runstring"), python_source(m), {})),
    ("numpy.f2py crackfortran eval",
     lambda m: Call(Global("numpy.f2py.crackfortran", "_eval_scalar"), f"__import__('os').system({shell(m)!r})", {})),
    ("operator.attrgetter on the os module",
     lambda m: Call(Call(Call(Global("operator", "attrgetter"), "system"), OS_MODULE), shell(m))),
    ("operator.methodcaller on the os module",
     lambda m: Call(Call(Global("operator", "methodcaller"), "system", shell(m)), OS_MODULE)),
    ("operator.itemgetter on sys.modules",
     lambda m: Call(Call(Global("operator", "methodcaller"), "system", shell(m)),
                    Call(Call(Global("operator", "itemgetter"), "os"), Global("sys", "modules")))),
    ("os.system as a dotted name under posixpath", lambda m: Call(Global("posixpath", "os.system"), shell(m))),
    ("functools.partial", lambda m: Call(Call(Global("functools", "partial"), Global("os", "system"), shell(m)))),
    ("importlib.import_module", lambda m: Call(Call(Global("builtins", "getattr"),
                                                   Call(Global("importlib", "import_module"), "os"), "system"), shell(m))),
    ("builtins.getattr", lambda m: Call(Call(Global("builtins", "getattr"), OS_MODULE, "system"), shell(m))),
    ("pkgutil.resolve_name", lambda m: Call(Call(Global("pkgutil", "resolve_name"), "os:system"), shell(m))),
    ("marshal.loads into types.FunctionType",
     lambda m: Call(Call(Global("types", "FunctionType"),
                         Call(Global("marshal", "loads"), marshal.dumps(compile(python_source(m), "<p>", "exec"))), {}))),
    ("pickle.loads of an inner pickle", lambda m: Call(Global("pickle", "loads"), payload(m))),
    ("lib2to3 Grammar.loads of an inner pickle",
     lambda m: Call(Global("lib2to3.pgen2.grammar", "Grammar.loads"), Call(Global("lib2to3.pgen2.grammar", "Grammar")),
                    payload(m))),
    ("mailcap.findmatch", lambda m: Call(Global("mailcap", "findmatch"),
                                         {"text/plain": [{"view": "true", "test": shell(m)}]}, "text/plain")),
    ("pty.spawn", lambda m: Call(Global("pty", "spawn"), ["touch", m])),
    ("ctypes libc system", lambda m: Call(Call(Global("operator", "methodcaller"), "system", shell(m).encode()),
                                          Call(Global("ctypes", "CDLL"), None))),
    ("shutil.copyfile writes a file", lambda m: Call(Global("shutil", "copyfile"), "/dev/null", m)),
    ("io.open writes a file", lambda m: Call(Global("io", "open"), m, "w")),
    ("distutils.file_util.write_file", lambda m: Call(Global("distutils.file_util", "write_file"), m, [])),
    ("pip.main", lambda m: Call(Global("pip", "main"), ["--log", m, "config", "list"])),
    ("ensurepip._run_pip", lambda m: Call(Global("ensurepip", "_run_pip"), ["--log", m, "config", "list"])),
]

TORCH_FAMILIES = [
    ("torch.jit.unsupported_tensor_ops.execWrapper",
     lambda m: Call(Global("torch.jit.unsupported_tensor_ops", "execWrapper"), python_source(m), {}, {})),
    ("torch.utils.collect_env.run", lambda m: Call(Global("torch.utils.collect_env", "run"), shell(m))),
    ("torch.utils.bottleneck run_cprofile",
     lambda m: Call(Global("torch.utils.bottleneck.__main__", "run_cprofile"), python_source(m), {})),
    ("torch.storage._load_from_bytes of an inner checkpoint",
     lambda m: Call(Global("torch.storage", "_load_from_bytes"), legacy_file(pickle.dumps(LEGACY_MAGIC, protocol=2), m))),
    ("torch datapipes decoder basichandlers",
     lambda m: Call(Global("torch.utils.data.datapipes.utils.decoder", "basichandlers"), "pickle", payload(m))),
]


# --- opcode-level tricks from the advisories, under the real loader ----------------------------

def memo_put_and_memoize_mixed(marker):
    # BINPUT and MEMOIZE both fill the memo: a scanner counting only MEMOIZE sees torch names
    return (b"\x80\x04" + assemble("os") + b"q\x00" + assemble("system") + b"q\x01" + assemble("torch._utils") +
            b"\x94" + assemble("_rebuild_tensor_v2") + b"\x94" + b"h\x00h\x01\x93" + assemble(shell(marker)) +
            b"\x85R.")


def inst_opcode(marker):
    return b"(" + assemble(shell(marker)) + b"ios\nsystem\n."


def names_set_by_build(marker):
    # BUILD sets attributes on numpy.prod; GLOBAL numpy prod.a then yields the string "os"
    return (b"\x80\x04cnumpy\nprod\n" + b"N}(" + assemble("a") + assemble("os") + assemble("b") + assemble("system") +
            b"u\x86b0cnumpy\nprod.a\ncnumpy\nprod.b\n\x93" + assemble(shell(marker)) + b"\x85R.")


CASES = [
    # legacy torch files
    ("legacy magic as LONG1 with a sign byte", ".pt", magic_long1_with_sign_byte, "torch.load"),
    ("legacy magic as protocol-0 LONG", ".pt", magic_protocol0_long, "torch.load"),
    ("legacy magic after 200 bytes of padding", ".pt", magic_padded_first_pickle, "torch.load"),
    ("legacy magic returned by a call of int", ".pt", magic_returned_by_a_call, "torch.load"),
    # zip checkpoints
    ("zip pickle named data.PKL beside a decoy", ".pt", upper_case_pickle_name, "torch.load"),
    ("zip64 locator to a second directory", ".pt", zip64_locator_to_another_directory, "torch.load"),
    ("fake end record of 20 bytes in the real one's comment", ".pt", fake_end_record_in_the_comment, "torch.load"),
    ("zip data.pkl deflate-compressed", ".pt", deflated_data_pkl, "torch.load"),
    ("zip data.pkl with a wrong CRC", ".pt", wrong_crc_on_data_pkl, "torch.load"),
    ("zip local header names another file than the directory", ".pt", local_name_differs_from_directory, "torch.load"),
    ("zip with two data.pkl entries, the first run by torch", ".pt", two_data_pkl_entries, "torch.load"),
    ("pickle named .safetensors", ".safetensors", pickle_named_safetensors, "torch.load"),
    # tar archives
    ("legacy tar whose pickle member runs the payload", ".pth.tar", tar_pickle_member, "torch.load"),
    ("legacy tar whose storages member runs it after raw storage bytes", ".pt", tar_storages_member_after_raw_bytes,
     "torch.load"),
    ("legacy tar with two pickle members, the last run by torch", ".pt", tar_pickle_member_twice, "torch.load"),
    ("legacy tar member named pickle by a pax header", ".pt", tar_member_renamed_by_pax_header, "torch.load"),
    ("tar checkpoint whose first header is a pickle", ".pt", tar_that_is_a_pickle, "pickle.load"),
    ("harmless pickle at byte 0 of a tar checkpoint", ".pt", pickle_that_is_a_tar, "torch.load"),
    # files valid in two formats
    ("valid safetensors that is a pickle", ".safetensors", safetensors_polyglot, "torch.load"),
    ("valid GGUF that is a pickle", ".gguf", gguf_polyglot, "pickle.load"),
    ("valid ONNX that is a pickle", ".onnx", onnx_polyglot, "torch.load"),
    # numpy
    (".npy with object dtype", ".npy", npy_object, "numpy.load"),
    (".npy structured dtype with an object field", ".npy", npy_structured_object_field, "numpy.load"),
    (".npy object dtype written as bare O", ".npy", npy_bare_object_descr, "numpy.load"),
    (".npy version 3 header with object dtype", ".npy", npy_version_3_header, "numpy.load"),
    (".npz object member, stored", ".npz", npz_object_member(zipfile.ZIP_STORED), "numpy.load"),
    (".npz object member, deflate", ".npz", npz_object_member(zipfile.ZIP_DEFLATED), "numpy.load"),
    (".npz object member, bzip2", ".npz", npz_object_member(zipfile.ZIP_BZIP2), "numpy.load"),
    (".npz object member, lzma", ".npz", npz_object_member(zipfile.ZIP_LZMA), "numpy.load"),
    ("pickle named .npy", ".npy", pickle_named_npy, "numpy.load"),
    # joblib
    ("joblib gzip", ".joblib", joblib_compressed("gzip"), "joblib.load"),
    ("joblib bz2", ".joblib", joblib_compressed("bz2"), "joblib.load"),
    ("joblib xz", ".joblib", joblib_compressed("xz"), "joblib.load"),
    ("joblib zlib", ".joblib", joblib_compressed("zlib"), "joblib.load"),
    ("joblib lzma", ".joblib", joblib_compressed("lzma"), "joblib.load"),
    ("joblib ZF zlib file of its first format", ".pkl", joblib_zfile, "joblib.load"),
    ("joblib in-band array bytes of STOPs, then the payload", ".joblib", joblib_inband_array_then_payload, "joblib.load"),
    ("joblib wrapper loading a companion object .npy", ".pkl", joblib_companion_npy, "joblib.load"),
    # source code in an archive
    ("torch.package module source", ".pt", torch_package_source, "torch.package"),
    # opcode tricks
    ("memo filled by BINPUT and MEMOIZE mixed", ".pkl", memo_put_and_memoize_mixed, "pickle.load"),
    ("INST opcode", ".pkl", inst_opcode, "pickle.load"),
    ("STACK_GLOBAL names set by BUILD on numpy.prod", ".pkl", names_set_by_build, "pickle.load"),
] + [(name, ".pkl", calling(call), "pickle.load") for name, call in FAMILIES] + [
    (name, ".pt", calling(call), "torch.load") for name, call in TORCH_FAMILIES]

VALIDATORS = {safetensors_polyglot: check_safetensors, gguf_polyglot: check_gguf, onnx_polyglot: check_onnx}

LOADER = r"""
import os, pickle, sys, warnings
warnings.simplefilter("ignore")
kind, progress = sys.argv[1], sys.argv[2]

def load(path):
    if kind == "torch.load":
        import torch
        if "weights_only" in torch.load.__code__.co_varnames:
            torch.load(path, weights_only=False)
        else:
            torch.load(path)
    elif kind == "pickle.load":
        with open(path, "rb") as f:
            pickle.load(f)
    elif kind == "numpy.load":
        import numpy
        loaded = numpy.load(path, allow_pickle=True)
        for name in getattr(loaded, "files", []):
            loaded[name]
    elif kind == "joblib.load":
        import joblib
        joblib.load(path)
    elif kind == "torch.package":
        from torch.package import PackageImporter
        PackageImporter(path).load_pickle("model", "model.pkl")

for path in sys.argv[3:]:
    try:
        load(path)
    except BaseException:
        pass
    with open(progress, "a") as f:
        f.write(path + "\n")
"""


def run_loader(kind, paths, work):
    """Loads the files in one interpreter; files it never reached (a crash or a hang) are then
    loaded one interpreter each."""
    progress = os.path.join(work, "progress-" + kind)
    open(progress, "w").close()
    try:
        subprocess.run(["/usr/bin/python3", "-c", LOADER, kind, progress] + paths, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=300, cwd=work)
    except subprocess.TimeoutExpired:
        pass
    with open(progress) as f:
        done = set(f.read().split("\n"))
    for path in paths:
        if path not in done:
            try:
                subprocess.run(["/usr/bin/python3", "-c", LOADER, kind, progress, path], stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=120, cwd=work)
            except subprocess.TimeoutExpired:
                pass


def scan(tarnwick, path, *options):
    result = subprocess.run([tarnwick, "scan", "--json", *options, path], capture_output=True, text=True)
    try:
        report = json.loads(result.stdout)["files"][0]
    except (ValueError, KeyError, IndexError):
        return result.returncode, "(no report)", "-"
    grades = [i["verdict"] for i in report.get("imports", [])]
    order = ["allowed", "framework", "unknown", "dangerous"]
    highest = max(grades, key=order.index) if grades else "-"
    return result.returncode, report["verdict"], highest


# the loaders and oracles every case needs; a missing one skips the test (exit 77)
REQUIRED_MODULES = {"torch": "python3-torch", "numpy": "python3-numpy", "joblib": "python3-joblib",
                    "onnx": "python3-onnx"}


def missing_package():
    import importlib
    for module, package in REQUIRED_MODULES.items():
        try:
            importlib.import_module(module)
        except ImportError:
            return package
    return None


def main():
    tarnwick = os.path.abspath(sys.argv[1])
    package = missing_package()
    if package:
        print(f"skipped: {package} is not installed (make deps installs it)")
        return 77
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        built = []
        for index, (label, suffix, build, loader) in enumerate(CASES):
            marker = os.path.join(work, f"marker-{index}")
            path = os.path.join(work, f"case-{index}{suffix}")
            try:
                data = build(marker)
                if build in VALIDATORS:
                    VALIDATORS[build](data)
            except Exception as e:
                print(f"FAIL {label}: could not build a valid file ({type(e).__name__}: {e})")
                failures += 1
                continue
            with open(path, "wb") as f:
                f.write(data)
            built.append((label, path, marker, loader))
        for kind in sorted({loader for _, _, _, loader in built}):
            run_loader(kind, [path for _, path, _, loader in built if loader == kind], work)
        for label, path, marker, loader in built:
            if not os.path.exists(marker):
                print(f"FAIL {label}: the file does not run its marker under {loader}, so it proves nothing")
                failures += 1
                continue
            status, verdict, highest = scan(tarnwick, path)
            strict_status, strict_verdict, _ = scan(tarnwick, path, "--fail-on", "dangerous")
            ok = (status == 1 and verdict in ("unsafe", "unscannable") and strict_status == 1 and
                  strict_verdict in ("unsafe", "unscannable"))
            print(f"{'ok' if ok else 'FAIL'} {label}: runs under {loader}; scan exit {status}, {verdict}, "
                  f"highest import {highest}; with --fail-on dangerous exit {strict_status}, {strict_verdict}")
            failures += not ok
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
