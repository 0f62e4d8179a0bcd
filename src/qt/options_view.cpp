#include "qt/options_view.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <cmath>

#include "html/html_options.h"
#include "qt/qt_windowing.h"

namespace vok {

namespace {

int Pixels(int32_t twips) { return static_cast<int>(std::lround(twips * PixelsPerTwip())); }

QString Name(std::string_view control) {
  return QString::fromLatin1(control.data(), static_cast<qsizetype>(control.size()));
}

}  // namespace

OptionsView::OptionsView(frmHTMLOptions& form, QWidget* parent) : QDialog(parent), form_(form) {
  setObjectName("frmHTMLOptions");
  setModal(true);
  auto* frame = new QGroupBox(this);
  frame->setObjectName("fraTags");
  list_ = new QListWidget(frame);
  list_->setObjectName("lstTags");
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  text_ = new QLineEdit(frame);
  text_->setObjectName("txtTag");
  auto button = [this](QWidget* parent, const char* name) {
    auto* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* add = button(frame, "cmdAdd");
  QPushButton* remove = button(frame, "cmdRemove");
  QPushButton* clear = button(frame, "cmdClear");
  overlap_ = new QCheckBox(frame);
  overlap_->setObjectName("chkOverlap");
  QPushButton* ok = button(this, "cmdOK");
  ok->setDefault(true);
  QPushButton* cancel = button(this, "cmdCancel");

  // Positions, and the tab order, follow the model's control table.
  QWidget* previous = nullptr;
  for (const frmHTMLOptions::Position& p : frmHTMLOptions::Positions()) {
    auto* control = findChild<QWidget*>(Name(p.control));
    if (control == nullptr) continue;
    control->setGeometry(Pixels(p.left), Pixels(p.top), Pixels(p.width), Pixels(p.height));
    if (control->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) setTabOrder(previous, control);
    previous = control;
  }
  setFixedSize(Pixels(frmHTMLOptions::kClientWidth), Pixels(frmHTMLOptions::kClientHeight));

  for (const frmHTMLOptions::Caption& c : form_.Captions()) {
    const QString name = Name(c.control);
    const QString text = QtText(c.text);
    if (name == objectName()) {
      setWindowTitle(text);
    } else if (auto* box = findChild<QGroupBox*>(name)) {
      box->setTitle(text);
    } else if (auto* b = findChild<QAbstractButton*>(name)) {
      b->setText(text);
    }
  }

  connect(text_, &QLineEdit::textChanged, this,
          [this](const QString& text) { form_.txtTag = text.toStdString(); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    form_.ListIndex = row;
    form_.lstTags_Click();
    ShowModel();
  });
  connect(overlap_, &QCheckBox::clicked, this, [this](bool checked) {
    form_.chkOverlap = checked;
    form_.chkOverlap_Click();
    ShowModel();
  });
  connect(add, &QPushButton::clicked, this, [this] {
    form_.cmdAdd_Click();
    ShowModel();
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    form_.cmdRemove_Click();
    ShowModel();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    form_.cmdClear_Click();
    ShowModel();
  });
  connect(ok, &QPushButton::clicked, this, &OptionsView::accept);
  connect(cancel, &QPushButton::clicked, this, &OptionsView::reject);

  ShowModel();
  list_->setFocus();
}

void OptionsView::accept() {
  form_.cmdOK_Click();
  QDialog::accept();
}

void OptionsView::reject() {
  form_.cmdCancel_Click();
  QDialog::reject();
}

void OptionsView::ShowModel() {
  const QSignalBlocker block_list(list_);
  const QSignalBlocker block_text(text_);
  bool same = list_->count() == static_cast<int>(form_.lstTags.size());
  for (int i = 0; same && i < list_->count(); ++i) {
    same = list_->item(i)->text() == QtText(form_.lstTags[static_cast<size_t>(i)].text);
  }
  if (!same) {
    list_->clear();
    for (const frmHTMLOptions::Item& item : form_.lstTags) list_->addItem(QtText(item.text));
  }
  list_->setCurrentRow(form_.ListIndex);  // -1 also clears the selection
  if (text_->text() != QtText(form_.txtTag)) text_->setText(QtText(form_.txtTag));
  overlap_->setChecked(form_.chkOverlap);
}

}  // namespace vok
