// TdlgOscBox: "虚拟示波器". Draws the trainer's sample stream on a fixed grid with zoom, a
// read-out in volts and saving of the picture.
#pragma once

#include <QDialog>
#include <QImage>
#include <cstdint>
#include <span>

#include "oscilloscope.h"

class IPrompts;
class QLabel;
class QPushButton;
class TTrainerSession;

class TdlgOscBox : public QDialog {
  Q_OBJECT

 public:
  TdlgOscBox(QWidget* mainWindow, TTrainerSession& session, IPrompts& prompts);
  ~TdlgOscBox() override;

  const QImage& Picture() const { return picture_; }
  const TOscilloscope& Scope() const { return scope_; }
  bool Sampling() const { return sampling_; }
  // The read-out as drawn: the volts, or that the stream ended.
  QString ReadoutText() const;
  // A chunk of samples from the stream; an empty one means the trainer stopped sending.
  void Feed(std::span<const uint8_t> samples);
  // Where 保存波形 starts: the folder of the source being worked on.
  void SetSaveFolder(const QString& folder);

  void btnStartStopClick(bool start);
  void btnZoomXYClick(QPushButton* sender);
  void btnSaveClick();

 public slots:
  void reject() override;

 private:
  QPushButton* Button(const char* name, const char* text);
  void Draw();
  void UpdateControls();

  TTrainerSession& session_;
  IPrompts& prompts_;
  QWidget* mainWindow_;
  TOscilloscope scope_;
  QImage picture_;
  QLabel* imgOsc_;
  QPushButton* btnStart_;
  QPushButton* btnStop_;
  QPushButton* btnClose_;
  QPushButton* btnZoomInX_;
  QPushButton* btnZoomOutX_;
  QPushButton* btnZoomInY_;
  QPushButton* btnZoomOutY_;
  QPushButton* btnSave_;
  bool sampling_ = false;
  bool streamEnded_ = false;
  QString saveFolder_;
};
