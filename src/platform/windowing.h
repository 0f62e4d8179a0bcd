// What the library needs of a window system. Headless by default: no screen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "voktools/variant.h"

namespace vok {

struct ScreenSize {
  double width = 0;
  double height = 0;
};

class Windowing {
 public:
  virtual ~Windowing() = default;
  // The screen's size in the units of window sizes; none without a display.
  virtual std::optional<ScreenSize> Screen() = 0;
  // Shows one of the library's dialogs (frmHTMLOptions) modally and returns
  // once it is hidden; false when this window system cannot show dialogs.
  virtual bool ShowModal(Dispatch& /*form*/) { return false; }
  // A message box with an OK button only, returning once it is closed.
  // Without a screen the message goes to the host's message-box hook
  // (SetMessageBoxHook), else to its warning sink.
  virtual void MessageBox(const std::string& text, const std::string& title);

  // Top-level windows of other programs, by 32-bit handle (0: none). Without
  // a window system there are none: no foreground window, nothing found,
  // nothing brought forward, no message posted.
  //
  // The title of the foreground window; none when no window has the focus.
  virtual std::optional<std::string> ForegroundWindowTitle() { return std::nullopt; }
  // Brings the top-level window titled title to the foreground; false when
  // no window has that title.
  virtual bool BringToForeground(const std::string& /*title*/) { return false; }
  // The first top-level window of a window class.
  virtual uint32_t FindWindowByClass(const std::string& /*window_class*/) { return 0; }
  // Posts message to window; false when it could not be posted.
  virtual bool PostMessage(uint32_t /*window*/, uint32_t /*message*/, uint64_t /*wparam*/,
                           int64_t /*lparam*/) {
    return false;
  }
};

class HeadlessWindowing : public Windowing {
 public:
  std::optional<ScreenSize> Screen() override { return std::nullopt; }
};

// Gives the host's message loop one turn (the hook set by SetMessagePump).
void PumpMessages();

// Hands a warning to the host's sink (SetWarningSink), if it set one.
void Warn(const std::string& text);

}  // namespace vok
