// voktools: the library's command line.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <exception>
#include <iostream>
#include <limits>
#include <optional>
#include <algorithm>
#include <string>
#include <vector>

#include "asp_command.h"
#include "invoke_host.h"
#include "registered_object.h"
#include "languages_command.h"
#include "lines_command.h"
#include "mif_command.h"
#include "addin_command.h"
#include "office_command.h"
#include "office_instance_command.h"
#include "platform/libreoffice_automation.h"
#include "platform/env.h"
#include "reg_command.h"
#include "register_command.h"
#include "report.h"
#include "rtf_command.h"
#include "run_lock.h"
#include "unc_command.h"
#include "validate_command.h"
#include "voktools/host.h"
#include "voktools/html_validate.h"
#include "voktools/version.h"
#ifdef VOK_WITH_QT
#include "qt/qt_windowing.h"
#endif

namespace {

constexpr const char* kInvokeHelp =
    R"(Protocol: one JSON request per line on standard input, one JSON response
per line on standard output.

  {"id":1,"create":"VOKTools.clsCommon"}       -> {"id":1,"ok":true,"object":1}
  {"id":2,"create":"Collection"}               an empty Collection to pass to members
  {"id":3,"object":1,"call":"strParseFileName","args":["C:\\dir\\file.txt",0]}
                                               -> {"id":3,"ok":true,"result":"C:\\dir\\"}
  {"id":4,"object":1,"get":"Name","args":[..]} property get ("args" optional)
  {"id":5,"object":1,"let":"Name","value":..}  property let
  {"id":6,"object":1,"release":true}           drop the object
  {"id":7,"describe":"VOKTools.clsCommon"}     the class's members and their types;
                                               "*" lists the classes (see cli/INVOKE.md)

"create" takes a programmatic name or a class id. Object numbers count from 1;
the same object always has the same number. Members with output parameters
also answer "byref":{"<parameter>":value}.

Arguments: integers (Long; Double beyond Long's range), other numbers, true and
false, strings, null (an omitted optional argument), arrays of strings,
{"bytes":[0,255]}, {"object":N} and {"object":null} (Nothing).
Results: null (Empty), numbers, booleans, strings, arrays of strings,
{"bytes":[..]}, {"object":N,"class":"clsX"} with "items":[..] for a Collection,
{"object":null}.

Texts are bytes: a text that is valid UTF-8 is a JSON string; any other text
is written and read as {"hex":"68ff"}, two hex digits per byte.

Events are written as they are raised, before the response of the call:
  {"event":"Progress","object":3,"args":[42]}
Failures: {"id":..,"ok":false,"error":{"number":52,"description":".."}}; 424 for
an unknown object number, 5 for a malformed request (id null when unreadable),
51 for an internal error. Blank lines are skipped; end of input exits with 0.)";

constexpr const char* kExitHelp =
    R"(Reports go to standard output, one per file; the report of a file that
failed, and warnings ("voktools: warning: ..."), go to standard error. --json
prints one JSON object per file and line (JSON Lines), each with "result",
"errors", "warnings" and "files"; -q leaves only errors and warnings.
Exit status:
  0      every file succeeded
  1-63   the largest result of a file (see the command's --help)
  64     usage error
  65     --strict, and the run had warnings but no failure; tags --edit and
         validate --edit-tags: the edited table cannot be used
  69     tags --edit and validate --edit-tags: no window system
  70     unexpected failure
  73     an output was refused, its reason on standard error: it exists
         (--force replaces it), or it is never replaced (see below)
  74     the report could not be written (no later file was processed)
Never replaced, even with --force: an object file holding the other kind of
objects (rtf extract and mif remove-objects both write book.obj), an output
that is not a regular file, an output that an earlier file of the same run
wrote. Inputs that are not regular files (folders, FIFOs, devices) are
refused as unreadable.)";

constexpr const char* kReportHelp =
    R"(Output: per file, a summary line and its errors, one per line; with --json
one JSON object per file and line (JSON Lines): {"result":N,"errors":[..],
"warnings":[..],"files":{"Filename":..,"Output":..},"stats":{..}}. A progress
bar is drawn on standard error when it is a terminal, unless --quiet.
Exit status: 0 when every file succeeded, otherwise the largest result (at
most 63); 64 for a usage error, 70 for an unexpected failure, 74 when the
report could not be written.)";

constexpr const char* kRtfHelp =
    R"(Extraction moves every {\object ..} and {\pict ..} group of the RTF file
into its object file and leaves a hidden placeholder {\v\vok OBJ n } where
the group stood, n counting from 1. Insertion puts each group back in place
of its placeholder; extraction followed by insertion gives back the RTF file
byte for byte. Both write the new text to FILE.quon.tmp and then move it over
FILE.

Object file: FILE's folder and name with the extension .obj (letter.rtf:
letter.obj), or --obj OBJFILE with a single FILE. It holds for each group a
header line (its placeholder and CR LF) followed by the group and CR LF, and
then an end line. An extraction refuses a FILE whose object file exists
(--force replaces it), and even with --force one whose object file holds
the insets of a MIF file (mif remove-objects book.mif also writes book.obj),
is not a regular file, or was written for an earlier FILE of the run
(report.rtf and report.doc both give report.obj).

Output: per file a summary line; with --json one JSON object per file:
{"result":N,"errors":[],"files":{"RTFFile":..,"ObjFile":..}}. A refused
FILE has no summary line: the reason goes to standard error (with --json
also into "errors", result 73). A progress bar is drawn on standard error
when it is a terminal, unless --quiet.
Results:
  0 success                            5 no scratch file beside FILE
  1 the RTF file name is empty         6 insert: a placeholder had no object;
  2 RTF file does not exist              it was left out of the text
  3 RTF file cannot be read (also: it    7 a read or write failed
    is not a regular file)
  4 object file cannot be opened
  9 done, but FILE could not be replaced (the reason follows); it is unchanged
 73 extract: refused, the object file is not replaced (see above)
With 1 to 5, 7, 9 and 73 FILE is left as it was.
Exit status: 0 when every file succeeded, otherwise the largest result (73
for a refusal); 64 for a usage error, 70 for an unexpected failure, 74 when
the report could not be written.)";

constexpr const char* kAspHelp =
    R"(asp2html moves every server block (<% .. %>) and script element
(<script ..>..</script>, <java ..>..</java>) of PAGE into a script file and
leaves the placeholder comment <!-- ASP2HTML n --> where it stood, n counting
from 1; everything else is copied as it is into the HTML file, ready for
translation. Inside a tag and outside quotes the placeholder is wrapped so
that the tag stays well formed:
  <a href=<%=u%>>   ->  <a href="<!-- ASP2HTML 1 -->">
  <option <%=s%>>   ->  <option ASP2HTML="<!-- ASP2HTML 1 -->">
html2asp puts every block back in place of its placeholder, also where an
editor escaped it as &lt;!-- ASP2HTML n --&gt;. The page comes back byte for
byte, except that a block standing unquoted after "=" in a tag comes back in
quotes (href="<%=u%>").

Script file: for each block in the order the blocks start, the line
<!-- ASP2HTML n --> and CR LF, then the block exactly as in the page and CR LF.

File names: asp2html derives from PAGE, default.asp, the HTML file
default_asp.htm and the script file default_asp.scr in the same folder.
html2asp derives from HTMFILE, default_asp.htm, the script file
default_asp.scr and the page default.asp (list_jsp.htm gives list.jsp; a
name without such an ending gives NAME.asp). --htm, --asp and --scr name the
file instead, with a single PAGE or HTMFILE only. asp2html refuses a PAGE
whose HTML or script file exists (--force replaces them), and even with
--force one whose output is not a regular file or was written for an
earlier PAGE of the run.

Output: per file a summary line naming the files written (on success), then
the error list one entry per line, starting with its title "ASP2HTML : PAGE"
or "HTML2ASP : HTMFILE"; with --json one JSON object per file:
{"result":N,"errors":[..],"files":{"ASPFile":..,"HTMFile":..,"SCRFile":..}}.
A refused PAGE has no report line: the reasons go to standard error (with
--json also into "errors", result 73). A progress bar is drawn on standard
error when it is a terminal, unless --quiet.
Results:
  0 the whole file was processed
  1 no file named, a file could not be opened or created ("Unable to open
    file : NAME" and why, also "not a regular file"), or a read or write
    failed part way ("Error 57 : Device I/O error" and why; no half-written
    output is left under its name, and the next file is processed)
 73 asp2html: refused, an output is not replaced (see above)
Exit status: 0 when every file gave 0, otherwise 1, or 73 when a PAGE was
refused; 64 for a usage error, 70 for an unexpected failure, 74 when the
report could not be written.)";

constexpr const char* kMifHelp =
    R"(extract collects, from all the MIF files of a document, the texts that a
translation tool would miss: the text of index markers (cut into entries at
";" with --split 1, at ";" and ":" with --split 2), cross-reference formats,
variables and paragraph autonumber formats. Each distinct text is written
once, as one paragraph, into three small MIF files: QUON_ix.mif (index),
QUON_xr.mif (cross-references) and QUON_va.mif (variables and autonumber
formats), in the folder of the first MIF file unless --index, --xref and
--var name them. Translate the strings of their paragraphs and leave the
<QUONTag ..> lines alone. extract refuses to run when a batch file exists
(--force replaces them), and even with --force when one is not a regular
file or two options name the same file.
merge writes the translated texts of those three files back into every MIF
file; the cutting of index texts recorded in QUON_ix.mif is used. A text
without a translation stays as it was; with the untranslated files, every
MIF file stays byte for byte as it was.
remove-objects moves each inset (from a line starting with "=" to the line
"=EndInset") into the object file and leaves the line <QUONObj n> in its
place; insert-objects puts them back. The object file is the MIF file's name
with the extension .obj (book.mif: book.obj), or --obj with one MIF only. A
second remove-objects on the same file is refused, since its object file
holds the only copy of the insets. remove-objects refuses a MIF file whose
object file exists (--force replaces it), and even with --force one whose
object file holds the objects of an RTF file (rtf extract book.rtf also
writes book.obj), is not a regular file, or was written for an earlier MIF
file of the run (book.mif and book.MIF both give book.obj).
Every MIF file is rewritten through a temporary file in its folder, and
replaced only when complete.

Output: one line per file and step, then the error list, one entry per
line; with --json one JSON object for the whole run:
{"result":N,"errors":[..],"files":{"MIFFile":..,"ObjFile":..,"IndexFile":..,
"XrefFile":..,"VarFile":..,"SplitOptions":N},"steps":[{"operation":
"Extract","file":..,"result":N},..]}. A refusal's reason goes to standard
error (with --json also into "errors"); a refused step reads "FILE:
refused" (result 73). A progress bar is drawn on standard error when it is
a terminal, unless --quiet.
Result: the number of failures over all the steps, each with its message
(a MIF file that is not a regular file is one).
Exit status: 0 when nothing failed, otherwise the result (at most 63), or 73
when something was refused; 64 for a usage error, 70 for an unexpected
failure, 74 when the report could not be written.)";

constexpr const char* kValidateHelp =
    R"(Repairs in place what would make translation tools stumble over a page:
a comment that never ends (at a <!--HTMLGlue line), a recognised tag never
closed, closed twice or closed in the wrong order, a stray ">" (to &gt;) or
"<" (to &lt;) in text, a "<" inside a tag. Only the tags of the table are
tracked (voktools tags prints the default one; --tags replaces it, as
NAME|FLAG items each ending in ","; flag 1 allows a tag inside itself); P,
</BODY> and </HTML> have rules of their own. A well-formed page is rewritten
byte for byte. The page is replaced only when the whole run worked; with
--backup, PAGE.bak keeps it as it was. Every backup is kept: an earlier
PAGE.bak is first moved to the first free name PAGE.bak.1, PAGE.bak.2, ..
(the report says where), so PAGE.bak is the newest and the numbers count up
from the oldest. --dry-run validates a copy and leaves the page alone.
--diff prints what the run changed as a unified diff of the page (made by
the system's diff -u; with --dry-run, what a run would change), after the
page's report, also with --quiet. The rules take "<" and ">" in scripts and
style sheets for markup; a page where that changes a SCRIPT or STYLE
element gets a warning naming its line, and --keep-script-text leaves the
content of those elements as it is, up to their end tag.
--edit-tags shows the table (the default or --tags) in the options dialog
before any page is read; OK validates with the edited table, Cancel with
the table as it was (see voktools tags --help).
--tags items are read as meant where that is clear: names in any case,
spaces around names and flags, empty items and a missing last "," are
fine. An item without "|", a name that is not a letter and then letters
and digits, a flag other than 0 or 1 and a name given twice are refused.

Output: each page's report: a summary line of what the run did to the page
("PAGE: N repair(s) made", counting the </P> and --> the rules add without
an entry; "PAGE: not changed" when the page could not be replaced), then
the error list, one entry per line: "Validate : PAGE", one
" INFORMATION : Line L, Row R : ..." line per repair, then
"E error(s) encountered, F problem(s) fixed"; with --json one JSON object
per page: {"result":N,"errors":[..],"files":{"Filename":..,"Backup":..},
"stats":{"changed":..,"repairs":N,"unlisted":N}} (and "diff" with --diff).
With an earlier backup moved, the report starts with "PAGE.bak: the earlier
backup was moved to PAGE.bak.N" ("EarlierBackup" in "files").
A progress bar is drawn on standard error when it is a terminal, unless
--quiet.
Results: 0 the page was validated; 1 the page is not a regular file, or the
earlier backup could not be moved, or the backup, the page or the temporary
file could not be opened or written (the page is as it was); otherwise the
number of failures of the final replacement.
Exit status: 0 when every page gave 0, otherwise the largest result; 64 for
a usage error, 70 for an unexpected failure, 74 when the report could not be
written.)";

constexpr const char* kTagsHelp =
    R"(Prints the table of recognised tags in the form --tags takes: the default
one, or the --tags LIST as validate reads it. With --edit the table is first
shown in the options dialog, where tags are added, removed and flagged
(Overlap allowed: flag 1); OK prints the edited table, Cancel prints nothing.
So a script can keep a table:  TABLE=$(voktools tags --edit --tags "$TABLE")
The dialog needs a window system: DISPLAY or WAYLAND_DISPLAY set, or
QT_QPA_PLATFORM (a Qt platform name).
Exit status: 0 printed; 1 the dialog was cancelled; 64 a refused --tags; 65
the edited table cannot be used (a name that is not a letter and then
letters and digits, more than 128 tags); 69 no window system.)";

constexpr const char* kRegHelp =
    R"(The registry store keeps keys and values as a Windows registry does: the
roots HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU), HKEY_CLASSES_ROOT
(HKCR, a view of HKLM\SOFTWARE\Classes) and HKEY_USERS (HKU), in any case,
then the key's path with '\' between its parts (quote it in the shell).
Names of keys and values ignore ASCII case. The store is the file
$VOKTOOLS_REGISTRY, else ${XDG_DATA_HOME:-~/.local/share}/voktools/registry.sqlite3.

Examples:
  voktools reg add 'HKCU\Software\Example' --value Greeting --data hello
  voktools reg add 'HKCU\Software\Example' --value Count --type REG_DWORD --data 0x2a
  voktools reg add 'HKCU\Software\Example' --value Paths --type REG_MULTI_SZ --data 'a\0b'
  voktools reg query 'HKCU\Software\Example' --recursive
  voktools reg export 'HKCU\Software\Example' example.reg
  voktools reg import example.reg
  voktools reg delete 'HKCU\Software\Example' --value Count

Exit status: 0 done; 1 a key or value does not exist, a registry file is
malformed (its line and the reason are on standard error, and nothing of it
was imported), or the store or a file could not be read or written; 64 a
usage error, also a key name without a valid root, an unknown type or data
that does not fit it; 73 not replaced: an existing value (add) or file
(export) without --force; 74 the report could not be written.)";

constexpr const char* kRegisterHelp =
    R"(Registering writes into the registry store, under HKEY_CLASSES_ROOT, each
class's programmatic name (VOKTools.clsCommon ...) with its class id, each
class id with the library file (its real path) and the apartment threading
model, the type library (version 3.1, locale 0) with the library file, and
every interface id with its type library; --unregister removes exactly
those values, and the keys they leave empty. Registering again changes
nothing; registering another library file replaces the registered one.
The library is opened and its entry point DllRegisterServer (or
DllUnregisterServer) called; without --library the library is the one
installed with the command (beside it, or in its installation's library
folder), else libvoktools.so.3 as the system finds it. The store is the file
$VOKTOOLS_REGISTRY, else ${XDG_DATA_HOME:-~/.local/share}/voktools/registry.sqlite3.

Examples:
  voktools register
  voktools reg query 'HKCR\VOKTools.clsCommon\CLSID'
  voktools register --unregister --library ./libvoktools.so.3

Exit status: 0 done; 1 the store could not be read or written (the entry
point's status on standard error); 64 a usage error; 69 the library cannot
be opened or has no such entry point; 74 the report could not be written.)";

constexpr const char* kOfficeHelp =
    R"(doc2rtf converts word-processor documents (.doc, .docx, .odt, ..) to RTF,
ready for voktools rtf extract and translation; rtf2doc converts RTF files
back. The office suite does the conversion. It is found in this order: the
instance you run already (it is used and left running), else a new
instance (quit after the file), else one opened by the file itself. Several
files run as one batch on one instance, quit after the last file.

Names: doc2rtf writes DOC's folder and name with _doc.rtf (report.doc:
report_doc.rtf); rtf2doc writes RTF's folder and name, without a final _doc
in any case, with .doc (report_doc.rtf: report.doc), so that a document
comes back under its own name. --rtf and --doc name the output instead,
with a single file only. An existing output is refused (--force replaces
it; it is deleted before the office suite is asked, so a failed conversion
leaves none).

Output: per file a summary line ("DOC: converted to RTF"), or the reason
it failed on standard error; with --json one JSON object per file:
{"result":N,"errors":[..],"warnings":[..],"files":{"DOCFile":..,"RTFFile":..}}
and on failure "reason": "no-source", "no-office-suite",
"office-unreachable", "not-opened" or "not-saved". A progress bar counts the
files on standard error when it is a terminal, unless --quiet.
Without an office suite every file fails with result 1 and says which
package to install (libreoffice-writer).
Results: 0 converted; 1 not converted (the reason follows); 73 refused, the
output exists or is the input itself.
Exit status: 0 when every file was converted, otherwise the largest result;
64 for a usage error, 70 for an unexpected failure, 74 when the report
could not be written.)";

constexpr const char* kAddinHelp =
    R"(ppt2xml and xls2xml export the text of presentations (.ppt, .pptx, .odp)
and workbooks (.xls, .xlsx, .ods) to an XLIFF 1.2 file for translation tools;
xml2ppt and xml2xls import the translated file back into the document, in
place, keeping its layout and formatting. The office suite's add-in macros
(quon.ppt and quon.xls beside the voktools library, with their module
quon.py) do the work; several documents run on one connection to the suite.

Names: the XML file is the document's folder and name with _ and its
extension and .xml (deck.ppt: deck_ppt.xml; book.xlsx: book_xlsx.xml);
--xml names another one, with a single document only (it is moved there
after an export, and copied to the document's own name for an import).
An existing XML file is refused on export (--force replaces it). A
read-only document is refused on import.

XLIFF: one trans-unit per paragraph of every shape, table cell and speaker
note of every slide, or per text cell, sheet name and cell comment, with
resname saying where ("slide 3/shape 2/paragraph 1", "sheet 1/cell B3");
bold, italics and other runs inside a paragraph are <g id="n"> elements,
line breaks <x ctype="lb"/>. Import takes each target (the source when
there is none); a unit whose place is gone or whose text there changed since
the export is not placed, and the import fails naming it (the others are).

Output: per document a summary line, or the reason on standard error; with
--json one JSON object per document: {"result":N,"errors":[..],
"files":{"PPTFile":..,"XMLFile":..}}. A progress bar counts the documents on
standard error when it is a terminal, unless --quiet.
Results: 0 done; 1 not done (the reason follows); 73 refused.
Exit status: 0 when every document was done, otherwise the largest result;
64 for a usage error, 74 when the report could not be written.)";

constexpr const char* kOfficeInstanceHelp =
    R"(The office instance: one LibreOffice instance that stays running for this
user, so that conversions attach to it instead of starting their own.

  voktools office start     starts it (nothing to do when it runs)
  voktools office status    describes it; exit status 3 when none runs
  voktools office stop      ends it and removes its folder

It lives in voktools-office-UID in $XDG_RUNTIME_DIR (else $TMPDIR or /tmp)
until stopped or until the machine restarts. Every request to it must be
answered within VOKTOOLS_OFFICE_TIMEOUT seconds (default 120).
Exit status: 0, 1 when LibreOffice is missing or the instance could not be
started or stopped (the reason on standard error), 3 (status) not running.)";

constexpr const char* kUncHelp =
    R"(Drive letters come from the drive map, section [Drives] of the library's
INI file ($VOKTOOLS_WINDIR/VOK Tools.ini, else
${XDG_CONFIG_HOME:-~/.config}/voktools/VOK Tools.ini):
  [Drives]
  Z=/mnt/projects        a folder here; its mount names the server
  Y=\\fileserver\team    a share that is not mounted here
A folder on a mount of type cifs, smb3, nfs or nfs4 has the network name of
that mount: //server/share (SMB) or server:/export (NFS) as \\server\share,
then the rest of the path with '\'. --use-share resolves a path that is not
on such a mount through the folders this machine shares with Samba
(smb.conf and user shares): \\THIS-MACHINE\share\rest. A path without a
drive letter, other than an absolute one, is printed as given.
--reverse turns \\server\share\rest (or //server/share/rest) into the local
path where that share is mounted here.

Examples:
  voktools unc 'Z:\manuals\a.mif'              \\fileserver\projects\manuals\a.mif
  voktools unc /mnt/projects/a.mif             \\fileserver\projects\a.mif
  voktools unc --reverse '\\fileserver\projects\a.mif'   /mnt/projects/a.mif
  voktools unc --json 'Z:\a.mif'
    {"path":"Z:\\a.mif","name":"\\\\fileserver\\projects\\a.mif","network":true}

Output: one line per PATH, the name found or, when there is none, PATH as
given with the reason on standard error; with --json one JSON object per
PATH and line: {"path":..,"name":..,"network":true|false,"reason":..}
(--reverse: {"path":..,"local":..|null,"reason":..}).
Exit status: 0 every PATH was resolved; 1 a PATH has no network form
(--reverse: is mounted nowhere here); 64 usage error.)";

constexpr const char* kRegQueryHelp =
    R"(Shows the key's values, one per line ("    NAME    TYPE    DATA",
(Default) for the value without a name), then the full names of its
subkeys; --recursive shows every key below it the same way instead. Data
as registry editors show it: texts up to their NUL, REG_MULTI_SZ strings
joined by \0, REG_DWORD as 0x%08x, anything else as hex bytes.
--json prints one JSON object per key and line:
{"key":..,"values":[{"name":..,"type":"REG_SZ","type_number":1,"data":..,
"hex":".."}],"subkeys":[..]}; texts are JSON strings, or {"hex":".."} when
they are not UTF-8; "hex" holds every byte of the data.
Example: voktools reg query 'HKLM\Software\Example' --value Version --json)";

constexpr const char* kRegAddHelp =
    R"(Creates the key (and any key above it); with --value NAME, or --default
for the value without a name, also sets that value. Data by type:
  REG_SZ, REG_EXPAND_SZ  the text (stored with its terminating NUL)
  REG_MULTI_SZ           strings separated by --separator (default \0)
  REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_QWORD
                         a decimal or 0x-hex number (0 when --data is missing)
  REG_BINARY, REG_NONE   hex digits, two per byte
An existing value is not replaced unless --force is given (exit 73).
Example: voktools reg add 'HKCU\Software\Example' --value Count --type REG_DWORD --data 42)";

constexpr const char* kRegDeleteHelp =
    R"(Deletes the value named by --value (--default: the value without a
name), or without either the key with all its subkeys and values. A key or
value that does not exist is an error (exit 1); a root cannot be deleted.
Example: voktools reg delete 'HKCU\Software\Example\Old')";

constexpr const char* kRegFileHelp =
    R"(Registry files are the text files of registry editors. export writes
the key and every key below it, in the store's order, as a "Windows
Registry Editor Version 5.00" file with CR LF line ends: [KEY] lines,
"name"="text" (\\ and \" escaped) and @= for the default value, dword:
for REG_DWORD, hex: for REG_BINARY and hex(N): for every other type, long
hex data wrapped with ,\ at about 80 columns. Texts are written as the bytes
the store holds (UTF-8 as a rule), not in UTF-16. FILE - writes to standard
output; an existing FILE is replaced only with --force.
import reads that format and "REGEDIT4" files: comments (; or #), blank
lines, hex data continued with \, [-KEY] to delete a key with everything
below it, "name"=- to delete a value, CR LF or LF line ends, a UTF-8 byte
order mark, and UTF-16 files with a byte order mark (turned into UTF-8).
Data in hex(N): is stored as the bytes given. The whole file is applied at
once or not at all; FILE - reads standard input.
Examples: voktools reg export 'HKCU\Software\Example' example.reg
          voktools reg import example.reg)";

constexpr const char* kLanguagesHelp =
    R"help(The languages the translation workflows pick from, each with the code page
of its texts: INDEX, CODE (the language code, e.g. FR-CA), CODEPAGE (the
number of its code page), ENTRY (the index of that code page in voktools
codepages, -1 when it has none) and DESCRIPTION. --code shows the one
language with that code (ASCII case ignored).
With --json one JSON object per language and line:
{"index":55,"code":"FR-CA","description":"French (Canada)","codepage":1252,
"codepage_index":42}.
Examples: voktools languages
          voktools languages --code fr-ca
          voktools languages --json | grep '"codepage":1250'
Exit status: 0; 1 when no language has the code given; 64 for a usage
error.)help";

constexpr const char* kCodePagesHelp =
    R"help(The code pages (character encodings): INDEX, NUMBER, CODE (the character
set's name) and DESCRIPTION; with --json one JSON object per code page and
line: {"index":42,"number":1252,"code":"windows-1252","description":"Latin 1 -
Windows"}.
--check FILE --codepage N tells whether every byte of FILE is valid in code
page N (one of the list), decoding it with the system's iconv: "FILE: valid
in code page N (CODE), B bytes", or the first byte that is not, with its
offset from 0 and its line and column (counted in characters from 1), also
when a multi-byte sequence is cut off by the end of the file. With --json one
JSON object: {"file":..,"codepage":N,"code":..,"charset":..,"valid":false,
"bytes":B,"offset":..,"byte":..,"line":..,"column":..,"cut_off":false};
"charset" is the name iconv knew the code page by. The file is read in
chunks, whatever its size. A folder, a FIFO or a device is not checked.
Examples: voktools codepages
          voktools codepages --check letter.txt --codepage 1252
          voktools codepages --check menu.txt --codepage 932 --json
Exit status: 0 when the file is valid (or for the list); 1 when it is not,
when it cannot be read, or when the code page is not in the list or iconv
cannot convert it here; 64 for a usage error.)help";

// The commands of app, one per line with its description, for a message.
std::string CommandList(const CLI::App& app) {
  std::string list;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    std::string name = sub->get_name();
    name.resize(std::max<size_t>(name.size(), 16), ' ');
    list += "  " + name + " " + sub->get_description() + "\n";
  }
  if (app.get_parent() == nullptr) list += "  help [COMMAND]   Prints the help of a command\n";
  return list;
}

// What is wrong with the command words, if they name no command: an
// unknown word or option where a command must stand, or none at all.
std::optional<std::string> UnknownCommand(const CLI::App& app, const std::vector<std::string>& words) {
  const CLI::App* level = &app;
  std::string path;
  for (const std::string& word : words) {
    if (level->get_subcommands([](const CLI::App*) { return true; }).empty()) return std::nullopt;
    if (word == "--help" || word == "-h") return std::nullopt;
    const CLI::App* next = nullptr;
    for (const CLI::App* sub : level->get_subcommands([](const CLI::App*) { return true; })) {
      if (sub->get_name() == word) next = sub;
    }
    if (next == nullptr) {
      const std::string what = word.starts_with("-") ? "unknown option '" : "unknown command '";
      return what + word + "'" + (path.empty() ? "" : " for '" + path + "'") +
             "; the commands are:\n" + CommandList(*level);
    }
    level = next;
    path += (path.empty() ? "" : " ") + word;
  }
  if (level->get_subcommands([](const CLI::App*) { return true; }).empty()) return std::nullopt;
  return (path.empty() ? std::string("a command is needed") : "'" + path + "' needs a command") +
         "; the commands are:\n" + CommandList(*level);
}

// The report flags of a command: --json (what one JSON object covers),
// --strict where warnings can fail a run, -q.
void AddReportFlags(CLI::App* sub, vok::cli::ReportOptions& options, const char* json_unit,
                    bool strict = true) {
  sub->add_flag("--json", options.json, std::string("One JSON object ") + json_unit);
  if (strict) {
    sub->add_flag("--strict", options.strict, "Exit with status 65 when there were warnings");
  }
  sub->add_flag("-q,--quiet", options.quiet, "No progress bar");
}

int Run(int argc, char** argv) {
  CLI::App app{"Prepares documents for translation.", "voktools"};
  app.set_version_flag("--version", std::string("voktools ") + vok::kVersion);
  app.require_subcommand(1);
  app.footer(kExitHelp);

  CLI::App* invoke = app.add_subcommand(
      "invoke", "Automation host: creates objects and calls their members as JSON Lines say");
  invoke->footer(kInvokeHelp);
  bool invoke_registered = false;
  invoke->add_flag("--registered", invoke_registered,
                   "Create objects from the library registered for their class in the "
                   "registry store (see 'voktools register'), as a host that knows only "
                   "class ids does");

  vok::cli::LinesOptions lines_options;
  vok::cli::ReportOptions report_options;
  CLI::App* lines = app.add_subcommand(
      "lines", "Reads files line by line; reports line ends and copies them with --out");
  lines->add_option("FILE", lines_options.files, "Files to read")->required();
  lines->add_option("--out", lines_options.out_dir, "Copy each file, line by line, into DIR")
      ->type_name("DIR")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  lines->add_option("--chunk", lines_options.chunk, "Bytes read at a time (at least 1)")
      ->type_name("N")
      ->check(CLI::Range(1, std::numeric_limits<int32_t>::max()).description(""))
      ->capture_default_str();
  AddReportFlags(lines, report_options, "per file and line (JSON Lines)", false);
  lines->footer(kReportHelp);

  vok::cli::RtfOptions rtf_options;
  CLI::App* rtf = app.add_subcommand(
      "rtf", "Moves the objects and pictures of RTF files into object files and back");
  rtf->require_subcommand(1);
  rtf->footer(kRtfHelp);
  CLI::App* rtf_extract = rtf->add_subcommand(
      "extract", "Moves the objects and pictures into the object file, leaving placeholders");
  CLI::App* rtf_insert = rtf->add_subcommand(
      "insert", "Puts the objects and pictures back in place of the placeholders");
  for (CLI::App* sub : {rtf_extract, rtf_insert}) {
    sub->add_option("FILE", rtf_options.files, "RTF files, processed in order")->required();
    sub->add_option("--obj", rtf_options.obj_file,
                    "Object file, with one FILE only (default: FILE's name with .obj)")
        ->type_name("OBJFILE");
    AddReportFlags(sub, report_options, "per file and line (JSON Lines)");
    sub->footer(kRtfHelp);
  }
  rtf_extract->add_flag("--force", rtf_options.force,
                        "Replace an existing object file (never one of a MIF file)");

  vok::cli::AspOptions asp_options;
  CLI::App* asp2html =
      app.add_subcommand("asp2html",
                         "Moves the server blocks and scripts of pages into script files, leaving "
                         "placeholders");
  asp2html->add_option("PAGE", asp_options.files, "Server pages, processed in order")->required();
  asp2html
      ->add_option("--htm", asp_options.htm_file,
                   "HTML file, with one PAGE only (default: default.asp gives default_asp.htm)")
      ->type_name("FILE");
  asp2html
      ->add_option("--scr", asp_options.scr_file,
                   "Script file, with one PAGE only (default: default.asp gives default_asp.scr)")
      ->type_name("FILE");
  asp2html->add_flag("--force", asp_options.force, "Replace existing HTML and script files");
  CLI::App* html2asp = app.add_subcommand(
      "html2asp", "Puts the blocks of the script files back in place of the placeholders");
  html2asp->add_option("HTMFILE", asp_options.files, "HTML files, processed in order")->required();
  html2asp
      ->add_option("--asp", asp_options.asp_file,
                   "Page, with one HTMFILE only (default: default_asp.htm gives default.asp)")
      ->type_name("FILE");
  html2asp
      ->add_option("--scr", asp_options.scr_file,
                   "Script file, with one HTMFILE only (default: default_asp.htm gives "
                   "default_asp.scr)")
      ->type_name("FILE");
  for (CLI::App* sub : {asp2html, html2asp}) {
    AddReportFlags(sub, report_options, "per file and line (JSON Lines)");
    sub->footer(kAspHelp);
  }

  vok::cli::MifOptions mif_options;
  CLI::App* mif = app.add_subcommand(
      "mif", "Collects and merges the texts of MIF files that translation tools miss; moves insets");
  mif->require_subcommand(1);
  mif->footer(kMifHelp);
  CLI::App* mif_extract = mif->add_subcommand(
      "extract", "Collects index, cross-reference and variable texts into three batch files");
  CLI::App* mif_merge =
      mif->add_subcommand("merge", "Writes the translated batch files back into the MIF files");
  CLI::App* mif_remove = mif->add_subcommand(
      "remove-objects", "Moves the insets into the object file, leaving placeholders");
  CLI::App* mif_insert = mif->add_subcommand(
      "insert-objects", "Puts the insets back in place of the placeholders");
  for (CLI::App* sub : {mif_extract, mif_merge, mif_remove, mif_insert}) {
    sub->add_option("MIF", mif_options.files, "MIF files, processed in order")->required();
    AddReportFlags(sub, report_options, "for the whole run");
    sub->footer(kMifHelp);
  }
  for (CLI::App* sub : {mif_extract, mif_merge}) {
    sub->add_option("--index", mif_options.index_file, "Index batch file (default QUON_ix.mif)")
        ->type_name("FILE");
    sub->add_option("--xref", mif_options.xref_file,
                    "Cross-reference batch file (default QUON_xr.mif)")
        ->type_name("FILE");
    sub->add_option("--var", mif_options.var_file, "Variable batch file (default QUON_va.mif)")
        ->type_name("FILE");
  }
  mif_extract->add_flag("--force", mif_options.force, "Replace existing batch files");
  mif_remove->add_flag("--force", mif_options.force,
                       "Replace an existing object file (never one of an RTF file)");
  mif_extract
      ->add_option("--split", mif_options.split,
                   "Index texts: 0 whole, 1 cut at ';', 2 cut at ';' and ':' (default 0)")
      ->type_name("N")
      ->check(CLI::Range(-9, 9).description(""));
  for (CLI::App* sub : {mif_remove, mif_insert}) {
    sub->add_option("--obj", mif_options.obj_file,
                    "Object file, with one MIF only (default: the MIF name with .obj)")
        ->type_name("OBJFILE");
  }

  vok::cli::ValidateOptions validate_options;
  CLI::App* validate = app.add_subcommand(
      "validate", "Repairs HTML pages in place for translation tools and reports each repair");
  validate->add_option("PAGE", validate_options.files, "HTML pages, processed in order")
      ->required();
  validate->add_flag("--backup", validate_options.backup, "Keep the page as it was in PAGE.bak");
  validate->add_option("--tags", validate_options.tags, "The recognised tags, NAME|FLAG,...")
      ->type_name("LIST");
  validate->add_flag("--dry-run", validate_options.dry_run,
                     "Validate a copy: print the report, leave the page alone");
  validate->add_flag("--diff", validate_options.diff,
                     "Print the changes as a unified diff (with --dry-run: those a run would make)");
  validate->add_flag("--keep-script-text", validate_options.keep_script_text,
                     "Leave the content of SCRIPT and STYLE elements as it is");
  validate->add_flag("--edit-tags", validate_options.edit_tags,
                     "Edit the table in the options dialog before validating");
  AddReportFlags(validate, report_options, "per page and line (JSON Lines)");
  validate->footer(kValidateHelp);
  CLI::App* tags = app.add_subcommand("tags", "Prints the table of recognised tags; --edit edits it");
  std::optional<std::string> tags_table;
  bool tags_edit = false;
  tags->add_option("--tags", tags_table, "The table to start from, NAME|FLAG,...")
      ->type_name("LIST");
  tags->add_flag("--edit", tags_edit, "Edit the table in the options dialog, then print it");
  tags->footer(kTagsHelp);

  vok::cli::RegOptions reg_options;
  std::string reg_value, reg_data;
  bool reg_default = false;
  CLI::App* reg = app.add_subcommand(
      "reg", "Shows and changes the registry store; exports and imports registry files");
  reg->require_subcommand(1);
  reg->footer(kRegHelp);
  CLI::App* reg_query = reg->add_subcommand("query", "Shows a key's values and subkeys");
  CLI::App* reg_add = reg->add_subcommand(
      "add", "Creates a key, and sets a value with --value or --default");
  CLI::App* reg_delete =
      reg->add_subcommand("delete", "Deletes a value, or a key with everything below it");
  CLI::App* reg_export = reg->add_subcommand(
      "export", "Writes a key and everything below it into a registry file");
  CLI::App* reg_import =
      reg->add_subcommand("import", "Applies a registry file to the store, all or nothing");
  for (CLI::App* sub : {reg_query, reg_add, reg_delete, reg_export}) {
    sub->add_option("KEY", reg_options.key, "The key, e.g. HKLM\\Software\\Example")->required();
  }
  for (CLI::App* sub : {reg_query, reg_add, reg_delete}) {
    CLI::Option* value =
        sub->add_option("--value", reg_value, "The value's name")->type_name("NAME");
    sub->add_flag("--default", reg_default, "The value without a name, (Default)")
        ->excludes(value);
  }
  reg_query->add_flag("-s,--recursive", reg_options.recursive, "Every key below it too");
  reg_query->add_flag("--json", reg_options.json, "One JSON object per key and line");
  reg_query->footer(kRegQueryHelp);
  reg_add->add_option("--type", reg_options.type, "The value's type (default REG_SZ)")
      ->type_name("TYPE");
  reg_add->add_option("--data", reg_data, "The value's data")->type_name("DATA");
  reg_add->add_option("--separator", reg_options.separator,
                      "Between the strings of a REG_MULTI_SZ (default \\0)")
      ->type_name("SEP");
  reg_add->add_flag("--force", reg_options.force, "Replace an existing value");
  reg_add->footer(kRegAddHelp);
  reg_delete->footer(kRegDeleteHelp);
  reg_export->add_option("FILE", reg_options.file, "The registry file; - for standard output")
      ->required();
  reg_export->add_flag("--force", reg_options.force, "Replace an existing FILE");
  reg_import->add_option("FILE", reg_options.file, "The registry file; - for standard input")
      ->required();
  for (CLI::App* sub : {reg_export, reg_import}) sub->footer(kRegFileHelp);

  vok::cli::RegisterOptions register_options;
  CLI::App* register_library = app.add_subcommand(
      "register",
      "Registers the library's classes in the registry store; --unregister removes them");
  register_library->add_flag("--unregister", register_options.unregister,
                             "Remove the registration instead");
  register_library
      ->add_option("--library", register_options.library,
                   "The library file (default: the one installed with this command)")
      ->type_name("PATH");
  register_library->add_flag("--json", register_options.json, "One JSON object");
  register_library->add_flag("-q,--quiet", register_options.quiet, "Print only errors");
  register_library->footer(kRegisterHelp);

  vok::cli::LanguagesOptions languages_options;
  CLI::App* languages = app.add_subcommand(
      "languages", "Lists the languages with the code page of each");
  languages->add_option("--code", languages_options.code, "Only the language with this code")
      ->type_name("CODE");
  languages->add_flag("--json", languages_options.json, "One JSON object per language and line");
  languages->footer(kLanguagesHelp);
  vok::cli::CodePagesOptions codepages_options;
  CLI::App* codepages = app.add_subcommand(
      "codepages", "Lists the code pages; checks a file's bytes against one with --check");
  CLI::Option* check = codepages
      ->add_option("--check", codepages_options.check_file,
                   "Tells whether FILE's bytes are valid in the code page --codepage names")
      ->type_name("FILE");
  codepages
      ->add_option("--codepage", codepages_options.codepage, "The code page's number, with --check")
      ->type_name("N")
      ->needs(check);
  check->needs("--codepage");
  codepages->add_flag("--json", codepages_options.json, "One JSON object per code page and line");
  codepages->footer(kCodePagesHelp);
  vok::cli::OfficeOptions office_options;
  CLI::App* doc2rtf = app.add_subcommand(
      "doc2rtf", "Converts word-processor documents to RTF through the office suite");
  doc2rtf->add_option("DOC", office_options.files, "Documents, converted in order")->required();
  doc2rtf->add_option("--rtf", office_options.target, "The RTF file, with a single DOC only")
      ->type_name("FILE");
  CLI::App* rtf2doc = app.add_subcommand(
      "rtf2doc", "Converts RTF files back to word-processor documents through the office suite");
  rtf2doc->add_option("RTF", office_options.files, "RTF files, converted in order")->required();
  rtf2doc->add_option("--doc", office_options.target, "The document, with a single RTF only")
      ->type_name("FILE");
  for (CLI::App* sub : {doc2rtf, rtf2doc}) {
    sub->add_flag("--force", office_options.force, "Replace an existing output");
    AddReportFlags(sub, report_options, "per file and line (JSON Lines)");
    sub->footer(kOfficeHelp);
  }
  vok::cli::AddinOptions addin_options;
  const std::pair<const char*, const char*> addin_commands[] = {
      {"ppt2xml", "Exports the text of presentations to XLIFF files for translation"},
      {"xml2ppt", "Imports translated XLIFF files back into their presentations"},
      {"xls2xml", "Exports the text of workbooks to XLIFF files for translation"},
      {"xml2xls", "Imports translated XLIFF files back into their workbooks"},
  };
  std::vector<CLI::App*> addin_subs;
  for (const auto& [name, description] : addin_commands) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->add_option("DOCUMENT", addin_options.files,
                    "Presentations or workbooks, converted in order")
        ->required();
    sub->add_option("--xml", addin_options.xml, "The XML file, with a single DOCUMENT only")
        ->type_name("FILE");
    sub->add_flag("--force", addin_options.force, "Replace an existing XML file");
    AddReportFlags(sub, report_options, "per document and line (JSON Lines)");
    sub->footer(kAddinHelp);
    addin_subs.push_back(sub);
  }
  vok::cli::UncOptions unc_options;
  CLI::App* unc = app.add_subcommand(
      "unc", "Prints the network (UNC) name of paths, or with --reverse their local path");
  unc->add_option("PATH", unc_options.paths,
                  "Paths (Z:\\dir\\file, /mnt/share/file; with --reverse \\\\server\\share\\file)")
      ->required();
  unc->add_flag("--use-share", unc_options.use_share,
                "Resolve a local path through the folders this machine shares");
  unc->add_flag("--json", unc_options.json, "One JSON object per path and line");
  unc->add_flag("--reverse", unc_options.reverse,
                "The local path where a network name is mounted here")
      ->excludes("--use-share");
  unc->footer(kUncHelp);

  // The long-lived office instance.
  vok::cli::OfficeInstanceOptions instance_options;
  CLI::App* office = app.add_subcommand(
      "office", "Starts, stops or describes the office instance that conversions attach to");
  office->add_option("ACTION", instance_options.action, "start, stop or status")
      ->required()
      ->check(CLI::IsMember({"start", "stop", "status"}));
  office->add_flag("--json", instance_options.json, "One JSON object");
  office->footer(kOfficeInstanceHelp);

  // The words after the program's name, as the user would correct them:
  // "help [COMMAND...]" is COMMAND... --help, --version works anywhere, and
  // a word that names no command is said to be one.
  std::vector<std::string> words(argv + 1, argv + argc);
  const auto end_of_options = std::find(words.begin(), words.end(), "--");
  if (std::find(words.begin(), end_of_options, "--version") != end_of_options) {
    std::cout << "voktools " << vok::kVersion << '\n';
    return vok::cli::FlushReport(std::cout) ? 0 : vok::cli::kExitIoErr;
  }
  if (!words.empty() && words[0] == "help") {
    words.erase(words.begin());
    words.push_back("--help");
  }
  if (std::optional<std::string> wrong = UnknownCommand(app, words)) {
    std::cerr << "voktools: " << *wrong << "\nRun 'voktools help' for more.\n";
    return vok::cli::kExitUsage;
  }
  std::vector<char*> args{argv[0]};
  for (std::string& w : words) args.push_back(w.data());

  try {
    app.parse(static_cast<int>(args.size()), args.data());
    if (*rtf && !rtf_options.obj_file.empty() && rtf_options.files.size() != 1) {
      throw CLI::ValidationError("--obj", "only with exactly one FILE");
    }
    if ((*asp2html || *html2asp) && asp_options.files.size() != 1) {
      const CLI::App* sub = *asp2html ? asp2html : html2asp;
      for (const char* name : {"--htm", "--asp", "--scr"}) {
        const CLI::Option* option = sub->get_option_no_throw(name);
        if (option != nullptr && option->count() > 0) {
          throw CLI::ValidationError(name, "only with exactly one file");
        }
      }
    }
    if ((*doc2rtf || *rtf2doc) && !office_options.target.empty() &&
        office_options.files.size() != 1) {
      throw CLI::ValidationError(*doc2rtf ? "--rtf" : "--doc", "only with exactly one file");
    }
    for (CLI::App* sub : addin_subs) {
      if (*sub && !addin_options.xml.empty() && addin_options.files.size() != 1) {
        throw CLI::ValidationError("--xml", "only with exactly one document");
      }
    }
    if ((*mif_remove || *mif_insert) && !mif_options.obj_file.empty() &&
        mif_options.files.size() != 1) {
      throw CLI::ValidationError("--obj", "only with exactly one MIF file");
    }
    if (*reg_add && reg_add->count("--value") + reg_add->count("--default") == 0) {
      for (const char* name : {"--type", "--data", "--separator"}) {
        if (reg_add->count(name) > 0) {
          throw CLI::ValidationError(name, "only with --value or --default");
        }
      }
    }
  } catch (const CLI::ParseError& e) {
    // Help and version exit with 0; every parse failure is a usage error.
    const int status = app.exit(e) == 0 ? 0 : vok::cli::kExitUsage;
    vok::cli::FlushReport(std::cout);  // while errno still tells why it failed
    return status;
  }

  if (*invoke) {
    vok::cli::InvokeHost::Factory factory;
    if (invoke_registered) {
      factory = [](std::string_view name) {
        return vok::cli::CreateRegisteredObject(*vok::CurrentEnv().registry, name);
      };
    }
    vok::cli::InvokeHost host(std::cin, std::cout, std::move(factory));
    host.Run();
    return 0;
  }
#ifdef VOK_WITH_QT
  // Real windows where there is a display; the automation host stays
  // headless, its message boxes being event lines for the script.
  vok::UseQtWindowing();
#endif
  if (*languages) return vok::cli::RunLanguages(languages_options, std::cout, std::cerr);
  if (*codepages) return vok::cli::RunCodePages(codepages_options, std::cout, std::cerr);
  vok::cli::Reporter reporter(report_options, std::cout, std::cerr, vok::cli::StderrIsTerminal());
  vok::SetWarningSink([&reporter](const std::string& text) { reporter.Warn(text); });
  // Runs that read and rewrite files in the same folders take turns, from
  // their checks to their last replacement.
  std::vector<std::string> touched;
  auto touch = [&touched](const std::vector<std::string>& files,
                          std::initializer_list<std::string> outputs) {
    touched.insert(touched.end(), files.begin(), files.end());
    touched.insert(touched.end(), outputs.begin(), outputs.end());
  };
  if (*rtf) touch(rtf_options.files, {rtf_options.obj_file});
  if (*doc2rtf || *rtf2doc) touch(office_options.files, {office_options.target});
  for (CLI::App* sub : addin_subs) {
    if (*sub) touch(addin_options.files, {addin_options.xml});
  }
  if (*asp2html || *html2asp) {
    touch(asp_options.files, {asp_options.htm_file, asp_options.asp_file, asp_options.scr_file});
  }
  if (*mif) {
    touch(mif_options.files, {mif_options.obj_file, mif_options.index_file,
                              mif_options.xref_file, mif_options.var_file});
  }
  if (*validate && !validate_options.dry_run) touch(validate_options.files, {});
  if (*lines && !lines_options.out_dir.empty()) touch({}, {lines_options.out_dir + "/"});
  if (*reg_export && reg_options.file != "-") touch({}, {reg_options.file});
  vok::cli::FolderLocks locks;
  locks.Acquire(touched, std::cerr);
  if (*reg) {
    for (CLI::App* sub : {reg_query, reg_add, reg_delete}) {
      if (sub->count("--value") > 0) reg_options.value = reg_value;
    }
    if (reg_default) reg_options.value = "";
    if (reg_add->count("--data") > 0) reg_options.data = reg_data;
    vok::Registry& registry = *vok::CurrentEnv().registry;
    if (*reg_query) return vok::cli::RunRegQuery(reg_options, registry, std::cout, std::cerr);
    if (*reg_add) return vok::cli::RunRegAdd(reg_options, registry, std::cout, std::cerr);
    if (*reg_delete) return vok::cli::RunRegDelete(reg_options, registry, std::cout, std::cerr);
    if (*reg_export) return vok::cli::RunRegExport(reg_options, registry, std::cout, std::cerr);
    return vok::cli::RunRegImport(reg_options, registry, std::cin, std::cout, std::cerr);
  }
  if (*register_library) return vok::cli::RunRegister(register_options, std::cout, std::cerr);
  if (*unc) return vok::cli::RunUnc(unc_options, std::cout, std::cerr);
  if (*office) {
    vok::LibreOfficeAutomation automation(vok::OfficeSettings::FromEnvironment());
    return vok::cli::RunOfficeInstance(instance_options, automation, std::cout, std::cerr);
  }
  if (*rtf_extract) return vok::cli::RunRtfExtract(rtf_options, reporter);
  if (*rtf_insert) return vok::cli::RunRtfInsert(rtf_options, reporter);
  constexpr vok::cli::AddinOperation kAddinOperations[] = {
      vok::cli::AddinOperation::kPptToXml, vok::cli::AddinOperation::kXmlToPpt,
      vok::cli::AddinOperation::kXlsToXml, vok::cli::AddinOperation::kXmlToXls};
  for (size_t i = 0; i < addin_subs.size(); ++i) {
    if (*addin_subs[i]) {
      return vok::cli::RunAddinConversion(kAddinOperations[i], addin_options, reporter);
    }
  }
  if (*doc2rtf) return vok::cli::RunDoc2Rtf(office_options, reporter);
  if (*rtf2doc) return vok::cli::RunRtf2Doc(office_options, reporter);
  if (*tags) return vok::cli::RunTags(tags_table, tags_edit, std::cout, std::cerr);
  if (*validate) {
    validate_options.json = report_options.json;
    return vok::cli::RunValidate(validate_options, reporter, std::cout, std::cerr);
  }
  if (*mif_extract) return vok::cli::RunMifExtract(mif_options, reporter);
  if (*mif_merge) return vok::cli::RunMifMerge(mif_options, reporter);
  if (*mif_remove) return vok::cli::RunMifRemoveObjects(mif_options, reporter);
  if (*mif_insert) return vok::cli::RunMifInsertObjects(mif_options, reporter);
  if (*asp2html) return vok::cli::RunAsp2Html(asp_options, reporter);
  if (*html2asp) return vok::cli::RunHtml2Asp(asp_options, reporter);
  return vok::cli::RunLines(lines_options, reporter);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  int status = vok::cli::kExitSoftware;
  try {
    status = Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "voktools: unexpected failure: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "voktools: unexpected failure\n";
  }
  // Whatever was done, a report nobody can read is a failure of its own.
  if (!vok::cli::FlushReport(std::cout)) {
    std::cerr << "voktools: cannot write the report: " << vok::cli::ReportWriteFailure() << '\n';
    return vok::cli::kExitIoErr;
  }
  return status;
}
