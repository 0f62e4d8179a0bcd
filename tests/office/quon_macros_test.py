"""Round trips of the presentation and workbook macros through a private
headless office suite, on copies of the corpus documents and on generated
documents holding groups, tables, notes, runs, line breaks and comments."""

import codecs
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
CORPUS = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus", "office"))
SKIP = 77

try:
    import uno
except ImportError:
    # The suite's uno bridge belongs to the system interpreter.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3") \
            and subprocess.call(["/usr/bin/python3", "-c", "import uno"],
                                stderr=subprocess.DEVNULL) == 0:
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit(SKIP)
if shutil.which("soffice") is None:
    sys.exit(SKIP)

sys.path[:0] = [os.path.join(ROOT, "src", "office", "addins"), os.path.join(ROOT, "scripts")]
import quon  # noqa: E402
from office_session import OfficeSession, prop  # noqa: E402
from com.sun.star.awt import Point, Size  # noqa: E402

X = "{urn:oasis:names:tc:xliff:document:1.2}"
COMPARED = ("CharWeight", "CharPosture", "CharUnderline", "CharStrikeout",
            "CharColor", "CharFontName", "CharHeight", "CharEscapement")
DOCUMENTS = ["poi-SampleShow.ppt", "poi-WithComments.ppt", "made.odp", "made.pptx",
             "poi-SampleSS.xls", "poi-DrawingAndComments.xls", "made.ods", "made.xls"]


def runs_of(text):
    """Paragraphs of an XText as lists of (text, props), equal neighbours merged."""
    out = []
    paragraphs = text.createEnumeration()
    while paragraphs.hasMoreElements():
        para, runs = paragraphs.nextElement(), []
        portions = para.createEnumeration()
        while portions.hasMoreElements():
            p = portions.nextElement()
            if p.TextPortionType != "Text":
                runs.append(("field", p.getString(), None))
                continue
            props = tuple(str(p.getPropertyValue(n)) for n in COMPARED)
            if runs and runs[-1][0] == "text" and runs[-1][2] == props:
                runs[-1] = ("text", runs[-1][1] + p.getString(), props)
            elif p.getString():
                runs.append(("text", p.getString(), props))
        out.append(runs)
    return out


def shape_runs(shape):
    if shape.getShapeType() == "com.sun.star.drawing.GroupShape":
        return [shape_runs(shape.getByIndex(i)) for i in range(shape.getCount())]
    if shape.getShapeType() == "com.sun.star.drawing.TableShape":
        m = shape.Model
        return [runs_of(m.getCellByPosition(c, r))
                for r in range(m.Rows.getCount()) for c in range(m.Columns.getCount())]
    return runs_of(shape.getText()) if shape.supportsService("com.sun.star.drawing.Text") else []


def document_runs(doc):
    """Every translatable text of a document, independently of the macros."""
    out = []
    if doc.supportsService("com.sun.star.presentation.PresentationDocument"):
        pages = doc.getDrawPages()
        for i in range(pages.getCount()):
            page = pages.getByIndex(i)
            out.append([shape_runs(page.getByIndex(j)) for j in range(page.getCount())])
            notes = page.getNotesPage()
            out.append([runs_of(s.getText()) for s in (notes.getByIndex(j) for j in range(notes.getCount()))
                        if s.getShapeType().endswith("NotesShape")][:1])
        return out
    sheets = doc.getSheets()
    for i in range(sheets.getCount()):
        sheet = sheets.getByIndex(i)
        out.append(sheet.getName())
        cursor = sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        for r in range(cursor.RangeAddress.EndRow + 1):
            for c in range(cursor.RangeAddress.EndColumn + 1):
                cell = sheet.getCellByPosition(c, r)
                if cell.getType().value == "TEXT":
                    out.append(runs_of(cell.getText()))
                elif cell.getType().value != "EMPTY":
                    # Numbers and formulas, which no translation touches.
                    out.append(("field", cell.getFormula(), None))
        notes = sheet.getAnnotations()
        for j in range(notes.getCount()):
            out.append(runs_of(notes.getByIndex(j).getAnnotationShape().getText()))
    return out


def rot13(value):
    """Maps the text of a runs tree or a sheet name; fields stay as they are."""
    if isinstance(value, str):
        return codecs.encode(value, "rot13")
    if isinstance(value, tuple) and value and value[0] in ("text", "field"):
        return value if value[0] == "field" else ("text", rot13(value[1]), value[2])
    return [rot13(v) for v in value]


def translate(xml_in, xml_out, change):
    """Gives every unit a target: its source with change applied to each text node."""
    tree = ET.parse(xml_in)
    for unit in tree.iter(X + "trans-unit"):
        target = ET.fromstring(ET.tostring(unit.find(X + "source")))
        target.tag = X + "target"
        for node in target.iter():
            node.text = change(node.text) if node.text else node.text
            if node is not target:
                node.tail = change(node.tail) if node.tail else node.tail
        unit.append(target)
    tree.write(xml_out, encoding="utf-8", xml_declaration=True)
    return tree


def sources(xml_path):
    return [(u.get("resname"), ET.tostring(u.find(X + "source")))
            for u in ET.parse(xml_path).iter(X + "trans-unit")]


class QuonMacrosTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.office = OfficeSession()
        cls.addClassCleanup(cls.office.close)
        cls.work = tempfile.mkdtemp(prefix="quon-test-")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.make_presentation(os.path.join(cls.work, "made.odp"))
        cls.make_workbook(os.path.join(cls.work, "made.ods"))
        # The same documents in the formats of the office suites of old and
        # of today.
        for name, copy, filter_name in [("made.odp", "made.pptx", "Impress MS PowerPoint 2007 XML"),
                                        ("made.ods", "made.xls", "MS Excel 97")]:
            doc = cls.office.load(os.path.join(cls.work, name))
            doc.storeToURL(uno.systemPathToFileUrl(os.path.join(cls.work, copy)),
                           (prop("FilterName", filter_name),))
            doc.close(True)

    @classmethod
    def make_presentation(cls, path):
        doc = cls.office.new("simpress")
        page = doc.getDrawPages().getByIndex(0)

        def box(container, y, pieces):
            shape = doc.createInstance("com.sun.star.drawing.TextShape")
            container.add(shape)
            shape.setSize(Size(12000, 2000))
            shape.setPosition(Point(1000, y))
            fill(shape.getText(), pieces)
            return shape

        page.getByIndex(0).setString("A title")
        page.getByIndex(1).setString("First point\nSecond point")
        box(page, 9000, [("Plain, ", {}), ("bold", {"CharWeight": 150.0}), (" and ", {}),
                         ("italic", {"CharPosture": uno.Enum("com.sun.star.awt.FontSlant", "ITALIC")}),
                         (" then", {}), (1, {}), ("after a break\x01.", {})])
        group = doc.createInstance("com.sun.star.drawing.GroupShape")
        page.add(group)
        box(group, 12000, [("Grouped one", {})])
        box(group, 14000, [("Grouped ", {}), ("two", {"CharColor": 0xFF0000})])
        notes = page.getNotesPage()
        for j in range(notes.getCount()):
            if notes.getByIndex(j).getShapeType().endswith("NotesShape"):
                fill(notes.getByIndex(j).getText(), [("Speaker ", {}), ("notes", {"CharUnderline": 1})])
        store_as(doc, path)

    @classmethod
    def make_workbook(cls, path):
        doc = cls.office.new("scalc")
        sheet = doc.getSheets().getByIndex(0)
        sheet.setName("Prices")
        sheet.getCellByPosition(0, 0).setString("Item")
        fill(sheet.getCellByPosition(1, 2).getText(),
             [("Rich ", {}), ("cell", {"CharWeight": 150.0}), ("\n", {}), ("second line", {})])
        sheet.getCellByPosition(2, 0).setValue(42)
        sheet.getCellByPosition(2, 1).setFormula('="formula text"')
        sheet.getAnnotations().insertNew(sheet.getCellByPosition(0, 0).getCellAddress(), "A comment")
        store_as(doc, path)

    def copy(self, name):
        folder = tempfile.mkdtemp(dir=self.work)
        source = os.path.join(self.work if name.startswith("made") else CORPUS, name)
        path = os.path.join(folder, name)
        shutil.copyfile(source, path)
        return path

    def macros(self, doc):
        if doc.supportsService("com.sun.star.presentation.PresentationDocument"):
            return quon.export_presentation, quon.import_presentation
        return quon.export_workbook, quon.import_workbook

    def reload(self, doc, path):
        doc.store()
        doc.close(True)
        return self.office.load(path)

    def round_trip(self, name, change):
        """Export, import targets made by change, store, reload, export again."""
        path = self.copy(name)
        # What the format itself changes in a store and reload (a .pptx loses
        # automatic colours) is not the macros' doing.
        doc = self.reload(self.office.load(path), path)
        export, import_ = self.macros(doc)
        before = document_runs(doc)
        first, translated, second = path + ".1.xml", path + ".t.xml", path + ".2.xml"
        units = export(doc, first)["units"]
        tree = translate(first, translated, change)
        self.assertEqual(import_(doc, translated), {"units": units, "unplaced": []})
        doc = self.reload(doc, path)
        after = document_runs(doc)
        export(doc, second)
        doc.close(True)
        expected = [(u.get("resname"), ET.tostring(u.find(X + "target")).replace(b"target", b"source"))
                    for u in tree.iter(X + "trans-unit")]
        return before, after, expected, sources(second), units

    def test_untranslated_round_trip_changes_nothing(self):
        for name in DOCUMENTS:
            with self.subTest(name):
                before, after, expected, got, units = self.round_trip(name, lambda s: s)
                self.assertEqual(expected, got)
                self.assertEqual(before, after)

    def test_translation_lands_on_the_runs(self):
        for name in DOCUMENTS:
            with self.subTest(name):
                before, after, expected, got, units = self.round_trip(name, rot13)
                self.assertEqual(expected, got)
                self.assertEqual(rot13(before), after)

    def test_made_documents_have_every_kind_of_unit(self):
        for name, wanted in [("made.odp", ["slide 1/shape 1/paragraph 1", "slide 1/shape 2/paragraph 2",
                                           "slide 1/shape 4.2/paragraph 1", "slide 1/notes/paragraph 1"]),
                             ("made.ods", ["sheet 1/name", "sheet 1/cell A1", "sheet 1/cell B3",
                                           "sheet 1/comment A1"])]:
            path = self.copy(name)
            doc = self.office.load(path)
            self.macros(doc)[0](doc, path + ".xml")
            doc.close(True)
            resnames = [r for r, _ in sources(path + ".xml")]
            self.assertTrue(set(wanted) <= set(resnames), (name, resnames))
            self.assertNotIn("sheet 1/cell C2", resnames)

    @unittest.skipUnless(shutil.which("pocount") and shutil.which("xliff2po") and shutil.which("xmllint"),
                         "translate-toolkit and xmllint are not installed (scripts/setup installs them)")
    def test_translation_tools_read_the_export(self):
        """A translation tool counts every unit and gives every plain one as a message."""
        for name in ["made.odp", "made.ods", "poi-SampleShow.ppt"]:
            with self.subTest(name):
                path = self.copy(name)
                doc = self.office.load(path)
                units = self.macros(doc)[0](doc, path + ".xlf")["units"]
                doc.close(True)
                subprocess.run(["xmllint", "--noout", path + ".xlf"], check=True)
                counts = subprocess.run(["pocount", "--csv", path + ".xlf"], check=True,
                                        capture_output=True, text=True).stdout.splitlines()[1]
                self.assertEqual(int(counts.split(",")[8]), units, counts)
                subprocess.run(["xliff2po", "-i", path + ".xlf", "-o", path + ".po"], check=True,
                               capture_output=True)
                with open(path + ".po", encoding="utf-8") as f:
                    po = f.read()
                found = list(ET.parse(path + ".xlf").iter(X + "trans-unit"))
                self.assertEqual(len(found), units)
                for unit in found:
                    source = unit.find(X + "source")
                    if len(source) == 0:
                        self.assertIn(json.dumps(source.text, ensure_ascii=False), po)

    def test_unplaced_units_are_reported_and_the_rest_placed(self):
        path = self.copy("made.odp")
        doc = self.office.load(path)
        quon.export_presentation(doc, path + ".xml")
        tree = translate(path + ".xml", path + ".t.xml", str.upper)
        body = tree.find(".//" + X + "body")
        units = list(body)
        units[0].find(X + "source").text = "No longer the text"
        ghost = ET.SubElement(body, X + "trans-unit", {"id": "99", "resname": "slide 7/shape 1/paragraph 1"})
        ET.SubElement(ghost, X + "source").text = "Ghost"
        tree.write(path + ".t.xml")
        result = quon.import_presentation(doc, path + ".t.xml")
        self.assertEqual([(u["resname"], u["why"]) for u in result["unplaced"]],
                         [(units[0].get("resname"), "the text there is no longer the unit's source"),
                          ("slide 7/shape 1/paragraph 1", "no such slide")])
        self.assertEqual(result["units"], len(units) + 1)
        page = doc.getDrawPages().getByIndex(0)
        self.assertEqual(page.getByIndex(0).getString(), "A title")
        self.assertEqual(page.getByIndex(1).getString(), "FIRST POINT\nSECOND POINT")
        doc.close(True)

    def test_dispatch_always_removes_the_marker(self):
        cases = [("ExportPresentation", "made.odp", None, True),
                 ("ImportPresentation", "made.odp", b"this is not XML", False),
                 ("ExportWorkbook", "made.ods", None, True),
                 ("Nonsense", "made.ods", None, False)]
        for macro, name, xml, ok in cases:
            with self.subTest(macro):
                path = self.copy(name)
                doc = self.office.load(path)
                xml_path = os.path.splitext(path)[0] + "_" + name.rsplit(".", 1)[1] + ".xml"
                if xml is not None:
                    with open(xml_path, "wb") as f:
                        f.write(xml)
                open(path + ".quon", "w").close()
                request, result_path = path + ".json", path + ".result.json"
                with open(request, "w") as f:
                    json.dump({"macro": macro, "document": doc.getURL(), "result": result_path}, f)
                quon.dispatch(request, self.office.desktop)
                doc.close(True)
                with open(result_path) as f:
                    result = json.load(f)
                self.assertFalse(os.path.exists(path + ".quon"))
                self.assertEqual(result["ok"], ok, result)
                self.assertEqual(result["error"] == "", ok)
                if ok:
                    self.assertEqual(len(sources(xml_path)), result["units"])


def fill(text, pieces):
    """Writes pieces (text, properties) into an XText; an int is a line break."""
    cursor = text.createTextCursor()
    cursor.gotoEnd(False)
    for piece, props in pieces:
        if isinstance(piece, int):
            text.insertControlCharacter(cursor, 1, False)
            continue
        if piece == "\n":
            text.insertControlCharacter(cursor, 0, False)
            continue
        text.insertString(cursor, piece, False)
        cursor.goLeft(len(piece), True)
        for name, value in props.items():
            cursor.setPropertyValue(name, value)
        cursor.collapseToEnd()


def store_as(doc, path):
    doc.storeToURL(uno.systemPathToFileUrl(path), ())
    doc.close(True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
