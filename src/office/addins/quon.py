"""Macros that export the text of a presentation or workbook to XLIFF 1.2 and
put translated text back.

The suite runs Dispatch() on the document it has just opened; Dispatch reads a
small JSON request, runs one of the four macros and writes a JSON result.
Every paragraph (presentations) or cell, comment and sheet name (workbooks)
becomes one trans-unit whose resname says where it lives.  Character
formatting runs become <g> elements, line breaks and control characters <x>
elements, text fields (page numbers, links) <x ctype="x-field"> placeholders
that keep the field itself in place on import.
"""

import json
import os
import xml.etree.ElementTree as ET

import uno

XLIFF_NS = "urn:oasis:names:tc:xliff:document:1.2"
XML_SPACE = "{http://www.w3.org/XML/1998/namespace}space"

# Character properties that make a run: text portions that differ in any of
# them are separate runs, and importing re-applies all of them.
RUN_PROPS = (
    "CharWeight", "CharPosture", "CharUnderline", "CharStrikeout",
    "CharColor", "CharFontName", "CharHeight", "CharEscapement",
    "CharEscapementHeight", "CharCaseMap", "CharShadowed", "CharContoured",
    "CharRelief", "CharOverline",
    "CharWeightAsian", "CharPostureAsian", "CharFontNameAsian",
    "CharHeightAsian", "CharWeightComplex", "CharPostureComplex",
    "CharFontNameComplex", "CharHeightComplex",
)

_TEXT_CELL_FLAG = 4  # com.sun.star.sheet.CellFlags.STRING
_FORMATTED_CELL_FLAG = 512  # CellFlags.FORMATTED: text with formatting inside
_LINE_BREAK = 1      # com.sun.star.text.ControlCharacter.LINE_BREAK
_PARAGRAPH_BREAK = 0  # com.sun.star.text.ControlCharacter.PARAGRAPH_BREAK


def _q(tag):
    return "{%s}%s" % (XLIFF_NS, tag)


def _xml_char_ok(ch):
    c = ord(ch)
    return (c in (0x9, 0xA) or 0x20 <= c <= 0xD7FF or 0xE000 <= c <= 0xFFFD
            or c >= 0x10000)


def _utf16_len(s):
    return len(s.encode("utf-16-le")) // 2


def _column_name(col):
    name = ""
    col += 1
    while col:
        col, rem = divmod(col - 1, 26)
        name = chr(ord("A") + rem) + name
    return name


def _cell_name(col, row):
    return "%s%d" % (_column_name(col), row + 1)


def _hashable(value):
    if isinstance(value, uno.Enum):
        return (value.typeName, value.value)
    if hasattr(value, "typeName"):
        return repr(value)
    return value


# ---------------------------------------------------------------------------
# Reading text: a text is a list of paragraphs, a paragraph a list of
# segments: ("text", string, props) for formatted text (a line break is the
# text "\n"), ("field", presentation, None) for anything that is not text.


class _Run(object):
    """The character properties of a run, and a key to compare them."""
    __slots__ = ("props", "key")

    def __init__(self, props):
        self.props = props
        self.key = tuple(_hashable(v) for v in props)


def _read_props(portion):
    try:
        return tuple(portion.getPropertyValues(RUN_PROPS))
    except Exception:
        values = []
        for name in RUN_PROPS:
            try:
                values.append(portion.getPropertyValue(name))
            except Exception:
                values.append(None)
        return tuple(values)


def _read_paragraph(paragraph):
    """Returns the paragraph's segments, adjacent equal runs merged."""
    segments = []
    portions = paragraph.createEnumeration()
    while portions.hasMoreElements():
        portion = portions.nextElement()
        kind = getattr(portion, "TextPortionType", "Text")
        text = portion.getString()
        if kind != "Text":
            segments.append(("field", text, None))
            continue
        if not text:
            continue
        run = _Run(_read_props(portion))
        last = segments[-1] if segments else None
        if last and last[0] == "text" and last[2].key == run.key:
            segments[-1] = ("text", last[1] + text, last[2])
        else:
            segments.append(("text", text, run))
    return segments


def _paragraphs(text):
    out = []
    paragraphs = text.createEnumeration()
    while paragraphs.hasMoreElements():
        out.append(paragraphs.nextElement())
    return out


def _has_text(paragraph_segments):
    return any(s[1].strip() for s in paragraph_segments)


# ---------------------------------------------------------------------------
# Segments to XLIFF inline content and back.


class _Inline(object):
    """The inline markup of one unit: what each g/x id stands for."""

    def __init__(self, paragraphs):
        self.paragraphs = paragraphs
        weights = {}
        runs = [(text, run) for para in paragraphs for kind, text, run in para
                if kind == "text"]
        for text, run in runs:
            weights[run.key] = weights.get(run.key, 0) + len(text)
        # The run holding most of the text stays bare; the others become <g>.
        best = max(weights.values()) if weights else 0
        self.base = next((r for _, r in runs if weights[r.key] == best), None)
        self.ids = {}  # id -> ("g", run) | ("field", index)

    def to_element(self, element):
        """Fills element (a <source>) with the unit's text and markup."""
        self.ids = {}
        counter = [0]
        fields = [0]

        def next_id():
            counter[0] += 1
            return str(counter[0])

        def append_text(parent, last, text):
            # Returns the element whose tail now ends parent's content.
            for ch in text:
                if ch == "\n" or not _xml_char_ok(ch) or ch == "\r":
                    x = ET.SubElement(parent, _q("x"))
                    x.set("id", next_id())
                    x.set("ctype", "lb" if ch == "\n" else "x-char-%04X" % ord(ch))
                    last = x
                elif last is None:
                    parent.text = (parent.text or "") + ch
                else:
                    last.tail = (last.tail or "") + ch
            return last

        last = None
        for index, para in enumerate(self.paragraphs):
            if index:
                last = _append_plain(element, last, "\n")
            for kind, text, run in para:
                if kind == "field":
                    x = ET.SubElement(element, _q("x"))
                    key = next_id()
                    x.set("id", key)
                    x.set("ctype", "x-field")
                    if all(_xml_char_ok(c) for c in text):
                        x.set("equiv-text", text)
                    self.ids[key] = ("field", fields[0])
                    fields[0] += 1
                    last = x
                elif run.key == self.base.key:
                    last = append_text(element, last, text)
                else:
                    g = ET.SubElement(element, _q("g"))
                    key = next_id()
                    g.set("id", key)
                    self.ids[key] = ("g", run)
                    append_text(g, None, text)
                    last = g
        return element

    def pieces(self, element):
        """The content of a <source> or <target> as a list of pieces:
        ("text", string, run), ("field", index, None), ("par", None, None)."""
        out = []

        def walk(node, run):
            if node.text:
                add_text(node.text, run)
            for child in node:
                tag = child.tag.rsplit("}", 1)[-1]
                meaning = self.ids.get(child.get("id"))
                if tag == "x":
                    ctype = child.get("ctype", "")
                    if ctype == "x-field" and meaning and meaning[0] == "field":
                        out.append(("field", meaning[1], None))
                    elif ctype == "lb":
                        out.append(("text", "\n", run))
                    elif ctype.startswith("x-char-"):
                        try:
                            out.append(("text", chr(int(ctype[7:], 16)), run))
                        except ValueError:
                            pass
                elif tag in ("g", "mrk"):
                    inner = meaning[1] if tag == "g" and meaning and meaning[0] == "g" else run
                    walk(child, inner)
                if child.tail:
                    add_text(child.tail, run)

        def add_text(text, run):
            parts = text.split("\n")
            for index, part in enumerate(parts):
                if index:
                    out.append(("par", None, None))
                if part:
                    out.append(("text", part, run))

        walk(element, self.base)
        return out


def _append_plain(parent, last, text):
    if last is None:
        parent.text = (parent.text or "") + text
    else:
        last.tail = (last.tail or "") + text
    return last


def _flatten(pieces):
    """The text of a list of pieces, formatting left out: what the import
    compares to find out whether a place still holds the exported text."""
    out = []
    for kind, value, _ in pieces:
        if kind == "text":
            out.append(value)
        elif kind == "field":
            out.append("\ufffc%d" % value)
        else:
            out.append("\u2029")
    return "".join(out)


def _apply_props(cursor, run):
    """Gives the text under cursor the run's properties, setting only those
    the text does not have already (no needless hard formatting)."""
    current = _read_props(cursor)
    for name, value, now in zip(RUN_PROPS, run.props, current):
        if value is not None and _hashable(value) != _hashable(now):
            try:
                cursor.setPropertyValue(name, value)
            except Exception:
                pass


def _insert(text, cursor, pieces, line_breaks_only):
    for kind, value, run in pieces:
        if kind == "par":
            kind, value = "text", "\n"
            if not line_breaks_only:
                text.insertControlCharacter(cursor, _PARAGRAPH_BREAK, False)
                continue
        for index, chunk in enumerate(value.split("\n")):
            if index:
                text.insertControlCharacter(cursor, _LINE_BREAK, False)
                cursor.goLeft(1, True)
                _apply_props(cursor, run)
                cursor.collapseToEnd()
            if chunk:
                text.insertString(cursor, chunk, False)
                cursor.goLeft(_utf16_len(chunk), True)
                _apply_props(cursor, run)
                cursor.collapseToEnd()


def _span_lengths(paragraphs):
    """Lengths of the text between fields (a paragraph end counts one)."""
    spans = [0]
    for index, para in enumerate(paragraphs):
        if index:
            spans[-1] += 1
        for kind, text, _ in para:
            if kind == "field":
                spans.append(0)
            else:
                spans[-1] += _utf16_len(text)
    return spans


def _write(text, start, inline, pieces, line_breaks_only):
    """Replaces the text of inline.paragraphs, starting at the text range
    start, by pieces; fields stay where they are, in their order."""
    spans = _span_lengths(inline.paragraphs)
    chunks = [[]]
    order = []
    for piece in pieces:
        if piece[0] == "field":
            order.append(piece[1])
            chunks.append([])
        else:
            chunks[-1].append(piece)
    if order != list(range(len(spans) - 1)):
        return "the translation moves, drops or repeats a field"
    cursor = text.createTextCursorByRange(start)
    for index, span in enumerate(spans):
        cursor.collapseToStart()
        if span:
            cursor.goRight(span, True)
        cursor.setString("")
        cursor.collapseToStart()
        _insert(text, cursor, chunks[index], line_breaks_only)
        if index + 1 < len(spans):
            cursor.goRight(1, False)
    return None


# ---------------------------------------------------------------------------
# Places: where a unit lives in the document.


class _TextPlace(object):
    """One paragraph of a shape, table cell or notes (line_breaks_only), or
    the whole text of a cell or comment (paragraphs joined by line feeds)."""

    def __init__(self, text, paragraphs, line_breaks_only):
        self.text = text
        self.paragraph_ranges = paragraphs
        self.line_breaks_only = line_breaks_only

    def read(self):
        return _Inline([_read_paragraph(p) for p in self.paragraph_ranges])

    def has_text(self):
        return any(_has_text(p) for p in self.read().paragraphs)

    def write(self, inline, pieces):
        return _write(self.text, self.paragraph_ranges[0].getStart(), inline,
                      pieces, self.line_breaks_only)


class _SheetNamePlace(object):

    def __init__(self, sheet):
        self.sheet = sheet

    def read(self):
        name = self.sheet.getName()
        return _Inline([[("text", name, _Run((None,) * len(RUN_PROPS)))]])

    def has_text(self):
        return True

    def write(self, inline, pieces):
        name = "".join(v if k == "text" else "\n" for k, v, _ in pieces)
        try:
            self.sheet.setName(name)
        except Exception:
            return "not a valid sheet name: %r" % name
        if self.sheet.getName() != name:
            return "not a valid sheet name: %r" % name
        return None


def _shape_text(shape):
    try:
        if shape.supportsService("com.sun.star.drawing.Text") or \
                shape.supportsService("com.sun.star.text.Text"):
            return shape.getText()
    except Exception:
        pass
    return None


def _text_places(prefix, text, extradata):
    for index, para in enumerate(_paragraphs(text)):
        yield ("%s/paragraph %d" % (prefix, index + 1), extradata,
               _TextPlace(text, [para], True))


def _shape_places(prefix, shape):
    """Places of a shape: paragraphs, cells of a table, shapes of a group."""
    name = getattr(shape, "Name", "") or ""
    yield (prefix, None, None)
    if shape.getShapeType() == "com.sun.star.drawing.GroupShape":
        for index in range(shape.getCount()):
            for place in _shape_places("%s.%d" % (prefix, index + 1),
                                       shape.getByIndex(index)):
                yield place
        return
    if shape.getShapeType() == "com.sun.star.drawing.TableShape":
        model = shape.Model
        for row in range(model.Rows.getCount()):
            for col in range(model.Columns.getCount()):
                cell = model.getCellByPosition(col, row)
                try:
                    if cell.isMerged():
                        continue
                except Exception:
                    pass
                cell_prefix = "%s/cell %s" % (prefix, _cell_name(col, row))
                yield (cell_prefix, None, None)
                for place in _text_places(cell_prefix, cell, name):
                    yield place
        return
    text = _shape_text(shape)
    if text is not None:
        for place in _text_places(prefix, text, name):
            yield place


def _presentation_places(doc):
    """Yields (resname, extradata, place); place None marks a container."""
    pages = doc.getDrawPages()
    for index in range(pages.getCount()):
        page = pages.getByIndex(index)
        prefix = "slide %d" % (index + 1)
        yield (prefix, None, None)
        for shape_index in range(page.getCount()):
            for place in _shape_places("%s/shape %d" % (prefix, shape_index + 1),
                                       page.getByIndex(shape_index)):
                yield place
        notes = page.getNotesPage()
        for shape_index in range(notes.getCount()):
            shape = notes.getByIndex(shape_index)
            if shape.getShapeType() == "com.sun.star.presentation.NotesShape":
                yield (prefix + "/notes", None, None)
                for place in _text_places(prefix + "/notes", shape.getText(), None):
                    yield place
                break


class _SheetWrites(object):
    """The new strings of a sheet's plain text cells, written at the end:
    a block of text cells without formatted ones in one call, the others
    one by one."""

    def __init__(self, sheet, blocks, formatted):
        self.sheet = sheet
        self.blocks = blocks  # (address, rows of strings) of the text cells
        self.formatted = formatted
        self.pending = {}

    def flush(self):
        for address, rows in self.blocks:
            cells = [(r, c) for r in range(address.StartRow, address.EndRow + 1)
                     for c in range(address.StartColumn, address.EndColumn + 1)]
            if not any(cell in self.pending for cell in cells):
                continue
            if any(cell in self.formatted for cell in cells):
                for cell in cells:
                    if cell in self.pending:
                        self.sheet.getCellByPosition(cell[1], cell[0]).setString(
                            self.pending[cell])
                continue
            new_rows = tuple(
                tuple(self.pending.get((address.StartRow + r, address.StartColumn + c), value)
                      for c, value in enumerate(values))
                for r, values in enumerate(rows))
            self.sheet.getCellRangeByPosition(address.StartColumn, address.StartRow,
                                              address.EndColumn, address.EndRow).setDataArray(new_rows)
        self.pending = {}


class _PlainCellPlace(object):
    """A text cell whose text has no formatting of its own: its string, read
    with the others of its sheet in one call, is all there is to it."""

    def __init__(self, writes, col, row, string):
        self.batch = writes
        self.col = col
        self.row = row
        self.string = string

    def read(self):
        return _Inline([[("text", p, _PLAIN_RUN)] if p else []
                        for p in self.string.split("\n")])

    def write(self, inline, pieces):
        if any(kind == "field" for kind, _, _ in pieces):
            return "the translation moves, drops or repeats a field"
        self.batch.pending[(self.row, self.col)] = "".join(
            value if kind == "text" else "\n" for kind, value, _ in pieces)
        return None


_PLAIN_RUN = _Run((None,) * len(RUN_PROPS))


def _cells(ranges):
    cells = set()
    for address in ranges.getRangeAddresses():
        for row in range(address.StartRow, address.EndRow + 1):
            for col in range(address.StartColumn, address.EndColumn + 1):
                cells.add((row, col))
    return cells


def _text_cells(sheet):
    """The text cells of a sheet in row order, (row, col, string), the
    string None for a cell with formatting inside its text or with a
    comment; and the writer of the new strings of the others."""
    formatted = _cells(sheet.queryContentCells(_FORMATTED_CELL_FLAG))
    # A cell with a comment goes the slow way too: writing a block of
    # strings drops the comments of its cells.
    annotations = sheet.getAnnotations()
    for index in range(annotations.getCount()):
        position = annotations.getByIndex(index).getPosition()
        formatted.add((position.Row, position.Column))
    strings = {}
    blocks = []
    for address in sheet.queryContentCells(_TEXT_CELL_FLAG).getRangeAddresses():
        data = sheet.getCellRangeByPosition(address.StartColumn, address.StartRow,
                                            address.EndColumn, address.EndRow).getDataArray()
        blocks.append((address, data))
        for r, values in enumerate(data):
            for c, value in enumerate(values):
                strings[(address.StartRow + r, address.StartColumn + c)] = value
    cells = [(row, col, None if (row, col) in formatted else strings[(row, col)])
             for row, col in sorted(strings)]
    return cells, _SheetWrites(sheet, blocks, formatted)


def _workbook_places(doc):
    sheets = doc.getSheets()
    for index in range(sheets.getCount()):
        sheet = sheets.getByIndex(index)
        prefix = "sheet %d" % (index + 1)
        yield (prefix, None, None)
        yield (prefix + "/name", None, _SheetNamePlace(sheet))
        cells, writes = _text_cells(sheet)
        for row, col, string in cells:
            resname = "%s/cell %s" % (prefix, _cell_name(col, row))
            if isinstance(string, str):
                yield (resname, None, _PlainCellPlace(writes, col, row, string))
                continue
            cell = sheet.getCellByPosition(col, row)
            if cell.getType().value != "TEXT":
                continue
            yield (resname, None, _TextPlace(cell.getText(), _paragraphs(cell.getText()), False))
        notes = []
        annotations = sheet.getAnnotations()
        for note_index in range(annotations.getCount()):
            note = annotations.getByIndex(note_index)
            pos = note.getPosition()
            notes.append((pos.Row, pos.Column, note))
        notes.sort(key=lambda n: (n[0], n[1]))
        for row, col, note in notes:
            try:
                text = note.getAnnotationShape().getText()
            except Exception:
                text = note
            yield ("%s/comment %s" % (prefix, _cell_name(col, row)), None,
                   _TextPlace(text, _paragraphs(text), False))


# ---------------------------------------------------------------------------
# The four macros.


def _language(doc):
    try:
        locale = doc.getPropertyValue("CharLocale")
        if locale.Language:
            if locale.Country:
                return "%s-%s" % (locale.Language, locale.Country)
            return locale.Language
    except Exception:
        pass
    return "en-US"


def _original(doc):
    url = doc.getURL()
    if not url:
        return "untitled"
    return url.rsplit("/", 1)[-1]


def _export(doc, xml_path, places, datatype):
    ET.register_namespace("", XLIFF_NS)
    root = ET.Element(_q("xliff"), {"version": "1.2"})
    file_element = ET.SubElement(root, _q("file"), {
        "original": _original(doc),
        "source-language": _language(doc),
        "datatype": datatype,
    })
    body = ET.SubElement(file_element, _q("body"))
    units = 0
    for resname, extradata, place in places:
        if place is None:
            continue
        plain = _plain_string(place)
        if plain is not None:
            if not plain.strip():
                continue
        else:
            inline = place.read()
            if not any(_has_text(p) for p in inline.paragraphs):
                continue
        units += 1
        unit = ET.SubElement(body, _q("trans-unit"),
                             {"id": str(units), "resname": resname})
        if extradata:
            unit.set("extradata", extradata)
        source = ET.SubElement(unit, _q("source"))
        source.set(XML_SPACE, "preserve")
        if plain is not None:
            source.text = plain
        else:
            inline.to_element(source)
    ET.ElementTree(root).write(xml_path, encoding="utf-8", xml_declaration=True)
    return {"units": units, "unplaced": []}


def _plain_string(place):
    """The string of a plain cell when its unit is that string as it stands
    (no character that needs an inline element); else None."""
    if not isinstance(place, _PlainCellPlace):
        return None
    string = place.string
    if all(_xml_char_ok(ch) and ch != "\r" for ch in string):
        return string
    return None


def _missing_part(resname, containers):
    parts = resname.split("/")
    for index in range(1, len(parts) + 1):
        if "/".join(parts[:index]) not in containers:
            return parts[index - 1].split(" ")[0]
    return "place"


def _import(doc, xml_path, places):
    known = {}
    containers = set()
    for resname, _, place in places:
        if place is None:
            containers.add(resname)
        else:
            known[resname] = place
    root = ET.parse(xml_path).getroot()
    units = root.findall(".//" + _q("trans-unit"))
    unplaced = []
    for unit in units:
        unit_id = unit.get("id", "")
        resname = unit.get("resname", "")
        source = unit.find(_q("source"))
        target = unit.find(_q("target"))
        if target is None or (not (target.text or "") and len(target) == 0):
            target = source
        why = None
        place = known.get(resname)
        if place is None:
            why = "no such %s" % _missing_part(resname, containers)
        elif source is None:
            why = "the unit has no source"
        elif _plain_string(place) is not None and len(source) == 0 and len(target) == 0:
            # A plain cell and a plain unit: strings compared and written.
            if (source.text or "") != place.string:
                why = "the text there is no longer the unit's source"
            elif (target.text or "") != place.string:
                place.batch.pending[(place.row, place.col)] = target.text or ""
        else:
            inline = place.read()
            inline.to_element(ET.Element("scratch"))
            source_pieces = inline.pieces(source)
            if _flatten(source_pieces) != _current_text(inline):
                why = "the text there is no longer the unit's source"
            elif target is not source:
                target_pieces = inline.pieces(target)
                # What is there already is left alone.
                if target_pieces != source_pieces:
                    why = place.write(inline, target_pieces)
        if why:
            unplaced.append({"id": unit_id, "resname": resname, "why": why})
    batches = []
    for place in known.values():
        batch = getattr(place, "batch", None)
        if batch is not None and batch not in batches:
            batches.append(batch)
    for batch in batches:
        batch.flush()
    return {"units": len(units), "unplaced": unplaced}


def _current_text(inline):
    """The text a place holds now, as _flatten gives it for a unit."""
    out = []
    fields = 0
    for index, para in enumerate(inline.paragraphs):
        if index:
            out.append("\u2029")
        for kind, text, _ in para:
            if kind == "field":
                out.append("\ufffc%d" % fields)
                fields += 1
            else:
                out.append(text)
    return "".join(out)


def export_presentation(doc, xml_path):
    return _export(doc, xml_path, _presentation_places(doc), "x-presentation")


def import_presentation(doc, xml_path):
    return _import(doc, xml_path, _presentation_places(doc))


def export_workbook(doc, xml_path):
    return _export(doc, xml_path, _workbook_places(doc), "x-workbook")


def import_workbook(doc, xml_path):
    return _import(doc, xml_path, _workbook_places(doc))


# ---------------------------------------------------------------------------
# The entry point.

MACROS = {
    "ExportPresentation": export_presentation,
    "ImportPresentation": import_presentation,
    "ExportWorkbook": export_workbook,
    "ImportWorkbook": import_workbook,
}


def xml_path_for(path):
    """deck.ppt -> deck_ppt.xml beside it; a name without extension gets
    name_.xml."""
    folder, base = os.path.split(path)
    name, ext = os.path.splitext(base)
    return os.path.join(folder, "%s_%s.xml" % (name, ext[1:]))


def _find_document(desktop, url):
    # By path: two URLs of one file may escape different characters.
    path = uno.fileUrlToSystemPath(url)
    components = desktop.getComponents().createEnumeration()
    while components.hasMoreElements():
        component = components.nextElement()
        try:
            if component.getURL() == url or uno.fileUrlToSystemPath(component.getURL()) == path:
                return component
        except Exception:
            pass
    return None


def _unplaced_message(result):
    unplaced = result["unplaced"]
    return "%d of %d units could not be placed: %s" % (
        len(unplaced), result["units"],
        ", ".join("%s (%s)" % (u["resname"], u["why"]) for u in unplaced))


def dispatch(request_path, desktop):
    result = {"ok": False, "error": "", "units": 0, "unplaced": []}
    result_path = None
    marker = None
    try:
        try:
            with open(request_path, encoding="utf-8") as stream:
                request = json.load(stream)
            result_path = request.get("result")
            url = request.get("document", "")
            path = uno.fileUrlToSystemPath(url)
            marker = path + ".quon"
            macro = MACROS.get(request.get("macro"))
            if macro is None:
                raise ValueError("unknown macro %r" % request.get("macro"))
            doc = _find_document(desktop, url)
            if doc is None:
                raise ValueError("the document %s is not loaded" % url)
            outcome = macro(doc, xml_path_for(path))
            result["units"] = outcome["units"]
            result["unplaced"] = outcome["unplaced"]
            if outcome["unplaced"]:
                result["error"] = _unplaced_message(outcome)
            else:
                result["ok"] = True
        except Exception as error:
            result["ok"] = False
            result["error"] = "%s: %s" % (type(error).__name__, error)
        if result_path:
            with open(result_path, "w", encoding="utf-8") as stream:
                json.dump(result, stream, ensure_ascii=False)
    finally:
        if marker:
            try:
                os.remove(marker)
            except OSError:
                pass
    return result


def Dispatch(request_path, *args):
    dispatch(request_path, XSCRIPTCONTEXT.getDesktop())  # noqa: F821


g_exportedScripts = (Dispatch,)
