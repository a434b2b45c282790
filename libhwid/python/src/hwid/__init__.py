"""The Hardware IDs of this machine, as hwidtool (Linux) and hwidwin (Windows) list them.

Every call goes to the libhwid inside this package, loaded by its absolute path: a libhwid
in the current folder, on PATH or in LD_LIBRARY_PATH is never loaded. Each call may be
made from several threads at once: the library keeps no state between calls, and ctypes
releases the interpreter lock while it runs.

Device ids and comments are the devices' bytes. On Linux they are decoded as Python decodes
file names (os.fsdecode: UTF-8, with surrogateescape for other bytes), on Windows with the
ANSI code page (mbcs), as hwidwin reads them; generate() encodes text back the same way, so
generate(row.device_id) == row.hardware_id for every row. A comment may hold terminal control
codes: make it safe before showing it.
"""
import ctypes
import os
import re
import sys
import typing

NIC = 1
USB = 2

_E_INVALID, _E_INTERNAL = -1, -3  # hwid.h's HWID_E_INVALID, HWID_E_INTERNAL
_ID_SIZE = 33  # 32 hexadecimal digits and the NUL
_WINDOWS = sys.platform == "win32"


class Error(Exception):
    """A failure inside the library (memory ran out, the hardware could not be read)."""

    def __init__(self, status):
        self.status = status
        super().__init__("%s (status %d)" % (_library.hwid_strerror(status).decode(), status))


class Row(typing.NamedTuple):
    type: int
    hardware_id: str
    device_id: str
    comment: str


_new_row = tuple.__new__  # Row(...) less the keyword handling that rows() does not need


# As os.fsdecode and os.fsencode do on Linux; the ANSI code page on Windows.
_CODEC = ("mbcs" if _WINDOWS else sys.getfilesystemencoding(),
          "surrogateescape" if _WINDOWS else sys.getfilesystemencodeerrors())


def _encode(text):
    return text.encode(*_CODEC)


def _load():
    name = "hwid.dll" if _WINDOWS else "libhwid.so.1"
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    if not os.path.isfile(path):
        raise ImportError("hwid: %s is missing beside %s: this package was built for another "
                          "platform than %s" % (name, __file__, sys.platform))
    library = ctypes.CDLL(path)
    size, handle, text = ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p
    for function, result, arguments in (
            ("hwid_version", text, []), ("hwid_strerror", text, [ctypes.c_int]),
            ("hwid_list_new", ctypes.c_int, [ctypes.POINTER(handle)]),
            ("hwid_list_free", None, [handle]), ("hwid_list_count", size, [handle]),
            # Called by rows() alone, with a c_void_p and a c_size_t: with no
            # argtypes to convert through, each row takes a third less time.
            ("hwid_list_type", ctypes.c_int, None), ("hwid_list_hardware_id", text, None),
            ("hwid_list_device_id", text, None), ("hwid_list_comment", text, None),
            ("hwid_generate", ctypes.c_int, [text, size, ctypes.c_char * _ID_SIZE]),
            ("hwid_present", ctypes.c_int, [text])):
        getattr(library, function).restype = result
        getattr(library, function).argtypes = arguments
    return library


_library = _load()


def _checked(status):
    if status == _E_INVALID:
        raise ValueError(_library.hwid_strerror(status).decode())
    if status < 0:
        raise Error(status)
    return status


def version():
    """The version of the programs whose rows the library gives, such as "2.26.0.0"."""
    return _library.hwid_version().decode("ascii")


def rows():
    """The machine's rows, in the programs' order, from one probe pass."""
    handle = ctypes.c_void_p()
    _checked(_library.hwid_list_new(ctypes.byref(handle)))
    # ctypes copies each string: no row points into the list once it is freed.
    kind, hardware_id, device_id, comment = (_library.hwid_list_type, _library.hwid_list_hardware_id,
                                             _library.hwid_list_device_id, _library.hwid_list_comment)
    encoding, errors = _CODEC
    try:
        found = []
        for index in map(ctypes.c_size_t, range(_library.hwid_list_count(handle))):
            row = (kind(handle, index), hardware_id(handle, index), device_id(handle, index),
                   comment(handle, index))
            if row[0] < 0 or None in row:
                raise Error(_E_INTERNAL if row[0] >= 0 else row[0])
            found.append(_new_row(Row, (row[0], row[1].decode("ascii"), row[2].decode(encoding, errors),
                                        row[3].decode(encoding, errors))))
        return found
    finally:
        _library.hwid_list_free(handle)


def generate(device_id):
    """The Hardware ID of a device id (str, encoded as rows() decodes, or bytes): 32 uppercase
    hexadecimal digits."""
    if isinstance(device_id, str):
        device_id = _encode(device_id)
    elif not isinstance(device_id, (bytes, bytearray, memoryview)):
        raise TypeError("generate() takes str or bytes, not %s" % type(device_id).__name__)
    data = bytes(device_id)
    hardware_id = (ctypes.c_char * _ID_SIZE)()
    _checked(_library.hwid_generate(data, len(data), hardware_id))
    return hardware_id.value.decode("ascii")


def present(hardware_id):
    """Whether the Hardware ID (exactly 32 hexadecimal digits, either case) is a row of this
    machine now."""
    if not isinstance(hardware_id, str):
        raise TypeError("present() takes str, not %s" % type(hardware_id).__name__)
    if not re.fullmatch(r"[0-9A-Fa-f]{32}", hardware_id):
        raise ValueError("not a Hardware ID of 32 hexadecimal digits: %r" % hardware_id)
    return _checked(_library.hwid_present(hardware_id.encode("ascii"))) == 1
