"""The C interface from Python through the example wrapper.

Usage: python_capi_test.py PATH_TO_LIBVOKTOOLS"""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python"))
import voktools  # noqa: E402

LIBRARY = None
COMMON_CLSID = "{926F290A-656B-4D25-9BF6-3C16AA206050}"


class CApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = voktools.Library(LIBRARY)

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def path(self, name, content=None):
        p = os.path.join(self.dir.name, name)
        if content is not None:
            with open(p, "wb") as f:
                f.write(content)
        return p

    def test_values_round_trip(self):
        # Each value comes back as it went in through a member that returns
        # its argument's text, and through a collection that keeps it.
        common = self.lib.create("voktools.CLSCOMMON")
        texts = ["", "plain", "nul\0inside", "\0", "caf\u00e9", b"\xff\xfe raw".decode(
            "utf-8", "surrogateescape"), "x" * 16000]
        for text in texts:
            with self.subTest(text=text[:20]):
                self.assertEqual(common.call("FormatString", "%1%", text), text)
                self.assertEqual(common.call("SandR", text + "|" + text, "|", "\0"),
                                 text + "\0" + text)
        values = [True, False, voktools.Int16(-32768), 2147483647, 2**40, -1.5e300, "t\0t",
                  bytearray(b"\x00\x01\xff"), ["a", "", "b\0c"], voktools.NOTHING, None]
        errors = self.lib.create("VOKTools.clsASP2HTML").get("ErrorList")
        for value in values:
            errors.call("Add", value)
        self.assertEqual(errors.items(), values)

    def test_parse_file_name_puts_the_name_back_together(self):
        common = self.lib.create(COMMON_CLSID.strip("{}"))
        for name in ["/srv/doc/report.final.rtf", "a.b", "noext", "/dir.x/file", ".hidden", ""]:
            folder, stem, ext = (common.call("strParseFileName", name, voktools.Int16(i))
                                 for i in range(3))
            self.assertEqual(folder + stem + ("." + ext if ext else ""), name)

    def test_by_reference_output_and_errors(self):
        reader = self.lib.create("VOKTools.clsRetrieveFile")
        reader.set("Filename", self.path("lines.txt", b"one\0line\r\ntwo"))
        self.assertTrue(reader.call("OpenFile"))
        line = voktools.Ref("caller's")
        lines = []
        while reader.call("GetLineFromFile", line):
            lines.append(line.value)
        self.assertEqual(lines, ["one\0line\r\n", "two"])
        self.assertEqual(line.value, "")
        for member, args, number in [("NoSuchMember", (), 438),
                                     ("ChunkSize", ("many",), 13)]:
            with self.assertRaises(voktools.Error) as caught:
                reader.set(member, *args) if args else reader.call(member)
            self.assertEqual(caught.exception.number, number)
        with self.assertRaises(voktools.Error) as caught:
            self.lib.create("VOKTools.clsNoSuchClass")
        self.assertEqual(caught.exception.number, 429)

    def test_rtf_extraction_reports_progress(self):
        rtf = (b"{\\rtf1\\ansi Before {\\pict\\pngblip " + b"89504e47" * 4000 + b"}\\par "
               + b"Some text. " * 3000 + b"\\par}")
        util = self.lib.create("VOKTools.clsRTFUtil")
        seen = []
        cookie = util.on_progress(seen.append)
        util.set("RTFFile", self.path("letter.rtf", rtf))
        self.assertEqual(util.call("ExtractObjects"), 0)
        self.assertGreaterEqual(len(seen), 2)
        self.assertEqual(seen, sorted(set(seen)))
        self.assertEqual(seen[-1], 100)
        util.disconnect_progress(cookie)
        heard = len(seen)
        self.assertEqual(util.call("InsertObjects"), 0)
        self.assertEqual(len(seen), heard)
        with open(self.path("letter.rtf"), "rb") as f:
            self.assertEqual(f.read(), rtf)

    def test_mif_progress_by_reference(self):
        util = self.lib.create("VOKTools.clsMIFUtilities")
        seen = []
        util.on_progress(lambda percent: percent + 1000, by_reference=True)
        util.on_progress(seen.append, by_reference=True)
        util.set("MIFFile", self.path("small.mif", b"<MIFFile 7.00>\n<Para\n <ParaLine\n"
                                      b"  <String `Hello'>\n >\n>\n"))
        util.call("RemoveObjects")
        self.assertTrue(seen)
        self.assertTrue(all(p >= 1000 for p in seen), seen)


if __name__ == "__main__":
    if os.environ.get("VOK_CAPI_SANITIZED") == "1":
        print("skipped: the library is built with the sanitizers")
        sys.exit(77)
    LIBRARY = sys.argv.pop(1) if len(sys.argv) > 1 else None
    unittest.main()
