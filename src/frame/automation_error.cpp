#include "voktools/automation_error.h"

#include <utility>

namespace vok {

std::string AutomationError::StandardDescription(int32_t number) {
  switch (number) {
    case 5:
      return "Invalid procedure call or argument";
    case 6:
      return "Overflow";
    case 7:
      return "Out of memory";
    case 9:
      return "Subscript out of range";
    case 11:
      return "Division by zero";
    case 13:
      return "Type mismatch";
    case 52:
      return "Bad file name or number";
    case 53:
      return "File not found";
    case 54:
      return "Bad file mode";
    case 55:
      return "File already open";
    case 57:
      return "Device I/O error";
    case 61:
      return "Disk full";
    case 62:
      return "Input past end of file";
    case 63:
      return "Bad record number";
    case 67:
      return "Too many files";
    case 70:
      return "Permission denied";
    case 75:
      return "Path/File access error";
    case 76:
      return "Path not found";
    case 91:
      return "Object variable or With block variable not set";
    case 326:
      return "Resource with this identifier not found";
    case 424:
      return "Object required";
    case 429:
      return "ActiveX component can't create object";
    case 438:
      return "Object doesn't support this property or method";
    case 445:
      return "Object doesn't support this action";
    case 449:
      return "Argument not optional";
    case 450:
      return "Wrong number of arguments or invalid property assignment";
    default:
      return "Application-defined or object-defined error";
  }
}

AutomationError::AutomationError(int32_t number)
    : AutomationError(number, StandardDescription(number)) {}

AutomationError::AutomationError(int32_t number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

}  // namespace vok
