#include "voktools/variant.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "voktools/ascii.h"
#include "voktools/automation_error.h"

namespace vok {

const char* VarTypeName(VarType t) {
  switch (t) {
    case VarType::kEmpty:
      return "Empty";
    case VarType::kMissing:
      return "Missing";
    case VarType::kBool:
      return "Boolean";
    case VarType::kInt16:
      return "Integer";
    case VarType::kInt32:
      return "Long";
    case VarType::kDouble:
      return "Double";
    case VarType::kText:
      return "String";
    case VarType::kBytes:
      return "Byte()";
    case VarType::kTextArray:
      return "String()";
    case VarType::kObject:
      return "Object";
    case VarType::kVariant:
      return "Variant";
  }
  return "?";
}

VarType Variant::type() const {
  static constexpr VarType kByIndex[] = {
      VarType::kEmpty,  VarType::kMissing, VarType::kBool,  VarType::kInt16,     VarType::kInt32,
      VarType::kDouble, VarType::kText,    VarType::kBytes, VarType::kTextArray, VarType::kObject};
  return kByIndex[v_.index()];
}

std::string DoubleToText(double d) {
  if (d == 0) return "0";
  if (std::isnan(d) || std::isinf(d)) throw AutomationError(err::kOverflow);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  std::string s = buf;
  size_t e = s.find('E');
  std::string mantissa = e == std::string::npos ? s : s.substr(0, e);
  std::string exponent = e == std::string::npos ? "" : s.substr(e);
  if (mantissa.find('.') != std::string::npos) {
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  if (!exponent.empty()) {
    // "E+020" style exponents become "E+20".
    char sign = exponent[1];
    std::string digits = exponent.substr(2);
    while (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
    exponent = std::string("E") + sign + digits;
  }
  return mantissa + exponent;
}

namespace {

// Parses a numeric text the way the runtime's conversions accept it: blanks
// around, optional sign, decimal digits with an optional fraction and
// exponent. Anything else is a type mismatch.
double ParseNumber(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) throw AutomationError(err::kTypeMismatch);
  std::string t = text.substr(b, e - b + 1);
  if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(t.c_str() + 2, &end, 16);
    if (*end != '\0' || errno != 0 || v > 0xFFFFFFFFul) throw AutomationError(err::kTypeMismatch);
    // &HFFFF is an int16 -1, wider values are int32.
    if (t.size() <= 6) return static_cast<int16_t>(static_cast<uint16_t>(v));
    return static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  for (char c : t) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
          c == 'e' || c == 'E')) {
      throw AutomationError(err::kTypeMismatch);
    }
  }
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0') throw AutomationError(err::kTypeMismatch);
  return d;
}

// Rounds to the nearest whole number, an exact half to the even neighbour.
double RoundHalfEven(double d) { return std::nearbyint(d); }

template <typename T>
T ToIntegral(const Variant& v) {
  double d;
  switch (v.type()) {
    case VarType::kEmpty:
      return 0;
    case VarType::kBool:
      return *v.get_if<bool>() ? -1 : 0;
    case VarType::kInt16:
      d = *v.get_if<int16_t>();
      break;
    case VarType::kInt32:
      d = *v.get_if<int32_t>();
      break;
    case VarType::kDouble:
      d = RoundHalfEven(*v.get_if<double>());
      break;
    case VarType::kText:
      d = RoundHalfEven(ParseNumber(*v.get_if<std::string>()));
      break;
    default:
      throw AutomationError(err::kTypeMismatch);
  }
  if (std::isnan(d) || d < std::numeric_limits<T>::min() || d > std::numeric_limits<T>::max()) {
    throw AutomationError(err::kOverflow);
  }
  return static_cast<T>(d);
}

}  // namespace

std::string Variant::ToText() const {
  switch (type()) {
    case VarType::kEmpty:
      return "";
    case VarType::kBool:
      return *get_if<bool>() ? "True" : "False";
    case VarType::kInt16:
      return std::to_string(*get_if<int16_t>());
    case VarType::kInt32:
      return std::to_string(*get_if<int32_t>());
    case VarType::kDouble:
      return DoubleToText(*get_if<double>());
    case VarType::kText:
      return *get_if<std::string>();
    case VarType::kBytes: {
      const ByteArray& b = *get_if<ByteArray>();
      return std::string(b.begin(), b.end());
    }
    default:
      throw AutomationError(err::kTypeMismatch);
  }
}

int16_t Variant::ToInt16() const { return ToIntegral<int16_t>(*this); }
int32_t Variant::ToInt32() const { return ToIntegral<int32_t>(*this); }

double Variant::ToDouble() const {
  switch (type()) {
    case VarType::kEmpty:
      return 0;
    case VarType::kBool:
      return *get_if<bool>() ? -1 : 0;
    case VarType::kInt16:
      return *get_if<int16_t>();
    case VarType::kInt32:
      return *get_if<int32_t>();
    case VarType::kDouble:
      return *get_if<double>();
    case VarType::kText:
      return ParseNumber(*get_if<std::string>());
    default:
      throw AutomationError(err::kTypeMismatch);
  }
}

bool Variant::ToBool() const {
  switch (type()) {
    case VarType::kEmpty:
      return false;
    case VarType::kBool:
      return *get_if<bool>();
    case VarType::kText: {
      const std::string& s = *get_if<std::string>();
      if (EqualsIgnoreCase(s, "True")) return true;
      if (EqualsIgnoreCase(s, "False")) return false;
      return ParseNumber(s) != 0;
    }
    default:
      return ToDouble() != 0;
  }
}

const ByteArray& Variant::ToBytes() const {
  if (const auto* b = get_if<ByteArray>()) return *b;
  throw AutomationError(err::kTypeMismatch);
}

const TextArray& Variant::ToTextArray() const {
  if (const auto* a = get_if<TextArray>()) return *a;
  throw AutomationError(err::kTypeMismatch);
}

ObjectRef Variant::ToObject() const {
  if (const auto* o = get_if<ObjectRef>()) return *o;
  throw AutomationError(err::kObjectRequired);
}

Variant Variant::CoerceTo(VarType t) const {
  if (t == VarType::kVariant || t == type()) return *this;
  switch (t) {
    case VarType::kBool:
      return Variant(ToBool());
    case VarType::kInt16:
      return Variant(ToInt16());
    case VarType::kInt32:
      return Variant(ToInt32());
    case VarType::kDouble:
      return Variant(ToDouble());
    case VarType::kText:
      return Variant(ToText());
    case VarType::kObject:
      if (type() == VarType::kEmpty) return Nothing();
      return Variant(ToObject());
    case VarType::kBytes:
      if (type() == VarType::kText) {
        const std::string& s = *get_if<std::string>();
        return Variant(ByteArray(s.begin(), s.end()));
      }
      throw AutomationError(err::kTypeMismatch);
    case VarType::kTextArray:
      // An array variable that nothing has filled yet.
      if (type() == VarType::kEmpty) return Variant(TextArray{});
      throw AutomationError(err::kTypeMismatch);
    default:
      throw AutomationError(err::kTypeMismatch);
  }
}

}  // namespace vok
