"""What the checks read of a binary and of the objects its link used: ELF through pyelftools,
PE through pefile, COFF objects through MinGW's nm. What cannot be read raises Unreadable."""
import collections
import io
import os
import re
import shlex
import subprocess
import tempfile


class Unreadable(Exception):
    """A file or a tool's words that a check needs could not be read."""


def run(*command, ok=(0,), text=True, stdin=None, empty=False, cwd=None):
    try:
        result = subprocess.run(command, capture_output=True, input=stdin, cwd=cwd)
    except OSError as error:
        raise Unreadable("%s: %s" % (command[0], error))
    if result.returncode not in ok or not (result.stdout or empty):
        raise Unreadable("%s gave status %d: %s" % (" ".join(command), result.returncode, (
            result.stderr.decode(errors="replace").strip()[-300:] or "no output")))
    return result.stdout.decode() if text else result.stdout


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


class Program:
    """What the checks read of a program, all of it here: a file its library cannot parse fails
    before any check runs. read() imports the library: checking contents alone needs none."""

    def __init__(self, path):
        try:
            with open(path, "rb") as f:
                self.read(f)
        except Exception as error:  # A library may raise anything on a malformed file.
            raise Unreadable("%s cannot read %s: %s: %s" % (
                self.LIBRARY, path, type(error).__name__, error)) from error


def archive_members(path, into):
    """The members of an ar archive, each written to a file of its own in the folder into
    (two members may have one name): pyelftools, nm and hardening-check read objects."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"!<arch>\n"):
        raise Unreadable("%s is no ar archive" % path)
    at, long_names, members = 8, b"", []
    while at < len(data):
        header = data[at:at + 60]
        if len(header) < 60 or header[58:] != b"`\n":
            raise Unreadable("%s: no member header at byte %d" % (path, at))
        name, size = header[:16].decode("latin-1").rstrip(), int(header[48:58])
        body, at = data[at + 60:at + 60 + size], at + 60 + size + size % 2
        if name == "//":  # the names too long for a header
            long_names = body
        elif name not in ("/", "/SYM64/"):  # not the symbol index
            if re.fullmatch(r"/\d+", name):
                start = int(name[1:])
                name = long_names[start:long_names.index(b"/\n", start)].decode("latin-1")
            member = os.path.join(into, "%d" % len(members), name.rstrip("/"))
            os.makedirs(os.path.dirname(member))
            with open(member, "wb") as f:
                f.write(body)
            members.append(member)
    return members


# The folder of each CMake target's link in a build.
TARGET_FOLDERS = {"hwidtool": "linux/cli", "hwidwin": "windows", "hwid": "libhwid",
                  "hwid_node": "libhwid/node"}


def linked_objects(folder, target, work):
    """The objects and archives of ours that a build's link of the target used, as CMake wrote
    its command in link.txt, paths relative to the folder the link runs in: [(name, [object
    files])], the loose objects as one, each archive as one, its members written out in work.
    The system's libraries it links (-l, a shared library) are the distribution's: only
    objects and archives of the build folder are ours, and one from elsewhere is a failure."""
    where = os.path.join(folder, TARGET_FOLDERS[target])
    link = os.path.join(where, "CMakeFiles", target + ".dir", "link.txt")
    try:
        with open(link) as f:
            commands = [shlex.split(line) for line in f if line.strip()]
        # The link is the command that writes a file; MinGW's first gathers the objects
        # in an archive (ar qc), and the others remove the old one.
        linking = [c for c in commands if "-o" in c]
        if len(linking) != 1:
            raise Unreadable("%s holds %d commands that write with -o, not one link" % (
                link, len(linking)))
        words = []
        for word in linking[0][1:]:
            if word.startswith("@"):  # a response file
                with open(os.path.join(where, word[1:])) as f:
                    words += shlex.split(f.read())
            else:
                words.append(word)
    except (OSError, ValueError) as error:
        raise Unreadable("%s cannot be read: %s" % (link, error))
    inputs = []
    for word in words:
        path = os.path.normpath(os.path.join(where, word))
        if not word.startswith("-") and re.search(r"\.(o|obj|a)$", word) and path not in inputs:
            inputs.append(path)
    for path in inputs:
        if not os.path.isfile(path) or os.path.relpath(path, folder).startswith(".."):
            raise Unreadable("%s links %s, %s" % (link, path, "not in the build folder %s" % folder
                                                  if os.path.isfile(path) else "which is not there"))
    loose = [p for p in inputs if not p.endswith(".a")]
    units = [(os.path.relpath(os.path.commonpath(loose) if len(loose) > 1 else loose[0], folder),
              loose)] if loose else []
    for path in (p for p in inputs if p.endswith(".a")):
        units.append((os.path.relpath(path, folder), archive_members(
            path, tempfile.mkdtemp(prefix="objects-", dir=work))))
    if not any(members for _, members in units):
        raise Unreadable("%s links no object" % link)
    return units


# What the checks read of an object: the symbols it leaves undefined, the functions it
# defines, its GNU properties (None for COFF).
Object = collections.namedtuple("Object", "path undefined functions properties")


def coff_symbols(objects, options):
    """nm's symbols of COFF objects (pefile reads none), by object: (type, name)."""
    # One object's lines, or many's, each line led by its file's name.
    lines = re.findall(r"^(.*?):\s*(?:[0-9a-f]+)?\s+(\w) (\S+)$", run(
        "x86_64-w64-mingw32-nm", "-A", *options, *objects, empty=True), re.M)
    found = {o: set() for o in objects}
    for path, kind, name in lines:
        found[path].add((kind, name))
    return found


def read_units(units):
    """What each unit's objects tell: [(unit, [Object])]."""
    read = []
    for unit, members in units:
        coff = [m for m in members if not is_elf(m)]
        objects = {}
        if coff:
            undefined, defined = (coff_symbols(coff, options) for options in (["-u"], ["--defined-only"]))
            for m in coff:
                objects[m] = Object(m, {n for _, n in undefined[m]}, {
                    n for kind, n in defined[m] if kind in "TtWw" and not n.startswith(".")}, None)
        for member in (m for m in members if m not in objects):
            elf = Elf(member)
            objects[member] = Object(member, elf.undefined, elf.functions, elf.properties)
        read.append((unit, [objects[m] for m in members]))
    return read


# Architectures by the ids of packaging/arches.tsv.
ELF_MACHINE = {"EM_X86_64": "amd64", "EM_AARCH64": "arm64", "EM_ARM": "armhf"}



class Elf(Program):
    """An ELF file: its segments, dynamic tags, notes, symbols and the C library it needs."""
    LIBRARY = "pyelftools"

    def read(self, f):
        from elftools.elf.elffile import ELFFile
        elf = ELFFile(f)
        self.type, self.arch = elf["e_type"], ELF_MACHINE.get(elf["e_machine"], "?")
        segments = list(elf.iter_segments())
        # As the loader reads them: the first segment of each type.
        self.segments = {s["p_type"]: s["p_flags"] for s in reversed(segments)}
        tags = [t for s in segments if s["p_type"] == "PT_DYNAMIC" for t in s.iter_tags()]
        self.dynamic = {}  # tag: its values or'ed, a flag set in any of them
        for d in (t.entry for t in tags):
            self.dynamic[d.d_tag] = self.dynamic.get(d.d_tag, 0) | d.d_val
        self.soname = next((t.soname for t in tags if t.entry.d_tag == "DT_SONAME"), None)
        self.needed = {t.needed for t in tags if t.entry.d_tag == "DT_NEEDED"}
        self.shared = self.type == "ET_DYN" and self.soname is not None
        sections = list(elf.iter_sections())
        # A program's notes where the loader finds them, an object's where the linker does.
        # pyelftools leaves the data of properties it has no name for as bytes.
        notes = [s for s in segments if s["p_type"] == "PT_NOTE"] if segments else [
            s for s in sections if s["sh_type"] == "SHT_NOTE"]
        self.properties = {p.pr_type: p.pr_data if isinstance(p.pr_data, int) else
                           int.from_bytes(p.pr_data, "little" if elf.little_endian else "big")
                           for s in notes for n in s.iter_notes()
                           if n["n_type"] == "NT_GNU_PROPERTY_TYPE_0" for p in n["n_desc"]}
        self.symtab = any(s["sh_type"] == "SHT_SYMTAB" for s in sections)
        symbols = [(s["sh_type"], sym) for s in sections if s["sh_type"] in (
            "SHT_SYMTAB", "SHT_DYNSYM") for sym in s.iter_symbols() if sym.name]
        self.undefined = {sym.name for _, sym in symbols if sym["st_shndx"] == "SHN_UNDEF"}
        self.functions = {sym.name for _, sym in symbols if sym["st_shndx"] != "SHN_UNDEF" and
                          sym["st_info"]["type"] == "STT_FUNC"}
        self.static = "PT_INTERP" not in self.segments and "DT_NEEDED" not in self.dynamic
        # The newest C library version needed, as (x, y): the oldest it runs on.
        needed = [re.fullmatch(r"GLIBC_(\d+(\.\d+)+)", a.name) for s in sections if
                  s["sh_type"] == "SHT_GNU_verneed" for _, auxes in s.iter_versions() for a in auxes]
        self.glibc = max((tuple(map(int, v[1].split("."))) for v in needed if v), default=None)


PE_MACHINE = {0x8664: "win64", 0x14c: "win32"}


class Pe(Program):
    """A PE program: its DLL characteristics and sections (marks), its imports and exports."""
    LIBRARY = "pefile"

    def read(self, f):
        import pefile
        pe = pefile.PE(data=f.read(), fast_load=True)
        pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + t]
                                   for t in ("IMPORT", "DELAY_IMPORT", "EXPORT")])
        # pefile passes over what it cannot make sense of, with a warning.
        if pe.get_warnings():
            raise ValueError("; ".join(pe.get_warnings()))
        self.arch = PE_MACHINE.get(pe.FILE_HEADER.Machine, "?")
        self.dll = bool(pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"])
        self.marks = {s.Name.rstrip(b"\0").decode("latin-1") for s in pe.sections} | {
            name.replace("IMAGE_DLLCHARACTERISTICS_", "") for name, bit in
            pefile.dll_characteristics if pe.OPTIONAL_HEADER.DllCharacteristics & bit}
        # A DLL loaded late is loaded all the same.
        self.imports = {i.dll.decode("latin-1").lower() for i in getattr(
            pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}
        exported = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
        self.exports = {e.name.decode("latin-1") for e in exported.symbols if e.name} if exported else set()


def same_image(data, built, stripped=False):
    """Whether a shipped binary is the build's file: the same bytes, or for an ELF one
    stripped since, the same loaded image (every allocated section's address and bytes, every
    segment), which is what strip leaves as it was."""
    with open(built, "rb") as f:
        original = f.read()
    if data == original:
        return True
    if not stripped or not (data.startswith(b"\x7fELF") and original.startswith(b"\x7fELF")):
        return False
    from elftools.elf.elffile import ELFFile

    def image(content):
        elf = ELFFile(io.BytesIO(content))
        return ([(s.name, s["sh_addr"], s.data()) for s in elf.iter_sections()
                 if s["sh_flags"] & 0x2 and s["sh_type"] != "SHT_NOBITS"],
                [tuple(s.header.values()) for s in elf.iter_segments()])
    try:
        return image(data) == image(original)
    except Exception as error:  # A library may raise anything on a malformed file.
        raise Unreadable("pyelftools cannot compare %s: %s: %s" % (built, type(error).__name__, error))
