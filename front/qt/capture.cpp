#include "capture.h"

#include <QDir>
#include <QFileInfo>

#include "front/common/picture.h"
#include "settings_store.h"

namespace {

// Names of the picture files without a dialog.
const char* const SCREENSHOT_PREFIX = "tarvik2";
const char* const RECORDING_PREFIX = "tarvik2-rec";
// The title counts a recording's seconds.
constexpr int RECORD_TITLE_MS = 1000;
constexpr qint64 MS_PER_SECOND = 1000;
constexpr qint64 SECONDS_PER_MINUTE = 60;

const QString KEY_SHOT_FOLDER = QStringLiteral("folders/screenshots");
const QString KEY_PICTURE_FOLDER = QStringLiteral("folders/pictures");

}  // namespace

Capture::Capture(const QImage* bitmap, const QElapsedTimer* clock, QObject* parent)
    : QObject(parent), bitmap_(bitmap), clock_(clock), tick_timer_(new QTimer(this))
{
    tick_timer_->setInterval(RECORD_TITLE_MS);
    connect(tick_timer_, &QTimer::timeout, this, &Capture::recordingTick);
}

const u16* Capture::pixels() const
{
    // The bitmap's rows are 640 bytes, already 4-byte aligned: one block.
    return reinterpret_cast<const u16*>(bitmap_->constBits());
}

QString Capture::folder() const
{
    const QString chosen = settings_store().value(KEY_SHOT_FOLDER).toString();
    if (!chosen.isEmpty() && QFileInfo(chosen).isDir()) return chosen;
    return data_folder();
}

void Capture::setFolder(const QString& folder)
{
    settings_store().setValue(KEY_SHOT_FOLDER, QFileInfo(folder).absoluteFilePath());
}

QString Capture::screenshot(std::string* error) const
{
    const std::string path = picture_save_numbered(folder().toStdString(), SCREENSHOT_PREFIX, pixels(),
                                                   bitmap_->width(), bitmap_->height(), error);
    if (path.empty()) return {};
    return QDir::cleanPath(QString::fromStdString(path));
}

bool Capture::start(std::string* error)
{
    std::string path;
    std::FILE* f = picture_create_numbered(folder().toStdString(), RECORDING_PREFIX, &path, error);
    const bool started = f && recorder_.start(f, QDir::cleanPath(QString::fromStdString(path)).toStdString(), pixels(),
                                              bitmap_->width(), bitmap_->height(), clock_->elapsed(), error);
    if (!started) return false;
    started_ = clock_->elapsed();
    tick_timer_->start();
    return true;
}

bool Capture::frame(std::string* error)
{
    if (recorder_.frame(pixels(), clock_->elapsed())) return true;
    if (error) *error = recorder_.error();
    return false;
}

bool Capture::stop(std::string* error)
{
    const bool ok = recorder_.stop(pixels(), clock_->elapsed(), error);
    tick_timer_->stop();
    return ok;
}

QString Capture::recordingTitle() const
{
    if (!recorder_.recording()) return {};
    const qint64 seconds = (clock_->elapsed() - started_) / MS_PER_SECOND;
    return QStringLiteral("● REC %1:%2 (%3 frames) %4")
        .arg(seconds / SECONDS_PER_MINUTE)
        .arg(seconds % SECONDS_PER_MINUTE, 2, 10, QLatin1Char('0'))
        .arg(recorder_.frames())
        .arg(path());
}

bool Capture::savePicture(const QString& file, bool bmp, QString* error) const
{
    std::string err;
    const bool ok = picture_save(file.toStdString(), pixels(), bitmap_->width(), bitmap_->height(), bmp ? 1 : 0, &err);
    if (!ok && error) *error = QString::fromStdString(err);
    return ok;
}

QString Capture::pictureFolder()
{
    const QString folder = settings_store().value(KEY_PICTURE_FOLDER).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return data_folder();
    return folder;
}

void Capture::rememberPicture(const QString& file)
{
    settings_store().setValue(KEY_PICTURE_FOLDER, QFileInfo(file).absolutePath());
}
