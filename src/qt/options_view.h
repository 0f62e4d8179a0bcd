// frmHTMLOptions on screen: a modal QDialog that draws the model's controls
// at its positions and hands every user action to the model's handlers,
// then shows the model's state again.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace vok {

class frmHTMLOptions;

class OptionsView : public QDialog {
 public:
  // The form must be loaded (captions set) and outlive the view.
  explicit OptionsView(frmHTMLOptions& form, QWidget* parent = nullptr);

  // OK (also Enter, on the default button) and Cancel (also Escape and the
  // window's close control, which Cancel stands for).
  void accept() override;
  void reject() override;

 private:
  // Shows the model's list, selection, text and check box.
  void ShowModel();

  frmHTMLOptions& form_;
  QListWidget* list_;
  QLineEdit* text_;
  QCheckBox* overlap_;
};

}  // namespace vok
