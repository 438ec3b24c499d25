#include "dlg_osc_box.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialog_placement.h"
#include "prompts.h"
#include "trainer_session.h"

namespace {

constexpr int kGrid = 32;
const QColor kGridColour(0x80, 0x80, 0x80);
const QColor kTraceColour(0x00, 0xFF, 0x00);
const QPoint kReadoutAt(340, 297);
const char* const kStreamEnded = "无信号";

QFont ReadoutFont() {
  QFont font(QStringLiteral("Fixedsys"));
  // Five characters from x = 340 must fit the 385 pixels, in whichever fixed font is found.
  font.setPixelSize(13);
  font.setStyleHint(QFont::TypeWriter);
  font.setFamilies({QStringLiteral("Fixedsys"), QStringLiteral("DejaVu Sans Mono"),
                    QStringLiteral("Monospace")});
  return font;
}

}  // namespace

TdlgOscBox::TdlgOscBox(QWidget* mainWindow, TTrainerSession& session, IPrompts& prompts)
    : QDialog(mainWindow),
      session_(session),
      prompts_(prompts),
      mainWindow_(mainWindow),
      picture_(TOscilloscope::kWidth, TOscilloscope::kHeight, QImage::Format_RGB32) {
  setObjectName("dlgOscBox");
  setWindowTitle(QStringLiteral("虚拟示波器"));
  if (QFontDatabase::hasFamily(QStringLiteral("微软雅黑")))
    setFont(QFont(QStringLiteral("微软雅黑"), 9));
  imgOsc_ = new QLabel(this);
  imgOsc_->setObjectName("imgOsc");
  imgOsc_->setFixedSize(TOscilloscope::kWidth, TOscilloscope::kHeight);
  btnStart_ = Button("btnStart", "启动");
  btnStop_ = Button("btnStop", "停止");
  btnClose_ = Button("btnClose", "关闭");
  btnZoomInX_ = Button("btnZoomInX", "放大X");
  btnZoomOutX_ = Button("btnZoomOutX", "缩小X");
  btnZoomInY_ = Button("btnZoomInY", "放大Y");
  btnZoomOutY_ = Button("btnZoomOutY", "缩小Y");
  btnSave_ = Button("btnSave", "保存波形");
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {btnStart_, btnStop_, btnZoomInX_, btnZoomOutX_, btnZoomInY_, btnZoomOutY_,
                         btnSave_, btnClose_})
    buttons->addWidget(b);
  buttons->addStretch();
  auto* row = new QHBoxLayout(this);
  row->addWidget(imgOsc_);
  row->addLayout(buttons);
  connect(btnStart_, &QPushButton::clicked, this, [this] { btnStartStopClick(true); });
  connect(btnStop_, &QPushButton::clicked, this, [this] { btnStartStopClick(false); });
  for (QPushButton* zoom : {btnZoomInX_, btnZoomOutX_, btnZoomInY_, btnZoomOutY_})
    connect(zoom, &QPushButton::clicked, this, [this, zoom] { btnZoomXYClick(zoom); });
  connect(btnSave_, &QPushButton::clicked, this, &TdlgOscBox::btnSaveClick);
  connect(btnClose_, &QPushButton::clicked, this, &TdlgOscBox::reject);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  scope_.Reset();
  UpdateControls();
  Draw();
  // Centred with its real size: before the layout has sized it the centre is off.
  adjustSize();
  CentreOn(this, mainWindow_);
}

void TdlgOscBox::SetSaveFolder(const QString& folder) { saveFolder_ = folder; }

TdlgOscBox::~TdlgOscBox() {
  if (sampling_) session_.StopSamplingStream();
}

QPushButton* TdlgOscBox::Button(const char* name, const char* text) {
  auto* button = new QPushButton(QString::fromUtf8(text), this);
  button->setObjectName(name);
  return button;
}

QString TdlgOscBox::ReadoutText() const {
  return streamEnded_ ? QString::fromUtf8(kStreamEnded) : QString::fromStdString(scope_.Readout());
}

void TdlgOscBox::Feed(std::span<const uint8_t> samples) {
  if (samples.empty()) {
    // The trainer stopped sending: said in the read-out; the state stays until Stop.
    streamEnded_ = true;
  } else {
    streamEnded_ = false;
    scope_.Push(samples);
  }
  Draw();
}

void TdlgOscBox::btnStartStopClick(bool start) {
  if (start) {
    if (!session_.StartSamplingStream([this](const std::vector<uint8_t>& chunk) { Feed(chunk); }))
      return;  // offline: nothing to sample
    sampling_ = true;
    streamEnded_ = false;
  } else {
    if (!sampling_) return;
    session_.StopSamplingStream();
    sampling_ = false;
  }
  UpdateControls();
}

void TdlgOscBox::btnZoomXYClick(QPushButton* sender) {
  if (sender == btnZoomInX_ || sender == btnZoomOutX_) scope_.ZoomX(sender == btnZoomInX_);
  else scope_.ZoomY(sender == btnZoomInY_);
  UpdateControls();
  Draw();
}

void TdlgOscBox::btnSaveClick() {
  TFileDialogRequest request;
  request.caption = QStringLiteral("保存波形");
  request.directory = saveFolder_;
  request.filters = {QStringLiteral("位图 (*.BMP *.bmp)")};
  const TFileDialogResult chosen = prompts_.SaveFile(this, request);
  if (!chosen.accepted) return;
  QString path = chosen.path;
  if (!path.contains('.')) path += ".BMP";
  if (!picture_.save(path, "BMP"))
    prompts_.Tell(this, QStringLiteral("无法保存文件 %1").arg(path), QStringLiteral("错误"),
                  TPromptIcon::Error);
}

void TdlgOscBox::reject() {
  if (sampling_) return;  // closing waits for the stop
  QDialog::reject();
}

void TdlgOscBox::UpdateControls() {
  btnStart_->setEnabled(!sampling_);
  btnStop_->setEnabled(sampling_);
  btnClose_->setEnabled(!sampling_);
  btnZoomInX_->setEnabled(scope_.CanZoomInX());
  btnZoomOutX_->setEnabled(scope_.CanZoomOutX());
  btnZoomInY_->setEnabled(scope_.CanZoomInY());
  btnZoomOutY_->setEnabled(scope_.CanZoomOutY());
}

void TdlgOscBox::Draw() {
  const int w = TOscilloscope::kWidth, h = TOscilloscope::kHeight;
  picture_.fill(Qt::black);
  QPainter p(&picture_);
  for (int x = 0; x <= w; x += kGrid) {
    const bool solid = x == 0 || x == 192 || x == 384;
    p.setPen(QPen(kGridColour, 1, solid ? Qt::SolidLine : Qt::DotLine));
    p.drawLine(x, 0, x, h);
  }
  for (int y = 0; y <= h; y += kGrid) {
    const bool solid = y == 0 || y == 160 || y == 320;
    p.setPen(QPen(kGridColour, 1, solid ? Qt::SolidLine : Qt::DotLine));
    p.drawLine(0, y, w, y);
  }
  p.setPen(QPen(kTraceColour, 2));
  for (int x = 0; x < 384; ++x) p.drawLine(x, scope_.TraceY(x), x + 1, scope_.TraceY(x + 1));
  p.setFont(ReadoutFont());
  p.drawText(QRect(kReadoutAt, QPoint(w - 1, h - 1)), Qt::AlignLeft | Qt::AlignTop, ReadoutText());
  p.end();
  imgOsc_->setPixmap(QPixmap::fromImage(picture_));
}
