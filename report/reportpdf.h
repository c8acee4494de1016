// The checkout report as a PDF: the report's HTML laid out on A4 pages. Needs a QGuiApplication
// (korvant-report runs on the offscreen platform when no other is set).
#pragma once

#include <QString>

// Writes html as an A4 PDF to path; false with why when the file cannot be written.
bool writeReportPdf(const QString &html, const QString &path, QString *error);
