// The Progress event: typed C++ handlers and late-bound sinks, raised
// synchronously, followed by one turn of the host's message loop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <type_traits>
#include <vector>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

// Gives the host's message loop one turn (the hook set by SetMessagePump).
void PumpHostMessages();

// Arg is int16_t (the percentage by value) or int16_t& (by reference: a
// handler may change it, and the raising class sees the change).
template <typename Arg>
class ProgressEvent {
 public:
  static constexpr int32_t kDispId = 1;
  using Handler = std::function<void(Arg)>;

  int32_t Connect(Handler handler) {
    handlers_.emplace(next_, std::move(handler));
    return next_++;
  }
  void Disconnect(int32_t cookie) { handlers_.erase(cookie); }

  int32_t AdviseSink(EventSink sink) {
    sinks_.emplace(next_, std::move(sink));
    return next_++;
  }
  void UnadviseSink(int32_t cookie) { sinks_.erase(cookie); }

  bool HasListeners() const { return !handlers_.empty() || !sinks_.empty(); }

  // Raises the event to every handler and sink in connection order, then
  // gives the message loop its turn.
  void Raise(int16_t& value) {
    for (auto& [cookie, handler] : handlers_) handler(value);
    for (auto& [cookie, sink] : sinks_) {
      std::vector<Variant> args{Variant(value)};
      sink("Progress", kDispId, args);
      if constexpr (std::is_reference_v<Arg>) value = args[0].ToInt16();
    }
    PumpHostMessages();
  }

 private:
  std::map<int32_t, Handler> handlers_;
  std::map<int32_t, EventSink> sinks_;
  int32_t next_ = 1;
};

VOK_PUBLIC_END

}  // namespace vok
