#include "dlg_search.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TdlgSearch::TdlgSearch(TMode mode, QWidget* parent)
    : QDialog(parent),
      mode_(mode),
      edtFind_(new QLineEdit(this)),
      cbWholeWord_(new QCheckBox(QStringLiteral("全字匹配(&W)"), this)),
      cbMatchCase_(new QCheckBox(QStringLiteral("区分大小写(&C)"), this)),
      cbWrap_(new QCheckBox(QStringLiteral("循环查找(&L)"), this)),
      lblResult_(new QLabel(this)),
      btnFindNext_(new QPushButton(QStringLiteral("查找下一个(&F)"), this)),
      btnCount_(new QPushButton(QStringLiteral("计数(&T)"), this)) {
  const bool replace = mode == TMode::Replace;
  setObjectName(replace ? "dlgReplace" : "dlgFind");
  setWindowTitle(replace ? QStringLiteral("替换") : QStringLiteral("查找"));
  setModal(false);
  edtFind_->setObjectName("edtFind");
  cbWholeWord_->setObjectName("cbWholeWord");
  cbMatchCase_->setObjectName("cbMatchCase");
  cbWrap_->setObjectName("cbWrap");
  cbWrap_->setToolTip(QStringLiteral("到达文档末尾（向上时为开头）后从另一端继续查找"));
  lblResult_->setObjectName("lblResult");
  btnCount_->setObjectName("btnCount");
  btnCount_->setToolTip(QStringLiteral("统计整个文档中的匹配次数"));
  btnFindNext_->setObjectName("btnFindNext");
  btnFindNext_->setDefault(true);
  auto* btnCancel = new QPushButton(QStringLiteral("取消"), this);
  btnCancel->setObjectName("btnCancel");

  auto* fields = new QGridLayout;
  auto* findLabel = new QLabel(QStringLiteral("查找内容(&N):"), this);
  findLabel->setBuddy(edtFind_);
  fields->addWidget(findLabel, 0, 0);
  fields->addWidget(edtFind_, 0, 1);
  if (replace) {
    edtReplace_ = new QLineEdit(this);
    edtReplace_->setObjectName("edtReplace");
    auto* replaceLabel = new QLabel(QStringLiteral("替换为(&P):"), this);
    replaceLabel->setBuddy(edtReplace_);
    fields->addWidget(replaceLabel, 1, 0);
    fields->addWidget(edtReplace_, 1, 1);
  }
  auto* options = new QHBoxLayout;
  auto* checks = new QVBoxLayout;
  checks->addWidget(cbWholeWord_);
  checks->addWidget(cbMatchCase_);
  checks->addWidget(cbWrap_);
  options->addLayout(checks);
  if (!replace) {
    auto* direction = new QGroupBox(QStringLiteral("方向"), this);
    rbUp_ = new QRadioButton(QStringLiteral("向上(&U)"), direction);
    rbDown_ = new QRadioButton(QStringLiteral("向下(&D)"), direction);
    rbUp_->setObjectName("rbUp");
    rbDown_->setObjectName("rbDown");
    rbDown_->setChecked(true);
    auto* row = new QHBoxLayout(direction);
    row->addWidget(rbUp_);
    row->addWidget(rbDown_);
    options->addWidget(direction);
  }
  auto* left = new QVBoxLayout;
  left->addLayout(fields);
  left->addLayout(options);
  left->addWidget(lblResult_);
  left->addStretch(1);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnFindNext_);
  if (replace) {
    btnReplace_ = new QPushButton(QStringLiteral("替换(&R)"), this);
    btnReplaceAll_ = new QPushButton(QStringLiteral("全部替换(&A)"), this);
    btnReplace_->setObjectName("btnReplace");
    btnReplaceAll_->setObjectName("btnReplaceAll");
    buttons->addWidget(btnReplace_);
    buttons->addWidget(btnReplaceAll_);
    connect(btnReplace_, &QPushButton::clicked, this, [this] {
      replaceAllPressed_ = false;
      emit ReplacePressed(false);
    });
    connect(btnReplaceAll_, &QPushButton::clicked, this, [this] {
      replaceAllPressed_ = true;
      emit ReplacePressed(true);
    });
  }
  buttons->addWidget(btnCount_);
  buttons->addWidget(btnCancel);
  buttons->addStretch(1);

  auto* page = new QHBoxLayout(this);
  page->addLayout(left, 1);
  page->addLayout(buttons);
  page->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnFindNext_, &QPushButton::clicked, this, [this] {
    replaceAllPressed_ = false;
    emit FindPressed();
  });
  connect(btnCount_, &QPushButton::clicked, this, &TdlgSearch::CountPressed);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::close);
  connect(edtFind_, &QLineEdit::textChanged, this, [this] {
    lblResult_->clear();
    UpdateButtons();
  });
  UpdateButtons();

  // Tab walks the fields top to bottom, then the options, then the buttons.
  QList<QWidget*> order{edtFind_};
  if (edtReplace_) order << edtReplace_;
  order << cbWholeWord_ << cbMatchCase_ << cbWrap_;
  if (rbUp_) order << rbUp_ << rbDown_;
  order << btnFindNext_;
  if (btnReplace_) order << btnReplace_ << btnReplaceAll_;
  order << btnCount_ << btnCancel;
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

QString TdlgSearch::FindText() const { return edtFind_->text(); }

void TdlgSearch::SetFindText(const QString& text) {
  edtFind_->setText(text);
  edtFind_->selectAll();
}

QString TdlgSearch::ReplaceText() const { return edtReplace_ ? edtReplace_->text() : QString(); }

void TdlgSearch::SetReplaceText(const QString& text) {
  if (edtReplace_) edtReplace_->setText(text);
}

TSearchOptions TdlgSearch::Options() const {
  TSearchOptions options;
  options.down = rbDown_ == nullptr || rbDown_->isChecked();
  options.matchCase = cbMatchCase_->isChecked();
  options.wholeWord = cbWholeWord_->isChecked();
  options.replaceAll = replaceAllPressed_;
  options.wrap = cbWrap_->isChecked();
  return options;
}

void TdlgSearch::FocusFindText() {
  edtFind_->setFocus(Qt::ShortcutFocusReason);
  edtFind_->selectAll();
}

void TdlgSearch::ShowResult(const QString& text) { lblResult_->setText(text); }

void TdlgSearch::UpdateButtons() {
  // Nothing to search for: the buttons wait for a text.
  const bool any = !edtFind_->text().isEmpty();
  btnFindNext_->setEnabled(any);
  if (btnReplace_) btnReplace_->setEnabled(any);
  if (btnReplaceAll_) btnReplaceAll_->setEnabled(any);
  btnCount_->setEnabled(any);
}
