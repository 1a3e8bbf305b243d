// The desktop window of the emulator.
#pragma once
#include <csignal>
#include <vector>

#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "analysis/signal_source.h"
#include "host/hostif.h"
#include "keymap.h"
#include "lcd_view.h"

class Capture;
class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QProgressBar;
class KeyHelp;
class PlantMenu;

// The image control: shows the 320 x 240 RGB565 bitmap magnified in its
// LCD rectangle, margins in the form's white.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent);
    QImage bitmap;

    // Where the picture goes, in the control's own coordinates.
    void setLcdRect(const QRect& r);
    QRect lcdRect() const { return lcd_; }
    // Draws the pixels of `changed` (bitmap coordinates) again and repaints
    // only their part of the window.
    void bitmapChanged(const QRect& changed);
    // The magnified picture as it is shown (RGB32, the LCD rectangle's size).
    const QImage& shown() const { return scaled_; }

Q_SIGNALS:
    // A double click (or double tap) on the picture: full screen on or off.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    QRect lcd_;
    QImage scaled_;
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
    // Repeats the key of a held keypad button.
    QTimer* TimerKeyRepeat;
    TImage* ImageScr;
    QPushButton* SpeedButtonMod;
    // The window's own: the view menu, recording, key help.
    QPushButton* ButtonView;
    QPushButton* ButtonRecord;
    QPushButton* ButtonKeys;
    QPushButton* ButtonSignal;
    QFileDialog* SignalDialog;
    // "Plant ▾": the Plant menu (plant_menu.h).
    QPushButton* ButtonPlant;
    // Shown beside the keypad while the recorded signal overloads the
    // converter: the share of the last record's samples that clipped.
    QLabel* ClipMark;
    QProgressBar* FlashProgress;

    // Handlers.
    void FormCreate();
    void FormClose();
    void FormKeyDown(int key, Qt::KeyboardModifiers shift, bool autorepeat = false);
    void FormPaint();
    void TimerStartTimer();
    void TimerTick32Timer();
    void TimerRedrawTimer();
    void Button15Click();
    // The keypad's buttons post their key when pressed and, while held,
    // again at the keyboard's repeat rate with the count in `repeats` (the
    // key word's bits 16-30, as holdRepeat gives it).
    void ButtonEscClick(u32 repeats = 0);
    void ButtonEnterClick(u32 repeats = 0);
    void ButtonUpClick(u32 repeats = 0);
    void ButtonDownClick(u32 repeats = 0);
    void ButtonLeftClick(u32 repeats = 0);
    void ButtonRightClick(u32 repeats = 0);
    void TimerKeyRepeatTimer();
    void ButtonPowerClick();
    void SpeedButtonModClick();
    void SpeedButtonSavePicClick();
    void SpeedButtonCopyPicClick();

    // Saves the picture of ImageScr: BMP for filter index 2, PNG otherwise;
    // false with `error` on a failure.
    bool SavePicture(const QString& file, int filter_index, QString* error);
    // The save dialog's chosen filter: 1 PNG, 2 BMP.
    int SaveFilterIndex() const;

    // The key code a PC key posts before the shift rules (65535 = unmapped).
    static unsigned MapKey(int key);

    // Zoom: the LCD at the instrument's layout, 1x-4x or fitted to the
    // window. `remember` keeps the choice for the next start.
    void setZoom(ZoomMode mode, bool remember);
    ZoomMode zoom() const { return zoom_; }
    // The geometry in use now.
    const ZoomGeometry& geometryNow() const { return geometry_; }

    // Full screen (F11, or a double click on the LCD): the LCD at the
    // largest whole-number size the screen holds, with the keypad below it
    // when fullScreenButtons() (off at first). Leaving it gives the window
    // its zoom again. Both are kept for the next start.
    void setFullScreen(bool on);
    void toggleFullScreen();
    bool fullScreenButtons() const { return fullscreen_buttons_; }
    void setFullScreenButtons(bool shown);
    // Whether Esc leaves full screen: only when the key map gives it no
    // instrument key (F11 always leaves).
    bool escLeavesFullScreen() const;

    // Writes the LCD picture as the next numbered PNG in the screenshot
    // folder and says where in the title. Returns the path, "" on failure.
    QString takeScreenshot();
    // The folder screenshots and recordings go to (default: the data folder).
    QString screenshotFolder() const;
    void setScreenshotFolder(const QString& folder);

    // Starts or stops recording the LCD into the next numbered animated PNG
    // of the screenshot folder. Returns false when it cannot start.
    bool toggleRecording();
    // True while a recording runs.
    bool isRecording() const;
    // The file of the recording running or last made.
    QString recordingPath() const;

    // Reads a key-map file on top of the built-in keys; the problems (one
    // per bad line, "FILE:LINE: problem") are kept for the key help and
    // returned.
    QStringList loadKeyMap(const QString& path);
    const KeyMap& keyMap() const { return keymap_; }
    // The key-map file read by default: keymap.ini in the settings folder.
    static QString defaultKeyMapPath();

    // The recorded signal in place of the synthesised one: the options of
    // the command line, kept for files loaded later.
    void setSignalOptions(const SignalOptions& options) { signal_options_ = options; }
    // Makes `path` the measuring module's source (with the other options
    // kept); a file that cannot be used is told in a message box and the
    // source stays as it was. Returns "" or the problem.
    QString loadSignal(const QString& path);
    // Opens the file dialog of "Load signal…".
    void chooseSignal();

    // The virtual plant: its menu, file dialog and part of the title.
    PlantMenu* plantMenu() const { return plant_menu_; }

    // Shows or hides the key help.
    void toggleKeyHelp();
    KeyHelp* keyHelp() const { return key_help_; }

    // Shows `text` in the title for a few seconds.
    void titleMessage(const QString& text);
    // Tells a problem in a message box over the window that waits for no
    // answer (the window and its timers go on, so closing the window or a
    // termination signal still ends the program); not on the offscreen and
    // minimal platforms, where no one could close it.
    void warn(const QString& title, const QString& text);

    // The window's hotkeys as (keys, what they do), for the key help.
    std::vector<std::pair<QString, QString>> hotkeys() const;
    // The action behind a hotkey (for the menus and the tests).
    QAction* action(const char* name) const;

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

Q_SIGNALS:
    // The window has closed for good: after the run, or before it started.
    // The program ends on it.
    void finished();

protected:
    // Takes every key press first: true, the key handled; else QWidget's.
    bool event(QEvent* e) override;
    // Notes Shift and the time of any input; QWidget's answer (never filters).
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void ButtonPost(unsigned code);
    // Counts the repeats of a held key: `source` names what is held (a PC
    // key, or a keypad button as the negative of its code) and `repeat` says
    // this press repeats the one before. Returns the count in its place in
    // the key word (bits 16-30).
    u32 holdRepeat(int source, bool repeat);
    // A keypad button went down (or repeats while held).
    void keypadButtonDown(QPushButton* button, bool repeat);
    void createActions();
    // Shows the zoom asked for, or the largest the screen holds (saying so
    // in the title when `tell`).
    void applyZoom(bool tell);
    // Marks the zooms that the window's screen cannot hold.
    void updateZoomMarks();
    // The screen's work area and the window frame around the client area.
    QSize screenRoom() const;
    QSize frameSize() const;
    // Places everything for full screen at the window's present size.
    void placeFullScreen();
    void createPlantMenu();
    void placeControls();
    // Moves the window back onto its screen after it grew.
    void keepOnScreen();
    void stopRecording();
    void updateRecordingTitle();
    void restoreTitle();
    void updateClipMark();
    void showFlashProgress(u32 done, u32 total);
    // The FlashProgress hook: false (give the new file up) once the power is
    // off (the window is being closed).
    static bool flashProgressHook(u32 done, u32 total);

    unsigned char painting = 0;
    bool run_finished_ = false;
    QElapsedTimer clock_;

    ZoomMode zoom_ = ZOOM_LAYOUT;
    // The zoom asked for (kept in the settings); zoom_ is the one shown,
    // which may be smaller on a small screen.
    ZoomMode zoom_wanted_ = ZOOM_LAYOUT;
    bool fullscreen_buttons_ = true;
    // The window's place before full screen.
    QPoint normal_pos_;
    // The keypad buttons and their handlers; the one held down now.
    std::vector<std::pair<QPushButton*, void (TFormEmul::*)(u32)>> keypad_buttons_;
    QPushButton* held_button_ = nullptr;
    ZoomGeometry geometry_{};
    bool placing_ = false;
    KeyMap keymap_;
    QString keymap_file_;
    QStringList keymap_errors_;
    KeyHelp* key_help_ = nullptr;
    PlantMenu* plant_menu_ = nullptr;
    SignalOptions signal_options_;
    QMenu* view_menu_ = nullptr;
    std::vector<QAction*> actions_;
    // Screenshots, the recording and the picture files (capture.h).
    Capture* capture_ = nullptr;
    QTimer* title_timer_ = nullptr;
    QString title_message_;
    // The controls of the strip below the LCD at their places in the
    // instrument's form.
    std::vector<std::pair<QWidget*, QRect>> places_;
    // What full screen without the keypad has hidden.
    std::vector<QWidget*> strip_hidden_;
    // Shift as the last key and mouse events said it was.
    bool shift_down_ = false;
    // The key being held and how often it has repeated.
    int held_key_ = 0;
    u32 repeat_count_ = 0;
    int progress_percent_ = -1;
    // When the last input came (clock_ milliseconds).
    qint64 last_input_ms_ = 0;
    // The local time of the last second asked for.
    qint64 local_second_ = -1;
    HostDateTime local_time_{};
};

extern TFormEmul* FormEmul;
