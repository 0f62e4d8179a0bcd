// Texts in JSON. A text of the library is a byte string; a JSON string is
// UTF-8. A text that is valid UTF-8 travels as a JSON string as it is; any
// other text travels as {"hex":"68ff"}, two hex digits per byte, in both
// directions, so that no byte is lost or replaced.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "voktools/variant.h"

namespace vok::cli {

// Objects keep their keys in insertion order, so that lines read "id" first.
using Json = nlohmann::ordered_json;

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Two lowercase hex digits per byte.
std::string ToHex(std::string_view bytes);
// The value of a hex digit of either case; -1 for any other character.
int HexValue(char c);
// The bytes of two hex digits each (either case); nothing for an odd count
// or a character that is not a hex digit.
std::optional<std::string> FromHex(std::string_view hex);

// A JSON string for valid UTF-8, otherwise {"hex":"..."} (lowercase digits).
Json TextToJson(std::string_view text);

// A value that needs no object table (empty, missing, numbers, booleans,
// texts) as a result travels; nothing for the others.
std::optional<Json> ScalarToJson(const Variant& value);

// The bytes of a JSON string or of {"hex":"..."} (either case of digits);
// nothing for any other value or for a malformed hex text.
std::optional<std::string> TextFromJson(const Json& value);

// A dump that never throws on text: anything not valid UTF-8 that reached a
// string anyway is replaced rather than failing the whole line.
std::string DumpLine(const Json& value);

}  // namespace vok::cli
