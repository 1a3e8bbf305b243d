#include "form.h"

#include <csignal>
#include <cstring>
#include <string>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QThread>

#include "gfx/framebuffer.h"
#include "host/device.h"
#include "host/picture.h"
#include "host/session.h"

TFormEmul* FormEmul = nullptr;

namespace {

constexpr int CLIENT_WIDTH = 788;
constexpr int CLIENT_HEIGHT = 766;

QPushButton* make_button(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                         int height)
{
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(left, top, width, height);
    // The form previews every key: no button may take the keyboard focus.
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

}  // namespace

TImage::TImage(QWidget* parent) : QWidget(parent), bitmap(LCD_WIDTH, LCD_HEIGHT, QImage::Format_RGB16)
{
    bitmap.fill(0);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(rect(), bitmap);
}

TFormEmul::TFormEmul(QWidget* parent) : QWidget(parent)
{
    FormEmul = this;
    setObjectName(QStringLiteral("FormEmul"));
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
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
    ImageScr = new TImage(this);
    ImageScr->setObjectName(QStringLiteral("ImageScr"));
    ImageScr->setGeometry(0, 0, 788, 591);
    SpeedButtonMod = make_button(this, "SpeedButtonMod", "Mod (Shift)", 86, 660, 100, 40);
    SpeedButtonMod->setCheckable(true);

    connect(ButtonEsc, &QPushButton::clicked, this, [this] { ButtonEscClick(); });
    connect(ButtonEnter, &QPushButton::clicked, this, [this] { ButtonEnterClick(); });
    connect(ButtonUp, &QPushButton::clicked, this, [this] { ButtonUpClick(); });
    connect(ButtonDown, &QPushButton::clicked, this, [this] { ButtonDownClick(); });
    connect(ButtonLeft, &QPushButton::clicked, this, [this] { ButtonLeftClick(); });
    connect(ButtonRight, &QPushButton::clicked, this, [this] { ButtonRightClick(); });
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

    FormCreate();
    clock_.start();
    TimerTick32->start();
    TimerRedraw->start();
    TimerStart->start();
}

TFormEmul::~TFormEmul()
{
    host_install(nullptr);
    if (FormEmul == this) FormEmul = nullptr;
}

void TFormEmul::FormCreate()
{
    painting = 0;
    setWindowTitle(QStringLiteral("Tarvik-2 Emulator"));
    flash_handle = 0;
    ImageScr->bitmap = QImage(LCD_WIDTH, LCD_HEIGHT, QImage::Format_RGB16);
    ImageScr->bitmap.fill(0);
    SaveDialog1->setNameFilters({QStringLiteral("PNG (*.png)"), QStringLiteral("BMP (*.bmp)")});
    SaveDialog1->setDefaultSuffix(QStringLiteral("png"));
}

void TFormEmul::TimerStartTimer()
{
    TimerStart->stop();
    Button15Click();
}

void TFormEmul::Button15Click()
{
    if (emu_running()) return;
    host_install(this);
    emu_run();
    run_finished_ = true;
    // The run ends only at power-off; there is no powering on again.
    close();
}

void TFormEmul::ButtonPost(unsigned code)
{
    if (!power_off_flag && SpeedButtonMod->isChecked()) code |= KEY_SHIFT;
    key_post(code);
}

void TFormEmul::ButtonEscClick()
{
    ButtonPost(KEY_ESC);
}
void TFormEmul::ButtonEnterClick()
{
    ButtonPost(KEY_ENTER);
}
void TFormEmul::ButtonUpClick()
{
    ButtonPost(KEY_UP);
}
void TFormEmul::ButtonDownClick()
{
    ButtonPost(KEY_DOWN);
}
void TFormEmul::ButtonLeftClick()
{
    ButtonPost(KEY_LEFT);
}
void TFormEmul::ButtonRightClick()
{
    ButtonPost(KEY_RIGHT);
}

void TFormEmul::SpeedButtonModClick()
{
    // The toggle has already flipped its down state; Mod itself is posted plain.
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
}

unsigned TFormEmul::MapKey(int key)
{
    switch (key) {
    case Qt::Key_Left: return KEY_LEFT;
    case Qt::Key_Right: return KEY_RIGHT;
    case Qt::Key_Up: return KEY_UP;
    case Qt::Key_Down: return KEY_DOWN;
    case Qt::Key_Escape: return KEY_ESC;
    case Qt::Key_Return:
    case Qt::Key_Enter: return KEY_ENTER;
    default: return KEY_NONE;
    }
}

void TFormEmul::FormKeyDown(int key, Qt::KeyboardModifiers shift)
{
    unsigned code = MapKey(key);
    if (!power_off_flag && (shift & Qt::ShiftModifier)) code |= KEY_SHIFT;
    ButtonPost(code);
}

volatile std::sig_atomic_t TFormEmul::stop_requested = 0;

void TFormEmul::TimerTick32Timer()
{
    tick_counter = tick_counter + 1;
    // A termination signal asks for the same as the ON/OFF button.
    if (stop_requested) {
        stop_requested = 0;
        ButtonPowerClick();
    }
}

void TFormEmul::TimerRedrawTimer()
{
    if (screen_dirty) update(0, 0, 1280, 960);
}

void TFormEmul::FormPaint()
{
    if (power_off_flag || painting) return;
    painting = 1;
    for (int y = 0; y < LCD_HEIGHT; ++y)
        std::memcpy(ImageScr->bitmap.scanLine(y), framebuffer + y * LCD_WIDTH, LCD_WIDTH * 2);
    painting = 0;
    screen_dirty = 0;
    ImageScr->update();
}

bool TFormEmul::SavePicture(const QString& file, int filter_index, QString* error)
{
    const QImage& bm = ImageScr->bitmap;
    std::string err;
    // The bitmap's rows are 640 bytes, already 4-byte aligned: one block.
    const auto* pixels = reinterpret_cast<const u16*>(bm.constBits());
    const bool ok = picture_save(file.toStdString(), pixels, bm.width(), bm.height(), filter_index == 2 ? 1 : 0, &err);
    if (!ok && error) *error = QString::fromStdString(err);
    return ok;
}

int TFormEmul::SaveFilterIndex() const
{
    return SaveDialog1->nameFilters().indexOf(SaveDialog1->selectedNameFilter()) + 1;
}

void TFormEmul::SpeedButtonSavePicClick()
{
    // The dialog opens in the data folder with a name not used there yet.
    const std::string folder = data_dir().empty() ? std::string(".") : data_dir();
    const bool bmp_filter = SaveFilterIndex() == 2;
    SaveDialog1->setDirectory(QString::fromStdString(folder));
    SaveDialog1->setDefaultSuffix(bmp_filter ? QStringLiteral("bmp") : QStringLiteral("png"));
    SaveDialog1->selectFile(QString::fromStdString(picture_fresh_name(folder, bmp_filter)));
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
    if (!SavePicture(file, target.bmp ? 2 : 1, &error))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Cannot save the picture:\n") + error);
}

void TFormEmul::SpeedButtonCopyPicClick()
{
    QGuiApplication::clipboard()->setImage(ImageScr->bitmap);
}

bool TFormEmul::event(QEvent* e)
{
    // Key preview: the form sees every key before any control.
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        FormKeyDown(k->key(), k->modifiers());
        return true;
    }
    return QWidget::event(e);
}

void TFormEmul::paintEvent(QPaintEvent*)
{
    FormPaint();
}

void TFormEmul::closeEvent(QCloseEvent* e)
{
    FormClose();
    if (emu_running()) {
        // The instrument code still holds the stack below us: let it unwind
        // (settings saved, flash.dat closed) and close once the run returns.
        e->ignore();
        return;
    }
    e->accept();
}

void TFormEmul::pump()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TFormEmul::sleep_1ms()
{
    QThread::msleep(1);
}

u32 TFormEmul::millis()
{
    return static_cast<u32>(clock_.elapsed());
}

HostDateTime TFormEmul::local_time()
{
    const QDateTime now = QDateTime::currentDateTime();
    return {now.date().year(), now.date().month(),  now.date().day(),
            now.time().hour(), now.time().minute(), now.time().second()};
}

bool TFormEmul::shift_held()
{
    return (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) || SpeedButtonMod->isChecked();
}
