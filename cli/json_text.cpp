#include "json_text.h"

#include <cstdint>

namespace vok::cli {

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t extra;
    // The second byte's range rules out overlong forms, surrogates and
    // code points beyond U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) <= extra) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (size_t i = 2; i <= extra; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    }
    p += extra + 1;
  }
  return true;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes += static_cast<char>(hi << 4 | lo);
  }
  return bytes;
}

Json TextToJson(std::string_view text) {
  if (IsValidUtf8(text)) return Json(std::string(text));
  Json j = Json::object();
  j["hex"] = ToHex(text);
  return j;
}

std::optional<std::string> TextFromJson(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (!value.is_object() || value.size() != 1) return std::nullopt;
  auto it = value.find("hex");
  if (it == value.end() || !it->is_string()) return std::nullopt;
  return FromHex(it->get_ref<const std::string&>());
}

std::string DumpLine(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<Json> ScalarToJson(const Variant& value) {
  switch (value.type()) {
    case VarType::kEmpty:
    case VarType::kMissing:
      return Json(nullptr);
    case VarType::kBool:
      return Json(*value.get_if<bool>());
    case VarType::kInt16:
      return Json(*value.get_if<int16_t>());
    case VarType::kInt32:
      return Json(*value.get_if<int32_t>());
    case VarType::kDouble:
      return Json(*value.get_if<double>());
    case VarType::kText:
      return TextToJson(*value.get_if<std::string>());
    default:
      return std::nullopt;
  }
}

}  // namespace vok::cli
