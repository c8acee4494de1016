// What every korvant-cli subcommand shares: its options, stdout and stderr, the session on the
// line, and the ways it fails, prints, shows progress and times its exchanges. Each subcommand is
// a function of its own file over one Context.
#pragma once

#include "commandline.h"
#include "report.h"
#include "session.h"

#include <QJsonObject>
#include <QTextStream>

class OneModuleWrite;

class Context
{
public:
    Context(const CliOptions &options, QTextStream &out, QTextStream &err) : o(options), out(out), err(err), session(options, err) {}

    // "korvant-cli: MESSAGE" on stderr; status given back.
    int fail(int status, const QString &message)
    {
        err << QStringLiteral("korvant-cli: ") << message << '\n';
        err.flush();
        return status;
    }
    void warn(const QString &text) { fail(ExitOk, QStringLiteral("warning: ") + text); }
    void print(const QString &line)
    {
        out << line << '\n';
        out.flush();
    }
    void print(const QJsonObject &object) { print(jsonLine(object)); }
    // Nothing found: none said on stderr (and with --json as {"found": 0, "note": none}); exit 4.
    int nothingFound(const QString &none)
    {
        if (o.json)
            print(QJsonObject{{"found", 0}, {"note", none}});
        return fail(ExitNoReply, none);
    }

    // A progress bar on stderr, "[####....] TEXT", where stderr is a terminal and not --quiet;
    // cleared before a result takes its line and at the end.
    bool showsProgress() const;
    void progress(int done, int total, const QString &text);
    void clearProgress()
    {
        if (showsProgress())
            err << QStringLiteral("\r\033[K") << Qt::flush;
    }

    // The time-out of an exchange of these sizes at these settings: --timeout, else the time
    // the request and its reply take on the line plus a margin.
    int timeoutFor(const LineSettings &line, int requestBytes, int replyBytes) const
    {
        return o.timeoutMs > 0 ? o.timeoutMs : defaultTimeoutMs(line, requestBytes, replyBytes);
    }
    // Sends the exchange's request, waits for the reply and judges it. What it gives back is the
    // reply with the line's echo set aside (the bytes the verdict is on, what is decoded), with no
    // response time for a time-out; report() takes the time its reply was complete.
    // With roomForEcho the wait has room for an echo not known yet.
    Session::Reply talk(Exchange &exchange, const LineSettings &line, bool roomForEcho = false);
    // Judges what came back for the exchange and makes the reply what talk() gives.
    void judged(Exchange &exchange, Session::Reply &reply);
    // talk(), asked again after each time-out up to --retries times (each attempt logged).
    Session::Reply talkRetrying(Exchange &exchange);
    // The exit status of a judged exchange; a refusal is said on stderr.
    int verdictStatus(const ReplyVerdict &verdict);
    // A write's exchange, judged, with its exit status; with --json a refused one is printed too.
    int writeExchange(const QByteArray &request);
    // Drives plan over the line: its reads before the write, the write, and the read after it.
    // ExitOk only when the module answered where the write sent it; any other end is said on
    // stderr, and with --json as refused (with the outcome's verdict and note).
    int writeToOne(OneModuleWrite &plan, QJsonObject refused);
    // What the JSON says of the exchange judged last, at the time its reply was complete; seq
    // counts the run's exchanges.
    ExchangeReport report(int address, const ReplyVerdict &verdict, double responseMs)
    {
        return {address, o.model ? o.model->name : QString(), ++m_seq, m_doneWallMs, verdict, responseMs};
    }
    // The values of an accepted read, as rows; none for a refused one.
    QVector<ValueRow> rowsOf(const ExchangeReport &x, const AcquisitionCycle::Read &r, const Exchange &exchange) const
    {
        return exchange.accepted() ? valueRows(*o.model, r, exchange.reply, x.address, x.wallMs, o.model->name) : QVector<ValueRow>();
    }

    const CliOptions &o;
    // Where the system's devices and their sysfs entries are read (a fixture folder in tests).
    QString devRoot = QStringLiteral("/dev"), sysRoot = QStringLiteral("/sys");
    QTextStream &out;
    QTextStream &err;
    Session session;
    ExchangeReport written; // the last write's exchange

private:
    qint64 m_seq = 0;
    qint64 m_doneWallMs = 0; // when the reply of the exchange judged last was complete
};

// The read request of one of a model's reads.
QByteArray modelRead(int address, const AcquisitionCycle::Read &r);
