// What the window keeps between runs and where its files go by default: its
// settings store (zoom, position, folders) and the data folder.
#pragma once
#include <QSettings>
#include <QString>

// The window's settings store.
QSettings settings_store();
// The data folder as an absolute path.
QString data_folder();
