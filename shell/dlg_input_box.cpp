#include "dlg_input_box.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

#include "dialog_placement.h"
#include "radio_group.h"

namespace {

// Item order of rgNumSys.
constexpr std::array<int, 3> kBases{16, 10, 2};

}  // namespace

TdlgInputBox::TdlgInputBox(QWidget* mainWindow)
    : QDialog(mainWindow),
      mainWindow_(mainWindow),
      lblPrompt_(new QLabel(QStringLiteral("请输入数据"), this)),
      edtInput_(new QLineEdit(this)),
      rgNumSys_(new TRadioGroup("rgNumSys", QStringLiteral("数制选择"), this)),
      btnOk_(new QPushButton(QStringLiteral("确定"), this)),
      btnCancel_(new QPushButton(QStringLiteral("取消"), this)) {
  setObjectName("dlgInputBox");
  setWindowTitle(QStringLiteral("输入数据"));
  lblPrompt_->setObjectName("lblPrompt");
  edtInput_->setObjectName("edtInput");
  lblPrompt_->setBuddy(edtInput_);
  rgNumSys_->SetColumns(3);
  rgNumSys_->SetItems(
      {QStringLiteral("16进制"), QStringLiteral("10进制"), QStringLiteral("2进制")});
  rgNumSys_->SetItemIndex(0);
  btnOk_->setObjectName("btnOk");
  btnOk_->setDefault(true);
  btnCancel_->setObjectName("btnCancel");
  connect(btnOk_, &QPushButton::clicked, this, &TdlgInputBox::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* field = new QHBoxLayout;
  field->addWidget(lblPrompt_);
  field->addWidget(edtInput_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk_);
  buttons->addWidget(btnCancel_);
  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(10, 8, 10, 8);
  page->setSpacing(6);
  page->addLayout(field);
  page->addWidget(rgNumSys_);
  page->addStretch(1);
  page->addLayout(buttons);
  setFixedSize(kWidth, kHeightWithNumberSystem);
}

void TdlgInputBox::SetCaption(const QString& caption) { setWindowTitle(caption); }

void TdlgInputBox::SetPrompt(const QString& prompt) { lblPrompt_->setText(prompt); }

void TdlgInputBox::SetText(const QString& text) { edtInput_->setText(text); }

void TdlgInputBox::SetNumberSystemVisible(bool visible) {
  rgNumSys_->setVisible(visible);
  setFixedSize(kWidth, visible ? kHeightWithNumberSystem : kHeightWithoutNumberSystem);
}

void TdlgInputBox::SetNumberSystemEnabled(bool enabled) { rgNumSys_->setEnabled(enabled); }

void TdlgInputBox::SetNumberSystem(int base) {
  for (size_t i = 0; i < kBases.size(); ++i) {
    if (kBases[i] == base) rgNumSys_->SetItemIndex(static_cast<int>(i));
  }
}

void TdlgInputBox::accept() {
  inputText_ = edtInput_->text();
  const int item = rgNumSys_->ItemIndex();
  inputBase_ = item >= 0 ? kBases[static_cast<size_t>(item)] : kBases[0];
  QDialog::accept();
}

void TdlgInputBox::showEvent(QShowEvent* event) {
  if (mainWindow_) setFont(mainWindow_->font());
  CentreOn(this, mainWindow_);
  edtInput_->setFocus();
  edtInput_->selectAll();
  QDialog::showEvent(event);
}
