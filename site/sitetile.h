// A module's tile in the site window: its model and address, its tag and its channels' tags (edited
// in place), its health with the counts and the response time, the notes of the site's poll, its
// inputs as its model window shows them (a lamp and "ON"/"OFF", a value with its unit), its
// outputs switched by a click and KV1720ADAM's output set. It only shows the poll's state and
// passes the user's clicks and edits on; refresh() touches only the texts that changed.
#pragma once

#include "sitepoll.h"
#include "widgets.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVector>

#include <cstdint>

class SiteTile : public QFrame
{
    Q_OBJECT
public:
    // The tile of the site's module index (object name "Tile_<index>").
    SiteTile(const SiteModule &module, int index, QWidget *parent = nullptr);

    // Shows the module's state as the poll has it now.
    void refresh(const SitePoll &poll);

    struct Channel {
        QString caption;             // "DI_03", as the value rows name it
        bool output = false;
        QLabel *value = nullptr;     // "ON", "10.00mA" ("" before any value)
        Lamp *lamp = nullptr;        // digital inputs
        ClickLabel *switcher = nullptr; // digital outputs: a click switches
        QLineEdit *tag = nullptr;
    };
    QLabel *modelLabel, *healthLabel, *notesLabel;
    QLineEdit *tagEdit;
    QPushButton *moveButton;
    QLineEdit *analogEdit = nullptr; // KV1720ADAM: mA, "Set" writes it
    QPushButton *analogSet = nullptr;
    QVector<Channel> channels;

signals:
    void tagEdited(const QString &tag);
    void channelTagEdited(const QString &channel, const QString &tag);
    void outputClicked(int output, bool on); // 1-based
    void analogSetClicked(std::uint16_t microamps);
    void moveClicked();
    void opened(); // double-click: that model's own window

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void addChannels(const ModelRow &row, class QGridLayout *grid, const SiteModule &module);
    void addChannel(QGridLayout *grid, const QString &caption, bool output, bool digital, const QString &tag);
    void showValues(const SitePoll &poll, int module);
    int m_index;
};
