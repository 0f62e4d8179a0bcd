// What a script needs to call the classes without reading their sources: the
// member table of a class as JSON (the invoke host's "describe" request) and
// as the Markdown reference at the end of cli/INVOKE.md. Both come from the
// table that late-bound calls go through (Dispatch::TypeInfo).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_text.h"
#include "voktools/dispatch.h"

namespace vok::cli {

// "method", "get", "get/let" or "let/get".
std::string_view KindName(MemberKind kind);

// {"class":"clsCommon","progid":..,"clsid":..,"events":[..],"members":[..]};
// "clsid" only for a class of the class table.
Json DescribeClass(const Dispatch& object);

// {"classes":[{"class":..,"progid":..,"clsid":..,"available":true},..]}: the
// class table in its order, then the host's Collection.
Json ListClasses();

// The Markdown reference of every class, from the marker line on.
std::string ReferenceMarkdown();

// The line of cli/INVOKE.md after which the reference is generated.
inline constexpr std::string_view kReferenceMarker =
    "<!-- Generated from the class table; do not edit below this line. Regenerate it with "
    "`cmake --build build/release --target invoke_reference`. -->";

// document with everything from its marker line on replaced by the current
// reference; nothing when it has no marker line.
std::optional<std::string> WithCurrentReference(std::string_view document);

}  // namespace vok::cli
