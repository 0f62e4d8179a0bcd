#include "registered_object.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "frame/builtin_classes.h"
#include "frame/registration.h"
#include "platform/registry.h"
#include "voktools/automation_error.h"
#include "voktools/class_table.h"
#include "voktools/collection.h"
#include "voktools/voktools_c.h"

namespace vok::cli {

namespace {

[[noreturn]] void CannotCreate(const std::string& why) {
  throw AutomationError(err::kCannotCreateObject, "Cannot create object: " + why);
}

// The C interface of one loaded library, resolved once. The library stays
// loaded while any of its objects lives.
class ForeignLibrary {
 public:
  static std::shared_ptr<ForeignLibrary> Load(const std::string& file) {
    // A FIFO or a device in the store would block the loader or feed it
    // what is not a library.
    struct stat st;
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      CannotCreate(file + " is not a regular file");
    }
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) CannotCreate(::dlerror());
    auto library = std::shared_ptr<ForeignLibrary>(new ForeignLibrary(handle));
    if (!library->Resolve()) CannotCreate(file + " lacks the C interface of this library");
    return library;
  }
  ~ForeignLibrary() { ::dlclose(handle_); }

  decltype(&DllGetClassObject) get_class_object = nullptr;
  decltype(&vok_invoke) invoke = nullptr;
  decltype(&vok_release) release = nullptr;
  decltype(&vok_value_clear) value_clear = nullptr;
  decltype(&vok_last_error) last_error = nullptr;
  decltype(&vok_progress_connect_ref) progress_connect = nullptr;
  decltype(&vok_progress_disconnect) progress_disconnect = nullptr;

 private:
  explicit ForeignLibrary(void* handle) : handle_(handle) {}
  template <typename F>
  bool Symbol(const char* name, F& f) {
    f = reinterpret_cast<F>(::dlsym(handle_, name));
    return f != nullptr;
  }
  bool Resolve() {
    return Symbol("DllGetClassObject", get_class_object) && Symbol("vok_invoke", invoke) &&
           Symbol("vok_release", release) && Symbol("vok_value_clear", value_clear) &&
           Symbol("vok_last_error", last_error) &&
           Symbol("vok_progress_connect_ref", progress_connect) &&
           Symbol("vok_progress_disconnect", progress_disconnect);
  }
  void* handle_;
};
using LibraryRef = std::shared_ptr<ForeignLibrary>;

// The member table of class_name with every member calling through the C
// interface (made once per class).
const ClassTypeInfo& ForeignTypeInfo(std::string_view class_name, const ClassTypeInfo& own);

class ForeignObject : public Dispatch {
 public:
  ForeignObject(LibraryRef library, vok_object* handle, const ClassTypeInfo& info, bool events)
      : library_(std::move(library)), handle_(handle), info_(info), events_(events) {}
  ~ForeignObject() override {
    for (auto& [cookie, sink] : sinks_) library_->progress_disconnect(handle_, cookie);
    library_->release(handle_);
  }

  const ClassTypeInfo& TypeInfo() const override { return info_; }
  std::vector<std::string_view> EventNames() const override {
    return events_ ? std::vector<std::string_view>{"Progress"} : std::vector<std::string_view>{};
  }

  int32_t Advise(EventSink sink) override {
    auto held = std::make_unique<EventSink>(std::move(sink));
    int32_t cookie = 0;
    Check(library_->progress_connect(handle_, &RaiseProgress, held.get(), &cookie));
    sinks_.emplace(cookie, std::move(held));
    return cookie;
  }
  void Unadvise(int32_t cookie) override {
    Check(library_->progress_disconnect(handle_, cookie));
    sinks_.erase(cookie);
  }

  // The member called through the library; by-reference outputs are written
  // back into args.
  Variant Call(std::string_view name, vok_invoke_kind kind, std::vector<Variant>& args) {
    std::vector<vok_value> values(args.size());
    std::vector<std::vector<vok_text>> texts(args.size());
    for (size_t i = 0; i < args.size(); ++i) values[i] = ToC(args[i], texts[i]);
    vok_value result{};
    const vok_status status = library_->invoke(handle_, std::string(name).c_str(), kind,
                                               values.data(), values.size(), &result);
    // Owned values are freed whatever happens below.
    auto clear = [&] {
      for (vok_value& v : values) library_->value_clear(&v);
      library_->value_clear(&result);
    };
    if (status != VOK_S_OK) {
      clear();
      Check(status);
    }
    try {
      for (size_t i = 0; i < args.size(); ++i) {
        if (values[i].flags & VOK_VALUE_OWNED) args[i] = FromC(values[i]);
      }
      Variant out = FromC(result);
      clear();
      return out;
    } catch (...) {
      clear();
      throw;
    }
  }

 private:
  static void RaiseProgress(void* user_data, int16_t* percent) {
    std::vector<Variant> args{Variant(*percent)};
    (*static_cast<EventSink*>(user_data))("Progress", 1, args);
    if (!args.empty()) *percent = args[0].ToInt16();
  }

  // The library's error for a failed status.
  void Check(vok_status status) const {
    if (status == VOK_S_OK) return;
    int32_t number = 0;
    const char* description = nullptr;
    library_->last_error(handle_, &number, &description);
    if (number == 0) number = 51;  // internal error
    throw AutomationError(number, description != nullptr ? description : "");
  }

  vok_value ToC(const Variant& v, std::vector<vok_text>& texts) const {
    vok_value c{};
    switch (v.type()) {
      case VarType::kEmpty: c.type = VOK_EMPTY; break;
      case VarType::kMissing: c.type = VOK_MISSING; break;
      case VarType::kBool: c.type = VOK_BOOL; c.as.boolean = *v.get_if<bool>() ? 1 : 0; break;
      case VarType::kInt16: c.type = VOK_INT16; c.as.int16 = *v.get_if<int16_t>(); break;
      case VarType::kInt32: c.type = VOK_INT32; c.as.int32 = *v.get_if<int32_t>(); break;
      case VarType::kDouble: c.type = VOK_DOUBLE; c.as.dbl = *v.get_if<double>(); break;
      case VarType::kText: {
        const std::string& s = *v.get_if<std::string>();
        c = vok_value_text(s.data(), s.size());
        break;
      }
      case VarType::kBytes: {
        const ByteArray& b = *v.get_if<ByteArray>();
        c.type = VOK_BYTES;
        c.as.bytes.data = const_cast<uint8_t*>(b.data());
        c.as.bytes.length = b.size();
        break;
      }
      case VarType::kTextArray: {
        for (const std::string& s : *v.get_if<TextArray>()) {
          texts.push_back({const_cast<char*>(s.data()), s.size()});
        }
        c.type = VOK_TEXT_ARRAY;
        c.as.texts.items = texts.data();
        c.as.texts.count = texts.size();
        break;
      }
      case VarType::kObject:
      case VarType::kVariant: {
        const ObjectRef object = v.ToObject();
        const auto* foreign = dynamic_cast<const ForeignObject*>(object.get());
        // Only the library's own objects (or Nothing) cross into it.
        if (object && (foreign == nullptr || foreign->library_ != library_)) {
          throw AutomationError(err::kTypeMismatch);
        }
        c = vok_value_object(foreign != nullptr ? foreign->handle_ : nullptr);
        break;
      }
    }
    return c;
  }

  Variant FromC(vok_value& c) const {
    switch (c.type) {
      case VOK_MISSING: return Variant::Missing();
      case VOK_BOOL: return Variant(c.as.boolean != 0);
      case VOK_INT16: return Variant(c.as.int16);
      case VOK_INT32: return Variant(c.as.int32);
      case VOK_DOUBLE: return Variant(c.as.dbl);
      case VOK_TEXT: return Variant(std::string(c.as.text.data, c.as.text.length));
      case VOK_BYTES: return Variant(ByteArray(c.as.bytes.data, c.as.bytes.data + c.as.bytes.length));
      case VOK_TEXT_ARRAY: {
        TextArray a;
        for (size_t i = 0; i < c.as.texts.count; ++i) {
          a.emplace_back(c.as.texts.items[i].data, c.as.texts.items[i].length);
        }
        return Variant(std::move(a));
      }
      case VOK_OBJECT: {
        if (c.as.object == nullptr) return Variant::Nothing();
        // The classes hand out their error lists, which are Collections.
        static const ClassTypeInfo& list = Collection::Create()->TypeInfo();
        vok_object* handle = c.as.object;
        c.as.object = nullptr;  // the new object holds the reference now
        return Variant(ObjectRef(std::make_shared<ForeignObject>(
            library_, handle, ForeignTypeInfo("Collection", list), false)));
      }
      default: return Variant();
    }
  }

  LibraryRef library_;
  vok_object* handle_;
  const ClassTypeInfo& info_;
  bool events_;
  std::map<int32_t, std::unique_ptr<EventSink>> sinks_;
};

MemberHandler Through(std::string_view name, vok_invoke_kind kind) {
  return [name, kind](Dispatch& self, std::vector<Variant>& args) {
    return static_cast<ForeignObject&>(self).Call(name, kind, args);
  };
}

const ClassTypeInfo& ForeignTypeInfo(std::string_view class_name, const ClassTypeInfo& own) {
  static std::mutex lock;
  static std::map<std::string, std::unique_ptr<ClassTypeInfo>, std::less<>> tables;
  std::lock_guard hold(lock);
  auto it = tables.find(class_name);
  if (it != tables.end()) return *it->second;
  auto table = std::make_unique<ClassTypeInfo>(own);
  for (MemberInfo& m : table->members) {
    const bool method = m.kind == MemberKind::kMethod;
    m.call = Through(m.name, method ? VOK_METHOD : VOK_PROPERTY_GET);
    if (m.let) m.let = Through(m.name, VOK_PROPERTY_LET);
  }
  return *tables.emplace(std::string(class_name), std::move(table)).first->second;
}

}  // namespace

ObjectRef CreateRegisteredObject(Registry& store, std::string_view prog_id_or_clsid) {
  // A programmatic name leads to its class id; anything else is one.
  std::string clsid;
  if (!RegisteredClassId(store, prog_id_or_clsid, &clsid).ok()) clsid = prog_id_or_clsid;
  std::string file;
  if (Status s = RegisteredLibrary(store, clsid, &file); !s.ok()) {
    CannotCreate(std::string(prog_id_or_clsid) + " is not registered" +
                 (s.code() == ENOENT ? std::string() : ": " + s.message()));
  }
  const ClassEntry* entry = FindClass(clsid);
  const ClassTypeInfo* own = entry != nullptr ? detail::BuiltinTypeInfo(entry->class_name) : nullptr;
  if (own == nullptr) CannotCreate("class " + clsid + " is not one of this program's classes");

  LibraryRef library = ForeignLibrary::Load(file);
  vok_class_factory* factory = nullptr;
  if (library->get_class_object(clsid.c_str(), nullptr, &factory) != VOK_S_OK || !factory) {
    CannotCreate(file + " does not make class " + clsid);
  }
  vok_object* handle = nullptr;
  const vok_status made = factory->CreateInstance(factory, &handle);
  factory->Release(factory);
  if (made != VOK_S_OK || handle == nullptr) CannotCreate(file + " failed to make " + clsid);
  return std::make_shared<ForeignObject>(library, handle,
                                         ForeignTypeInfo(entry->class_name, *own),
                                         !entry->event_iid.empty());
}

}  // namespace vok::cli
