#include "settings_store.h"

#include <string>

#include <QFileInfo>

#include "host/session.h"

namespace {

const QString SETTINGS_ORG = QStringLiteral("tarvik2");
const QString SETTINGS_APP = QStringLiteral("tarvik2-emu");

}  // namespace

QSettings settings_store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SETTINGS_ORG, SETTINGS_APP);
}

QString data_folder()
{
    const std::string d = data_dir().empty() ? std::string(".") : data_dir();
    return QFileInfo(QString::fromStdString(d)).absoluteFilePath();
}
