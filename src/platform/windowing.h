// What the library needs of a window system. Headless by default: no screen.
#pragma once

#include <optional>
#include <string>

namespace vok {

class Dispatch;

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
