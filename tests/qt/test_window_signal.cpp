// A recorded signal in the window: "Signal…" with its file dialog, a file
// dropped onto the window, the title naming the file in use, a file that
// cannot be used, and back to synthesis.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include "analysis/meas_module.h"
#include "analysis/signal_source.h"
#include "front/qt/window.h"
#include "host/device.h"
#include "host/session.h"
#include "tests/qt/qt_support.h"
#include "tests/support/support.h"

namespace {

const QString BEARING = QStringLiteral(TARVIK2_DEMO_DIR "/bearing_6205_outer_race.wav");
const QString UNBALANCE = QStringLiteral(TARVIK2_DEMO_DIR "/unbalance.wav");

class WindowSignal : public WindowFixture {};

void drop_file(QWidget* w, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at(w->width() / 2, w->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    ASSERT_TRUE(enter.isAccepted()) << "a local file is taken";
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
}

TEST_F(WindowSignal, ButtonDialogAndDropLoadTheFileAndTheTitleNamesIt)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("signal:")));

    form.ButtonSignal->click();
    ASSERT_TRUE(form.SignalDialog->isVisible());
    emit form.SignalDialog->fileSelected(BEARING);
    form.SignalDialog->hide();
    ASSERT_TRUE(signal_source_active());
    EXPECT_EQ(QString::fromStdString(signal_source_path()), BEARING);
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("signal: bearing_6205_outer_race.wav")))
        << form.windowTitle().toStdString();

    drop_file(&form, UNBALANCE);
    EXPECT_EQ(QString::fromStdString(signal_source_path()), UNBALANCE);
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("signal: unbalance.wav")))
        << form.windowTitle().toStdString();

    // Back to synthesis from the menu's action.
    form.action("synthesis")->trigger();
    EXPECT_FALSE(signal_source_active());
    EXPECT_FALSE(form.windowTitle().contains(QStringLiteral("signal:")));
}

TEST_F(WindowSignal, AFileThatCannotBeUsedIsToldAndTheSourceStays)
{
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    ASSERT_TRUE(form.loadSignal(BEARING).isEmpty());
    write_file_bytes(dir.file("empty.wav"), {});
    write_file_bytes(dir.file("text.csv"), {'a', '\n'});
    for (const std::string& bad : {dir.file("missing.wav"), dir.file("empty.wav"), dir.file("text.csv")}) {
        SCOPED_TRACE(bad);
        const QString error = form.loadSignal(QString::fromStdString(bad));
        EXPECT_TRUE(error.contains(QString::fromStdString(bad))) << error.toStdString();
        EXPECT_EQ(QString::fromStdString(signal_source_path()), BEARING) << "the source stays";
        EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("signal not loaded")));
    }
    // Options of the command line stay with the files loaded later.
    SignalOptions options;
    options.unit = "banana";
    form.setSignalOptions(options);
    EXPECT_FALSE(form.loadSignal(UNBALANCE).isEmpty()) << "an unknown unit is refused";
    EXPECT_EQ(QString::fromStdString(signal_source_path()), BEARING);
}

TEST_F(WindowSignal, AClippingRecordIsMarkedBesideTheKeypad)
{
    // 444 m/s² peak at 1 kHz (50 mm/s RMS) against the converter's
    // ±161 m/s²: the mark beside the keypad says so with the share of the
    // record that clipped; a file within the range, or synthesis, hides it.
    // The LCD is the instrument's and shows nothing of it.
    {
        std::ofstream out(dir.file("loud.csv"));
        for (int i = 0; i < 25600; ++i) out << 444 * std::sin(2 * std::numbers::pi * 1000 * i / 25600.0) << "\n";
    }
    TFormEmul form;
    form.TimerStart->stop();
    form.show();
    SignalOptions options;
    options.rate = 25600;
    form.setSignalOptions(options);
    std::vector<VibFrame> frames(1024);
    auto record = [&] {
        ASSERT_TRUE(signal_source_vibration(frames.data(), static_cast<u32>(frames.size()), 1.0f / 2560,
                                            meas_calibration.set[meas_main_set()]));
        form.TimerRedrawTimer();
    };
    form.TimerRedrawTimer();
    EXPECT_FALSE(form.ClipMark->isVisible()) << "synthesis never clips";

    ASSERT_TRUE(form.loadSignal(QString::fromStdString(dir.file("loud.csv"))).isEmpty());
    record();
    ASSERT_TRUE(form.ClipMark->isVisible());
    const QString text = form.ClipMark->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Input clipped"))) << text.toStdString();
    // About three quarters of a sine 2.76 times the range sit at the rails.
    const double percent = text.section(QLatin1Char('\n'), 1).section(QLatin1Char(' '), 0, 0).toDouble();
    EXPECT_NEAR(percent, 100 * signal_source_clipping().last_share, 0.05);
    EXPECT_GT(percent, 60);
    EXPECT_LT(percent, 90);
    // Outside the LCD.
    const QRect lcd(form.ImageScr->mapTo(&form, form.ImageScr->lcdRect().topLeft()), form.ImageScr->lcdRect().size());
    EXPECT_FALSE(form.ClipMark->geometry().intersects(lcd));

    ASSERT_TRUE(form.loadSignal(UNBALANCE).isEmpty());
    EXPECT_FALSE(form.ClipMark->isVisible()) << "a new file starts unmarked";
    record();
    EXPECT_FALSE(form.ClipMark->isVisible());

    ASSERT_TRUE(form.loadSignal(QString::fromStdString(dir.file("loud.csv"))).isEmpty());
    record();
    EXPECT_TRUE(form.ClipMark->isVisible());
    form.action("synthesis")->trigger();
    EXPECT_FALSE(form.ClipMark->isVisible());
}

}  // namespace
