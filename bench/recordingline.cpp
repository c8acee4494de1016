#include "recordingline.h"

#include <chrono>

qint64 steadyNowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

RecordingLine::RecordingLine(std::unique_ptr<SerialLine> inner, LineTimes *times)
    : m_inner(std::move(inner)), m_times(times)
{
    connect(m_inner.get(), &SerialLine::failed, this, &SerialLine::failed);
}

void RecordingLine::setReceiver(Receiver receiver)
{
    m_inner->setReceiver([this, receiver = std::move(receiver)](const QByteArray &bytes) {
        m_times->receivedBytes += bytes.size();
        if (m_awaitingReply && !m_times->writesNs.empty()) {
            m_times->replyNs.push_back(steadyNowNs() - m_times->writesNs.back());
            m_awaitingReply = false;
        }
        if (receiver)
            receiver(bytes);
    });
}

void RecordingLine::write(const QByteArray &frame)
{
    // Stamped before the write so the figure is the window's schedule, not the driver's.
    m_times->writesNs.push_back(steadyNowNs());
    m_awaitingReply = true;
    m_inner->write(frame);
}
