// The library's message catalogue.
#pragma once

#include <cstdint>
#include <string_view>

#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

// The catalogue's messages; the numbers are the catalogue's resource ids.
enum class MessageId : int32_t {
  kAspNoInputFile = 3000,
  kUnableToOpenFile = 3001,
  kHtmlNoInputFile = 3002,
  kErrorCopying = 3003,
  kErrorDeleting = 3004,
  kUnsettingReadOnly = 3005,
  kValidating = 3006,
  kErrorBackingUp = 3007,
  kTerminatingComment = 3008,
  kTerminatingUnfinishedTags = 3009,
  kTagWithinTag = 3010,
  kEscapingGreaterThan = 3011,
  kEscapingLessThan = 3012,
  kValidationSummary = 3013,
  kErrorAtPosition = 3014,
  kInformationAtPosition = 3015,
  kIgnoringEmptyTag = 3016,
  kTerminatingPreviousTag = 3017,
  kOverlappingTags = 3018,
  kIgnoringUnnecessaryEndTag = 3019,
  kIndexFileNotSpecified = 3020,
  kCannotOpenIndexFile = 3021,
  kXrefFileNotSpecified = 3022,
  kCannotOpenXrefFile = 3023,
  kVarFileNotSpecified = 3024,
  kCannotOpenVarFile = 3025,
  kNoMifFile = 3026,
  kMifFileNotFound = 3027,
  kCannotOpenMifFile = 3028,
  kObjFileNotFound = 3029,
  kCannotOpenObjFile = 3030,
  kCannotCreateTempFile = 3031,
  kCannotDeletePreviousObjFile = 3032,
  kTooManyIndexes = 3033,
  kTooManyXrefs = 3034,
  kTooManyVariables = 3035,
  kCannotOpenTranslatedIndex = 3036,
  kCannotOpenTranslatedXref = 3037,
  kCannotOpenTranslatedVars = 3038,
  kLessThanClosedByLessThan = 3039,
  kOptionsCaption = 4000,
  kRecognizedTagsCaption = 4001,
  kAddCaption = 4002,
  kRemoveCaption = 4003,
  kClearCaption = 4004,
  kOverlapCaption = 4005,
  kOkCaption = 4006,
  kCancelCaption = 4007,
};

// The catalogue's two lists, one entry per id from the first on, each entry
// one text with its fields separated by TAB: languages (Description, Code,
// locale code, code-page number, on some a three-letter abbreviation) and
// code pages (Description, Number, Code).
inline constexpr int32_t kLanguageListFirst = 1000;
inline constexpr int32_t kLanguageListSize = 147;
inline constexpr int32_t kCodePageListFirst = 2000;
inline constexpr int32_t kCodePageListSize = 56;

// The text of a message or list entry; AutomationError 326 for an id the
// catalogue lacks.
std::string_view Message(MessageId id);
std::string_view Message(int32_t id);

VOK_PUBLIC_END

}  // namespace vok
