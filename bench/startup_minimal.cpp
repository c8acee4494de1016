// The baseline start-up for the benchmark: the least a Qt Widgets program does to show one
// window with one line of text, with the same probe as the tool's start-up program. The label's
// size is asked for before the window is shown, so this program, like Main, loads the font
// database before its show event.
#include "startup_probe.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    StartupProbe probe(argc > 1 ? argv[1] : nullptr);

    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.resize(416, 297); // Main's size at 96 dpi
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Model Select")));
    probe.watch(&window);
    window.show();
    return app.exec();
}
