#include "prompt.h"

#include "widgets.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QThread>

static PromptSink g_promptSink;
static PauseSink g_pauseSink;
static AskSink g_askSink;

void setPromptSink(PromptSink sink) { g_promptSink = std::move(sink); }
void setAskSink(AskSink sink) { g_askSink = std::move(sink); }
void setPauseSink(PauseSink sink) { g_pauseSink = std::move(sink); }

bool Ask(QWidget *parent, const QString &text)
{
    if (g_askSink)
        return g_askSink(text);
    TextBox::syncPending();
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Prompt"), text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void Prompt(QWidget *parent, const QString &text)
{
    const QString title = QStringLiteral("Prompt");
    if (g_promptSink) {
        g_promptSink(title, text);
        return;
    }
    // Boxes set before the message, while a window was still applying a tick, are shown beneath it.
    TextBox::syncPending();
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.setFont(withFullWidthMarks(box.font()));
    box.exec();
}

void Pause(int ms)
{
    if (g_pauseSink) {
        g_pauseSink(ms);
        return;
    }
    QThread::msleep(ulong(ms));
}

int twips(int value)
{
    qreal dpi = 96;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchX();
    return qRound(value * dpi / 1440.0);
}
