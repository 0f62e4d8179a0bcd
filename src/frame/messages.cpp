#include "voktools/messages.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "voktools/automation_error.h"

namespace vok {

namespace {

// Sorted by id. The language (1000-1146) and code-page (2000-2055) lists join
// this table with the class that reads them.
constexpr std::array<std::pair<int32_t, std::string_view>, 48> kMessages{{
    {3000, "ASP2HTML : No input file specified"},
    {3001, "Unable to open file : "},
    {3002, "HTML2ASP : No input file specified"},
    {3003, "Error copying to : "},
    {3004, "Error deleting : "},
    {3005, "Trying to unset read-only flag"},
    {3006, "Validate : "},
    {3007, "Error backing up : "},
    {3008, "Terminating comment"},
    {3009, "Terminating unfinished tags"},
    {3010, "Tag within tag"},
    {3011, "Changing '>' to &gt;"},
    {3012, "Changing '<' to &lt;"},
    {3013, "%1% error(s) encountered, %2% problem(s) fixed"},
    {3014, " ERROR : Line %1%, Row %2% : %3%"},
    {3015, " INFORMATION : Line %1%, Row %2% : %3%"},
    {3016, "Ignoring empty <%1%> tag"},
    {3017, "Terminating previous <%1%> tag"},
    {3018, "<%1%> ... <%2%> ... </%1%> encountered"},
    {3019, "Ignoring unnecessary </%1%> tag"},
    {3020, "Index file not specified"},
    {3021, "Unable to open index file"},
    {3022, "Cross-reference file not specified"},
    {3023, "Unable to open cross-reference file"},
    {3024, "Variables file not specified"},
    {3025, "Unable to open variables file"},
    {3026, "No MIF file specified"},
    {3027, "MIF file not found"},
    {3028, "Unable to open MIF file"},
    {3029, "Object file not found"},
    {3030, "Unable to open Object file"},
    {3031, "Unable to create temporary file"},
    {3032, "Unable to delete previous object file"},
    {3033, "Too many indexes.  Some entries will not be translated"},
    {3034, "Too many cross-references.  Some entries will not be translated"},
    {3035, "Too many variables.  Some entries will not be translated"},
    {3036, "Unable to open translated index file : "},
    {3037, "Unable to open translated cross-reference file : "},
    {3038, "Unable to open translated variables file : "},
    {3039, "< ... < changed to < ... ><"},
    {4000, "HTML Options"},
    {4001, "Recognized tags"},
    {4002, "&Add"},
    {4003, "&Remove"},
    {4004, "&Clear"},
    {4005, "&Overlap allowed"},
    {4006, "OK"},
    {4007, "Cancel"},
}};

const std::string_view* Lookup(int32_t id) {
  auto it = std::lower_bound(kMessages.begin(), kMessages.end(), id,
                             [](const auto& entry, int32_t key) { return entry.first < key; });
  if (it == kMessages.end() || it->first != id) return nullptr;
  return &it->second;
}

}  // namespace

bool HasMessage(int32_t id) { return Lookup(id) != nullptr; }

std::string_view Message(int32_t id) {
  if (const std::string_view* text = Lookup(id)) return *text;
  throw AutomationError(err::kResourceNotFound,
                        "Resource with identifier '" + std::to_string(id) + "' not found");
}

}  // namespace vok
