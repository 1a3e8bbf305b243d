#include "window.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QStyleHints>
#include <QThread>
#include <QUrl>

#include "analysis/plant_source.h"
#include "capture.h"
#include "front/common/clip_mark.h"
#include "front/common/picture.h"
#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/session.h"
#include "keyhelp.h"
#include "plant_menu.h"
#include "settings_store.h"

TFormEmul* FormEmul = nullptr;

namespace {

const QString TITLE = QStringLiteral("Tarvik-2 Emulator");
// How long a message stays in the title.
constexpr int TITLE_MESSAGE_MS = 4000;
constexpr qint64 MS_PER_SECOND = 1000;
constexpr int PERCENT = 100;
// At rest (nothing measures, no input for a while) the instrument code's
// passes come every REST_SLEEP_MS instead of every millisecond, which keeps
// the processor idle; any input ends the rest.
constexpr qint64 REST_AFTER_MS = 2000;
constexpr unsigned long REST_SLEEP_MS = 10;
constexpr unsigned long PASS_SLEEP_MS = 1;
// Measuring without input for a while: the passes come every few
// milliseconds, which still takes every record at the converter's pace (a
// record lasts hundreds of milliseconds) and redraws it at once.
constexpr unsigned long MEASURING_QUIET_SLEEP_MS = 4;
// Room for the window frame when the window is not shown yet.
constexpr int FRAME_ALLOWANCE = 40;
constexpr int PROGRESS_WIDTH = 420;
constexpr int PROGRESS_HEIGHT = 28;

// The window's keys in its settings store.
const QString KEY_ZOOM = QStringLiteral("view/zoom");
const QString KEY_POS = QStringLiteral("window/pos");
const QString KEY_FIT_SIZE = QStringLiteral("window/fit-size");
const QString KEY_FULLSCREEN = QStringLiteral("view/fullscreen");
const QString KEY_FULLSCREEN_BUTTONS = QStringLiteral("view/fullscreen-keypad");
// A held keypad button starts repeating after this long, then repeats at
// the keyboard's rate, as a held PC key does.
constexpr int BUTTON_REPEAT_DELAY_MS = 500;

QPushButton* make_button(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                         int height)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(left, top, width, height);
    // The form previews every key: no button may take the keyboard focus.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

// Lit buttons: the latched Mod toggle and a running recording.
const QString MOD_LIT_STYLE = QStringLiteral(
    "QPushButton:checked { background-color: #ffa000; color: black; font-weight: bold;"
    " border: 2px solid #b36b00; border-radius: 4px; }");
const QString RECORD_LIT_STYLE = QStringLiteral(
    "QPushButton:checked { background-color: #d32f2f; color: white; font-weight: bold;"
    " border: 2px solid #8e1c1c; border-radius: 4px; }");
const QString CLIP_MARK_STYLE = QStringLiteral(
    "QLabel { background-color: #d32f2f; color: white; font-weight: bold;"
    " border: 2px solid #8e1c1c; border-radius: 4px; }");

}  // namespace

TImage::TImage(QWidget* parent) : QWidget(parent), bitmap(LCD_WIDTH, LCD_HEIGHT, QImage::Format_RGB16)
{
    bitmap.fill(0);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImage::setLcdRect(const QRect& r)
{
    const qreal dpr = devicePixelRatioF();
    const QSize physical = (QSizeF(r.size()) * dpr).toSize();
    if (r == lcd_ && scaled_.size() == physical) return;
    lcd_ = r;
    scaled_ = lcd_render(bitmap, physical);
    scaled_.setDevicePixelRatio(dpr);
    update();
}

void TImage::bitmapChanged(const QRect& changed)
{
    if (lcd_.isEmpty()) return;
    const qreal dpr = scaled_.devicePixelRatio();
    const QRect area = lcd_render_into(bitmap, &scaled_, changed);
    if (area.isEmpty()) return;
    const QRectF logical(area.x() / dpr, area.y() / dpr, area.width() / dpr, area.height() / dpr);
    update(logical.toAlignedRect().translated(lcd_.topLeft()));
}

void TImage::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) Q_EMIT doubleClicked();
}

void TImage::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    // The margins take the form's white; the picture is drawn one to one.
    const QRegion margin = QRegion(e->rect()) - QRegion(lcd_);
    for (const QRect& r : margin) p.fillRect(r, Qt::white);
    if (!scaled_.isNull()) p.drawImage(lcd_.topLeft(), scaled_);
}

TFormEmul::TFormEmul(QWidget* parent) : QWidget(parent)
{
    FormEmul = this;
    setObjectName(QStringLiteral("FormEmul"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    QFont f = font();
    f.setFamily(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(14);
    setFont(f);
    setFocusPolicy(Qt::StrongFocus);

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setDirectory(QStringLiteral("."));
    ButtonEsc = make_button(this, "ButtonEsc", "Esc", 86, 710, 100, 40);
    ButtonEnter = make_button(this, "ButtonEnter", "Enter", 86, 610, 100, 40);
    ButtonUp = make_button(this, "ButtonUp", "^", 341, 642, 100, 40);
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(15);
    ButtonUp->setFont(arial);
    ButtonLeft = make_button(this, "ButtonLeft", "<", 235, 660, 100, 40);
    ButtonRight = make_button(this, "ButtonRight", ">", 447, 660, 100, 40);
    ButtonPower = make_button(this, "ButtonPower", "ON/OFF", 594, 610, 100, 40);
    ButtonDown = make_button(this, "ButtonDown", "v", 341, 688, 100, 40);
    SpeedButtonSavePic = make_button(this, "SpeedButtonSavePic", "Save Picture", 594, 710, 100, 40);
    Button15 = make_button(this, "Button15", "Run", 316, 742, 90, 40);
    Button15->setDefault(true);
    Button15->hide();
    SpeedButtonCopyPic = make_button(this, "SpeedButtonCopyPic", "Copy Picture", 594, 660, 100, 40);
    TimerTick32 = new QTimer(this);
    TimerTick32->setObjectName(QStringLiteral("TimerTick32"));
    TimerTick32->setInterval(31);
    TimerRedraw = new QTimer(this);
    TimerRedraw->setObjectName(QStringLiteral("TimerRedraw"));
    TimerRedraw->setInterval(100);
    TimerStart = new QTimer(this);
    TimerStart->setObjectName(QStringLiteral("TimerStart"));
    TimerStart->setInterval(250);
    TimerKeyRepeat = new QTimer(this);
    TimerKeyRepeat->setObjectName(QStringLiteral("TimerKeyRepeat"));
    TimerKeyRepeat->setSingleShot(true);
    ImageScr = new TImage(this);
    ImageScr->setObjectName(QStringLiteral("ImageScr"));
    ImageScr->setGeometry(0, 0, 788, 591);
    SpeedButtonMod = make_button(this, "SpeedButtonMod", "Mod (Shift)", 86, 660, 100, 40);
    SpeedButtonMod->setCheckable(true);
    SpeedButtonMod->setStyleSheet(MOD_LIT_STYLE);
    // The window's own buttons, in the free column right of the keypad.
    ButtonView = make_button(this, "ButtonView", "View ▾", 704, 610, 76, 40);
    ButtonRecord = make_button(this, "ButtonRecord", "Record", 704, 660, 76, 40);
    ButtonRecord->setCheckable(true);
    ButtonRecord->setStyleSheet(RECORD_LIT_STYLE);
    ButtonKeys = make_button(this, "ButtonKeys", "Keys (F1)", 704, 710, 76, 40);
    ButtonSignal = make_button(this, "ButtonSignal", "Signal…", 4, 610, 76, 40);
    ButtonSignal->setToolTip(
        QStringLiteral("Load signal… (Ctrl+L): a recording measured in place of the "
                       "synthesised vibration; a file can also be dropped onto the window"));
    SignalDialog = new QFileDialog(this, QStringLiteral("Load signal"));
    SignalDialog->setObjectName(QStringLiteral("SignalDialog"));
    SignalDialog->setFileMode(QFileDialog::ExistingFile);
    SignalDialog->setNameFilters({QStringLiteral("Recordings (*.wav *.flac *.ogg *.aif *.aiff *.au *.w64 *.caf *.csv "
                                                 "*.txt)"),
                                  QStringLiteral("All files (*)")});
    ButtonPlant = make_button(this, "ButtonPlant", "Plant ▾", 4, 660, 76, 40);
    ButtonPlant->setToolTip(
        QStringLiteral("The virtual plant: open a plant file (Ctrl+O) and put the probe on one of its points "
                       "(Ctrl+P: the next one)"));
    ClipMark = new QLabel(this);
    ClipMark->setObjectName(QStringLiteral("ClipMark"));
    ClipMark->setGeometry(4, 710, 76, 40);
    ClipMark->setAlignment(Qt::AlignCenter);
    ClipMark->setWordWrap(true);
    ClipMark->setStyleSheet(CLIP_MARK_STYLE);
    ClipMark->hide();
    FlashProgress = new QProgressBar(this);
    FlashProgress->setObjectName(QStringLiteral("FlashProgress"));
    FlashProgress->setRange(0, PERCENT);
    FlashProgress->setFormat(QStringLiteral("Preparing the flash memory (flash.dat, 276 MB): %p %"));
    FlashProgress->setAlignment(Qt::AlignCenter);
    FlashProgress->hide();
    key_help_ = new KeyHelp(this);

    // Every control that sits in the strip below the LCD, at its place in
    // the instrument's form.
    for (QWidget* w :
         std::initializer_list<QWidget*>{ButtonEsc, ButtonEnter, ButtonUp, ButtonLeft, ButtonRight, ButtonPower,
                                         ButtonDown, SpeedButtonSavePic, Button15, SpeedButtonCopyPic, SpeedButtonMod,
                                         ButtonView, ButtonRecord, ButtonKeys, ButtonSignal, ButtonPlant, ClipMark})
        places_.push_back({w, w->geometry()});

    // The keypad acts on press and repeats while held (mouse or finger).
    keypad_buttons_ = {{ButtonEsc, &TFormEmul::ButtonEscClick},   {ButtonEnter, &TFormEmul::ButtonEnterClick},
                       {ButtonUp, &TFormEmul::ButtonUpClick},     {ButtonDown, &TFormEmul::ButtonDownClick},
                       {ButtonLeft, &TFormEmul::ButtonLeftClick}, {ButtonRight, &TFormEmul::ButtonRightClick}};
    for (const auto& held : keypad_buttons_) {
        QPushButton* b = held.first;
        connect(b, &QPushButton::pressed, this, [this, b] { keypadButtonDown(b, false); });
        connect(b, &QPushButton::released, this, [this, b] {
            if (held_button_ != b) return;
            held_button_ = nullptr;
            TimerKeyRepeat->stop();
        });
    }
    connect(TimerKeyRepeat, &QTimer::timeout, this, [this] { TimerKeyRepeatTimer(); });
    connect(ButtonPower, &QPushButton::clicked, this, [this] { ButtonPowerClick(); });
    connect(SpeedButtonMod, &QPushButton::clicked, this, [this] { SpeedButtonModClick(); });
    connect(SpeedButtonSavePic, &QPushButton::clicked, this, [this] { SpeedButtonSavePicClick(); });
    connect(SpeedButtonCopyPic, &QPushButton::clicked, this, [this] { SpeedButtonCopyPicClick(); });
    connect(Button15, &QPushButton::clicked, this, [this] { Button15Click(); });
    connect(TimerTick32, &QTimer::timeout, this, [this] { TimerTick32Timer(); });
    connect(TimerRedraw, &QTimer::timeout, this, [this] { TimerRedrawTimer(); });
    connect(TimerStart, &QTimer::timeout, this, [this] { TimerStartTimer(); });
    // A name typed without extension gets the one of the chosen filter.
    connect(SaveDialog1, &QFileDialog::filterSelected, this, [this](const QString& filter) {
        const bool bmp = SaveDialog1->nameFilters().indexOf(filter) == 1;
        SaveDialog1->setDefaultSuffix(bmp ? QStringLiteral("bmp") : QStringLiteral("png"));
    });

    title_timer_ = new QTimer(this);
    title_timer_->setSingleShot(true);
    connect(title_timer_, &QTimer::timeout, this, [this] {
        title_message_.clear();
        restoreTitle();
    });
    capture_ = new Capture(&ImageScr->bitmap, &clock_, this);
    connect(capture_, &Capture::recordingTick, this, [this] { restoreTitle(); });
    createActions();
    createPlantMenu();
    connect(ButtonView, &QPushButton::clicked, this,
            [this] { view_menu_->popup(ButtonView->mapToGlobal(QPoint(0, ButtonView->height()))); });
    connect(ButtonRecord, &QPushButton::clicked, this, [this] { toggleRecording(); });
    connect(ButtonKeys, &QPushButton::clicked, this, [this] { toggleKeyHelp(); });
    connect(ButtonSignal, &QPushButton::clicked, this, [this] { chooseSignal(); });
    connect(ImageScr, &TImage::doubleClicked, this, [this] { toggleFullScreen(); });
    connect(SignalDialog, &QFileDialog::fileSelected, this, [this](const QString& file) { loadSignal(file); });
    setAcceptDrops(true);
    // Shift is followed from the input events themselves.
    qApp->installEventFilter(this);

    FormCreate();

    QSettings s = settings_store();
    ZoomMode mode = ZOOM_LAYOUT;
    if (!zoom_parse(s.value(KEY_ZOOM).toString(), &mode)) mode = ZOOM_LAYOUT;
    // The place first: its screen decides which zooms fit.
    const QPoint pos = s.value(KEY_POS).toPoint();
    const bool placed = s.contains(KEY_POS) && QGuiApplication::screenAt(pos + QPoint(FRAME_ALLOWANCE, FRAME_ALLOWANCE));
    if (placed) move(pos);
    setZoom(mode, false);
    if (QScreen* screen = QGuiApplication::primaryScreen(); !placed && screen) {
        // Placed at the desktop centre.
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(width() / 2, height() / 2));
    }
    setFullScreenButtons(s.value(KEY_FULLSCREEN_BUTTONS, false).toBool());
    if (s.value(KEY_FULLSCREEN, false).toBool()) setFullScreen(true);

    clock_.start();
    TimerTick32->start();
    TimerRedraw->start();
    TimerStart->start();
}

TFormEmul::~TFormEmul()
{
    qApp->removeEventFilter(this);
    if (capture_->recording()) stopRecording();
    flash_file_set_progress(nullptr);
    host_install(nullptr);
    if (FormEmul == this) FormEmul = nullptr;
}

void TFormEmul::FormCreate()
{
    painting = 0;
    setWindowTitle(TITLE);
    flash_handle = 0;
    ImageScr->bitmap = QImage(LCD_WIDTH, LCD_HEIGHT, QImage::Format_RGB16);
    ImageScr->bitmap.fill(0);
    SaveDialog1->setNameFilters({QStringLiteral("PNG (*.png)"), QStringLiteral("BMP (*.bmp)")});
    SaveDialog1->setDefaultSuffix(QStringLiteral("png"));
}

void TFormEmul::createActions()
{
    auto add = [this](const char* name, const QString& text, const QKeySequence& keys, auto handler) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setAutoRepeat(false);
        connect(a, &QAction::triggered, this, handler);
        addAction(a);
        actions_.push_back(a);
        return a;
    };
    auto* zooms = new QActionGroup(this);
    const struct {
        const char* name;
        ZoomMode mode;
        QKeySequence keys;
    } zoom_items[] = {
        {"zoom-default", ZOOM_LAYOUT, QKeySequence()},
        {"zoom-1", ZOOM_1, QKeySequence(Qt::CTRL | Qt::Key_1)},
        {"zoom-2", ZOOM_2, QKeySequence(Qt::CTRL | Qt::Key_2)},
        {"zoom-3", ZOOM_3, QKeySequence(Qt::CTRL | Qt::Key_3)},
        {"zoom-4", ZOOM_4, QKeySequence(Qt::CTRL | Qt::Key_4)},
        {"zoom-fit", ZOOM_FIT, QKeySequence(Qt::CTRL | Qt::Key_0)},
    };
    view_menu_ = new QMenu(QStringLiteral("View"), this);
    view_menu_->setObjectName(QStringLiteral("ViewMenu"));
    // A zoom too large for the screen says so in its tooltip.
    view_menu_->setToolTipsVisible(true);
    connect(view_menu_, &QMenu::aboutToShow, this, [this] { updateZoomMarks(); });
    for (const auto& z : zoom_items) {
        const ZoomMode mode = z.mode;
        QAction* a = add(z.name, zoom_title(mode), z.keys, [this, mode] { setZoom(mode, true); });
        a->setCheckable(true);
        a->setData(static_cast<int>(mode));
        zooms->addAction(a);
        view_menu_->addAction(a);
    }
    QAction* full = add("fullscreen", QStringLiteral("Full screen"), QKeySequence(Qt::Key_F11),
                        [this] { toggleFullScreen(); });
    full->setCheckable(true);
    view_menu_->addSeparator();
    view_menu_->addAction(full);
    QAction* full_buttons = add("fullscreen-keypad", QStringLiteral("Keypad in full screen"), QKeySequence(),
                                [this](bool shown) { setFullScreenButtons(shown); });
    full_buttons->setCheckable(true);
    view_menu_->addAction(full_buttons);
    view_menu_->addSeparator();
    view_menu_->addAction(
        add("screenshot", QStringLiteral("Screenshot"), QKeySequence(Qt::Key_F12), [this] { takeScreenshot(); }));
    view_menu_->addAction(add("screenshot-folder", QStringLiteral("Screenshot folder…"), QKeySequence(), [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Folder for screenshots and recordings"), screenshotFolder());
        if (!chosen.isEmpty()) setScreenshotFolder(chosen);
    }));
    QAction* record =
        add("record", QStringLiteral("Record"), QKeySequence(Qt::CTRL | Qt::Key_R), [this] { toggleRecording(); });
    record->setCheckable(true);
    view_menu_->addAction(record);
    view_menu_->addAction(
        add("keys", QStringLiteral("Key map"), QKeySequence(Qt::Key_F1), [this] { toggleKeyHelp(); }));
    add("mod", QStringLiteral("Mod (Shift)"), QKeySequence(Qt::CTRL | Qt::Key_M), [this] { SpeedButtonMod->click(); });
    add("power", QStringLiteral("ON/OFF"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { ButtonPower->click(); });
    add("save-picture", QStringLiteral("Save Picture…"), QKeySequence(Qt::CTRL | Qt::Key_S),
        [this] { SpeedButtonSavePic->click(); });
    add("copy-picture", QStringLiteral("Copy Picture"), QKeySequence(Qt::CTRL | Qt::Key_C),
        [this] { SpeedButtonCopyPic->click(); });
    add("load-signal", QStringLiteral("Load signal…"), QKeySequence(Qt::CTRL | Qt::Key_L), [this] { chooseSignal(); });
    add("synthesis", QStringLiteral("Synthesised signal"), QKeySequence(), [this] {
        signal_source_close();
        plant_menu_->close();
        restoreTitle();
        updateClipMark();
    });
}

void TFormEmul::createPlantMenu()
{
    plant_menu_ = new PlantMenu(this);
    for (QAction* a : plant_menu_->keyActions()) {
        addAction(a);
        actions_.push_back(a);
    }
    connect(ButtonPlant, &QPushButton::clicked, this,
            [this] { plant_menu_->menu()->popup(ButtonPlant->mapToGlobal(QPoint(0, ButtonPlant->height()))); });
    connect(plant_menu_, &PlantMenu::changed, this, [this] { restoreTitle(); });
    // A plant and a recorded signal both give the signal: the one taken last.
    connect(plant_menu_, &PlantMenu::opened, this, [this] {
        signal_source_close();
        updateClipMark();
    });
    connect(plant_menu_, &PlantMenu::problem, this, [this](const QString& title, const QString& text) {
        std::fprintf(stderr, "tarvik2-emu: %s\n", text.toLocal8Bit().constData());
        titleMessage(QStringLiteral("plant not loaded"));
        warn(title, text);
    });
}

QAction* TFormEmul::action(const char* name) const
{
    for (QAction* a : actions_)
        if (a->objectName() == QLatin1String(name)) return a;
    return nullptr;
}

std::vector<std::pair<QString, QString>> TFormEmul::hotkeys() const
{
    std::vector<std::pair<QString, QString>> out;
    for (QAction* a : actions_) {
        if (a->shortcut().isEmpty()) continue;
        QString what = a->text();
        what.remove(QStringLiteral("…"));
        out.push_back({a->shortcut().toString(QKeySequence::NativeText), what});
    }
    if (escLeavesFullScreen())
        out.push_back({QStringLiteral("Esc"), QStringLiteral("leave full screen (the key map gives Esc no instrument key)")});
    out.push_back({QStringLiteral("right click"), QStringLiteral("menu of all of these")});
    return out;
}

void TFormEmul::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu menu(this);
    QMenu* view = menu.addMenu(QStringLiteral("View"));
    view->setToolTipsVisible(true);
    updateZoomMarks();
    for (QAction* a : actions_)
        if (a->objectName().startsWith(QLatin1String("zoom-"))) view->addAction(a);
    view->addSeparator();
    view->addAction(action("fullscreen-keypad"));
    // Full screen next to View, where the way out of it is easy to find.
    menu.addAction(action("fullscreen"));
    for (const char* name : {"screenshot", "screenshot-folder", "record", "keys"}) menu.addAction(action(name));
    menu.addSeparator();
    for (const char* name : {"save-picture", "copy-picture", "mod", "power"}) menu.addAction(action(name));
    menu.addSeparator();
    menu.addAction(action("load-signal"));
    menu.addMenu(plant_menu_->menu());
    if (signal_source_active() || plant_source_loaded()) menu.addAction(action("synthesis"));
    menu.exec(e->globalPos());
}

void TFormEmul::setZoom(ZoomMode mode, bool remember)
{
    zoom_wanted_ = mode;
    if (remember) settings_store().setValue(KEY_ZOOM, zoom_name(mode));
    // A zoom chosen in full screen is the size to go back to.
    if (isFullScreen()) {
        setFullScreen(false);
        return;
    }
    applyZoom(true);
}

void TFormEmul::applyZoom(bool tell)
{
    // A zoom the screen cannot hold (3 x on a 1366 x 768 laptop, or one
    // remembered from a larger screen) gives way to the largest that fits.
    const ZoomMode shown = zoom_on_screen(zoom_wanted_, screenRoom(), frameSize());
    if (shown != zoom_wanted_ && tell)
        titleMessage(
            QStringLiteral("%1 is too large for this screen: %2").arg(zoom_title(zoom_wanted_), zoom_title(shown)));
    zoom_ = shown;
    updateZoomMarks();
    for (QAction* a : actions_)
        if (a->objectName().startsWith(QLatin1String("zoom-"))) a->setChecked(a->data().toInt() == zoom_);
    placing_ = true;
    if (zoom_ == ZOOM_FIT) {
        // The size fitted last time, else as much as the screen holds; the
        // whole window stays on the screen (a 1366 x 768 laptop too).
        const QSize room = screenRoom() - frameSize();
        const QSize remembered = settings_store().value(KEY_FIT_SIZE).toSize();
        const QSize want = (remembered.isValid() ? remembered : room).boundedTo(room).expandedTo(fit_minimum());
        setMinimumSize(fit_minimum());
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(want);
        geometry_ = zoom_geometry(ZOOM_FIT, want);
    } else {
        geometry_ = zoom_geometry(zoom_);
        setFixedSize(geometry_.client);
    }
    keepOnScreen();
    placing_ = false;
    placeControls();
}

QSize TFormEmul::screenRoom() const
{
    const QScreen* sc = screen();
    return sc ? sc->availableGeometry().size() : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

QSize TFormEmul::frameSize() const
{
    // No frame yet (not shown, or just out of full screen): an allowance.
    const QSize frame = frameGeometry().size() - geometry().size();
    return isVisible() && frame.height() > 0 ? frame : QSize(0, FRAME_ALLOWANCE);
}

void TFormEmul::updateZoomMarks()
{
    const QSize room = screenRoom(), frame = frameSize();
    for (QAction* a : actions_) {
        if (!a->objectName().startsWith(QLatin1String("zoom-"))) continue;
        const auto mode = static_cast<ZoomMode>(a->data().toInt());
        if (mode == ZOOM_FIT || zoom_fits(mode, room, frame)) {
            a->setText(zoom_title(mode));
            a->setToolTip(QString());
            a->setStatusTip(QString());
            continue;
        }
        const QSize needs = zoom_geometry(mode).client + frame;
        const QString why = QStringLiteral("The window needs %1 × %2, this screen holds %3 × %4: chosen, it shows %5.")
                                .arg(needs.width())
                                .arg(needs.height())
                                .arg(room.width())
                                .arg(room.height())
                                .arg(zoom_title(zoom_on_screen(mode, room, frame)));
        a->setText(zoom_title(mode) + QStringLiteral(" — too large for this screen"));
        a->setToolTip(why);
        a->setStatusTip(why);
    }
}

bool TFormEmul::escLeavesFullScreen() const
{
    const KeyAction* a = keymap_.find(Qt::Key_Escape, false);
    return !a || (!a->mod_button && a->code == KEY_NONE);
}

void TFormEmul::toggleFullScreen()
{
    setFullScreen(!isFullScreen());
}

void TFormEmul::setFullScreen(bool on)
{
    settings_store().setValue(KEY_FULLSCREEN, on);
    action("fullscreen")->setChecked(on);
    if (on == isFullScreen()) return;
    if (on) {
        normal_pos_ = pos();
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        // A window not shown yet opens in full screen.
        if (isVisible())
            showFullScreen();
        else
            setWindowState(windowState() | Qt::WindowFullScreen);
        placeFullScreen();
        return;
    }
    if (isVisible())
        showNormal();
    else
        setWindowState(windowState() & ~Qt::WindowFullScreen);
    move(normal_pos_);
    applyZoom(false);
}

void TFormEmul::setFullScreenButtons(bool shown)
{
    fullscreen_buttons_ = shown;
    settings_store().setValue(KEY_FULLSCREEN_BUTTONS, shown);
    action("fullscreen-keypad")->setChecked(shown);
    if (isFullScreen()) placeFullScreen();
}

void TFormEmul::placeFullScreen()
{
    geometry_ = fullscreen_geometry(size(), fullscreen_buttons_);
    placeControls();
}

void TFormEmul::keepOnScreen()
{
    QScreen* sc = screen();
    if (!sc || !isVisible()) return;
    const QRect avail = sc->availableGeometry(), frame = frameGeometry();
    // Top left first: a window larger than the screen shows its top left.
    const int x = std::max(avail.left(), std::min(frame.left(), avail.right() + 1 - frame.width()));
    const int y = std::max(avail.top(), std::min(frame.top(), avail.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top()) move(pos() + QPoint(x - frame.left(), y - frame.top()));
}

void TFormEmul::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (isFullScreen()) {
        placeFullScreen();
        return;
    }
    if (placing_ || zoom_ != ZOOM_FIT) return;
    geometry_ = zoom_geometry(ZOOM_FIT, size());
    placeControls();
}

void TFormEmul::placeControls()
{
    const ZoomGeometry& g = geometry_;
    ImageScr->setGeometry(g.image);
    ImageScr->setLcdRect(g.lcd.translated(-g.image.topLeft()));
    const QPoint shift(g.keypad.x(), g.keypad.y() - LAYOUT_IMAGE_HEIGHT);
    for (const auto& [w, r] : places_) w->setGeometry(r.translated(shift));
    // Full screen without the keypad hides the strip, and shows again what
    // it hid.
    if (!g.buttons_shown) {
        for (const auto& place : places_)
            if (!place.first->isHidden()) {
                place.first->hide();
                strip_hidden_.push_back(place.first);
            }
    } else if (!strip_hidden_.empty()) {
        for (QWidget* w : strip_hidden_) w->show();
        strip_hidden_.clear();
        updateClipMark();
    }
    FlashProgress->setGeometry(QRect(QPoint(0, 0), QSize(std::min(PROGRESS_WIDTH, g.lcd.width()), PROGRESS_HEIGHT))
                                   .translated(g.lcd.center() - QPoint(PROGRESS_WIDTH / 2, PROGRESS_HEIGHT / 2)));
    if (key_help_->isVisible()) key_help_->setGeometry(rect());
}

void TFormEmul::TimerStartTimer()
{
    TimerStart->stop();
    Button15Click();
}

bool TFormEmul::flashProgressHook(u32 done, u32 total)
{
    if (FormEmul) FormEmul->showFlashProgress(done, total);
    // Closing the window meanwhile gives the new file up.
    return !power_off_flag;
}

void TFormEmul::showFlashProgress(u32 done, u32 total)
{
    const int percent = total ? static_cast<int>(static_cast<u64>(done) * PERCENT / total) : PERCENT;
    if (percent == progress_percent_) return;
    progress_percent_ = percent;
    FlashProgress->setValue(percent);
    FlashProgress->setVisible(done < total);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TFormEmul::Button15Click()
{
    // One run per window: there is no powering on again.
    if (emu_running() || run_finished_) return;
    host_install(this);
    // The first start writes the whole flash image: the window shows how far.
    progress_percent_ = -1;
    if (!QFileInfo::exists(QString::fromStdString(data_path("flash.dat")))) {
        FlashProgress->setValue(0);
        FlashProgress->show();
        FlashProgress->raise();
    }
    flash_file_set_progress(&TFormEmul::flashProgressHook);
    emu_run();
    flash_file_set_progress(nullptr);
    FlashProgress->hide();
    run_finished_ = true;
    // The run ends only at power-off; there is no powering on again.
    close();
}

void TFormEmul::ButtonPost(unsigned code)
{
    last_input_ms_ = clock_.elapsed();
    if (!power_off_flag && SpeedButtonMod->isChecked()) code |= KEY_SHIFT;
    key_post(code);
}

void TFormEmul::ButtonEscClick(u32 repeats)
{
    ButtonPost(KEY_ESC | repeats);
}
void TFormEmul::ButtonEnterClick(u32 repeats)
{
    ButtonPost(KEY_ENTER | repeats);
}
void TFormEmul::ButtonUpClick(u32 repeats)
{
    ButtonPost(KEY_UP | repeats);
}
void TFormEmul::ButtonDownClick(u32 repeats)
{
    ButtonPost(KEY_DOWN | repeats);
}
void TFormEmul::ButtonLeftClick(u32 repeats)
{
    ButtonPost(KEY_LEFT | repeats);
}
void TFormEmul::ButtonRightClick(u32 repeats)
{
    ButtonPost(KEY_RIGHT | repeats);
}

void TFormEmul::keypadButtonDown(QPushButton* button, bool repeat)
{
    for (size_t i = 0; i < keypad_buttons_.size(); ++i) {
        if (keypad_buttons_[i].first != button) continue;
        (this->*keypad_buttons_[i].second)(holdRepeat(-1 - static_cast<int>(i), repeat));
        held_button_ = button;
        // The first repeat after a pause, then at the keyboard's rate.
        const int rate = std::max(1, QGuiApplication::styleHints()->keyboardAutoRepeatRate());
        TimerKeyRepeat->start(repeat ? static_cast<int>(MS_PER_SECOND) / rate : BUTTON_REPEAT_DELAY_MS);
        return;
    }
}

void TFormEmul::TimerKeyRepeatTimer()
{
    // A button hidden (full screen without the keypad) or a window left
    // while it was held never sees its release: the repeats end there.
    if (held_button_ && held_button_->isDown() && held_button_->isVisible() && isActiveWindow()) {
        keypadButtonDown(held_button_, true);
        return;
    }
    held_button_ = nullptr;
    TimerKeyRepeat->stop();
}

u32 TFormEmul::holdRepeat(int source, bool repeat)
{
    if (repeat && source == held_key_) {
        repeat_count_ = std::min(repeat_count_ + 1, KEY_REPEAT_MAX);
    } else {
        held_key_ = source;
        repeat_count_ = 0;
    }
    return repeat_count_ << KEY_REPEAT_SHIFT;
}

void TFormEmul::SpeedButtonModClick()
{
    // The toggle has already flipped its down state; Mod itself is posted plain.
    last_input_ms_ = clock_.elapsed();
    key_post(KEY_MOD);
}

void TFormEmul::ButtonPowerClick()
{
    power_off_flag = 1;
    close();
}

void TFormEmul::FormClose()
{
    power_off_flag = 1;
    // The picture no longer changes: a recording ends here.
    if (capture_->recording()) stopRecording();
}

unsigned TFormEmul::MapKey(int key)
{
    static const KeyMap builtin;
    const KeyAction* a = builtin.find(key, false);
    return a ? a->code : KEY_NONE;
}

void TFormEmul::FormKeyDown(int key, Qt::KeyboardModifiers shift, bool autorepeat)
{
    // A held key repeats with its count in bits 16-30, as on the keypad.
    const u32 repeats = holdRepeat(key, autorepeat);
    const KeyAction* a = keymap_.find(key, shift & Qt::KeypadModifier);
    if (a && a->mod_button) {
        // Holding it does not flip the toggle again and again.
        if (!autorepeat) SpeedButtonMod->click();
        return;
    }
    unsigned code = a ? a->code : KEY_NONE;
    if (!power_off_flag && (shift & Qt::ShiftModifier)) code |= KEY_SHIFT;
    if (code != KEY_NONE) code |= repeats;
    ButtonPost(code);
}

volatile std::sig_atomic_t TFormEmul::stop_requested = 0;

void TFormEmul::TimerTick32Timer()
{
    tick_counter = tick_counter + 1;
    // A termination signal asks for the same as the ON/OFF button.
    if (stop_requested) {
        stop_requested = 0;
        // A dialog waiting for an answer would hold the run up.
        if (QWidget* dialog = QApplication::activeModalWidget(); dialog && dialog != this) dialog->close();
        ButtonPowerClick();
    }
}

void TFormEmul::TimerRedrawTimer()
{
    if (screen_dirty) FormPaint();
    updateClipMark();
    plant_menu_->poll();
}

void TFormEmul::updateClipMark()
{
    const double percent = clip_percent_shown();
    if (percent < 0) {
        ClipMark->hide();
        return;
    }
    ClipMark->setText(QStringLiteral("Input clipped\n%1 %").arg(percent, 0, 'f', 1));
    ClipMark->setToolTip(
        QStringLiteral("The recorded signal overloads the converter: %1 % of the last record's samples sit at its "
                       "range, and the readings are too low. See the README for the input range of each unit.")
            .arg(percent, 0, 'f', 1));
    ClipMark->setVisible(geometry_.buttons_shown);
}

void TFormEmul::FormPaint()
{
    if (power_off_flag || painting) return;
    painting = 1;
    // Only the rows that differ are copied, and only their part of the
    // window is drawn again.
    int top = -1, bottom = -1, left = LCD_WIDTH, right = -1;
    for (int y = 0; y < LCD_HEIGHT; ++y) {
        auto* dst = reinterpret_cast<u16*>(ImageScr->bitmap.scanLine(y));
        const u16* src = framebuffer + y * LCD_WIDTH;
        if (std::memcmp(dst, src, LCD_WIDTH * sizeof(u16)) == 0) continue;
        int a = 0, b = LCD_WIDTH - 1;
        while (dst[a] == src[a]) ++a;
        while (dst[b] == src[b]) --b;
        left = std::min(left, a);
        right = std::max(right, b);
        if (top < 0) top = y;
        bottom = y;
        std::memcpy(dst, src, LCD_WIDTH * sizeof(u16));
    }
    painting = 0;
    screen_dirty = 0;
    if (bottom < 0) return;
    ImageScr->bitmapChanged(QRect(left, top, right - left + 1, bottom - top + 1));
    std::string error;
    if (capture_->recording() && !capture_->frame(&error)) {
        std::fprintf(stderr, "tarvik2-emu: %s\n", error.c_str());
        ButtonRecord->setChecked(false);
        action("record")->setChecked(false);
        titleMessage(QStringLiteral("recording stopped: ") + QString::fromStdString(error));
    }
}

bool TFormEmul::SavePicture(const QString& file, int filter_index, QString* error)
{
    return capture_->savePicture(file, filter_index == 2, error);
}

int TFormEmul::SaveFilterIndex() const
{
    return SaveDialog1->nameFilters().indexOf(SaveDialog1->selectedNameFilter()) + 1;
}

void TFormEmul::SpeedButtonSavePicClick()
{
    // The dialog opens where the last picture went (else in the data folder)
    // with a name not used there yet.
    const QString folder = Capture::pictureFolder();
    const bool bmp_filter = SaveFilterIndex() == 2;
    SaveDialog1->setDirectory(folder);
    SaveDialog1->setDefaultSuffix(bmp_filter ? QStringLiteral("bmp") : QStringLiteral("png"));
    SaveDialog1->selectFile(QString::fromStdString(picture_fresh_name(folder.toStdString(), bmp_filter)));
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
    const QString chosen = SaveDialog1->selectedFiles().first();
    const PictureTarget target = picture_target(chosen.toStdString(), SaveFilterIndex());
    const QString file = QString::fromStdString(target.path);
    // The dialog asked about replacing the name it returned, not about one
    // that got the filter's extension only now.
    if (file != chosen && QFileInfo::exists(file) &&
        QMessageBox::question(this, windowTitle(), file + QStringLiteral(" already exists.\nReplace it?")) !=
            QMessageBox::Yes)
        return;
    QString error;
    if (!SavePicture(file, target.bmp ? 2 : 1, &error)) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Cannot save the picture:\n") + error);
        return;
    }
    Capture::rememberPicture(file);
}

void TFormEmul::SpeedButtonCopyPicClick()
{
    QGuiApplication::clipboard()->setImage(ImageScr->bitmap);
}

QString TFormEmul::screenshotFolder() const
{
    return capture_->folder();
}

void TFormEmul::setScreenshotFolder(const QString& folder)
{
    capture_->setFolder(folder);
}

QString TFormEmul::takeScreenshot()
{
    if (screen_dirty) FormPaint();
    std::string error;
    const QString path = capture_->screenshot(&error);
    if (path.isEmpty()) {
        std::fprintf(stderr, "tarvik2-emu: %s\n", error.c_str());
        titleMessage(QStringLiteral("no screenshot: ") + QString::fromStdString(error));
        return {};
    }
    titleMessage(QStringLiteral("screenshot saved: ") + path);
    return path;
}

bool TFormEmul::isRecording() const
{
    return capture_->recording();
}

QString TFormEmul::recordingPath() const
{
    return capture_->path();
}

bool TFormEmul::toggleRecording()
{
    if (capture_->recording()) {
        stopRecording();
        return true;
    }
    if (screen_dirty) FormPaint();
    std::string error;
    const bool started = capture_->start(&error);
    ButtonRecord->setChecked(started);
    action("record")->setChecked(started);
    if (!started) {
        std::fprintf(stderr, "tarvik2-emu: %s\n", error.c_str());
        titleMessage(QStringLiteral("cannot record: ") + QString::fromStdString(error));
        return false;
    }
    title_message_.clear();
    restoreTitle();
    return true;
}

void TFormEmul::stopRecording()
{
    if (screen_dirty) FormPaint();
    std::string error;
    const bool ok = capture_->stop(&error);
    ButtonRecord->setChecked(false);
    action("record")->setChecked(false);
    if (!ok) {
        std::fprintf(stderr, "tarvik2-emu: %s\n", error.c_str());
        titleMessage(QStringLiteral("recording failed: ") + QString::fromStdString(error));
        return;
    }
    titleMessage(QStringLiteral("recording saved: %1 (%2 frames)").arg(recordingPath()).arg(capture_->frames()));
}

void TFormEmul::titleMessage(const QString& text)
{
    title_message_ = text;
    restoreTitle();
    title_timer_->start(TITLE_MESSAGE_MS);
}

void TFormEmul::restoreTitle()
{
    QString title = TITLE;
    if (signal_source_active())
        title += QStringLiteral(" — signal: ") + QFileInfo(QString::fromStdString(signal_source_path())).fileName();
    if (plant_menu_ && plant_source_loaded()) title += QStringLiteral(" — ") + plant_menu_->titleText();
    if (capture_->recording()) title += QStringLiteral(" — ") + capture_->recordingTitle();
    if (!title_message_.isEmpty()) title += QStringLiteral(" — ") + title_message_;
    setWindowTitle(title);
}

QString TFormEmul::loadSignal(const QString& path)
{
    SignalOptions options = signal_options_;
    options.path = path.toStdString();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string error = signal_source_open(options);
    QApplication::restoreOverrideCursor();
    if (!error.empty()) {
        const QString text = QString::fromStdString(error);
        titleMessage(QStringLiteral("signal not loaded"));
        warn(QStringLiteral("Load signal"), text);
        return text;
    }
    signal_options_ = options;
    plant_menu_->close();
    updateClipMark();
    titleMessage(QStringLiteral("measuring ") + path);
    return QString();
}

void TFormEmul::warn(const QString& title, const QString& text)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
    // open(), not exec(): no event loop of its own, which the run of the
    // instrument would otherwise start inside and never leave.
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TFormEmul::chooseSignal()
{
    if (signal_source_active())
        SignalDialog->setDirectory(QFileInfo(QString::fromStdString(signal_source_path())).path());
    SignalDialog->open();
}

void TFormEmul::dragEnterEvent(QDragEnterEvent* e)
{
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile()) e->acceptProposedAction();
}

void TFormEmul::dropEvent(QDropEvent* e)
{
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return;
    e->acceptProposedAction();
    loadSignal(urls.front().toLocalFile());
}

QStringList TFormEmul::loadKeyMap(const QString& path)
{
    QStringList errors;
    keymap_file_ = path;
    keymap_.load(path, &errors);
    keymap_errors_ = errors;
    return errors;
}

QString TFormEmul::defaultKeyMapPath()
{
    return QFileInfo(settings_store().fileName()).absolutePath() + QStringLiteral("/keymap.ini");
}

void TFormEmul::toggleKeyHelp()
{
    if (key_help_->isVisible()) {
        key_help_->hide();
        return;
    }
    const QString file = keymap_file_.isEmpty() ? defaultKeyMapPath() + QStringLiteral(" (none)") : keymap_file_;
    key_help_->open(key_help_text(keymap_, hotkeys(), file, keymap_errors_));
}

bool TFormEmul::event(QEvent* e)
{
    // Key preview: the form sees every key before any control.
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        // The key help goes with any key, which does nothing else.
        if (key_help_->isVisible()) {
            if (!k->isAutoRepeat()) key_help_->hide();
            return true;
        }
        // Esc leaves full screen when it is no instrument key.
        if (k->key() == Qt::Key_Escape && isFullScreen() && escLeavesFullScreen()) {
            if (!k->isAutoRepeat()) setFullScreen(false);
            return true;
        }
        FormKeyDown(k->key(), k->modifiers(), k->isAutoRepeat());
        return true;
    }
    return QWidget::event(e);
}

bool TFormEmul::eventFilter(QObject* watched, QEvent* e)
{
    switch (e->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Shift)
            shift_down_ = e->type() == QEvent::KeyPress;
        else
            shift_down_ = k->modifiers() & Qt::ShiftModifier;
        // Any input ends the rest of the instrument code's passes.
        last_input_ms_ = clock_.elapsed();
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        shift_down_ = static_cast<QInputEvent*>(e)->modifiers() & Qt::ShiftModifier;
        last_input_ms_ = clock_.elapsed();
        break;
    case QEvent::Wheel: last_input_ms_ = clock_.elapsed(); break;
    case QEvent::ApplicationStateChange:
        // Keys released in another window are never seen here.
        if (QGuiApplication::applicationState() != Qt::ApplicationActive) shift_down_ = false;
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, e);
}

void TFormEmul::closeEvent(QCloseEvent* e)
{
    FormClose();
    // In full screen the window's own place and size are the ones to keep.
    settings_store().setValue(KEY_POS, isFullScreen() ? normal_pos_ : pos());
    if (zoom_ == ZOOM_FIT && !isFullScreen()) settings_store().setValue(KEY_FIT_SIZE, size());
    if (emu_running()) {
        // The instrument code still holds the stack below us: let it unwind
        // (settings saved, flash.dat closed) and close once the run returns.
        e->ignore();
        return;
    }
    e->accept();
    // Closed before the run began: the instrument never starts.
    TimerStart->stop();
    run_finished_ = true;
    Q_EMIT finished();
}

void TFormEmul::pump()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TFormEmul::sleep_1ms()
{
    const bool quiet = clock_.elapsed() - last_input_ms_ >= REST_AFTER_MS;
    QThread::msleep(!quiet ? PASS_SLEEP_MS : busy_flag ? MEASURING_QUIET_SLEEP_MS : REST_SLEEP_MS);
}

u32 TFormEmul::millis()
{
    return static_cast<u32>(clock_.elapsed());
}

HostDateTime TFormEmul::local_time()
{
    // Turning the time into local time reads the time zone each call: once a
    // second is enough.
    const qint64 now_ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now_ms / MS_PER_SECOND;
    if (second != local_second_) {
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(now_ms);
        local_time_ = {now.date().year(), now.date().month(),  now.date().day(),
                       now.time().hour(), now.time().minute(), now.time().second()};
        local_second_ = second;
    }
    return local_time_;
}

bool TFormEmul::shift_held()
{
    return shift_down_ || SpeedButtonMod->isChecked();
}
