// The frame of the main window: the multi-document area with its background label, the
// docked pages (TPanelDocks arranges them), and the status bar.
#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "board_panel.h"
#include "extent_list.h"
#include "frm_main_win.h"
#include "layout_rules.h"
#include "panel_docks.h"
#include "user_screen.h"

namespace {

constexpr int kIoRowHeight = 30;

QTableWidget* NewGrid(const char* name, int rowHeight, bool wholeRows) {
  auto* grid = new QTableWidget;
  grid->setObjectName(name);
  grid->verticalHeader()->setDefaultSectionSize(rowHeight);
  grid->verticalHeader()->setMinimumSectionSize(rowHeight);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(wholeRows ? QAbstractItemView::SelectRows
                                       : QAbstractItemView::SelectItems);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  return grid;
}

// extent: how far the list scrolls sideways, in pixels, however short its lines are.
QListWidget* NewList(const char* name, int extent = 0) {
  QListWidget* list = extent > 0 ? new TExtentList(extent) : new QListWidget;
  list->setObjectName(name);
  list->setUniformItemSizes(true);  // one line each: thousands of messages lay out at once
  return list;
}

QDockWidget* NewDock(const char* name, const char* title, QWidget* content) {
  auto* dock = new QDockWidget(title);
  dock->setObjectName(name);
  dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                    QDockWidget::DockWidgetFloatable);
  dock->setWidget(content);
  return dock;
}

}  // namespace

void TfrmMainWin::BuildCentralArea() {
  mdiArea_ = new QMdiArea;
  mdiArea_->setObjectName("mdiArea");
  mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdiArea_);

  // The label lives on the area's viewport below every editor window and fills it, so the
  // text stays centred however the area is sized.
  lblCorvale_ = new QLabel("Corvale", mdiArea_->viewport());
  lblCorvale_->setObjectName("lblCorvale");
  QFont font("Tahoma");
  font.setPixelSize(96);
  font.setBold(true);
  font.setItalic(true);
  lblCorvale_->setFont(font);
  lblCorvale_->setAlignment(Qt::AlignCenter);
  lblCorvale_->setStyleSheet("color: #C0C0C0; background: transparent;");
  lblCorvale_->lower();
  mdiArea_->viewport()->installEventFilter(this);
  lblCorvale_->installEventFilter(this);
}

void TfrmMainWin::BuildPanelDocks() {
  tvFile_ = new QTreeWidget;
  tvFile_->setObjectName("tvFile");
  tvFile_->setHeaderHidden(true);
  tvFile_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFile_->setMouseTracking(true);
  sgRegs_ = NewGrid("sgRegs", 20, true);
  sgRegs_->verticalHeader()->hide();
  lbMessage_ = NewList("lbMessage", 1024);
  sgMemory_ = new QTableView;  // filled by the debugger views
  sgMemory_->setObjectName("sgMemory");
  sgWatch_ = NewGrid("sgWatch", 17, true);
  sgBreakpoint_ = NewGrid("sgBreakpoint", 20, true);
  sgStack_ = NewGrid("sgStack", 20, true);

  docks_ = new TPanelDocks(*this);
  docks_->Add(TPage::Files, "pnlFiles", "文件管理", tvFile_);
  docks_->Add(TPage::Registers, "pnlRegisters", "寄存器", sgRegs_);
  docks_->Add(TPage::Compile, "pnlCompile", "编译", lbMessage_);
  docks_->Add(TPage::Memory, "pnlMemory", "内存", sgMemory_);
  docks_->Add(TPage::Io, "pnlIO", "I/O读写", BuildIoPanel())->setStatusTip("显示I/O窗口");
  docks_->Add(TPage::Watches, "pnlWatches", "观察", sgWatch_);
  docks_->Add(TPage::Breakpoints, "pnlBreakpoints", "断点", sgBreakpoint_);
  docks_->Add(TPage::UserScreen, "pnlUserScreen", kUserScreenTitle, BuildUserScreen());
  docks_->Add(TPage::Stack, "pnlStack", "堆栈", sgStack_);
  boardPanel_ = new TBoardPanel;
  docks_->Add(TPage::Board, "pnlBoard", "实验板", boardPanel_)->setStatusTip("显示实验板");
  docks_->ArrangeDefault();
  docks_->Dock(TPage::Compile)->installEventFilter(this);
}

void TfrmMainWin::ArrangeDocks(bool debug) {
  if (debug) docks_->ArrangeDebug();
  else docks_->ArrangeDefault();
  PlaceDisassemblyDock();
}

void TfrmMainWin::PlaceDisassemblyDock() {
  if (!pnlDisassembly_) return;
  QDockWidget* bottom = docks_->Dock(docks_->Front(TPage::Compile).value_or(TPage::Compile));
  if (bottom->isFloating() || dockWidgetArea(bottom) != Qt::BottomDockWidgetArea) return;
  // Beside the group, not as one more of its tabs.
  addDockWidget(Qt::BottomDockWidgetArea, pnlDisassembly_, Qt::Horizontal);
}

void TfrmMainWin::BuildDisassemblyDock() {
  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* flags = new QHBoxLayout;
  flags->setContentsMargins(4, 2, 4, 2);
  flags->setSpacing(8);
  static constexpr const char* kFlags[8][2] = {
      {"CF", "进位标志"}, {"ZF", "零标志"},   {"SF", "符号标志"}, {"OF", "溢出标志"},
      {"PF", "奇偶标志"}, {"AF", "辅助进位"}, {"IF", "中断允许"}, {"DF", "方向控制"}};
  for (const auto& [flag, hint] : kFlags) {
    auto* label = new QLabel(QString(flag) + "=0");
    label->setObjectName(QString("lbl") + flag);
    label->setToolTip(hint);
    label->setStatusTip(hint);
    label->setAlignment(Qt::AlignCenter);
    flags->addWidget(label);
  }
  column->addLayout(flags);
  lbDisassembly_ = NewList("lbDisassembly", 2048);
  column->addWidget(lbDisassembly_, 1);

  pnlDisassembly_ = NewDock("pnlDisassembly", "反汇编窗口", content);
  PlaceDisassemblyDock();
  pnlDisassembly_->hide();
  // Showing the panel docks it at its place beside the message panel.
  connect(pnlDisassembly_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (visible) QMetaObject::invokeMethod(this, &TfrmMainWin::FormResize, Qt::QueuedConnection);
  });
}

QWidget* TfrmMainWin::BuildIoPanel() {
  ioPanel_ = new QWidget;
  ioPanel_->setObjectName("shtIO");
  ioPanel_->setStatusTip("显示I/O窗口");
  auto* addrLabel = new QLabel("端口地址:", ioPanel_);
  auto* edtIOAddr = new QLineEdit(ioPanel_);
  edtIOAddr->setObjectName("edtIOAddr");
  edtIOAddr->setStatusTip("请输入16进制格式");
  edtIOAddr->setToolTip("请输入16进制格式");
  auto* cbIOWidth = new QComboBox(ioPanel_);
  cbIOWidth->setObjectName("cbIOWidth");
  cbIOWidth->addItems({"8-bit", "16-bit", "32-bit"});
  auto* dataLabel = new QLabel("写入数据:", ioPanel_);
  auto* edtWriteData = new QLineEdit(ioPanel_);
  edtWriteData->setObjectName("edtWriteData");
  edtWriteData->setStatusTip("请输入16进制格式");
  edtWriteData->setToolTip("请输入16进制格式");
  btnWrite_ = new QPushButton("写入", ioPanel_);
  btnWrite_->setObjectName("btnWrite");
  btnRead_ = new QPushButton("读出", ioPanel_);
  btnRead_->setObjectName("btnRead");
  btnClear_ = new QPushButton("清空", ioPanel_);
  btnClear_->setObjectName("btnClear");
  lbIORecord_ = NewList("lbIORecord");
  lbIORecord_->setParent(ioPanel_);

  // Fixed positions on the left; the buttons follow the right edge (LayoutIoPanel).
  int x = 4;
  for (QWidget* w :
       std::initializer_list<QWidget*>{addrLabel, edtIOAddr, cbIOWidth, dataLabel, edtWriteData}) {
    const int width = w == edtIOAddr || w == edtWriteData ? 80 : w->sizeHint().width();
    w->setGeometry(x, 4, width, kIoRowHeight - 8);
    x += width + 6;
  }
  for (QPushButton* b : {btnWrite_, btnRead_, btnClear_}) b->resize(46, kIoRowHeight - 8);
  ioPanel_->installEventFilter(this);
  return ioPanel_;
}

QWidget* TfrmMainWin::BuildUserScreen() {
  auto* page = new QWidget;
  page->setObjectName("shtUserScreen");
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  lblINT21_ = new QLabel("人机交互窗口(单击此处清屏)                          ");
  lblINT21_->setObjectName("lblINT21");
  lblINT21_->setFixedHeight(20);
  lblINT21_->setAlignment(Qt::AlignCenter);
  lblINT21_->setCursor(Qt::PointingHandCursor);
  lblINT21_->setStyleSheet("color: white; background: #3A6EA5;");
  mmINT21_ = new QPlainTextEdit;
  mmINT21_->setObjectName("mmINT21");
  mmINT21_->setReadOnly(true);
  mmINT21_->setFrameShape(QFrame::NoFrame);
  mmINT21_->setContextMenuPolicy(Qt::NoContextMenu);
  mmINT21_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  column->addWidget(lblINT21_);
  column->addWidget(mmINT21_, 1);
  return page;
}

void TfrmMainWin::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar");
  pbLoad_ = new QProgressBar;
  pbLoad_->setObjectName("pbLoad");
  pbLoad_->setRange(0, 5);
  pbLoad_->setMinimumWidth(kHintMinWidth);
  bar->addWidget(pbLoad_);
  pbLoad_->hide();

  const auto field = [bar](const char* name, int minWidth, const QString& text, int stretch) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setMinimumWidth(minWidth);
    label->setAlignment(stretch ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    bar->addWidget(label, stretch);
    return label;
  };
  sHint_ = field("sHint", kHintMinWidth, "按 F1 获取帮助", 1);
  sConnect_ = field("sConnect", 60, "脱机模拟", 0);
  sStatus_ = field("sStatus", 60, "待命", 0);
  sLineLineColumn_ = field("sLineLineColumn", 92, "", 0);
  sModified_ = field("sModified", 50, "", 0);
  sInsertOverwrite_ = field("sInsertOverwrite", 36, "", 0);
  sCPUType_ = field("sCPUType", 120, "", 0);
  field("sInfo", 180, QString("Corvale V") + CORVALE_VERSION, 0);
  FrameStatusFields(true);
}

void TfrmMainWin::FrameStatusFields(bool framed) {
  // The platform's look draws no edges between the fields; the coloured skins frame them
  // through their style sheet, so a second frame there would double the lines.
  for (auto* field : statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    field->setFrameStyle(framed ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
  }
}

void TfrmMainWin::FormResize() {
  if (!sHint_) return;
  // The hint field takes what the fixed fields leave. Held as its largest width, so that
  // it never keeps the window from being narrowed; its 350 px minimum stays.
  const int hintWidth = HintFieldWidth(statusBar()->width());
  sHint_->setMaximumWidth(hintWidth);
  pbLoad_->setMaximumWidth(hintWidth);
  QDockWidget* bottom = docks_->Dock(docks_->Front(TPage::Compile).value_or(TPage::Compile));
  if (pnlDisassembly_->isVisible() && !pnlDisassembly_->isFloating() && !bottom->isFloating() &&
      dockWidgetArea(bottom) == Qt::BottomDockWidgetArea) {
    const int bottomWidth = bottom->width() + pnlDisassembly_->width();
    const int split = DisassemblyDockX(bottomWidth);
    resizeDocks({bottom, pnlDisassembly_}, {split, bottomWidth - split}, Qt::Horizontal);
  }
  // A largest width, not a fixed one, so that the tab bar never holds the window wide.
  if (mdiTabRow_) mdiTabRow_->setMaximumWidth(MdiBarWidth(width()));
  LayoutIoPanel();
}

void TfrmMainWin::LayoutIoPanel() {
  const int width = ioPanel_->width();
  const TIoButtonX x = IoButtonPositions(width);
  btnWrite_->move(x.write, 4);
  btnRead_->move(x.read, 4);
  btnClear_->move(x.clear, 4);
  lbIORecord_->setGeometry(0, kIoRowHeight, width, std::max(0, ioPanel_->height() - kIoRowHeight));
}

bool TfrmMainWin::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  // While the program waits for input, what the student types is for it, wherever the
  // focus was left (the editors are read-only during a run anyway); dialogs keep theirs.
  if (type == QEvent::KeyPress && userScreen_ && userScreen_->Waiting() && watched != mmINT21_ &&
      watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
        userScreen_->TypeKey(*key)) {
      userScreen_->FocusConsole();
      return true;
    }
  }
  if (watched == mdiArea_->viewport() && type == QEvent::Resize) {
    lblCorvale_->setGeometry(mdiArea_->viewport()->rect());
    lblCorvale_->lower();
  } else if (watched == lblCorvale_ && type == QEvent::MouseButtonDblClick) {
    afOpenExecute();
    return true;
  } else if (watched == lbMessage_ && type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) lbMessageDblClick();
  } else if ((watched == ioPanel_ || watched == docks_->Dock(TPage::Compile)) &&
             type == QEvent::Resize) {
    FormResize();
  } else if (placeOnExpose_ && watched == windowHandle() && type == QEvent::Expose &&
             windowHandle()->isExposed()) {
    placeOnExpose_ = false;
    windowHandle()->removeEventFilter(this);
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))) move(0, 0);
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMainWin::FillGridHeaders() {
  sgRegs_->setColumnCount(2);
  sgRegs_->setHorizontalHeaderLabels({" Register", " Value"});
  sgRegs_->setColumnWidth(0, 85);
  sgRegs_->setColumnWidth(1, 85);

  // The memory grid's headers come with its model (debugger views).
  sgWatch_->setColumnCount(6);
  sgWatch_->setHorizontalHeaderLabels(
      {"变量名", "数据类型", "内存地址", "16进制值", "10进制值", "2进制值"});
  const int watchWidths[] = {100, 60, 100, 60, 75, 205};
  for (int c = 0; c < 6; ++c) sgWatch_->setColumnWidth(c, watchWidths[c]);
  sgWatch_->verticalHeader()->hide();

  sgBreakpoint_->setColumnCount(7);
  sgBreakpoint_->setHorizontalHeaderLabels(
      {"文件名", "源程序", "行号", "地址", "启用", "条件", "命中次数"});
  const int breakpointWidths[] = {200, 300, 50, 50, 40, 140, 70};
  for (int c = 0; c < 7; ++c) sgBreakpoint_->setColumnWidth(c, breakpointWidths[c]);
  // Conditions and pass counts are typed into a selected cell (F2 or a second click); a
  // double click shows the row's line.
  sgBreakpoint_->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::SelectedClicked);
  sgBreakpoint_->setRowCount(1);
  sgBreakpoint_->verticalHeader()->hide();
}
