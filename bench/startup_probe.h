// What the two start-up programs of the benchmark share: they are started with the spawning
// process's CLOCK_MONOTONIC time in argv[1], note when their window gets its first show event and
// when it has painted once, print both as microseconds since the spawn together with the peak
// resident memory, and quit.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

inline long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// VmHWM of /proc/self/status in kB, 0 where there is no such file.
inline long peakResidentKb()
{
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

class StartupProbe : public QObject
{
public:
    // spawnNs: argv[1] of the program, 0 when it was started by hand.
    explicit StartupProbe(const char *spawnNs) : m_spawnNs(spawnNs ? std::atoll(spawnNs) : 0) {}

    void watch(QWidget *window)
    {
        window->installEventFilter(this);
        // Offscreen windows paint too; should one never do so, report what is known.
        QTimer::singleShot(5000, this, [this] { finish(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        Q_UNUSED(watched);
        if (event->type() == QEvent::Show && m_shownNs == 0) {
            m_shownNs = monotonicNs();
        } else if (event->type() == QEvent::Paint && m_shownNs != 0 && m_paintedNs == 0) {
            // The paint itself runs after this filter; measure once it is done.
            QTimer::singleShot(0, this, [this] {
                m_paintedNs = monotonicNs();
                finish();
            });
        }
        return false;
    }

private:
    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        const long long base = m_spawnNs;
        std::printf("shown_us=%lld painted_us=%lld hwm_kb=%ld\n", m_shownNs ? (m_shownNs - base) / 1000 : -1,
                    m_paintedNs ? (m_paintedNs - base) / 1000 : -1, peakResidentKb());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    }

    long long m_spawnNs;
    long long m_shownNs = 0;
    long long m_paintedNs = 0;
    bool m_done = false;
};
