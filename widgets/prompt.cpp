#include "prompt.h"

#include "widgets.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QThread>

static PromptSink &promptSink()
{
    static PromptSink sink;
    return sink;
}

static PauseSink &pauseSink()
{
    static PauseSink sink;
    return sink;
}

static AskSink &askSink()
{
    static AskSink sink;
    return sink;
}

void setPromptSink(PromptSink sink) { promptSink() = std::move(sink); }
void setAskSink(AskSink sink) { askSink() = std::move(sink); }

bool Ask(QWidget *parent, const QString &text)
{
    if (askSink())
        return askSink()(text);
    TextBox::syncPending();
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Prompt"), text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
void setPauseSink(PauseSink sink) { pauseSink() = std::move(sink); }

void Prompt(QWidget *parent, const QString &text)
{
    const QString title = QStringLiteral("Prompt");
    if (promptSink()) {
        promptSink()(title, text);
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
    if (pauseSink()) {
        pauseSink()(ms);
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
