#include "reportpdf.h"

#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

bool writeReportPdf(const QString &html, const QString &path, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QTextDocument document;
        document.setHtml(html);
        QPdfWriter writer(&file);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                         QPageLayout::Millimeter));
        writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator(QStringLiteral("korvant-report"));
        document.print(&writer);
    }
    if (file.error() == QFileDevice::NoError && file.flush()) {
        file.close();
        return true;
    }
    *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}
