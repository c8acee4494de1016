// Writes korvant-cli's bash completion from its template at build time, the model numbers of the
// model table put where the template says @MODEL_NUMBERS@, so that the completion offers every
// model the program takes. korvant-completion TEMPLATE OUTPUT
#include "models.h"

#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvant-completion TEMPLATE OUTPUT\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "korvant-completion: cannot read %s\n", argv[1]);
        return 1;
    }
    QByteArray text = in.readAll();
    const QByteArray mark("@MODEL_NUMBERS@");
    if (text.count(mark) != 1) {
        std::fprintf(stderr, "korvant-completion: %s must name @MODEL_NUMBERS@ once\n", argv[1]);
        return 1;
    }
    text.replace(mark, modelNumbers().join(QLatin1Char(' ')).toLatin1());
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size() || !out.flush()) {
        std::fprintf(stderr, "korvant-completion: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
