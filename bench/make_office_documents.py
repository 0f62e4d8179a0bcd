#!/usr/bin/python3
"""make_office_documents.py FOLDER [SLIDES] [SHEETS] [CELLS]: writes deck.pptx
(SLIDES slides, 200 by default, each with a title and three bullets, one with
a bold word) and book.xlsx (SHEETS sheets, 20 by default, of CELLS text
cells, 5 000 by default, and a column of numbers) into FOLDER, for the
presentation and workbook benchmarks."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))

import uno  # noqa: E402
from office_session import OfficeSession, prop  # noqa: E402


def main():
    folder = os.path.abspath(sys.argv[1])
    slides = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    sheets = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    cells = int(sys.argv[4]) if len(sys.argv) > 4 else 5000
    with OfficeSession() as office:
        deck = office.new("simpress")
        pages = deck.getDrawPages()
        for i in range(slides):
            page = pages.getByIndex(0) if i == 0 else pages.insertNewByIndex(i - 1)
            page.setPropertyValue("Layout", 1)  # title and content
            page.getByIndex(0).setString("Slide %d: quarterly figures" % (i + 1))
            body = page.getByIndex(1).getText()
            body.setString("Revenue grew in every region\nCosts stayed flat\nOutlook: steady")
            cursor = body.createTextCursor()
            cursor.gotoStart(False)
            cursor.goRight(7, True)
            cursor.setPropertyValue("CharWeight", 150.0)
        deck.storeToURL(uno.systemPathToFileUrl(os.path.join(folder, "deck.pptx")),
                        (prop("FilterName", "Impress MS PowerPoint 2007 XML"),))
        deck.close(True)

        book = office.new("scalc")
        all_sheets = book.getSheets()
        for s in range(sheets):
            if s > 0:
                all_sheets.insertNewByName("Sheet %d" % (s + 1), s)
            sheet = all_sheets.getByIndex(s)
            rows = tuple(("Item %d of sheet %d" % (r + 1, s + 1), r * 1.5) for r in range(cells))
            sheet.getCellRangeByPosition(0, 0, 1, cells - 1).setDataArray(rows)
        book.storeToURL(uno.systemPathToFileUrl(os.path.join(folder, "book.xlsx")),
                        (prop("FilterName", "Calc MS Excel 2007 XML"),))
        book.close(True)


if __name__ == "__main__":
    main()
