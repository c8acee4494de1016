// CSV fields as the tool's files and clipboard texts write them: a quoted field is put between
// double quotes, its own double quotes doubled.
#pragma once

#include <QString>

// The field as it stands, or quoted where it holds a comma, a quote or a line break.
QString csvField(const QString &field);
// The field quoted whatever it holds.
QString csvQuoted(const QString &field);
