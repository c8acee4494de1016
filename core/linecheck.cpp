#include "linecheck.h"

#include <QFileInfo>

Hearing hearSetting(const Exchange &judged)
{
    const QByteArray &reply = judged.reply;
    if (reply.isEmpty())
        return judged.echo.isEmpty() ? Hearing::Nothing : Hearing::Echo;
    if (judged.accepted() || judged.verdict.refusal == Refusal::Exception)
        return Hearing::Module;
    // Modules answering at once drive the line together: the frame keeps its length and, as each
    // answers the same broadcast, its address and function bytes; the CRC does not survive.
    const bool overlaid = reply.size() == judged.replyLength && judged.request.size() > 1
                          && reply.left(2) == judged.request.left(2) && !crcOk(reply);
    return overlaid ? Hearing::Several : Hearing::Garbage;
}

QString hearingText(Hearing hearing)
{
    switch (hearing) {
    case Hearing::Nothing: return QStringLiteral("nothing");
    case Hearing::Module: return QStringLiteral("a module");
    case Hearing::Several: return QStringLiteral("several modules");
    case Hearing::Echo: return QStringLiteral("echo");
    case Hearing::Garbage: return QStringLiteral("garbage");
    }
    return {};
}

QString latencyAdvice(const QString &device, int latencyMs)
{
    if (latencyMs <= kSlowLatencyMs)
        return {};
    const QString name = QFileInfo(device).fileName();
    return QStringLiteral("%1: the adapter's latency timer is %2 ms: up to %2 ms is added to every reply. "
                          "Lower it to 1 ms as root with: echo 1 > /sys/bus/usb-serial/devices/%1/latency_timer; "
                          "for good, with a udev rule such as: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
                          "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"")
        .arg(name)
        .arg(latencyMs);
}
