// Ctrl+C for the long-running subcommands: SIGINT (and SIGTERM) become a Qt signal through a
// socket pair, so a wait in the event loop ends at once and the subcommand finishes its report.
#pragma once

#include <QObject>

class Interrupt : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; false when the platform would not.
    static bool install();
    static Interrupt &instance();
    bool requested() const { return m_requested; }

signals:
    void raised();

private:
    Interrupt() = default;
    void onSignal();
    bool m_requested = false;
};
