"""Uses the library from Python: texts, a by-reference output, Progress and
an error list. Run: python3 example.py [path/to/libvoktools.so.3] FILE.rtf"""

import sys

import voktools

lib = voktools.Library(sys.argv[1] if len(sys.argv) > 2 else None)
rtf_file = sys.argv[-1]

common = lib.create("VOKTools.clsCommon")
print(common.call("FormatString", "%1% has the extension %2%", rtf_file,
                  common.call("strParseFileName", rtf_file, voktools.Int16(2))))

# Moves the pictures and objects out of the RTF file into FILE.obj.
rtf = lib.create("VOKTools.clsRTFUtil")
rtf.on_progress(lambda percent: print(f"\r{percent:3d}%", end="", flush=True))
rtf.set("RTFFile", rtf_file)
print("\nExtractObjects:", rtf.call("ExtractObjects"))

# A failed conversion leaves its reasons in the error list.
asp = lib.create("VOKTools.clsASP2HTML")
asp.set("ASPFile", rtf_file + ".missing.asp")
if asp.call("ASP2HTML") != 0:
    for line in asp.get("ErrorList").items():
        print(line)

try:
    common.call("NoSuchMember")
except voktools.Error as e:
    print("error", e.number, e.description)
