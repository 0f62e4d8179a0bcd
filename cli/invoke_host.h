// The automation host behind `voktools invoke`: JSON Lines requests in, one
// response line out per request, flushed after each line.
//
// Requests (one JSON object per line; "id" is echoed back as given):
//   {"id":1,"create":"VOKTools.clsCommon"}          -> {"id":1,"ok":true,"object":1}
//   {"id":2,"create":"Collection"}                  a Collection of the host's own
//   {"id":3,"object":1,"call":"strParseFileName","args":["C:\\dir\\file.txt",0]}
//                                                   -> {"id":3,"ok":true,"result":"C:\\dir\\"}
//   {"id":4,"object":5,"get":"Filename"}            "args" optional
//   {"id":5,"object":5,"let":"Filename","value":"x.txt"}
//   {"id":6,"object":5,"release":true}              drops the host's reference
//   {"id":7,"describe":"VOKTools.clsCommon"}        the class's member table
//   {"id":8,"describe":"*"}                         the classes
// Object numbers are the host's handles, counting from 1 and never reused; the
// same object always has the same number while the host holds it. "create"
// takes a programmatic name or a class id. A member with output parameters
// also answers "byref":{"<parameter>":value}; output parameters the request
// leaves out are supplied empty.
//
// Arguments: integers become Long (an integer beyond Long becomes Double; the
// member table narrows further, raising Overflow), other numbers Double,
// booleans Boolean, strings String, null an omitted optional argument, an
// array of strings a String(), {"bytes":[..]} a Byte(), {"object":N} object N,
// {"object":null} Nothing.
// Results: Empty -> null, numbers and booleans as JSON values, String as a
// string, Byte() as {"bytes":[..]}, String() as an array, an object as
// {"object":N,"class":"clsX"} plus "items":[..] when it is a Collection,
// Nothing as {"object":null}.
// Texts are bytes: valid UTF-8 travels as a JSON string; any other text
// travels as {"hex":"68ff"} in both directions (arguments, results, array
// items, events, error descriptions).
//
// Events of objects that have any are written as they are raised, before
// the response of the call that raised them:
//   {"event":"Progress","object":3,"args":[42]}
// A failure answers {"id":..,"ok":false,"error":{"number":N,"description":".."}}:
// the automation error of the call, 424 for an unknown object number, 5 for
// a malformed request (id null when it cannot be read; the description names
// the line and what is wrong: not JSON, not an object, a key that is unknown,
// given twice or not for this action, a field of the wrong type), 51 for any
// other failure. Blank lines are skipped; the end of input ends the host.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "voktools/dispatch.h"

namespace vok::cli {

class InvokeHost {
 public:
  // Makes the object for a "create" request; null or an AutomationError
  // when it cannot.
  using Factory = std::function<ObjectRef(std::string_view)>;

  // Without a factory, objects come from vok::CreateObject.
  InvokeHost(std::istream& in, std::ostream& out, Factory factory = {});
  ~InvokeHost();
  InvokeHost(const InvokeHost&) = delete;
  InvokeHost& operator=(const InvokeHost&) = delete;

  // Answers requests until the end of the input.
  void Run();
  // Answers one request line; a blank line gets no answer.
  void HandleLine(std::string_view line);

  // The number of objects the host holds.
  size_t ObjectCount() const { return objects_.size(); }

 private:
  struct Slot {
    ObjectRef object;
    std::optional<int32_t> cookie;  // the event connection, when advised
  };

  Json Handle(const Json& request);
  Json Create(const Json& request);
  Json Describe(const Json& request);
  ObjectRef NewObject(std::string_view name);
  Json Invoke(const Json& request, InvokeKind kind, const Json& member);
  Json Release(const Json& request);

  // The host's number for object, given on first sight.
  int64_t Adopt(const ObjectRef& object);
  int64_t ObjectNumber(const Json& request) const;
  const ObjectRef& Lookup(int64_t number) const;

  Variant FromJson(const Json& value) const;
  std::vector<Variant> ArgsFromJson(const Json& request) const;
  // FromJson, with which ("argument 2: ") before the reason it fails.
  Variant ArgFromJson(const Json& value, const std::string& which) const;
  Json ToJson(const Variant& value);
  Json ObjectToJson(const ObjectRef& object);

  void WriteLine(const Json& line);

  std::istream& in_;
  std::ostream& out_;
  Factory factory_;
  std::map<int64_t, Slot> objects_;
  std::map<const Dispatch*, int64_t> numbers_;
  int64_t next_number_ = 1;
  // Lines read so far, blank ones included: error descriptions name the line.
  int64_t line_number_ = 0;
  // Collections being converted, so that one holding itself ends.
  std::set<const Dispatch*> expanding_;
};

}  // namespace vok::cli
