// Main: the model list, its two buttons, and the round trip to a child window and back.
#include "support/guitest.h"

#include "toolwindows.h"
#include "models.h"
#include "testwindow.h"

class TestMain : public QObject
{
    Q_OBJECT
private slots:
    void layout();
    void functionTestingNeedsAModel_data();
    void functionTestingNeedsAModel();
    void opensEveryModelAndComesBack();
    void reopenedWindowLoadsAfresh();
    void parameterSettingIgnoresTheModelBox();
};

namespace {
struct MainFixture : ToolWindows {
    MainFixture() { main.show(); }
};
} // namespace

void TestMain::layout()
{
    GuiTestEnvironment env;
    MainFixture f;
    QCOMPARE(f.main.objectName(), QStringLiteral("Main"));
    QCOMPARE(f.main.windowTitle(), QStringLiteral("KORVANT Debugging Software_V1.42B"));
    QCOMPARE(f.main.size(), QSize(twips(6240), twips(4455)));
    QCOMPARE(f.main.Combo_Model->currentText(), QStringLiteral("Combo_Model"));
    QCOMPARE(f.main.Combo_Model->count(), 11);
    QCOMPARE(f.main.Combo_Model->itemText(0), QStringLiteral("KV1710ADAM"));
    QCOMPARE(f.main.Combo_Model->itemText(4), QStringLiteral("KV5510ADAM"));
    QCOMPARE(f.main.Combo_Model->itemText(10), QStringLiteral("KV7720ADAM"));
    auto *b0 = child<QPushButton>(&f.main, QStringLiteral("Command1_0"));
    auto *b1 = child<QPushButton>(&f.main, QStringLiteral("Command1_1"));
    QCOMPARE(b0->text(), QStringLiteral("Function Testing"));
    QCOMPARE(b1->text(), QStringLiteral("Parameter Setting"));
    QCOMPARE(b1->geometry(), QRect(twips(3600), twips(2640), twips(1935), twips(855)));
    QCOMPARE(child<QLabel>(&f.main, QStringLiteral("Label1"))->text(), QStringLiteral("Model Select"));
    QVERIFY(!f.main.windowIcon().isNull() || !QFile::exists(QStringLiteral("sys/kv.ico")));
}

void TestMain::functionTestingNeedsAModel_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("initial text") << "Combo_Model";
    QTest::newRow("blank after") << "KV5510ADAM ";
    QTest::newRow("empty") << "";
}

void TestMain::functionTestingNeedsAModel()
{
    QFETCH(QString, text);
    GuiTestEnvironment env;
    MainFixture f;
    f.main.Combo_Model->setEditText(text);
    QTest::mouseClick(f.main.Command1[0], Qt::LeftButton);
    QCOMPARE(env.messages, QStringList{QStringLiteral("Please select module model！")});
    QCOMPARE(env.titles, QStringList{QStringLiteral("Prompt")});
    QVERIFY(f.main.isVisible());
    for (const ModelRow &row : modelTable())
        QVERIFY(!f.registry.window(row.name));
}

void TestMain::opensEveryModelAndComesBack()
{
    GuiTestEnvironment env;
    MainFixture f;
    int opened = 0;
    for (const ModelRow &row : modelTable()) {
        f.main.Combo_Model->setEditText(row.name);
        QTest::mouseClick(f.main.Command1[0], Qt::LeftButton);
        QPointer<ModuleWindow> w = f.registry.window(row.name);
        if (!w)
            continue; // a window kind not built into this program
        ++opened;
        QVERIFY(w->isVisible());
        QVERIFY(!f.main.isVisible());
        QCOMPARE(w->windowTitle(), row.name);
        w->close();
        QVERIFY(f.main.isVisible());
        QTRY_VERIFY(!w);
    }
    QVERIFY(opened >= 5);
    QVERIFY(env.messages.isEmpty());
}

void TestMain::reopenedWindowLoadsAfresh()
{
    GuiTestEnvironment env;
    MainFixture f;
    f.main.Combo_Model->setCurrentIndex(4);
    QTest::mouseClick(f.main.Command1[0], Qt::LeftButton);
    ModuleWindow *w = f.registry.window(QStringLiteral("KV5510ADAM"));
    QVERIFY(w);
    auto *relay = child<QLabel>(w, QStringLiteral("DO_SHOW_0"));
    QTest::mouseClick(relay, Qt::LeftButton);
    QCOMPARE(relay->text(), QStringLiteral("ON"));
    w->Combo2->setEditText(QStringLiteral("19200"));
    env.writeSys(QStringLiteral("tm.rc"), shortTimingFile(40, 777));
    w->close();
    QTRY_VERIFY(!f.registry.window(QStringLiteral("KV5510ADAM")));
    QTest::mouseClick(f.main.Command1[0], Qt::LeftButton);
    w = f.registry.window(QStringLiteral("KV5510ADAM"));
    QVERIFY(w);
    QCOMPARE(child<QLabel>(w, QStringLiteral("DO_SHOW_0"))->text(), QStringLiteral("OFF"));
    QCOMPARE(w->Combo2->currentText(), QStringLiteral("19200"));
    QCOMPARE(w->findChild<WindowTimer *>(QStringLiteral("TM_Acquisition_A"))->interval(), 777);
    w->close();
}

void TestMain::parameterSettingIgnoresTheModelBox()
{
    GuiTestEnvironment env;
    MainFixture f;
    f.main.Combo_Model->setEditText(QStringLiteral("no such model"));
    QTest::mouseClick(f.main.Command1[1], Qt::LeftButton);
    QPointer<ModuleWindow> w = f.registry.window(QStringLiteral("SetFrm"));
    QVERIFY(w && w->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Parameter Setting"));
    QVERIFY(!f.main.isVisible());
    QVERIFY(env.messages.isEmpty());
    w->close();
    QVERIFY(f.main.isVisible());
}

QTEST_MAIN(TestMain)
#include "test_main.moc"
