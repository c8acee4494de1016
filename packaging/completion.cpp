// Writes korvant-cli's bash completion from its template at build time, its marks filled from
// korvant-cli's tables of subcommands and options and from the model table, so that the completion
// offers every subcommand, option and model the program takes. korvant-completion TEMPLATE OUTPUT
#include "clitable.h"

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
    const QByteArray text = bashCompletion(QString::fromUtf8(in.readAll())).toUtf8();
    if (text.isEmpty()) {
        std::fprintf(stderr, "korvant-completion: %s must name each of its marks once\n", argv[1]);
        return 1;
    }
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size() || !out.flush()) {
        std::fprintf(stderr, "korvant-completion: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
