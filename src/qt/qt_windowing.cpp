#include "qt/qt_windowing.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <cmath>
#include <cstdlib>

#include "frame/with_env.h"
#include "html/html_options.h"
#include "platform/env.h"
#include "qt/options_view.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/host.h"

namespace vok {

namespace {

constexpr double kTwipsPerInch = 1440;

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// The application, made on first use when the host has none; kept until
// the process ends (Qt's plugins may not be unloaded before then). None off
// its thread, or when the host's application has no widgets.
QApplication* Application() {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    auto* app = qobject_cast<QApplication*>(existing);
    return app != nullptr && QThread::currentThread() == app->thread() ? app : nullptr;
  }
  static int argc = 1;
  static char name[] = "voktools";
  static char* argv[] = {name, nullptr};
  static QApplication* made = new QApplication(argc, argv);
  return made;
}

double TwipsPerPixel() { return 1 / PixelsPerTwip(); }

// A widget held by a window object; error 91 once it is gone.
template <typename W>
W& Alive(const QPointer<W>& widget) {
  if (widget.isNull()) throw AutomationError(err::kObjectNotSet);
  return *widget;
}

class WindowObject : public Dispatch {
 public:
  explicit WindowObject(QWidget* window) : window_(window) {}

  std::string Name() const { return Alive(window_).objectName().toStdString(); }
  double Width() const { return Alive(window_).frameGeometry().width() * TwipsPerPixel(); }
  double Height() const { return Alive(window_).frameGeometry().height() * TwipsPerPixel(); }
  void Move(double left, double top) {
    Alive(window_).move(static_cast<int>(std::lround(left * PixelsPerTwip())),
                        static_cast<int>(std::lround(top * PixelsPerTwip())));
  }
  double TextWidth(const std::string& text) {
    return QFontMetricsF(Alive(window_).font()).horizontalAdvance(QtText(text)) * TwipsPerPixel();
  }

  const ClassTypeInfo& TypeInfo() const override {
    using C = WindowObject;
    using T = MemberTable<C>;
    using V = VarType;
    static const ClassTypeInfo info{
        "QtWindow",
        {T::Get("Name", 1, V::kText, &C::Name), T::Get("Width", 2, V::kDouble, &C::Width),
         T::Get("Height", 3, V::kDouble, &C::Height),
         T::Method("Move", 4,
                   {{.name = "Left", .type = V::kDouble}, {.name = "Top", .type = V::kDouble}},
                   V::kEmpty, &C::Move),
         T::Method("TextWidth", 5, {{.name = "Str", .type = V::kText}}, V::kDouble,
                   &C::TextWidth)}};
    return info;
  }

 private:
  QPointer<QWidget> window_;
};

class TextBoxObject : public Dispatch {
 public:
  explicit TextBoxObject(QLineEdit* box) : box_(box) {}

  std::string Name() const { return Alive(box_).objectName().toStdString(); }
  std::string Text() const { return Alive(box_).text().toStdString(); }
  void Text(std::string text) { Alive(box_).setText(QtText(text)); }
  int32_t SelStart() const {
    const QLineEdit& box = Alive(box_);
    return box.hasSelectedText() ? box.selectionStart() : box.cursorPosition();
  }
  // Moves the cursor there and selects nothing.
  void SelStart(int32_t start) {
    QLineEdit& box = Alive(box_);
    box.deselect();
    box.setCursorPosition(start);
  }
  int32_t SelLength() const { return Alive(box_).selectionLength(); }
  // Selects length characters from SelStart (at most to the end).
  void SelLength(int32_t length) {
    const int32_t start = SelStart();
    QLineEdit& box = Alive(box_);
    box.setSelection(start,
                     std::min<int32_t>(length, static_cast<int32_t>(box.text().size()) - start));
  }

  const ClassTypeInfo& TypeInfo() const override {
    using C = TextBoxObject;
    using T = MemberTable<C>;
    using V = VarType;
    using M = MemberKind;
    static const ClassTypeInfo info{
        "QtTextBox",
        {T::Get("Name", 1, V::kText, &C::Name),
         T::Property("Text", 2, M::kGetLet, V::kText, &C::Text, &C::Text),
         T::Property("SelStart", 3, M::kGetLet, V::kInt32, &C::SelStart, &C::SelStart),
         T::Property("SelLength", 4, M::kGetLet, V::kInt32, &C::SelLength, &C::SelLength)}};
    return info;
  }

 private:
  QPointer<QLineEdit> box_;
};

}  // namespace

double PixelsPerTwip() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96;
  return dpi / kTwipsPerInch;
}

bool QtWindowing::Available() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    return qobject_cast<QApplication*>(app) != nullptr;
  }
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

std::optional<ScreenSize> QtWindowing::Screen() {
  if (Application() == nullptr) return std::nullopt;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return std::nullopt;
  const QRect area = screen->geometry();
  return ScreenSize{area.width() * TwipsPerPixel(), area.height() * TwipsPerPixel()};
}

bool QtWindowing::ShowModal(Dispatch& form) {
  auto* options = dynamic_cast<frmHTMLOptions*>(&form);
  if (options == nullptr || Application() == nullptr) return false;
  OptionsView view(*options);
  options->Show();
  Env env = CurrentEnv();
  env.windowing = this;
  WithEnv<clsCommon>(env).CentreForm(Variant(QtWindowObject(&view)));
  view.exec();
  return true;
}

void QtWindowing::MessageBox(const std::string& text, const std::string& title) {
  if (Application() == nullptr) {
    Windowing::MessageBox(text, title);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QtText(title), QtText(text), QMessageBox::Ok);
  box.setObjectName("MessageBox");
  box.exec();
}

bool UseQtWindowing() {
  if (!QtWindowing::Available()) return false;
  static QtWindowing windowing;
  Env::Default().windowing = &windowing;
  SetMessagePump([] {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
  });
  return true;
}

ObjectRef QtWindowObject(QWidget* window) { return std::make_shared<WindowObject>(window); }
ObjectRef QtTextBoxObject(QLineEdit* box) { return std::make_shared<TextBoxObject>(box); }

}  // namespace vok
