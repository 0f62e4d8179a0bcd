"""The VOKTools library from Python, through its C interface (ctypes only).

Copy this file next to your script:

    import voktools
    lib = voktools.Library()                 # or Library("/path/libvoktools.so.3")
    common = lib.create("VOKTools.clsCommon")
    print(common.call("FormatString", "%1% of %2%", 3, 7))

Values: None is empty; bool, int (32-bit, a double beyond; Int16(n) for a
16-bit one) and float pass as they are; str and bytes are texts (str as UTF-8; texts come
back as str, bytes that are not UTF-8 kept as surrogate escapes so that they
go back unchanged); bytearray is a byte array; a list or tuple of texts is a
text array; an Object, or NOTHING, is an object reference; MISSING leaves
out an optional argument. Ref(value) passes a value by reference: after the
call, ref.value holds what the member wrote back.

A failed call raises Error (number, description). Objects are released when
garbage-collected, or at once with close() or a with block.
"""

import ctypes
import os

__all__ = ["Library", "Object", "Error", "Ref", "Int16", "MISSING", "NOTHING"]

S_OK = 0
S_FALSE = 1

_EMPTY, _MISSING, _BOOL, _INT16, _INT32, _DOUBLE, _TEXT, _BYTES, _TEXT_ARRAY, _OBJECT = range(10)
_OWNED = 1
METHOD, PROPERTY_GET, PROPERTY_LET = 0, 1, 2


class _Text(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(ctypes.c_char)), ("length", ctypes.c_size_t)]


class _Bytes(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(ctypes.c_uint8)), ("length", ctypes.c_size_t)]


class _Texts(ctypes.Structure):
    _fields_ = [("items", ctypes.POINTER(_Text)), ("count", ctypes.c_size_t)]


class _As(ctypes.Union):
    _fields_ = [("boolean", ctypes.c_int32), ("int16", ctypes.c_int16), ("int32", ctypes.c_int32),
                ("dbl", ctypes.c_double), ("text", _Text), ("bytes", _Bytes),
                ("texts", _Texts), ("object", ctypes.c_void_p)]


class _Value(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int32), ("flags", ctypes.c_uint32), ("as_", _As)]


_PROGRESS = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int16)
_PROGRESS_REF = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(ctypes.c_int16))


class _Factory(ctypes.Structure):
    pass


_Factory._fields_ = [
    ("CreateInstance", ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.POINTER(_Factory),
                                        ctypes.POINTER(ctypes.c_void_p))),
    ("LockServer", ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.POINTER(_Factory), ctypes.c_int32)),
    ("Release", ctypes.CFUNCTYPE(ctypes.c_uint32, ctypes.POINTER(_Factory))),
]


class Error(Exception):
    """A failed call: the automation error number and its description."""

    def __init__(self, number, description, status):
        super().__init__(f"error {number}: {description}")
        self.number = number
        self.description = description
        self.status = status


class Int16(int):
    """An integer passed as a 16-bit value."""


class _Marker:
    def __init__(self, name):
        self._name = name

    def __repr__(self):
        return self._name


MISSING = _Marker("MISSING")
NOTHING = _Marker("NOTHING")


class Ref:
    """A by-reference argument: value is replaced by what the member wrote back."""

    def __init__(self, value=None):
        self.value = value


def _text_bytes(value):
    return value if isinstance(value, bytes) else value.encode("utf-8", "surrogateescape")


def _text_str(data, length):
    return ctypes.string_at(data, length).decode("utf-8", "surrogateescape")


class Library:
    """The loaded library: path, else $VOKTOOLS_LIBRARY, else the installed one."""

    def __init__(self, path=None):
        path = path or os.environ.get("VOKTOOLS_LIBRARY") or "libvoktools.so.3"
        dll = ctypes.CDLL(path)
        handle = ctypes.c_void_p
        dll.vok_create.argtypes = [ctypes.c_char_p, ctypes.POINTER(handle)]
        dll.vok_add_ref.argtypes = [handle]
        dll.vok_add_ref.restype = ctypes.c_uint32
        dll.vok_release.argtypes = [handle]
        dll.vok_release.restype = ctypes.c_uint32
        dll.vok_last_error.argtypes = [handle, ctypes.POINTER(ctypes.c_int32),
                                       ctypes.POINTER(ctypes.c_char_p)]
        dll.vok_value_clear.argtypes = [ctypes.POINTER(_Value)]
        dll.vok_value_clear.restype = None
        dll.vok_invoke.argtypes = [handle, ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_Value),
                                   ctypes.c_size_t, ctypes.POINTER(_Value)]
        dll.vok_progress_connect.argtypes = [handle, _PROGRESS, ctypes.c_void_p,
                                             ctypes.POINTER(ctypes.c_int32)]
        dll.vok_progress_connect_ref.argtypes = [handle, _PROGRESS_REF, ctypes.c_void_p,
                                                 ctypes.POINTER(ctypes.c_int32)]
        dll.vok_progress_disconnect.argtypes = [handle, ctypes.c_int32]
        dll.DllGetClassObject.argtypes = [ctypes.c_char_p, ctypes.c_char_p,
                                          ctypes.POINTER(ctypes.POINTER(_Factory))]
        for name in ("vok_create", "vok_last_error", "vok_invoke", "vok_progress_connect",
                     "vok_progress_connect_ref", "vok_progress_disconnect", "DllGetClassObject",
                     "DllCanUnloadNow"):
            getattr(dll, name).restype = ctypes.c_int32
        self.dll = dll

    def _error(self, handle, status):
        number, description = ctypes.c_int32(), ctypes.c_char_p()
        self.dll.vok_last_error(handle, ctypes.byref(number), ctypes.byref(description))
        text = (description.value or b"").decode("utf-8", "surrogateescape")
        return Error(number.value, text, status)

    def create(self, prog_id_or_clsid):
        """A new object of the class with this programmatic name or class id."""
        handle = ctypes.c_void_p()
        status = self.dll.vok_create(_text_bytes(prog_id_or_clsid), ctypes.byref(handle))
        if status != S_OK:
            raise self._error(None, status)
        return Object(self, handle.value)

    def can_unload_now(self):
        """True when no object and no server lock is outstanding."""
        return self.dll.DllCanUnloadNow() == S_OK

    def class_factory(self, clsid):
        """The class factory of a class id: create_instance(), lock(), unlock(), close()."""
        factory = ctypes.POINTER(_Factory)()
        status = self.dll.DllGetClassObject(_text_bytes(clsid), None, ctypes.byref(factory))
        if status != S_OK:
            raise self._error(None, status)
        return ClassFactory(self, factory)

    # Values. Buffers of arguments live in keep until the call returns.
    def _to_value(self, value, keep):
        v = _Value()
        if isinstance(value, Ref):
            value = value.value
        if value is None:
            v.type = _EMPTY
        elif value is MISSING:
            v.type = _MISSING
        elif value is NOTHING:
            v.type = _OBJECT
        elif isinstance(value, bool):
            v.type, v.as_.boolean = _BOOL, int(value)
        elif isinstance(value, Int16):
            if not -2**15 <= value < 2**15:
                raise OverflowError(f"{int(value)} is not a 16-bit integer")
            v.type, v.as_.int16 = _INT16, value
        elif isinstance(value, int) and -2**31 <= value < 2**31:
            v.type, v.as_.int32 = _INT32, value
        elif isinstance(value, (int, float)):
            v.type, v.as_.dbl = _DOUBLE, float(value)
        elif isinstance(value, (str, bytes)):
            v.type = _TEXT
            v.as_.text = self._text(_text_bytes(value), keep)
        elif isinstance(value, bytearray):
            data = (ctypes.c_uint8 * len(value)).from_buffer_copy(bytes(value))
            keep.append(data)
            v.type = _BYTES
            v.as_.bytes = _Bytes(ctypes.cast(data, ctypes.POINTER(ctypes.c_uint8)), len(value))
        elif isinstance(value, (list, tuple)):
            items = (_Text * len(value))(*[self._text(_text_bytes(t), keep) for t in value])
            keep.append(items)
            v.type = _TEXT_ARRAY
            v.as_.texts = _Texts(ctypes.cast(items, ctypes.POINTER(_Text)), len(value))
        elif isinstance(value, Object):
            v.type, v.as_.object = _OBJECT, value._handle
        else:
            raise TypeError(f"no library value for {type(value).__name__}")
        return v

    @staticmethod
    def _text(data, keep):
        buffer = ctypes.create_string_buffer(data, len(data))
        keep.append(buffer)
        return _Text(ctypes.cast(buffer, ctypes.POINTER(ctypes.c_char)), len(data))

    def _from_value(self, v):
        """The Python value of v; an object handle in it is taken over."""
        t = v.type
        if t == _BOOL:
            return bool(v.as_.boolean)
        if t == _INT16:
            return Int16(v.as_.int16)
        if t == _INT32:
            return v.as_.int32
        if t == _DOUBLE:
            return v.as_.dbl
        if t == _TEXT:
            return _text_str(v.as_.text.data, v.as_.text.length)
        if t == _BYTES:
            return bytearray(ctypes.string_at(v.as_.bytes.data, v.as_.bytes.length))
        if t == _TEXT_ARRAY:
            items = v.as_.texts.items
            return [_text_str(items[i].data, items[i].length) for i in range(v.as_.texts.count)]
        if t == _OBJECT:
            if not v.as_.object:
                return NOTHING
            handle = v.as_.object
            self.dll.vok_add_ref(handle)  # vok_value_clear gives back the value's own reference
            return Object(self, handle)
        if t == _MISSING:
            return MISSING
        return None


class Object:
    """A handle on an object of the library."""

    def __init__(self, library, handle):
        self._lib = library
        self._handle = handle
        self._callbacks = {}

    def close(self):
        if self._handle:
            self._lib.dll.vok_release(self._handle)
            self._handle = None

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def invoke(self, name, kind, args):
        lib = self._lib
        keep = []
        values = (_Value * max(len(args), 1))(*[lib._to_value(a, keep) for a in args])
        result = _Value()
        status = lib.dll.vok_invoke(self._handle, _text_bytes(name), kind, values, len(args),
                                    ctypes.byref(result))
        try:
            if status != S_OK:
                raise lib._error(self._handle, status)
            for i, arg in enumerate(args):
                if isinstance(arg, Ref) and values[i].flags & _OWNED:
                    arg.value = lib._from_value(values[i])
            return lib._from_value(result)
        finally:
            for i in range(len(args)):
                lib.dll.vok_value_clear(ctypes.byref(values[i]))
            lib.dll.vok_value_clear(ctypes.byref(result))

    def call(self, name, *args):
        """Calls a method; Ref arguments receive the by-reference outputs."""
        return self.invoke(name, METHOD, args)

    def get(self, name, *args):
        return self.invoke(name, PROPERTY_GET, args)

    def set(self, name, value):
        self.invoke(name, PROPERTY_LET, (value,))

    def items(self):
        """The items of a Collection (an error list), in order."""
        return [self.call("Item", i) for i in range(1, self.call("Count") + 1)]

    def on_progress(self, handler, by_reference=False):
        """Calls handler(percent) on each Progress event. With by_reference,
        a number the handler returns replaces the percentage (the MIF class
        sees it). Returns a cookie for disconnect_progress."""
        if by_reference:
            def relay(_, percent):
                changed = handler(percent[0])
                if changed is not None:
                    percent[0] = changed
            callback, connect = _PROGRESS_REF(relay), self._lib.dll.vok_progress_connect_ref
        else:
            callback = _PROGRESS(lambda _, percent: handler(percent))
            connect = self._lib.dll.vok_progress_connect
        cookie = ctypes.c_int32()
        status = connect(self._handle, callback, None, ctypes.byref(cookie))
        if status != S_OK:
            raise self._lib._error(self._handle, status)
        self._callbacks[cookie.value] = callback  # alive while connected
        return cookie.value

    def disconnect_progress(self, cookie):
        status = self._lib.dll.vok_progress_disconnect(self._handle, cookie)
        if status != S_OK:
            raise self._lib._error(self._handle, status)
        self._callbacks.pop(cookie, None)


class ClassFactory:
    def __init__(self, library, factory):
        self._lib = library
        self._factory = factory

    def create_instance(self):
        handle = ctypes.c_void_p()
        status = self._factory.contents.CreateInstance(self._factory, ctypes.byref(handle))
        if status != S_OK:
            raise self._lib._error(None, status)
        return Object(self._lib, handle.value)

    def lock(self):
        self._factory.contents.LockServer(self._factory, 1)

    def unlock(self):
        self._factory.contents.LockServer(self._factory, 0)

    def close(self):
        if self._factory:
            self._factory.contents.Release(self._factory)
            self._factory = None
