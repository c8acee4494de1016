#include "toolwindows.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));
    ToolWindows tool;
    tool.main.show();
    return app.exec();
}
