// The C interface: handles over the automation objects, values copied both
// ways, and every exception turned into a status and an error number before
// it reaches the caller.
#include "voktools/voktools_c.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "voktools/automation_error.h"
#include "voktools/dispatch.h"
#include "voktools/factory.h"
#include "voktools/rtf_util.h"
#include "voktools/variant.h"

namespace {

constexpr int32_t kInternalError = 51;
constexpr int32_t kOutOfMemory = 7;

static_assert(static_cast<int>(vok::InvokeKind::kMethod) == VOK_METHOD &&
              static_cast<int>(vok::InvokeKind::kPropertyGet) == VOK_PROPERTY_GET &&
              static_cast<int>(vok::InvokeKind::kPropertyLet) == VOK_PROPERTY_LET);

// What stops the library from being unloaded: live handles and server locks.
std::atomic<int64_t> g_live_objects{0};
std::atomic<int64_t> g_server_locks{0};

struct LastError {
  int32_t number = 0;
  std::string description;

  void Clear() {
    number = 0;
    description.clear();
  }
};

// The error of the last failed create on this thread.
thread_local LastError t_create_error;

}  // namespace

struct vok_object {
  explicit vok_object(vok::ObjectRef o) : object(std::move(o)) { ++g_live_objects; }
  ~vok_object() { --g_live_objects; }
  vok_object(const vok_object&) = delete;
  vok_object& operator=(const vok_object&) = delete;

  std::atomic<uint32_t> refs{1};
  vok::ObjectRef object;
  LastError error;
};

namespace {

// Runs body, turning what it throws into a status and error; body returns
// the status of a call that did not throw.
template <typename Body>
vok_status Guarded(LastError& error, Body&& body) noexcept {
  error.Clear();
  try {
    return body();
  } catch (const vok::AutomationError& e) {
    error.number = e.number();
    error.description = e.description();
    return VOK_DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    error.number = kOutOfMemory;
    error.description = vok::AutomationError::StandardDescription(kOutOfMemory);
    return VOK_E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    error.number = kInternalError;
    error.description = std::string("Internal error: ") + e.what();
    return VOK_E_FAIL;
  } catch (...) {
    error.number = kInternalError;
    error.description = "Internal error";
    return VOK_E_FAIL;
  }
}

// An argument the caller's value tag does not name.
struct BadValue {};

vok::Variant ToVariant(const vok_value& v) {
  switch (v.type) {
    case VOK_EMPTY:
      return vok::Variant();
    case VOK_MISSING:
      return vok::Variant::Missing();
    case VOK_BOOL:
      return vok::Variant(v.as.boolean != 0);
    case VOK_INT16:
      return vok::Variant(v.as.int16);
    case VOK_INT32:
      return vok::Variant(v.as.int32);
    case VOK_DOUBLE:
      return vok::Variant(v.as.dbl);
    case VOK_TEXT:
      if (v.as.text.data == nullptr && v.as.text.length > 0) throw BadValue{};
      return vok::Variant(std::string(v.as.text.data == nullptr ? "" : v.as.text.data,
                                      v.as.text.length));
    case VOK_BYTES: {
      if (v.as.bytes.data == nullptr && v.as.bytes.length > 0) throw BadValue{};
      const uint8_t* data = v.as.bytes.data;
      return vok::Variant(vok::ByteArray(data, data + (data == nullptr ? 0 : v.as.bytes.length)));
    }
    case VOK_TEXT_ARRAY: {
      if (v.as.texts.items == nullptr && v.as.texts.count > 0) throw BadValue{};
      vok::TextArray texts;
      texts.reserve(v.as.texts.count);
      for (size_t i = 0; i < v.as.texts.count; ++i) {
        const vok_text& t = v.as.texts.items[i];
        if (t.data == nullptr && t.length > 0) throw BadValue{};
        texts.emplace_back(t.data == nullptr ? "" : t.data, t.length);
      }
      return vok::Variant(std::move(texts));
    }
    case VOK_OBJECT:
      return v.as.object == nullptr ? vok::Variant::Nothing() : vok::Variant(v.as.object->object);
    default:
      throw BadValue{};
  }
}

// A malloc'd copy of text with a NUL after it.
char* CopyText(const std::string& text) {
  char* data = static_cast<char*>(std::malloc(text.size() + 1));
  if (data == nullptr) throw std::bad_alloc();
  std::memcpy(data, text.data(), text.size());
  data[text.size()] = '\0';
  return data;
}

// Frees what an owned value holds; leaves the tag as it was.
void FreeOwned(vok_value& v) noexcept {
  if ((v.flags & VOK_VALUE_OWNED) == 0) return;
  switch (v.type) {
    case VOK_TEXT:
      std::free(v.as.text.data);
      break;
    case VOK_BYTES:
      std::free(v.as.bytes.data);
      break;
    case VOK_TEXT_ARRAY:
      for (size_t i = 0; i < v.as.texts.count; ++i) std::free(v.as.texts.items[i].data);
      std::free(v.as.texts.items);
      break;
    case VOK_OBJECT:
      vok_release(v.as.object);
      break;
    default:
      break;
  }
}

// A library-owned C value of v. Throws std::bad_alloc with nothing leaked.
vok_value FromVariant(const vok::Variant& v) {
  vok_value out{};
  out.flags = VOK_VALUE_OWNED;
  switch (v.type()) {
    case vok::VarType::kEmpty:
    case vok::VarType::kVariant:
      out.type = VOK_EMPTY;
      break;
    case vok::VarType::kMissing:
      out.type = VOK_MISSING;
      break;
    case vok::VarType::kBool:
      out.type = VOK_BOOL;
      out.as.boolean = *v.get_if<bool>() ? 1 : 0;
      break;
    case vok::VarType::kInt16:
      out.type = VOK_INT16;
      out.as.int16 = *v.get_if<int16_t>();
      break;
    case vok::VarType::kInt32:
      out.type = VOK_INT32;
      out.as.int32 = *v.get_if<int32_t>();
      break;
    case vok::VarType::kDouble:
      out.type = VOK_DOUBLE;
      out.as.dbl = *v.get_if<double>();
      break;
    case vok::VarType::kText: {
      const std::string& text = *v.get_if<std::string>();
      out.type = VOK_TEXT;
      out.as.text.data = CopyText(text);
      out.as.text.length = text.size();
      break;
    }
    case vok::VarType::kBytes: {
      const vok::ByteArray& bytes = *v.get_if<vok::ByteArray>();
      auto* data = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
      if (data == nullptr) throw std::bad_alloc();
      if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
      out.type = VOK_BYTES;
      out.as.bytes.data = data;
      out.as.bytes.length = bytes.size();
      break;
    }
    case vok::VarType::kTextArray: {
      const vok::TextArray& texts = *v.get_if<vok::TextArray>();
      auto* items =
          static_cast<vok_text*>(std::calloc(texts.empty() ? 1 : texts.size(), sizeof(vok_text)));
      if (items == nullptr) throw std::bad_alloc();
      out.type = VOK_TEXT_ARRAY;
      out.as.texts.items = items;
      try {
        for (const std::string& text : texts) {
          items[out.as.texts.count].data = CopyText(text);
          items[out.as.texts.count].length = text.size();
          ++out.as.texts.count;
        }
      } catch (...) {
        FreeOwned(out);
        throw;
      }
      break;
    }
    case vok::VarType::kObject: {
      out.type = VOK_OBJECT;
      vok::ObjectRef object = v.ToObject();
      out.as.object = object ? new vok_object(std::move(object)) : nullptr;
      break;
    }
  }
  return out;
}

// The object's Progress event: through its event interface where it has
// one, else through the typed event C++ hosts connect to.
vok::ProgressEvent<int16_t>* TypedProgress(vok::Dispatch& object) {
  if (auto* rtf = dynamic_cast<vok::clsRTFUtil*>(&object)) return &rtf->Progress();
  return nullptr;
}

bool HasProgressEvent(const vok::Dispatch& object) {
  for (std::string_view name : object.EventNames()) {
    if (name == "Progress") return true;
  }
  return false;
}

// Connects change(percent) to the object's Progress; change may alter the
// percentage, which goes back to the object when its event is by reference.
template <typename Change>
vok_status ConnectProgress(vok_object* object, int32_t* cookie, Change change) {
  if (object == nullptr) return VOK_E_POINTER;
  return Guarded(object->error, [&] {
    vok::Dispatch& target = *object->object;
    int32_t id;
    if (HasProgressEvent(target)) {
      id = target.Advise([change](std::string_view event, int32_t, std::vector<vok::Variant>& args) {
        if (event != "Progress" || args.empty()) return;
        int16_t percent = args[0].ToInt16();
        change(&percent);
        args[0] = vok::Variant(percent);
      });
    } else if (auto* progress = TypedProgress(target)) {
      id = progress->Connect([change](int16_t percent) { change(&percent); });
    } else {
      throw vok::AutomationError(vok::err::kActionNotSupported);
    }
    if (cookie != nullptr) *cookie = id;
    return VOK_S_OK;
  });
}

// The class factory handed out by DllGetClassObject.
struct ClassFactory {
  vok_class_factory table;  // first, so that a table pointer is the factory's
  std::string clsid;
};

vok_status FactoryCreateInstance(vok_class_factory* self, vok_object** object) {
  if (self == nullptr) return VOK_E_POINTER;
  return vok_create(reinterpret_cast<ClassFactory*>(self)->clsid.c_str(), object);
}

vok_status FactoryLockServer(vok_class_factory* self, int32_t lock) {
  if (self == nullptr) return VOK_E_POINTER;
  if (lock != 0) {
    ++g_server_locks;
    return VOK_S_OK;
  }
  // An unlock without a lock is ignored rather than taken off a later lock.
  int64_t locks = g_server_locks.load();
  while (locks > 0 && !g_server_locks.compare_exchange_weak(locks, locks - 1)) {
  }
  return VOK_S_OK;
}

uint32_t FactoryRelease(vok_class_factory* self) {
  delete reinterpret_cast<ClassFactory*>(self);
  return 0;
}

}  // namespace

extern "C" {

vok_status vok_create(const char* prog_id_or_clsid, vok_object** object) {
  if (object != nullptr) *object = nullptr;
  if (prog_id_or_clsid == nullptr || object == nullptr) {
    t_create_error.number = vok::err::kInvalidCall;
    t_create_error.description = vok::AutomationError::StandardDescription(vok::err::kInvalidCall);
    return VOK_E_POINTER;
  }
  vok_status status = Guarded(t_create_error, [&] {
    *object = new vok_object(vok::CreateObject(prog_id_or_clsid));
    return VOK_S_OK;
  });
  return status == VOK_DISP_E_EXCEPTION ? VOK_CLASS_E_CLASSNOTAVAILABLE : status;
}

uint32_t vok_add_ref(vok_object* object) {
  if (object == nullptr) return 0;
  return ++object->refs;
}

uint32_t vok_release(vok_object* object) {
  if (object == nullptr) return 0;
  uint32_t left = --object->refs;
  if (left == 0) delete object;
  return left;
}

vok_status vok_last_error(const vok_object* object, int32_t* number, const char** description) {
  const LastError& error = object != nullptr ? object->error : t_create_error;
  if (number != nullptr) *number = error.number;
  if (description != nullptr) *description = error.description.c_str();
  return VOK_S_OK;
}

void vok_value_clear(vok_value* value) {
  if (value == nullptr) return;
  FreeOwned(*value);
  *value = vok_value{};
}

vok_status vok_invoke(vok_object* object, const char* name, vok_invoke_kind kind, vok_value* args,
                      size_t count, vok_value* result) {
  if (result != nullptr) vok_value_clear(result);
  if (object == nullptr) return VOK_E_POINTER;
  if (name == nullptr || (args == nullptr && count > 0)) {
    object->error.number = vok::err::kInvalidCall;
    object->error.description = vok::AutomationError::StandardDescription(vok::err::kInvalidCall);
    return VOK_E_POINTER;
  }
  if (kind != VOK_METHOD && kind != VOK_PROPERTY_GET && kind != VOK_PROPERTY_LET) {
    object->error.number = vok::err::kInvalidCall;
    object->error.description = vok::AutomationError::StandardDescription(vok::err::kInvalidCall);
    return VOK_E_INVALIDARG;
  }
  return Guarded(object->error, [&]() -> vok_status {
    std::vector<vok::Variant> in;
    in.reserve(count);
    try {
      for (size_t i = 0; i < count; ++i) in.push_back(ToVariant(args[i]));
    } catch (const BadValue&) {
      object->error.number = vok::err::kInvalidCall;
      object->error.description = "Invalid value in argument " + std::to_string(in.size() + 1);
      return VOK_E_INVALIDARG;
    }
    std::vector<vok::Variant> passed = in;
    vok::Variant answer =
        object->object->Invoke(name, static_cast<vok::InvokeKind>(kind), passed);

    // Every value is converted before any is written, so that a failure
    // leaves the caller's arguments as they were.
    std::vector<std::pair<size_t, vok_value>> changed;
    vok_value out{};
    try {
      for (size_t i = 0; i < count; ++i) {
        if (!(passed[i] == in[i])) changed.emplace_back(i, FromVariant(passed[i]));
      }
      if (result != nullptr) out = FromVariant(answer);
    } catch (...) {
      for (auto& [i, v] : changed) FreeOwned(v);
      throw;
    }
    for (auto& [i, v] : changed) {
      FreeOwned(args[i]);
      args[i] = v;
    }
    if (result != nullptr) *result = out;
    return VOK_S_OK;
  });
}

vok_status vok_progress_connect(vok_object* object, vok_progress_fn callback, void* user_data,
                                int32_t* cookie) {
  if (callback == nullptr) return VOK_E_POINTER;
  return ConnectProgress(object, cookie,
                         [callback, user_data](int16_t* percent) { callback(user_data, *percent); });
}

vok_status vok_progress_connect_ref(vok_object* object, vok_progress_ref_fn callback,
                                    void* user_data, int32_t* cookie) {
  if (callback == nullptr) return VOK_E_POINTER;
  return ConnectProgress(object, cookie,
                         [callback, user_data](int16_t* percent) { callback(user_data, percent); });
}

vok_status vok_progress_disconnect(vok_object* object, int32_t cookie) {
  if (object == nullptr) return VOK_E_POINTER;
  return Guarded(object->error, [&] {
    vok::Dispatch& target = *object->object;
    if (HasProgressEvent(target)) {
      target.Unadvise(cookie);
    } else if (auto* progress = TypedProgress(target)) {
      progress->Disconnect(cookie);
    } else {
      throw vok::AutomationError(vok::err::kActionNotSupported);
    }
    return VOK_S_OK;
  });
}

vok_status DllGetClassObject(const char* clsid, const char*, vok_class_factory** factory) {
  if (factory != nullptr) *factory = nullptr;
  if (clsid == nullptr || factory == nullptr) return VOK_E_POINTER;
  vok_status status = Guarded(t_create_error, [&] {
    if (vok::FindClass(clsid) == nullptr) throw vok::AutomationError(vok::err::kCannotCreateObject);
    auto* made = new ClassFactory{{&FactoryCreateInstance, &FactoryLockServer, &FactoryRelease},
                                  clsid};
    *factory = &made->table;
    return VOK_S_OK;
  });
  return status == VOK_DISP_E_EXCEPTION ? VOK_CLASS_E_CLASSNOTAVAILABLE : status;
}

vok_status DllCanUnloadNow(void) {
  return g_live_objects.load() == 0 && g_server_locks.load() == 0 ? VOK_S_OK : VOK_S_FALSE;
}

}  // extern "C"
