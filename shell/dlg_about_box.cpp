#include "dlg_about_box.h"

#include <QCoreApplication>
#include <QDate>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <cstddef>

#include "dialog_placement.h"

#ifndef CORVALE_VERSION
#define CORVALE_VERSION ""
#endif

// A 5 x 5 white disc without outline.
class TAboutDot : public QWidget {
 public:
  explicit TAboutDot(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(5, 5);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(rect());
  }
};

namespace {

// The notice and link texts are kept out of the program file in plain form; each UTF-8 byte
// is XORed with a key that runs along the text.
constexpr unsigned char ScrambleKey(std::size_t i) {
  return static_cast<unsigned char>(0xA7 + 29 * i);
}

template <std::size_t N>
struct TScrambled {
  std::array<unsigned char, N - 1> bytes{};
};

template <std::size_t N>
consteval TScrambled<N> Scramble(const char (&text)[N]) {
  TScrambled<N> out;
  for (std::size_t i = 0; i + 1 < N; ++i) {
    out.bytes[i] = static_cast<unsigned char>(text[i]) ^ ScrambleKey(i);
  }
  return out;
}

template <std::size_t N>
QString Unscramble(const TScrambled<N>& scrambled) {
  QByteArray plain(static_cast<qsizetype>(scrambled.bytes.size()), '\0');
  for (std::size_t i = 0; i < scrambled.bytes.size(); ++i) {
    plain[static_cast<qsizetype>(i)] = static_cast<char>(scrambled.bytes[i] ^ ScrambleKey(i));
  }
  return QString::fromUtf8(plain);
}

// %1 is the current year.
constexpr auto kNotice = Scramble("Copyright © %1 Corvale 开发组");
constexpr auto kLinkText = Scramble("Corvale 项目主页");
constexpr auto kLinkTarget = Scramble("https://corvale.example.org/");

// Splash track of the leading dot, one entry per frame; the others follow it.
constexpr std::array<int, 20> kSplashTrack{20,  148, 212, 244, 260, 262, 264, 266, 268, 270,
                                           272, 288, 320, 384, 512, 600, 600, 600, 600, 600};
constexpr int kSplashBeforeStart = -60;
constexpr int kSplashDotGap = 8;
constexpr int kSplashPasses = 2;
constexpr int kSplashFrameMs = 60;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QColor& colour) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  return label;
}

}  // namespace

// The picture lives in a static library, whose resources are only linked in when asked for.
static void LoadAboutResources() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(about);
    return true;
  }();
  (void)loaded;
}

int SplashDotX(int frame, int dot) {
  const int index = frame - dot;
  const int last = static_cast<int>(kSplashTrack.size()) - 1;
  const int x = index < 0 ? kSplashBeforeStart
                          : kSplashTrack[static_cast<std::size_t>(index > last ? last : index)];
  return x - kSplashDotGap * dot;
}

TdlgAboutBox::TdlgAboutBox(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), mainWindow_(mainWindow) {
  setObjectName("dlgAboutBox");
  LoadAboutResources();
  setModal(true);
  setFixedSize(kWidth, kHeight);
  BuildLabels();
  for (int k = 0; k < kDotCount; ++k) {
    dots_[static_cast<std::size_t>(k)] = new TAboutDot(this);
    dots_[static_cast<std::size_t>(k)]->setObjectName(QStringLiteral("shpDot%1").arg(k));
    dots_[static_cast<std::size_t>(k)]->move(kDotParkedX, kDotY);
  }
}

void TdlgAboutBox::BuildLabels() {
  imgAbout_ = new QLabel(this);
  imgAbout_->setObjectName("imgAbout");
  imgAbout_->setGeometry(0, 0, kWidth, kHeight);
  const QPixmap picture(QStringLiteral(":/about/about.png"));
  if (picture.isNull()) {
    imgAbout_->setStyleSheet(QStringLiteral("background: #1E3A5F;"));
  } else {
    imgAbout_->setPixmap(picture);
  }

  lblClose_ = MakeLabel(this, "lblClose", QStringLiteral("╳"), Qt::white);
  lblClose_->move(480, 14);
  lblClose_->adjustSize();
  lblClose_->setToolTip(QStringLiteral("关闭"));
  lblClose_->setCursor(Qt::PointingHandCursor);

  const QString version = QStringLiteral(CORVALE_VERSION);
  lblVersion_ =
      MakeLabel(this, "lblVersion", version.isEmpty() ? QString() : "V" + version, Qt::white);
  lblVersion_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblVersion_->setGeometry(408, 190, 41, lblVersion_->sizeHint().height());

  const QString notice = Unscramble(kNotice).arg(QDate::currentDate().year(), 4, 10, QChar('0'));
  lblNotice_ = MakeLabel(this, "lblNotice", notice, QColor(0xA6, 0xCA, 0xF0));
  lblNotice_->setGeometry(230, 240, 258, lblNotice_->sizeHint().height());

  lblLink_ = MakeLabel(this, "lblLink", Unscramble(kLinkText), Qt::white);
  QFont linkFont = lblLink_->font();
  linkFont.setUnderline(true);
  lblLink_->setFont(linkFont);
  lblLink_->setGeometry(350, 256, 138, lblLink_->sizeHint().height());
  lblLink_->setCursor(Qt::PointingHandCursor);
  linkTarget_ = Unscramble(kLinkTarget);

  for (QLabel* label : {imgAbout_, lblClose_, lblVersion_, lblNotice_, lblLink_}) {
    label->installEventFilter(this);
  }
}

void TdlgAboutBox::PrepareSplash() {
  lblClose_->hide();
  lblNotice_->hide();
  lblLink_->hide();
}

void TdlgAboutBox::PlaceDots(int frame) {
  for (int k = 0; k < kDotCount; ++k) {
    dots_[static_cast<std::size_t>(k)]->move(SplashDotX(frame, k), kDotY);
  }
}

void TdlgAboutBox::showEvent(QShowEvent* event) {
  CentreOn(this, mainWindow_);
  QDialog::showEvent(event);
}

void TdlgAboutBox::keyPressEvent(QKeyEvent* event) {
  // Any key that types a character (Enter and Esc included) closes; F-keys, arrows and
  // modifiers do not.
  if (!event->text().isEmpty()) {
    reject();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TdlgAboutBox::eventFilter(QObject* watched, QEvent* event) {
  const bool release = event->type() == QEvent::MouseButtonRelease &&
                       static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
  if (watched == lblClose_) {
    if (release) reject();
    return release;
  }
  if (watched == lblLink_) {
    if (release) QDesktopServices::openUrl(QUrl(linkTarget_));
    return release;
  }
  return DragFilter(event) || QDialog::eventFilter(watched, event);
}

// The picture and the labels on it move the box as a caption would.
bool TdlgAboutBox::DragFilter(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return false;
      if (windowHandle() && windowHandle()->startSystemMove()) return true;
      dragging_ = true;
      dragOffset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
      return true;
    }
    case QEvent::MouseMove:
      if (!dragging_) return false;
      move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset_);
      return true;
    case QEvent::MouseButtonRelease:
      if (!dragging_) return false;
      dragging_ = false;
      return true;
    default: return false;
  }
}

void RunSplash() {
  TdlgAboutBox box(nullptr);
  box.PrepareSplash();
  box.show();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  for (int pass = 0; pass < kSplashPasses; ++pass) {
    for (int frame = 0; frame < static_cast<int>(kSplashTrack.size()); ++frame) {
      box.PlaceDots(frame);
      QThread::msleep(kSplashFrameMs);
      box.repaint();
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  }
}
