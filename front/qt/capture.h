// What the window keeps of its LCD picture: numbered screenshots and the
// animated PNG recording in the screenshot folder, and the picture files of
// Save Picture. It works on the window's copy of the LCD (320 x 240 RGB565)
// and the window's clock; telling the user (title, buttons) is the window's.
#pragma once
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include "base/types.h"
#include "front/common/apng.h"

class Capture : public QObject {
    Q_OBJECT
public:
    Capture(const QImage* bitmap, const QElapsedTimer* clock, QObject* parent);

    // The folder screenshots and recordings go to (default: the data folder).
    QString folder() const;
    void setFolder(const QString& folder);

    // Writes the picture as the next numbered PNG of the folder. Returns the
    // path, "" with `error` on failure.
    QString screenshot(std::string* error) const;

    // Starts the next numbered animated PNG of the folder with the picture as
    // its first frame; false with `error` when it cannot.
    bool start(std::string* error);
    // After the picture changed: adds it as a frame. False with `error` when
    // the recording could not go on (it has stopped).
    bool frame(std::string* error);
    // Ends the recording with the picture as it is now; false with `error`
    // when the file could not be finished.
    bool stop(std::string* error);
    // True while a recording runs; frames() counts its frames so far.
    bool recording() const { return recorder_.recording(); }
    u32 frames() const { return recorder_.frames(); }
    // The file of the recording running or last made.
    QString path() const { return QString::fromStdString(recorder_.path()); }
    // While recording, "● REC m:ss (n frames) FILE" for the title; else "".
    QString recordingTitle() const;

    // Saves the picture to `file`, BMP when `bmp`, PNG otherwise; false with
    // `error` on failure.
    bool savePicture(const QString& file, bool bmp, QString* error) const;
    // The folder the Save Picture dialog opens in: where the last picture
    // went, else the data folder; rememberPicture keeps a saved file's folder.
    static QString pictureFolder();
    static void rememberPicture(const QString& file);

Q_SIGNALS:
    // Every second of a recording, for the time in the title.
    void recordingTick();

private:
    const u16* pixels() const;

    const QImage* bitmap_;
    const QElapsedTimer* clock_;
    ApngRecorder recorder_;
    QTimer* tick_timer_;
    qint64 started_ = 0;
};
