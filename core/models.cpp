#include "models.h"

#include "conversions.h"

#include <QRegularExpression>

static QStringList numbered(const QString &prefix, int count, bool twoDigits)
{
    QStringList captions;
    for (int i = 1; i <= count; ++i)
        captions << prefix + (twoDigits ? QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')) : QString::number(i));
    return captions;
}

static ModelRow digital(const QString &name, int inputs, const QString &outputFrame, const QString &outputPrefix,
                        int outputs, int lineA, int lineB, int lineAcq)
{
    return {.name = name,
            .kind = PanelKind::Digital,
            .inputFrame = inputs ? QStringLiteral(" Digital Input ") : QString(),
            .outputFrame = outputFrame,
            .inputCaptions = numbered(QStringLiteral("DI_"), inputs, true),
            .outputCaptions = numbered(outputPrefix, outputs, true),
            .lineOvertimeA = lineA,
            .lineOvertimeB = lineB,
            .lineAcquisitionA = lineAcq};
}

static ModelRow analog(const QString &name, const QString &frame, const QStringList &captions,
                       Conversion conversion, int lineA, int lineAcq)
{
    return {.name = name, .kind = PanelKind::AnalogInput, .analogFrame = frame, .analogCaptions = captions,
            .conversion = conversion, .lineOvertimeA = lineA, .lineAcquisitionA = lineAcq};
}

static ModelRow combined(const QString &name, const QStringList &captions, Conversion conversion)
{
    return {.name = name,
            .kind = PanelKind::Combined,
            .inputFrame = QStringLiteral(" Digital Input "),
            .outputFrame = QStringLiteral(" Digital Output "),
            .inputCaptions = numbered(QStringLiteral("DI_"), 4, true),
            .outputCaptions = numbered(QStringLiteral("DO_"), 4, true),
            .analogFrame = QStringLiteral(" Analog Input "),
            .analogCaptions = captions,
            .conversion = conversion,
            .lineOvertimeA = 16,
            .lineOvertimeB = 17,
            .lineOvertimeC = 18,
            .lineAcquisitionA = 19,
            .lineAcquisitionB = 20};
}

const QVector<ModelRow> &modelTable()
{
    static const QVector<ModelRow> table = [] {
        const QString relays = QStringLiteral(" Relay Output ");
        const QString outputs = QStringLiteral(" Digital Output ");
        const ModelRow output{.name = QStringLiteral("KV1720ADAM"), .kind = PanelKind::AnalogOutput, .lineOvertimeB = 3};
        return QVector<ModelRow>{
            analog(QStringLiteral("KV1710ADAM"), QStringLiteral(" DS18B20 Input "),
                   numbered(QStringLiteral("DS"), 8, false), Conversion::Temperature, 1, 2),
            output,
            analog(QStringLiteral("KV1730ADAM"), QStringLiteral(" Analog Input "),
                   numbered(QStringLiteral("AI_"), 8, false), Conversion::Current, 4, 5),
            analog(QStringLiteral("KV1740ADAM"), QStringLiteral(" Analog Input "),
                   numbered(QStringLiteral("VI_"), 8, false), Conversion::Voltage, 4, 5),
            digital(QStringLiteral("KV5510ADAM"), 8, relays, QStringLiteral("RY_"), 4, 6, 7, 8),
            digital(QStringLiteral("KV5520ADAM"), 0, relays, QStringLiteral("RY_"), 8, 0, 9, 0),
            digital(QStringLiteral("KV5530ADAM"), 16, QString(), QString(), 0, 10, 0, 11),
            digital(QStringLiteral("KV5540ADAM"), 0, outputs, QStringLiteral("DO_"), 16, 0, 12, 0),
            digital(QStringLiteral("KV5550ADAM"), 8, outputs, QStringLiteral("DO_"), 8, 13, 14, 15),
            combined(QStringLiteral("KV7710ADAM"),
                     {QStringLiteral("AI_1"), QStringLiteral("AI_2"), QStringLiteral("AI_3 "),
                      QStringLiteral("AI_4 "), QStringLiteral("AI_5"), QStringLiteral("AI_6")},
                     Conversion::Current),
            combined(QStringLiteral("KV7720ADAM"),
                     {QStringLiteral("T_1"), QStringLiteral("T_2"), QStringLiteral("T_3 "), QStringLiteral("T_4 ")},
                     Conversion::WholeDegrees),
        };
    }();
    return table;
}

const ModelRow *findModel(const QString &name)
{
    for (const ModelRow &row : modelTable())
        if (row.name == name)
            return &row;
    return nullptr;
}

QString modelName(int number)
{
    return QStringLiteral("KV%1ADAM").arg(number);
}

int modelNumber(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^KV(\\d+)ADAM$"));
    const QRegularExpressionMatch m = pattern.match(name);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

int modelNumber(const ModelRow &row)
{
    return modelNumber(row.name);
}

const ModelRow *findModelLoosely(const QString &text)
{
    const QString n = text.trimmed().toUpper();
    const QString named = n.startsWith(QLatin1String("KV")) ? n : QLatin1String("KV") + n;
    return findModel(named.endsWith(QLatin1String("ADAM")) ? named : named + QLatin1String("ADAM"));
}

QStringList modelNames()
{
    QStringList names;
    for (const ModelRow &row : modelTable())
        names << row.name;
    return names;
}

QStringList modelNumbers()
{
    QStringList numbers;
    for (const ModelRow &row : modelTable())
        numbers << QString::number(modelNumber(row));
    return numbers;
}

QString wrapWords(const QString &head, const QStringList &words, const QString &indent, int width)
{
    QString text = head;
    qsizetype lineStart = 0;
    for (const QString &word : words) {
        if (text.size() - lineStart + 1 + word.size() > width) {
            text += QLatin1Char('\n');
            lineStart = text.size();
            text += indent + word;
        } else {
            text += QLatin1Char(' ') + word;
        }
    }
    return text;
}

QString convert(Conversion conversion, std::uint16_t r)
{
    switch (conversion) {
    case Conversion::Temperature: return temperatureText(r);
    case Conversion::Current: return currentText(r);
    case Conversion::Voltage: return voltageText(r);
    case Conversion::WholeDegrees: return wholeDegreesText(r);
    case Conversion::None: break;
    }
    return {};
}
