// The TextBox as a screen reader sees it: what a read-only QPlainTextEdit offers (the text, the
// selection, where a character is). TextBox installs the factory with its first box.
#pragma once

#include <QAccessibleInterface>

QAccessibleInterface *textBoxAccessible(const QString &key, QObject *object);
