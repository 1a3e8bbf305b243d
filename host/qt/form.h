// The desktop window of the emulator.
#pragma once
#include <csignal>

#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "host/hostif.h"

class QFileDialog;

// The image control: shows the 320 x 240 RGB565 bitmap stretched.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent);
    QImage bitmap;

protected:
    void paintEvent(QPaintEvent*) override;
};

class TFormEmul : public QWidget, public HostInterface {
    Q_OBJECT
public:
    explicit TFormEmul(QWidget* parent = nullptr);
    ~TFormEmul() override;

    // Controls, in the order of the original form.
    QFileDialog* SaveDialog1;
    QPushButton* ButtonEsc;
    QPushButton* ButtonEnter;
    QPushButton* ButtonUp;
    QPushButton* ButtonLeft;
    QPushButton* ButtonRight;
    QPushButton* ButtonPower;
    QPushButton* ButtonDown;
    QPushButton* SpeedButtonSavePic;
    QPushButton* Button15;
    QPushButton* SpeedButtonCopyPic;
    QTimer* TimerTick32;
    QTimer* TimerRedraw;
    QTimer* TimerStart;
    TImage* ImageScr;
    QPushButton* SpeedButtonMod;

    // Handlers.
    void FormCreate();
    void FormClose();
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void FormPaint();
    void TimerStartTimer();
    void TimerTick32Timer();
    void TimerRedrawTimer();
    void Button15Click();
    void ButtonEscClick();
    void ButtonEnterClick();
    void ButtonUpClick();
    void ButtonDownClick();
    void ButtonLeftClick();
    void ButtonRightClick();
    void ButtonPowerClick();
    void SpeedButtonModClick();
    void SpeedButtonSavePicClick();
    void SpeedButtonCopyPicClick();

    // Saves the picture of ImageScr: BMP for filter index 2, PNG otherwise.
    bool SavePicture(const QString& file, int filter_index, QString* error);
    // The save dialog's chosen filter: 1 PNG, 2 BMP.
    int SaveFilterIndex() const;

    // The key code a PC key posts before the shift rules (65535 = unmapped).
    static unsigned MapKey(int key);

    // HostInterface: how the device services reach this window.
    void pump() override;
    void sleep_1ms() override;
    u32 millis() override;
    HostDateTime local_time() override;
    bool shift_held() override;

    // Set from a signal handler (SIGTERM, SIGINT, SIGHUP): power off and close.
    static volatile std::sig_atomic_t stop_requested;

    // True once the run has ended and the window may close.
    bool runFinished() const { return run_finished_; }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void ButtonPost(unsigned code);

    unsigned char painting = 0;
    bool run_finished_ = false;
    QElapsedTimer clock_;
};

extern TFormEmul* FormEmul;
