#!/usr/bin/env python3
"""Checks what the shared library exports.

  check_exports.py LIBRARY SONAME HEADER_DIR...

Fails when the library's soname is not SONAME, when the type information of
a public class that derives from another is not exported (hosts catch the
library's exceptions and cast its objects), or when a defined dynamic symbol
is none of: a C entry point (vok_*, Dll*), a name in namespace vok
whose first component the public headers declare, or an instantiation of a
standard-library template. Every name of namespace vok that a symbol mentions
(in its parameters or template arguments as well) must be declared in a
public header. The offenders are printed.
"""

import pathlib
import re
import subprocess
import sys

# What a public header declares at namespace scope (in the first column):
# class, struct, enum and namespace names, type aliases, functions and
# variables. Forward declarations ("class Env;") do not count: they name
# internal types.
_DECLARATIONS = [
    re.compile(r"^(?:class|struct|union|enum(?:\s+class)?)\s+(\w+)(?:\s+final)?\s*(?::[^:]|\{)", re.M),
    re.compile(r"^namespace\s+(\w+)\s*\{", re.M),
    re.compile(r"^using\s+(\w+)\s*=", re.M),
    re.compile(r"^(?!#|//|namespace|template|using|class|struct|enum|\}|\s)[\w:<>,*& ]*?\b(\w+)\s*(?:\(|=[^=])", re.M),
]


def public_names(header_dirs):
    names = set()
    for folder in header_dirs:
        for header in pathlib.Path(folder).rglob("*.h"):
            text = header.read_text()
            for pattern in _DECLARATIONS:
                names.update(pattern.findall(text))
    return names


# The public classes that derive from another, and so have type information
# that hosts need.
_DERIVED = re.compile(r"^class (\w+)(?:\s+final)?\s*:\s*public\b", re.M)


def derived_classes(header_dirs):
    names = set()
    for folder in header_dirs:
        for header in pathlib.Path(folder).rglob("*.h"):
            names.update(_DERIVED.findall(header.read_text()))
    return names


def soname(library):
    out = subprocess.run(["readelf", "-d", library], check=True, capture_output=True, text=True).stdout
    found = re.search(r"\(SONAME\)\s+Library soname: \[(.*)\]", out)
    return found.group(1) if found else None


def dynamic_symbols(library):
    out = subprocess.run(["nm", "-D", "--defined-only", "-C", library],
                         check=True, capture_output=True, text=True).stdout
    symbols = []
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3:
            symbols.append(parts[2])
    return symbols


_SPECIAL = re.compile(r"^(?:vtable for |typeinfo for |typeinfo name for |VTT for |"
                      r"construction vtable for .*?-in-|guard variable for |"
                      r"(?:non-)?virtual thunk to |covariant return thunk to |"
                      r"TLS init function for |TLS wrapper function for )+")


_OPERATOR = re.compile(r"\boperator\s*(?:<=>|<<=|>>=|<<|>>|->\*?|\(\)|\[\]|&&|\|\||\+\+|--|"
                       r"[-+*/%^&|~!=<>,]=?)")


def qualified_name(symbol):
    """The entity's qualified name: the symbol without the special-symbol
    prefix, a return type, the parameter list and qualifiers."""
    symbol = _OPERATOR.sub("operator@", _SPECIAL.sub("", symbol))
    symbol = symbol.replace("(anonymous namespace)", "{anonymous}")
    depth = 0
    start = 0
    for i, c in enumerate(symbol):
        if c == "(" and depth == 0:
            return symbol[start:i]
        if c in "<(":
            depth += 1
        elif c in ">)":
            depth -= 1
        elif c == " " and depth == 0:
            start = i + 1
    return symbol[start:]


def offence(symbol, names):
    """Why symbol must not be exported, or None."""
    name = qualified_name(symbol)
    if "::" not in name and not _SPECIAL.match(symbol):
        if name.startswith(("vok_", "Dll")) or re.fullmatch(r"_[A-Za-z_]\w*", name):
            return None
        return "not a C entry point"
    for mentioned in re.findall(r"\bvok::(\w+|\(anonymous namespace\))", symbol):
        if mentioned not in names:
            return f"vok::{mentioned} is not declared in a public header"
    if name.startswith("vok::") or name.startswith(("std::", "__gnu_cxx::")):
        return None
    return "outside namespace vok and the standard library"


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    library, expected_soname, header_dirs = argv[1], argv[2], argv[3:]
    failed = False
    found_soname = soname(library)
    if found_soname != expected_soname:
        print(f"soname: {found_soname}, expected {expected_soname}")
        failed = True
    names = public_names(header_dirs)
    symbols = dynamic_symbols(library)
    for name in sorted(derived_classes(header_dirs)):
        if f"typeinfo for vok::{name}" not in symbols:
            print(f"not exported: typeinfo for vok::{name}")
            failed = True
    offenders = [(s, why) for s in symbols if (why := offence(s, names))]
    for symbol, why in offenders:
        print(f"exported: {symbol}\n    ({why})")
    print(f"{len(symbols)} exported symbols, {len(offenders)} internal")
    return 1 if failed or offenders else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
