#include "dlg_config_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

#include "board_choice.h"
#include "dialog_placement.h"
#include "prompts.h"
#include "radio_group.h"

namespace {

constexpr int kClientWidth = 441;
constexpr int kClientHeight = 377;

struct TSeriesItems {
  const char* series;
  std::array<const char*, 2> types;
};

constexpr std::array<TSeriesItems, 3> kSeries{{
    {"80X86系列", {"8086/8088", "80386/80486"}},
    {"MCS51系列", {"8032(EA=0)", "8952(EA=1)"}},
    {"MCS96系列", {"80C196KB", "80C196KC"}},
}};

// Item order of rgX86; the index is what the settings call the assembler.
constexpr std::array<const char*, 2> kAssemblers{"TASM", "MASM"};

// Settings from an older or foreign file may hold anything; show those as the first choice.
int ValidIndex(int value, int count) { return value >= 0 && value < count ? value : 0; }

}  // namespace

TdlgConfigBox::TdlgConfigBox(QWidget* mainWindow, const TWorkingModeChoice& current,
                             std::vector<std::filesystem::path> boardsFolders, IPrompts* prompts)
    : QDialog(mainWindow),
      mainWindow_(mainWindow),
      boardsFolders_(std::move(boardsFolders)),
      prompts_(prompts) {
  setObjectName("dlgConfigBox");
  setWindowTitle(QStringLiteral("设置工作方式"));
  if (mainWindow_) setFont(mainWindow_->font());
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
  ShowChoice(current);
}

void TdlgConfigBox::BuildControls() {
  rgCPUSeries_ = new TRadioGroup("rgCPUSeries", QStringLiteral("目标CPU系列"), this);
  QStringList seriesItems;
  for (const TSeriesItems& s : kSeries) seriesItems << QString::fromUtf8(s.series);
  rgCPUSeries_->SetItems(seriesItems);
  rgCPUSeries_->setEnabled(false);

  rgCPUType_ = new TRadioGroup("rgCPUType", QStringLiteral("目标CPU型号"), this);
  rgX86_ = new TRadioGroup("rgX86", QStringLiteral("80X86 编译器设置"), this);
  rgX86_->SetItems({QStringLiteral("Turbo C/C++编译器, TASM汇编器 (推荐)"),
                    QStringLiteral("Turbo C/C++编译器, MASM汇编器")});
  rgM51_ = new TRadioGroup("rgM51", QStringLiteral("MCS51 编译器设置"), this);
  rgM51_->SetItems({QStringLiteral("Keil C51编译器, Keil A51汇编器")});
  rgM51_->SetItemIndex(0);
  rgM96_ = new TRadioGroup("rgM96", QStringLiteral("MCS96 编译器设置"), this);
  rgM96_->SetItems({QStringLiteral("Intel C96编译器, Intel A96汇编器")});
  rgM96_->SetItemIndex(0);

  auto* gbOther = new QGroupBox(QStringLiteral("编译及调试设置"), this);
  gbOther->setObjectName("gbOther");
  cbCreateBINFile_ = new QCheckBox(QStringLiteral("装载后保留生成的代码"), gbOther);
  cbCreateBINFile_->setObjectName("cbCreateBINFile");
  cbAutoDisassembly_ = new QCheckBox(QStringLiteral("装载后开启反汇编窗口"), gbOther);
  cbAutoDisassembly_->setObjectName("cbAutoDisassembly");
  cbBiosServices_ = new QCheckBox(QStringLiteral("脱机模拟提供BIOS服务（INT 10H/16H）"), gbOther);
  cbBiosServices_->setObjectName("cbBiosServices");
  auto* otherLayout = new QHBoxLayout(gbOther);
  otherLayout->addWidget(cbCreateBINFile_);
  otherLayout->addWidget(cbAutoDisassembly_);
  otherLayout->addWidget(cbBiosServices_);

  auto* lblBoard = new QLabel(QStringLiteral("实验板："), this);
  cbBoard_ = new QComboBox(this);
  cbBoard_->setObjectName("cbBoard");
  lblBoard->setBuddy(cbBoard_);
  btnBoardBrowse_ = new QPushButton(QStringLiteral("浏览..."), this);
  btnBoardBrowse_->setObjectName("btnBoardBrowse");
  btnBoardBrowse_->setEnabled(prompts_ != nullptr);
  connect(btnBoardBrowse_, &QPushButton::clicked, this, &TdlgConfigBox::btnBoardBrowseClick);
  auto* boardRow = new QHBoxLayout;
  boardRow->addWidget(lblBoard);
  boardRow->addWidget(cbBoard_, 1);
  boardRow->addWidget(btnBoardBrowse_);

  btnOk_ = new QPushButton(QStringLiteral("确定"), this);
  btnOk_->setObjectName("btnOk");
  btnOk_->setDefault(true);
  btnCancel_ = new QPushButton(QStringLiteral("取消"), this);
  btnCancel_->setObjectName("btnCancel");
  connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* left = new QVBoxLayout;
  left->addWidget(rgCPUSeries_);
  left->addWidget(rgCPUType_);
  auto* right = new QVBoxLayout;
  right->addWidget(rgX86_);
  right->addWidget(rgM51_);
  right->addWidget(rgM96_);
  auto* groups = new QHBoxLayout;
  groups->addLayout(left, 2);
  groups->addLayout(right, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk_);
  buttons->addWidget(btnCancel_);
  auto* page = new QVBoxLayout(this);
  page->addLayout(groups, 1);
  page->addWidget(gbOther);
  page->addLayout(boardRow);
  page->addLayout(buttons);
}

void TdlgConfigBox::ShowChoice(const TWorkingModeChoice& current) {
  const int series = ValidIndex(current.CPUSeries, static_cast<int>(kSeries.size()));
  rgCPUSeries_->SetItemIndex(series);
  // Anything but MASM keeps the first (recommended) assembler.
  rgX86_->SetItemIndex(current.Assembler == QLatin1String(kAssemblers[1]) ? 1 : 0);
  cbCreateBINFile_->setChecked(current.SaveEXEFile);
  cbAutoDisassembly_->setChecked(current.Disassembly);
  cbBiosServices_->setChecked(current.BiosServices);
  FillBoards(current.Board);
  ApplySeries(series);
  rgCPUType_->SetItemIndex(ValidIndex(current.CPUType, rgCPUType_->ItemCount()));
}

void TdlgConfigBox::ApplySeries(int series) {
  rgX86_->setEnabled(false);
  rgM51_->setEnabled(false);
  rgM96_->setEnabled(false);
  const TSeriesItems& items = kSeries[static_cast<size_t>(series)];
  rgCPUType_->SetItems({QString::fromUtf8(items.types[0]), QString::fromUtf8(items.types[1])});
  TRadioGroup* const compilers[] = {rgX86_, rgM51_, rgM96_};
  compilers[series]->setEnabled(true);
}

TWorkingModeChoice TdlgConfigBox::Choice() const {
  TWorkingModeChoice choice;
  choice.CPUSeries = rgCPUSeries_->ItemIndex();
  choice.CPUType = rgCPUType_->ItemIndex();
  choice.Assembler = QString::fromLatin1(kAssemblers[rgX86_->ItemIndex() == 1 ? 1 : 0]);
  choice.SaveEXEFile = cbCreateBINFile_->isChecked();
  choice.Disassembly = cbAutoDisassembly_->isChecked();
  choice.BiosServices = cbBiosServices_->isChecked();
  choice.Board = cbBoard_->currentData().toString();
  return choice;
}

// "无" first, then every description in the boards folders by name, its first comment line
// as its tooltip.
void TdlgConfigBox::FillBoards(const QString& current) {
  cbBoard_->clear();
  cbBoard_->addItem(QStringLiteral("无"), QString::fromUtf8(kNoBoard.data(), kNoBoard.size()));
  for (const std::string& name : BoardFileNames(boardsFolders_)) {
    const QString text = QString::fromStdString(name);
    cbBoard_->addItem(text, text);
    const TBoardFile file = BoardFilePath(name, boardsFolders_);
    const std::string summary = BoardFileSummary(file.path);
    if (!summary.empty())
      cbBoard_->setItemData(cbBoard_->count() - 1, QString::fromStdString(summary),
                            Qt::ToolTipRole);
  }
  SelectBoard(current);
}

void TdlgConfigBox::SelectBoard(const QString& choice) {
  const QString wanted = choice.isEmpty() ? QString::fromUtf8(kDefaultBoard.data()) : choice;
  int index = -1;
  for (int i = 0; i < cbBoard_->count() && index < 0; ++i) {
    const QString data = cbBoard_->itemData(i).toString();
    const bool none = i == 0;  // "none" in any case
    if (none ? wanted.compare(data, Qt::CaseInsensitive) == 0 : wanted == data) index = i;
  }
  if (index < 0) {
    cbBoard_->addItem(wanted, wanted);
    index = cbBoard_->count() - 1;
  }
  cbBoard_->setCurrentIndex(index);
}

// Any description file; one in a boards folder is kept by its name.
void TdlgConfigBox::btnBoardBrowseClick() {
  TFileDialogRequest request;
  request.caption = QStringLiteral("选择实验板描述文件");
  if (!boardsFolders_.empty())
    request.directory = QString::fromStdString(boardsFolders_.back().string());
  request.filters = {QStringLiteral("实验板描述文件 (*.ini)"), QStringLiteral("所有文件 (*)")};
  const TFileDialogResult result = prompts_->OpenFile(this, request);
  if (!result.accepted || result.path.isEmpty()) return;
  const QFileInfo file(result.path);
  for (const std::filesystem::path& folder : boardsFolders_) {
    if (QFileInfo(QString::fromStdString(folder.string())).canonicalFilePath() ==
        file.canonicalPath()) {
      SelectBoard(file.fileName());
      return;
    }
  }
  SelectBoard(file.absoluteFilePath());
}

void TdlgConfigBox::showEvent(QShowEvent* event) {
  CentreOn(this, mainWindow_);
  QDialog::showEvent(event);
}
