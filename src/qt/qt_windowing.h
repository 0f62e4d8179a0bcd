// The window system on Qt 6 Widgets: the options dialog drawn on screen,
// message boxes, the screen, and window objects for clsCommon's window
// helpers. Window sizes and positions are in twips (1440 to the inch at the
// primary screen's logical resolution), as the dialog's layout is.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "platform/windowing.h"
#include "voktools/variant.h"

class QLineEdit;
class QWidget;

namespace vok {

class QtWindowing : public Windowing {
 public:
  // Whether Qt windows can be shown here: a QApplication exists, or one
  // can be made (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set). Makes
  // nothing.
  static bool Available();

  // The screen, the dialog and the message box make the QApplication on
  // their first use when the host has none. None of them works off the
  // application's thread: there is no screen and no dialog there, and a
  // message box goes where the headless one sends it.
  std::optional<ScreenSize> Screen() override;
  bool ShowModal(Dispatch& form) override;
  void MessageBox(const std::string& text, const std::string& title) override;
};

// Installs the Qt window system in the default Env, and processing of Qt's
// pending events as the message pump, when QtWindowing::Available(); else
// leaves the headless one. Returns whether it did. Call it once, at start-up,
// from the thread that is (or will be) the Qt application's.
bool UseQtWindowing();

// A top-level window as clsCommon's window helpers use it: Name, Width,
// Height, Move(Left, Top), TextWidth(Str) with the window's font. Calls on
// a window that is gone fail with error 91.
ObjectRef QtWindowObject(QWidget* window);
// A text box: Name, Text, SelStart, SelLength.
ObjectRef QtTextBoxObject(QLineEdit* box);

// Pixels per twip at the primary screen's logical resolution.
double PixelsPerTwip();

// The library's UTF-8 text as Qt's.
inline QString QtText(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace vok
