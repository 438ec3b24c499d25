// The About box: a borderless picture with the version, a notice and a link. The start-up
// splash shows the same box, without its close, notice and link labels, and runs five dots
// across it.
#pragma once

#include <QDialog>
#include <QPoint>
#include <array>

class QLabel;
class TAboutDot;

class TdlgAboutBox : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 506;
  static constexpr int kHeight = 288;
  static constexpr int kDotCount = 5;
  static constexpr int kDotY = 216;
  static constexpr int kDotParkedX = -10;

  // Centred on mainWindow when shown, or on the screen without one.
  explicit TdlgAboutBox(QWidget* mainWindow);

  // Leaves only the picture, the version and the dots.
  void PrepareSplash();
  // Puts the dots where they stand in the given animation frame.
  void PlaceDots(int frame);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLabels();
  bool DragFilter(QEvent* event);

  QWidget* mainWindow_;
  QLabel* imgAbout_ = nullptr;
  QLabel* lblClose_ = nullptr;
  QLabel* lblVersion_ = nullptr;
  QLabel* lblNotice_ = nullptr;
  QLabel* lblLink_ = nullptr;
  QString linkTarget_;
  std::array<TAboutDot*, kDotCount> dots_{};
  QPoint dragOffset_;
  bool dragging_ = false;
};

// The start-up splash: about 2.4 s of dot animation that blocks the caller, then the box
// is gone.
void RunSplash();

// Horizontal position of `dot` (0..4) in splash frame `frame` (0..19).
int SplashDotX(int frame, int dot);
