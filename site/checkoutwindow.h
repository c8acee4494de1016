// "Checkout - NAME": the I/O checkout of a site, over the site window's running poll. Every channel
// of every module in one list under a heading per module (model, address, tag): its tag, its test,
// the values seen, the verdict and the comment. Digital inputs pass by themselves once both states
// were heard, analog inputs once each test point was held within tolerance (core's InputWatch and
// PointWatch, fed from each exchange the site window reports). An output's test (Space, "Start
// test") switches that output alone on, the technician passes it (Enter) or fails it (F), and it is
// switched off again; KV1720ADAM's output is set to each point in turn and the technician types
// what the meter shows, or confirms with Enter. N asks the reason a channel is "Not tested", C a
// comment, P an analog channel's points. Each verdict is appended to the journal before the list
// shows it; a reopened checkout reads the journal and shows what was decided.
#pragma once

#include "checkout.h"
#include "sitepoll.h"

#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include <functional>
#include <optional>

class SiteWindow;

// An analog channel's points as typed: "4 ±0.2, 12 ±0.2, 20 ±0.2" ("+-" for "±"); nothing for a
// text that is not such a list (an empty text is no points).
std::optional<QVector<CheckPoint>> pointsFromText(const QString &text);
QString pointsText(const QVector<CheckPoint> &points);
// A number as the checkout writes it: "4", "0.1", "19.8".
QString numberText(double value);

class CheckoutWindow : public QWidget
{
    Q_OBJECT
public:
    // The technician's name, asked once when a checkout begins; tests answer it.
    using AskName = std::function<QString(QWidget *parent)>;
    static void setAskName(AskName ask);
    // The report's path, asked by "Export report…"; tests answer it.
    using AskPath = std::function<QString(QWidget *parent)>;
    static void setAskPath(AskPath ask);

    // The checkout of the site window's site: its journal read where there is one, else begun
    // with the technician's name (not ready() when none was given or it cannot be written).
    explicit CheckoutWindow(SiteWindow *site);
    ~CheckoutWindow() override;
    bool ready() const { return m_ready; }

    QTreeWidget *List = nullptr;
    QLabel *Label_Technician = nullptr, *Label_Status = nullptr;
    QLineEdit *Edit_Points = nullptr, *Edit_Measured = nullptr, *Edit_Comment = nullptr, *Edit_Reason = nullptr;
    QPushButton *Command_Test = nullptr, *Command_Pass = nullptr, *Command_Fail = nullptr, *Command_NotTested = nullptr,
                *Command_Report = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct Row {
        CheckChannel channel;
        QTreeWidgetItem *item = nullptr;
        Verdict verdict = Verdict::Untested;
        QString values, comment;
        InputWatch input;
        QVector<PointWatch> points;
        QString now;                   // an analog input's last reading
        int point = 0;                 // the analog output's point set now
        QStringList measured;          // the analog output's points as measured
        bool on = false;               // an output switched on by its test
        QString readBack;              // an output's state as last read back while on
        std::optional<std::uint16_t> before; // the analog output's value before its test
    };

    bool begin();
    void buildControls();
    void buildList();
    void addRow(const CheckChannel &channel, QTreeWidgetItem *heading);
    void resume(const CheckJournal &journal);
    void heard(const SiteRequest &request, bool accepted);
    void heardBack(int row, const ValueRow &value);
    void hearInput(int row, const ValueRow &value);
    void hearAnalog(int row, const ValueRow &value);
    QString seen(const Row &row) const;
    void showRow(const Row &row);
    void select(int row);
    int current() const;
    void move(int step);
    void nextUntested(int from);
    bool decide(int row, Verdict verdict, const QString &values, const QString &reason = QString());
    void start();
    void setPoint(Row &row);
    void pass();
    void fail();
    void measured();
    void finishOutput(int row, Verdict verdict);
    void finishAnalog(int row, Verdict verdict);
    void endTest();
    void notTested();
    void comment();
    void points();
    void exportReport();
    void say(const QString &text);

    static QString key(int module, const QString &channel); // "module/channel"

    SiteWindow *m_site;
    QString m_journal;
    bool m_ready = false;
    QVector<Row> m_rows;
    int m_test = -1; // the row whose output is under test
    QHash<QString, int> m_byChannel; // "module/channel" -> row
};
