#include "voktools/messages.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "voktools/automation_error.h"

namespace vok {

namespace {

#include "frame/language_lists.inc"

// Sorted by id.
constexpr std::array<std::pair<MessageId, std::string_view>, 48> kMessages{{
    {MessageId::kAspNoInputFile, "ASP2HTML : No input file specified"},
    {MessageId::kUnableToOpenFile, "Unable to open file : "},
    {MessageId::kHtmlNoInputFile, "HTML2ASP : No input file specified"},
    {MessageId::kErrorCopying, "Error copying to : "},
    {MessageId::kErrorDeleting, "Error deleting : "},
    {MessageId::kUnsettingReadOnly, "Trying to unset read-only flag"},
    {MessageId::kValidating, "Validate : "},
    {MessageId::kErrorBackingUp, "Error backing up : "},
    {MessageId::kTerminatingComment, "Terminating comment"},
    {MessageId::kTerminatingUnfinishedTags, "Terminating unfinished tags"},
    {MessageId::kTagWithinTag, "Tag within tag"},
    {MessageId::kEscapingGreaterThan, "Changing '>' to &gt;"},
    {MessageId::kEscapingLessThan, "Changing '<' to &lt;"},
    {MessageId::kValidationSummary, "%1% error(s) encountered, %2% problem(s) fixed"},
    {MessageId::kErrorAtPosition, " ERROR : Line %1%, Row %2% : %3%"},
    {MessageId::kInformationAtPosition, " INFORMATION : Line %1%, Row %2% : %3%"},
    {MessageId::kIgnoringEmptyTag, "Ignoring empty <%1%> tag"},
    {MessageId::kTerminatingPreviousTag, "Terminating previous <%1%> tag"},
    {MessageId::kOverlappingTags, "<%1%> ... <%2%> ... </%1%> encountered"},
    {MessageId::kIgnoringUnnecessaryEndTag, "Ignoring unnecessary </%1%> tag"},
    {MessageId::kIndexFileNotSpecified, "Index file not specified"},
    {MessageId::kCannotOpenIndexFile, "Unable to open index file"},
    {MessageId::kXrefFileNotSpecified, "Cross-reference file not specified"},
    {MessageId::kCannotOpenXrefFile, "Unable to open cross-reference file"},
    {MessageId::kVarFileNotSpecified, "Variables file not specified"},
    {MessageId::kCannotOpenVarFile, "Unable to open variables file"},
    {MessageId::kNoMifFile, "No MIF file specified"},
    {MessageId::kMifFileNotFound, "MIF file not found"},
    {MessageId::kCannotOpenMifFile, "Unable to open MIF file"},
    {MessageId::kObjFileNotFound, "Object file not found"},
    {MessageId::kCannotOpenObjFile, "Unable to open Object file"},
    {MessageId::kCannotCreateTempFile, "Unable to create temporary file"},
    {MessageId::kCannotDeletePreviousObjFile, "Unable to delete previous object file"},
    {MessageId::kTooManyIndexes, "Too many indexes.  Some entries will not be translated"},
    {MessageId::kTooManyXrefs, "Too many cross-references.  Some entries will not be translated"},
    {MessageId::kTooManyVariables, "Too many variables.  Some entries will not be translated"},
    {MessageId::kCannotOpenTranslatedIndex, "Unable to open translated index file : "},
    {MessageId::kCannotOpenTranslatedXref, "Unable to open translated cross-reference file : "},
    {MessageId::kCannotOpenTranslatedVars, "Unable to open translated variables file : "},
    {MessageId::kLessThanClosedByLessThan, "< ... < changed to < ... ><"},
    {MessageId::kOptionsCaption, "HTML Options"},
    {MessageId::kRecognizedTagsCaption, "Recognized tags"},
    {MessageId::kAddCaption, "&Add"},
    {MessageId::kRemoveCaption, "&Remove"},
    {MessageId::kClearCaption, "&Clear"},
    {MessageId::kOverlapCaption, "&Overlap allowed"},
    {MessageId::kOkCaption, "OK"},
    {MessageId::kCancelCaption, "Cancel"},
}};

}  // namespace

std::string_view Message(MessageId id) { return Message(static_cast<int32_t>(id)); }

std::string_view Message(int32_t id) {
  if (id >= kLanguageListFirst && id < kLanguageListFirst + kLanguageListSize) {
    return kLanguageList[static_cast<size_t>(id - kLanguageListFirst)];
  }
  if (id >= kCodePageListFirst && id < kCodePageListFirst + kCodePageListSize) {
    return kCodePageList[static_cast<size_t>(id - kCodePageListFirst)];
  }
  auto it = std::lower_bound(
      kMessages.begin(), kMessages.end(), id,
      [](const auto& entry, int32_t key) { return static_cast<int32_t>(entry.first) < key; });
  if (it != kMessages.end() && static_cast<int32_t>(it->first) == id) return it->second;
  throw AutomationError(err::kResourceNotFound,
                        "Resource with identifier '" + std::to_string(id) + "' not found");
}

}  // namespace vok
