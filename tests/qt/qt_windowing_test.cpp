// The options dialog, message boxes and window helpers on real Qt widgets,
// driven as a user would with QTest.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <random>
#include <sstream>

#include "frame/with_env.h"
#include "html/html_options.h"
#include "platform/env.h"
#include "qt/options_view.h"
#include "qt/qt_windowing.h"
#include "support/errors.h"
#include "support/fault_registry.h"
#include "support/scratch_dir.h"
#include "validate_command.h"
#include "voktools/common.h"
#include "voktools/html_validate.h"

namespace vok {
namespace {

// The default Env with the Qt window system, current while it lives.
struct QtEnv {
  QtWindowing windowing;
  Env env = [this] {
    Env e = Env::Default();
    e.windowing = &windowing;
    return e;
  }();
  ScopedEnv scope{env};
};

template <typename W>
W* Control(QWidget* dialog, const char* name) {
  W* w = dialog->findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// Runs user once the next modal window is up (the dialog or a message box),
// and gives up on it after 10 s so that a fault fails instead of hanging.
void WhenModal(std::function<void(QWidget*)> user) {
  QTimer::singleShot(0, [user] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    user(modal);
  });
  QTimer::singleShot(10000, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      ADD_FAILURE() << "the modal window was left open";
      modal->close();
    }
  });
}

void ClickRow(QListWidget* list, int row) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(row)).center());
}

// Random users of the dialog: what the widgets show after every step and the
// table the class ends up with are what the model alone gives for the same
// steps.
TEST(OptionsDialog, WidgetsFollowTheModel) {
  QtEnv qt;
  const std::vector<QString> typed = {"em", "  em ", "b", "Font", "h1", "", "   ", "dfn"};
  const std::vector<std::string> tables = {"B|0,FONT|1,x|0,", "", "A|1,",
                                           std::string(clsHTMLValidate::kDefaultTags)};
  enum Close { kOk, kCancel, kEscape, kEnter, kCloseControl, kCloseCount };
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const std::string initial = tables[rng() % tables.size()];
    frmHTMLOptions model;
    model.Load();
    model.Tags(initial);
    const Close close = static_cast<Close>(rng() % kCloseCount);
    bool loaded_while_shown = false;
    WhenModal([&](QWidget* dialog) {
      loaded_while_shown = clsCommon().IsLoaded("frmHTMLOptions");
      auto* list = Control<QListWidget>(dialog, "lstTags");
      auto* text = Control<QLineEdit>(dialog, "txtTag");
      auto* overlap = Control<QCheckBox>(dialog, "chkOverlap");
      for (int step = 0; step < 12; ++step) {
        switch (rng() % 6) {
          case 0: {
            const QString name = typed[rng() % typed.size()];
            text->selectAll();
            QTest::keyClick(text, Qt::Key_Backspace);
            QTest::keyClicks(text, name);
            model.txtTag = name.toStdString();
            break;
          }
          case 1:
            QTest::mouseClick(Control<QPushButton>(dialog, "cmdAdd"), Qt::LeftButton);
            model.cmdAdd_Click();
            break;
          case 2:
            QTest::mouseClick(Control<QPushButton>(dialog, "cmdRemove"), Qt::LeftButton);
            model.cmdRemove_Click();
            break;
          case 3:
            if (rng() % 3 == 0) {
              QTest::mouseClick(Control<QPushButton>(dialog, "cmdClear"), Qt::LeftButton);
              model.cmdClear_Click();
            }
            break;
          case 4:
            if (!model.lstTags.empty()) {
              const int row = static_cast<int>(rng() % model.lstTags.size());
              ClickRow(list, row);
              model.ListIndex = row;
              model.lstTags_Click();
            }
            break;
          case 5:  // on the box, not on the empty space right of its caption
            QTest::mouseClick(overlap, Qt::LeftButton, {}, QPoint(6, overlap->height() / 2));
            model.chkOverlap = !model.chkOverlap;
            model.chkOverlap_Click();
            break;
        }
        ASSERT_EQ(list->count(), static_cast<int>(model.lstTags.size())) << step;
        for (int i = 0; i < list->count(); ++i) {
          EXPECT_EQ(list->item(i)->text().toStdString(), model.lstTags[i].text);
        }
        EXPECT_EQ(list->currentRow(), model.ListIndex) << step;
        EXPECT_EQ(overlap->isChecked(), model.chkOverlap) << step;
      }
      switch (close) {
        case kOk:
          QTest::mouseClick(Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
          break;
        case kCancel:
          QTest::mouseClick(Control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
          break;
        case kEscape:
          QTest::keyClick(list, Qt::Key_Escape);
          break;
        case kEnter:
          QTest::keyClick(text, Qt::Key_Return);
          break;
        default:
          dialog->close();
          break;
      }
    });
    clsHTMLValidate v;
    v.Tags(initial);
    const auto outcome = v.EditOptions();
    const bool accepted = close == kOk || close == kEnter;
    EXPECT_EQ(outcome, accepted ? clsHTMLValidate::OptionsOutcome::kAccepted
                                : clsHTMLValidate::OptionsOutcome::kCancelled);
    EXPECT_EQ(v.Tags(), accepted ? model.Tags() : initial);
    EXPECT_TRUE(loaded_while_shown);
    EXPECT_FALSE(clsCommon().IsLoaded("frmHTMLOptions"));
  }
}

QRect InDialog(QWidget* control, QWidget* dialog) {
  return QRect(control->mapTo(dialog, QPoint(0, 0)), control->size());
}

// What a person sees: the picture is written beside the tests, every
// caption fits its control, no control leaves the window, none covers
// another, and every control is drawn.
TEST(OptionsDialog, ScreenshotShowsEveryControl) {
  frmHTMLOptions form;
  form.Load();
  form.Tags(clsHTMLValidate::kDefaultTags);
  form.ListIndex = 4;  // FONT: the box is ticked
  form.lstTags_Click();
  OptionsView view(form);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QImage picture = view.grab().toImage();
  const QString file = "options-dialog-" + QGuiApplication::platformName() + ".png";
  EXPECT_TRUE(picture.save(QDir(VOK_SCREENSHOT_DIR).filePath(file)));
  EXPECT_EQ(view.windowTitle().toStdString(), "HTML Options");
  // The client area is 3885 x 4470 twips at the screen's resolution.
  const double dpi = view.screen()->logicalDotsPerInch();
  EXPECT_NEAR(view.width(), frmHTMLOptions::kClientWidth * dpi / 1440, 1);
  EXPECT_NEAR(view.height(), frmHTMLOptions::kClientHeight * dpi / 1440, 1);

  std::vector<std::pair<std::string, QRect>> controls;
  for (const frmHTMLOptions::Position& p : frmHTMLOptions::Positions()) {
    const std::string name(p.control);
    QWidget* control = view.findChild<QWidget*>(QString::fromStdString(name));
    ASSERT_NE(control, nullptr) << name;
    EXPECT_TRUE(control->isVisible()) << name;
    const QRect area = InDialog(control, &view);
    EXPECT_TRUE(view.rect().contains(area)) << name;
    // Drawn: more than one colour where the control is.
    const QImage part = picture.copy(area);
    bool drawn = false;
    for (int y = 0; y < part.height() && !drawn; ++y) {
      for (int x = 0; x < part.width() && !drawn; ++x) drawn = part.pixel(x, y) != part.pixel(0, 0);
    }
    EXPECT_TRUE(drawn) << name;
    if (name != "fraTags") controls.emplace_back(name, area);
  }
  for (size_t i = 0; i < controls.size(); ++i) {
    for (size_t j = i + 1; j < controls.size(); ++j) {
      EXPECT_FALSE(controls[i].second.intersects(controls[j].second))
          << controls[i].first << " " << controls[j].first;
    }
  }
  for (const frmHTMLOptions::Caption& c : form.Captions()) {
    if (c.control == "frmHTMLOptions") continue;
    QWidget* control =
        view.findChild<QWidget*>(QString::fromLatin1(c.control.data(), c.control.size()));
    ASSERT_NE(control, nullptr);
    QString shown;
    if (auto* box = qobject_cast<QGroupBox*>(control)) shown = box->title();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) shown = button->text();
    EXPECT_EQ(shown.toStdString(), c.text);
    // The caption's letters fit with a margin on each side (and, for the
    // check box, its box before them).
    const int margins = qobject_cast<QCheckBox*>(control) ? 30 : 8;
    QString letters = shown;
    letters.remove('&');
    EXPECT_LE(control->fontMetrics().horizontalAdvance(letters) + margins, control->width())
        << c.control;
    EXPECT_LE(control->fontMetrics().height(), control->height()) << c.control;
  }
}

// The window helpers on real windows, in twips.
TEST(WindowHelpers, WorkOnQtWindows) {
  QtEnv qt;
  clsCommon c;
  QWidget window;
  window.setObjectName("frmHost");
  window.resize(300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  c.CentreForm(Variant(QtWindowObject(&window)));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_LE((window.frameGeometry().center() - screen.center()).manhattanLength(), 2);

  QLineEdit box("select me");
  c.HighLight(Variant(QtTextBoxObject(&box)));
  EXPECT_EQ(box.selectedText(), box.text());

  // SetCaption measures with the window's own font: a caption that just
  // fits stays, one twip less shortens it, a larger font shortens more.
  const std::string caption = "C:\\Projects\\Translations\\manual_chapter_twelve.htm";
  ObjectRef form = QtWindowObject(&window);
  const double width = form->Call("TextWidth", {Variant(caption)}).ToDouble();
  EXPECT_NEAR(
      width,
      window.fontMetrics().horizontalAdvance(QString::fromStdString(caption)) / PixelsPerTwip(),
      1440.0 / 96);
  const int32_t fits = static_cast<int32_t>(std::ceil(width));
  EXPECT_EQ(c.SetCaption(caption, Variant(form), fits), caption);
  const std::string shorter = c.SetCaption(caption, Variant(form), fits - 1000);
  EXPECT_NE(shorter.find("...."), std::string::npos);
  EXPECT_LE(form->Call("TextWidth", {Variant(shorter)}).ToDouble(), fits - 1000);
  QFont big = window.font();
  big.setPointSizeF(big.pointSizeF() * 2);
  window.setFont(big);
  EXPECT_LT(c.SetCaption(caption, Variant(form), fits - 1000).size(), shorter.size());

  // A window that is gone.
  auto gone = std::make_unique<QWidget>();
  ObjectRef dead = QtWindowObject(gone.get());
  gone.reset();
  EXPECT_EQ(test::ErrorNumber([&] { c.CentreForm(Variant(dead)); }), 91);
}

TEST(MessageBox, SaysTheSystemInformationIsUnavailable) {
  QtEnv qt;
  test::FaultRegistry registry;  // names no program
  qt.env.registry = &registry;
  std::string text, title;
  int buttons = 0;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text().toStdString();
    title = box->windowTitle().toStdString();
    buttons = static_cast<int>(box->buttons().size());
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  WithEnv<clsCommon>(qt.env).StartSysInfo();
  EXPECT_EQ(text, "System Information Is Unavailable At This Time");
  EXPECT_EQ(title, "VOK Tools");
  EXPECT_EQ(buttons, 1);
}

// `voktools tags --edit`: what is printed for what the user does.
TEST(TagsEdit, PrintsTheTableOnOkOnly) {
  QtEnv qt;
  struct Case {
    const char* typed;
    bool ok;
    int status;
    std::string out, err;
  };
  const Case cases[] = {
      {"dfn", true, 0, "B|0,I|1,DFN|0,\n", ""},
      {"dfn", false, 1, "", ""},
      {"x-1", true, 65, "", "voktools tags: the edited table cannot be used: "},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.typed);
    WhenModal([&](QWidget* dialog) {
      QTest::keyClicks(Control<QLineEdit>(dialog, "txtTag"), k.typed);
      QTest::mouseClick(Control<QPushButton>(dialog, "cmdAdd"), Qt::LeftButton);
      QTest::mouseClick(Control<QPushButton>(dialog, k.ok ? "cmdOK" : "cmdCancel"), Qt::LeftButton);
    });
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunTags(std::string("b|0,i|1"), true, out, err), k.status);
    EXPECT_EQ(out.str(), k.out);
    EXPECT_EQ(err.str().substr(0, k.err.size()), k.err);
  }
}

// `voktools validate --edit-tags`: OK validates with the edited table (B may
// nest in itself: nothing to repair), Cancel with the table as it was.
TEST(TagsEdit, ValidateUsesTheEditedTableOnOk) {
  QtEnv qt;
  for (const bool ok : {true, false}) {
    SCOPED_TRACE(ok);
    test::ScratchDir dir;
    const std::string page = "<b><b>x</b></b>";
    test::WriteFile(dir / "p.htm", page);
    WhenModal([&](QWidget* dialog) {
      QTest::mouseClick(Control<QCheckBox>(dialog, "chkOverlap"), Qt::LeftButton, {},
                        QPoint(6, 8));  // B, the first tag, is selected
      QTest::keyClick(dialog, ok ? Qt::Key_Return : Qt::Key_Escape);
    });
    cli::ValidateOptions options;
    options.files = {dir / "p.htm"};
    options.tags = "B|0,";
    options.edit_tags = true;
    std::ostringstream out, err;
    cli::Reporter reporter({.quiet = true}, out, err, false);
    EXPECT_EQ(cli::RunValidate(options, reporter, out, err), 0) << err.str();
    EXPECT_EQ(test::ReadFile(dir / "p.htm") == page, ok);
  }
}

}  // namespace
}  // namespace vok
