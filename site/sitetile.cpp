#include "sitetile.h"

#include "conversions.h"
#include "cycle.h"
#include "models.h"
#include "valuelog.h"

#include <QGridLayout>
#include <QHash>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {
const QColor kLampOn(0, 255, 0);
const QColor kLampOff(0, 0, 0);
const QString kOnStyle = QStringLiteral("background-color: #000000; color: #00FF00;");
const QString kOffStyle = QStringLiteral("background-color: #000000; color: #FFFFFF;");

QLineEdit *tagBox(const QString &name, const QString &text, QWidget *parent)
{
    auto *edit = named(new QLineEdit(text, parent), name);
    edit->setPlaceholderText(QStringLiteral("tag"));
    return edit;
}

void showSwitch(QLabel *label, bool on)
{
    label->setText(on ? kOn : kOff);
    if (label->styleSheet() != (on ? kOnStyle : kOffStyle))
        label->setStyleSheet(on ? kOnStyle : kOffStyle);
}

// A label whose text changes with each exchange gets a fixed size: a new text then repaints it
// alone instead of laying out every tile of the grid again.
void fixText(QLabel *label, const QString &longest)
{
    label->setFixedSize(label->fontMetrics().horizontalAdvance(longest) + 8, label->fontMetrics().height() + 4);
}

QString healthLine(const SiteModuleState &s)
{
    QString line = healthText(s.health);
    line += QStringLiteral("  ok %1  late %2  no reply %3  errors %4").arg(s.ok).arg(s.late).arg(s.noReply).arg(s.errors);
    if (s.lastMs >= 0)
        line += QStringLiteral("  %1 ms").arg(s.lastMs, 0, 'f', 1);
    return line.trimmed();
}
} // namespace

SiteTile::SiteTile(const SiteModule &module, int index, QWidget *parent) : QFrame(parent), m_index(index)
{
    setObjectName(QStringLiteral("Tile_%1").arg(index));
    setFrameShape(QFrame::StyledPanel);
    auto *box = new QVBoxLayout(this);
    auto *head = new QHBoxLayout;
    modelLabel = named(new QLabel(QStringLiteral("%1  address %2").arg(module.model).arg(module.address), this), QStringLiteral("Model"));
    tagEdit = tagBox(QStringLiteral("Tag"), module.tag, this);
    head->addWidget(modelLabel);
    head->addWidget(tagEdit, 1);
    box->addLayout(head);
    healthLabel = named(new QLabel(this), QStringLiteral("Health"));
    fixText(healthLabel, QStringLiteral("no reply  ok 999999  late 999999  no reply 999999  errors 999999  9999.9 ms"));
    notesLabel = named(new QLabel(this), QStringLiteral("Notes"));
    notesLabel->setWordWrap(true);
    notesLabel->hide();
    moveButton = named(new QPushButton(QStringLiteral("Move to the line's setting"), this), QStringLiteral("Move"));
    moveButton->hide();
    box->addWidget(healthLabel);
    box->addWidget(notesLabel);
    box->addWidget(moveButton);
    auto *grid = new QGridLayout;
    box->addLayout(grid);
    if (const ModelRow *row = findModel(module.model))
        addChannels(*row, grid, module);
    box->addStretch(1);

    connect(tagEdit, &QLineEdit::editingFinished, this, [this] { emit tagEdited(tagEdit->text()); });
    connect(moveButton, &QPushButton::clicked, this, &SiteTile::moveClicked);
}

void SiteTile::addChannels(const ModelRow &row, QGridLayout *grid, const SiteModule &module)
{
    const auto tagOf = [&module](const QString &caption) { return module.channelTags.value(caption); };
    for (const AcquisitionCycle::Read &read : modelReads(row))
        for (const QString &caption : channelCaptions(row, read))
            addChannel(grid, caption, false, read.function == 0x02, tagOf(caption));
    for (const QString &caption : row.outputCaptions)
        addChannel(grid, caption.trimmed(), true, true, tagOf(caption.trimmed()));
    if (row.kind != PanelKind::AnalogOutput)
        return;
    addChannel(grid, QStringLiteral("AO"), true, false, tagOf(QStringLiteral("AO")));
    analogEdit = named(new QLineEdit(this), QStringLiteral("AO_Value"));
    analogEdit->setPlaceholderText(QStringLiteral("mA"));
    analogSet = named(new QPushButton(QStringLiteral("Set"), this), QStringLiteral("AO_Set"));
    const int at = grid->rowCount();
    grid->addWidget(analogEdit, at, 2);
    grid->addWidget(analogSet, at, 3);
    connect(analogSet, &QPushButton::clicked, this, [this] {
        if (const std::optional<int> position = outputPositionFromText(analogEdit->text()))
            emit analogSetClicked(std::uint16_t(*position));
    });
}

void SiteTile::addChannel(QGridLayout *grid, const QString &caption, bool output, bool digital, const QString &tag)
{
    Channel c;
    c.caption = caption;
    c.output = output;
    const int at = grid->rowCount();
    grid->addWidget(new QLabel(caption, this), at, 0);
    if (output && digital) {
        c.switcher = named(new ClickLabel(this), QStringLiteral("Switch_%1").arg(caption));
        c.switcher->setAlignment(Qt::AlignCenter);
        c.switcher->setCursor(Qt::PointingHandCursor);
        fixText(c.switcher, kOff);
        showSwitch(c.switcher, false);
        const int n = int(std::count_if(channels.begin(), channels.end(), [](const Channel &k) { return k.switcher; })) + 1;
        connect(c.switcher, &ClickLabel::clicked, this, [this, n, label = c.switcher] { emit outputClicked(n, label->text() != kOn); });
        grid->addWidget(c.switcher, at, 2);
        c.value = c.switcher;
    } else {
        if (digital) {
            c.lamp = named(new Lamp(this), QStringLiteral("Lamp_%1").arg(caption));
            c.lamp->setFixedSize(12, 12);
            grid->addWidget(c.lamp, at, 1);
        }
        c.value = named(new QLabel(this), QStringLiteral("Value_%1").arg(caption));
        fixText(c.value, kNotConnect);
        grid->addWidget(c.value, at, 2);
    }
    c.tag = tagBox(QStringLiteral("ChannelTag_%1").arg(caption), tag, this);
    grid->addWidget(c.tag, at, 3);
    connect(c.tag, &QLineEdit::editingFinished, this, [this, caption, edit = c.tag] { emit channelTagEdited(caption, edit->text()); });
    channels.append(c);
}

void SiteTile::refresh(const SitePoll &poll)
{
    const SiteModuleState &s = poll.state(m_index);
    healthLabel->setText(healthLine(s));
    const QString notes = poll.notes(m_index).join(QLatin1Char('\n'));
    notesLabel->setText(notes);
    notesLabel->setVisible(!notes.isEmpty());
    moveButton->setVisible(poll.offLineSetting(m_index));
    showValues(poll, m_index);
}

// The inputs from the poll's values, the outputs as last read back or written; nothing while the
// module is not known to be of its model.
void SiteTile::showValues(const SitePoll &poll, int module)
{
    const SiteModuleState &s = poll.state(module);
    const QVector<ValueRow> rows = poll.values(module);
    const bool known = s.check == SiteModuleState::Check::Matches;
    QHash<QString, const ValueRow *> byChannel;
    for (const ValueRow &row : rows)
        byChannel.insert(row.channel, &row);
    int output = 0;
    for (Channel &c : channels) {
        if (c.switcher) {
            const int at = output++;
            if (at < s.outputs.size())
                showSwitch(c.switcher, s.outputs[at]);
            continue;
        }
        if (c.output) {
            c.value->setText(known && s.analogOutput ? outputCurrentText(*s.analogOutput) + QStringLiteral("mA") : QString());
            continue;
        }
        const ValueRow *row = byChannel.value(c.caption);
        c.value->setText(row ? row->text : QString());
        if (c.lamp) {
            const QColor fill = row && row->value == 1.0 ? kLampOn : kLampOff;
            if (c.lamp->fillColor() != fill)
                c.lamp->setFillColor(fill);
        }
    }
}

void SiteTile::mouseDoubleClickEvent(QMouseEvent *event)
{
    QFrame::mouseDoubleClickEvent(event);
    emit opened();
}
