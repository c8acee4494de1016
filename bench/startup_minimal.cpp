// The baseline start-up for the benchmark: the least a Qt Widgets program does to show one
// window, with the same probe as the tool's start-up program.
#include "startup_probe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    StartupProbe probe(argc > 1 ? argv[1] : nullptr);

    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.resize(416, 297); // Main's size at 96 dpi
    probe.watch(&window);
    window.show();
    return app.exec();
}
