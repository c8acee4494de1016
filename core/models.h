// The eleven module models: what each test window shows and sends. One row a model; the window
// classes read everything model-specific from here.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

enum class PanelKind { Digital, AnalogInput, AnalogOutput, Combined };
enum class Conversion { None, Temperature, Current, Voltage, WholeDegrees };

struct ModelRow {
    QString name{};  // window name and caption, and the text in Main's model list
    PanelKind kind = PanelKind::Digital;
    // Digital inputs and outputs (digital and combined windows).
    QString inputFrame{}, outputFrame{};
    QStringList inputCaptions{}, outputCaptions{};
    // Analog inputs (analog-input and combined windows).
    QString analogFrame{};
    QStringList analogCaptions{};
    Conversion conversion = Conversion::None;
    // tm.rc lines (from 1; 0 for a timer the window does not have).
    int lineOvertimeA = 0, lineOvertimeB = 0, lineOvertimeC = 0;
    int lineAcquisitionA = 0, lineAcquisitionB = 0;

    int inputs() const { return int(inputCaptions.size()); }
    int outputs() const { return int(outputCaptions.size()); }
    int channels() const { return int(analogCaptions.size()); }
    bool twoColumns() const { return kind == PanelKind::Combined || (inputs() > 0 && outputs() > 0); }
};

// In the order of Main's model list.
const QVector<ModelRow> &modelTable();
const ModelRow *findModel(const QString &name);

// A model's name from its number, "KV5510ADAM" for 5510 (what the module's register 102 holds),
// and back: the number inside a name "KV" digits "ADAM", 0 for any other text.
QString modelName(int number);
int modelNumber(const QString &name);
int modelNumber(const ModelRow &row);
// The model a user names, in any case and with or without "KV" and "ADAM" ("5510", "kv5510adam").
const ModelRow *findModelLoosely(const QString &text);
// Every model of the table, in its order: the names (KV1710ADAM ...) and the numbers (1710 ...),
// for the lists that korvant-cli, its completion and korvant-sim offer.
QStringList modelNames();
QStringList modelNumbers();

// words after head, a blank between each, a line broken before a word that would pass width
// columns and the next one begun with indent. No newline at the end.
QString wrapWords(const QString &head, const QStringList &words, const QString &indent, int width);

// The value text of an analog register by the model's conversion.
QString convert(Conversion conversion, std::uint16_t r);
