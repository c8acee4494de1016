// A site: its file read, written and refused with the line and key at fault, the recent sites,
// and the whole-site poll driven over simulated modules: the round robin and the back-off of a
// silent module, the model check, the read-back and its exception, the writes and the health.
#include "linesettings.h"
#include "simmodule.h"
#include "sitepoll.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kSiteText = R"({
  "format": 1, "name": "Pump house", "port": "COM3", "code": 2, "colour": "blue",
  "modules": [
    {"address": 1, "model": "KV5510ADAM", "code": 2, "tag": "A2",
     "channels": {"DI_03": "pump 2 running"}, "cabinet": 4},
    {"address": 2, "model": "KV1720ADAM", "code": 5}
  ]
}
)";

QByteArray damaged(const char *from, const char *to) { return QByteArray(kSiteText).replace(from, to); }

// The poll driven over a bus of simulated modules: each request answered at once, 5 ms late
// plus the module's delay; noReadBack modules answer function 01 with exception 1.
struct Rig {
    SimBus bus;
    SitePoll poll;
    QList<int> noReadBack;
    QStringList log; // "round:address:function" of each request
    explicit Rig(const Site &site) : poll(site) {}
    SiteRequest step() { return answer(poll.next()); }
    SiteRequest answer(const SiteRequest &r)
    {
        int delayMs = 0;
        QByteArray reply = bus.exchange(r.frame, baudForCode(r.code), parityForCode(r.code), &delayMs);
        if (r.frame[1] == 0x01 && noReadBack.contains(r.frame[0]))
            reply = withCrc(exceptionPayload(std::uint8_t(r.frame[0]), 0x01, 1));
        log << QStringLiteral("%1:%2:%3").arg(poll.round()).arg(int(r.frame[0])).arg(int(r.frame[1]));
        Exchange x(r.frame);
        x.judge(reply);
        poll.heard(x, reply.isEmpty() ? -1 : 5 + delayMs, 1000);
        return r;
    }
    void rounds(int n)
    {
        for (const int end = poll.round() + n; poll.round() < end;)
            step();
    }
};

Site siteOf(const QList<std::pair<int, QString>> &modules, int code = 2)
{
    Site site{QStringLiteral("S"), QStringLiteral("COM1"), code, {}, {}};
    for (const auto &[address, model] : modules)
        site.modules.append({address, model, code, QString(), {}, {}});
    return site;
}

} // namespace

class TestSite : public QObject
{
    Q_OBJECT
private slots:
    void siteFileRoundTripKeepsUnknownKeys()
    {
        QString error;
        const std::optional<Site> site = parseSite(kSiteText, &error);
        QVERIFY2(site, qPrintable(error));
        QCOMPARE(QStringLiteral("%1 modules, %2, code %3").arg(site->modules.size()).arg(site->modules[0].channelTags.value("DI_03"))
                     .arg(site->modules[1].code), QStringLiteral("2 modules, pump 2 running, code 5"));
        QVERIFY(parseSite(damaged("\"address\": 2", "\"address\": 1"), &error)); // one address at two codes
        QTemporaryDir dir;
        const QString path = dir.filePath("p.kvsite");
        QVERIFY(writeSite(*site, path, &error));
        const std::optional<Site> again = readSite(path, &error);
        QVERIFY2(again, qPrintable(error));
        QCOMPARE(siteJson(*again), siteJson(*site));
        QCOMPARE(again->unknown.value("colour").toString(), QStringLiteral("blue"));
        QCOMPARE(again->modules[0].unknown.value("cabinet").toInt(), 4);
        QVERIFY(!writeSite(*site, dir.filePath("gone/p.kvsite"), &error) && !readSite(dir.filePath("none.kvsite"), &error));
        QCOMPARE(error, dir.filePath("none.kvsite") + ": no such file");
    }

    // A damaged site file: refused with the line and the key at fault.
    void damagedSiteFilesNameTheLineAndKey()
    {
        const struct { const char *name; QByteArray text; QString error; } cases[] = {
            {"empty", QByteArray(" \n"), "the file is empty"},
            {"not json", damaged("\"A2\",", "\"A2\""), "line 5: not JSON: unterminated object"},
            {"later format", damaged("\"format\": 1", "\"format\": 2"), "line 2: format: the file is of format 2, a later version's; this one reads format 1"},
            {"address", damaged("\"address\": 2", "\"address\": 300"), "line 6: modules[1].address: 300 is not an address 1..254"},
            {"address 2.5", damaged("\"address\": 2", "\"address\": 2.5"), "line 6: modules[1].address: 2.5 is not an address 1..254"},
            {"module", damaged("{\"address\": 2, \"model\": \"KV1720ADAM\", \"code\": 5}", "3"), "line 6: modules[1]: 3 is not a module (an object)"},
            {"address 0", damaged("\"address\": 1,", "\"address\": 0,"), "line 4: modules[0].address: 0 is not an address 1..254"},
            {"model", damaged("KV1720ADAM", "KV1799ADAM"), "line 6: modules[1].model: \"KV1799ADAM\" is not a model (KV1710ADAM, KV1720ADAM, KV1730ADAM, KV1740ADAM, "
             "KV5510ADAM, KV5520ADAM, KV5530ADAM, KV5540ADAM, KV5550ADAM, KV7710ADAM, KV7720ADAM)"},
            {"module code", damaged("\"code\": 5", "\"code\": 9"), "line 6: modules[1].code: 9 is not a setting code 1..8"},
            {"line code", damaged("\"code\": 2, \"colour\"", "\"code\": \"2\", \"colour\""), "line 2: code: \"2\" is not a setting code 1..8"},
            {"no model", damaged("\"model\": \"KV1720ADAM\",", ""), "line 6: modules[1]: model is missing"},
            {"port", damaged("COM3", "ttyS0"), "line 2: port: \"ttyS0\" is not a port (COMn, a device path, tcp://HOST:PORT or mbap://HOST[:PORT])"},
            {"no port", damaged("\"port\": \"COM3\",", ""), "line 1: port is missing"},
            {"channel tag", damaged("\"pump 2 running\"", "3"), "line 5: modules[0].channels.DI_03: 3 is not a text"},
            {"same address", damaged("\"address\": 2, \"model\": \"KV1720ADAM\", \"code\": 5", "\"address\": 1, \"model\": \"KV1720ADAM\", \"code\": 2"), "line 6: modules[1].address: 1 at code 2 is another module's too"},
            {"modules", damaged("\"modules\": [", "\"modules\": 3, \"x\": ["), "line 3: modules: 3 is not a list of modules"}};
        for (const auto &c : cases) {
            QString said;
            QVERIFY2(!parseSite(c.text, &said) && said == c.error, qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.name), said)));
        }
    }

    void recentSitesMostRecentFirstAtMostEight()
    {
        QTemporaryDir dir;
        const QString list = dir.filePath("cfg/recent-sites");
        QStringList made;
        for (int i = 0; i < 10; ++i) {
            made << dir.filePath(QStringLiteral("s%1.kvsite").arg(i));
            QFile(made.last()).open(QIODevice::WriteOnly);
            QVERIFY(addRecentSite(list, made.last()));
        }
        QVERIFY(addRecentSite(list, made[5]));
        QCOMPARE(recentSites(list), (QStringList{made[5], made[9], made[8], made[7], made[6], made[4], made[3], made[2]}));
        QFile::remove(made[9]);
        QCOMPARE(recentSites(list), (QStringList{made[5], made[8], made[7], made[6], made[4], made[3], made[2]}));
        QFile(made[9]).open(QIODevice::WriteOnly);
        QCOMPARE(recentSites(list).size(), 7); // dropped from the file, not only from the answer
    }

    // Rounds of 4 modules; the one at 2 silent: asked in rounds 0, 2, 6, 14, 30, 46 (every 16th at
    // most), then every round once it answers again. Another model at 4 is never read as the site's
    // (its parameters asked each round); its outputs are not written.
    void roundRobinAndBackOff()
    {
        Rig rig(siteOf({{1, "KV5530ADAM"}, {2, "KV5530ADAM"}, {3, "KV5530ADAM"}, {4, "KV5510ADAM"}}));
        rig.bus.addModule(5530, 1, 2);
        SimModule *silent = rig.bus.addModule(5530, 2, 2);
        rig.bus.addModule(5530, 3, 2);
        rig.bus.addModule(1730, 4, 2)->setHolding(0, 12000);
        silent->faults.silent = true;
        rig.rounds(2);
        QCOMPARE(rig.log, (QStringList{"0:1:3", "0:2:3", "0:3:3", "0:4:3", "1:1:2", "1:3:2", "1:4:3"}));
        QCOMPARE(rig.poll.notes(3), (QStringList{"KV1730ADAM answers at address 4, the site says KV5510ADAM"}));
        QVERIFY(rig.poll.values(3).isEmpty());
        QVERIFY(!rig.poll.setOutput(3, 1, true));
        rig.rounds(50);
        QCOMPARE(rig.log.filter(QRegularExpression("^\\d+:2:")), (QStringList{"0:2:3", "2:2:3", "6:2:3", "14:2:3", "30:2:3", "46:2:3"}));
        QCOMPARE(rig.poll.state(1).noReply, 6);
        QCOMPARE(healthText(rig.poll.state(1).health), QStringLiteral("no reply"));
        silent->faults.silent = false;
        rig.log.clear();
        rig.rounds(12);
        QCOMPARE(rig.log.filter(QRegularExpression(":2:")), (QStringList{"62:2:3", "63:2:2"}));
        QCOMPARE(rig.log.filter(QRegularExpression("^\\d+:4:[^3]")), QStringList()); // the other model never read
    }

    // The read-back of outputs (01, and 03 at KV1720ADAM's register 0) and when it is made, a module answering it
    // with exception 1 not asked again, writes before the next read, the tags on the values.
    void readBackWritesAndTags()
    {
        Site site = siteOf({{1, "KV5510ADAM"}, {4, "KV1720ADAM"}, {5, "KV5520ADAM"}});
        site.modules[0].channelTags.insert("RY_02", "fan");
        Rig rig(site);
        rig.bus.addModule(5510, 1, 2)->setCoil(1, true);
        SimModule *ao = rig.bus.addModule(1720, 4, 2);
        ao->setHolding(0, 4000);
        rig.bus.addModule(5520, 5, 2);
        rig.noReadBack << 5;
        rig.rounds(5);
        // Read back in the first round of reads, then every 4th; every round where it is all there is.
        QCOMPARE(rig.log.filter(QRegularExpression("^\\d+:1:")), (QStringList{"0:1:3", "1:1:2", "1:1:1", "2:1:2", "3:1:2", "4:1:2", "4:1:1"}));
        QCOMPARE(rig.log.filter(QRegularExpression("^\\d+:[45]:")),
                 (QStringList{"0:4:3", "0:5:3", "1:4:3", "1:5:1", "2:4:3", "2:5:3", "3:4:3", "3:5:3", "4:4:3", "4:5:3"}));
        QCOMPARE(rig.poll.notes(2), (QStringList{"no read-back"}));
        const QVector<ValueRow> values = rig.poll.values(0);
        QCOMPARE(values[9].channel + "=" + values[9].text + " " + values[9].tag, QStringLiteral("RY_02=ON fan"));
        rig.poll.retag(0, "DI_01", "door");
        rig.poll.retag(0, "RY_03", "pump");
        rig.poll.retag(0, {}, "A3");
        QCOMPARE(rig.poll.values(0)[0].tag + rig.poll.values(0)[10].tag + rig.poll.site().modules[0].tag, QStringLiteral("doorpumpA3"));
        QCOMPARE(rig.poll.values(1)[0].text, QStringLiteral("4.00mA"));
        ao->setHolding(0, 8000);
        rig.rounds(1);
        QCOMPARE(rig.poll.values(1)[0].text, QStringLiteral("8.00mA"));
        QVERIFY(rig.poll.setOutput(0, 4, true));
        QVERIFY(!rig.poll.setAnalogOutput(1, 20001) && rig.poll.setAnalogOutput(1, 20000) && rig.poll.setAnalogOutput(1, 12500));
        QCOMPARE(QList<SiteRequest::Kind>({rig.step().kind, rig.step().kind}), QList<SiteRequest::Kind>(2, SiteRequest::Write));
        QVERIFY(rig.bus.modules()[0]->coil(3) && rig.bus.modules()[0]->coil(1));
        QCOMPARE(ao->holding(0), 12500);
        QCOMPARE(rig.step().kind, SiteRequest::Read);
        rig.step();
        QCOMPARE(rig.log.last(), QStringLiteral("6:1:1")); // read back in the round after a write
        // A set asked for while a write is under way is written next, not taken for written.
        QVERIFY(rig.poll.setOutput(0, 2, false));
        const SiteRequest under = rig.poll.next();
        QVERIFY(rig.poll.setOutput(0, 3, true));
        rig.answer(under);
        QCOMPARE(rig.step().kind, SiteRequest::Write);
        QVERIFY(rig.bus.modules()[0]->coil(2) && !rig.bus.modules()[0]->coil(1));
        QVERIFY(rig.poll.setAnalogOutput(1, 6000)); // the same for KV1720ADAM's output, then refused
        const SiteRequest set = rig.poll.next();
        QVERIFY(rig.poll.setAnalogOutput(1, 7000));
        rig.answer(set);
        QCOMPARE(*rig.poll.state(1).analogOutput, 6000);
        ao->faults.exception = true;
        QCOMPARE(rig.step().kind, SiteRequest::Write);
        QCOMPARE(*rig.poll.state(1).analogWanted, 6000);
        // A write refused: what it carried shows as it was.
        rig.bus.modules()[0]->faults.exception = true;
        QVERIFY(rig.poll.setOutput(0, 1, true));
        QCOMPARE(rig.step().kind, SiteRequest::Write);
        QCOMPARE(rig.poll.state(0).wanted, (QList<bool>{false, false, true, true}));
        rig.bus.modules()[0]->faults = {.badCrc = true};
        rig.rounds(4); // a read-back refused is asked again in the next round (round 9 is not a 4th)
        QCOMPARE(rig.log.filter(QRegularExpression("^9:1:")), (QStringList{"9:1:2", "9:1:1"}));
    }

    // A site of what a sweep found: sorted by address, models the tool knows, the line at the
    // code most have (the lowest of a tie).
    void siteOfFoundTakesTheCommonestCode()
    {
        const auto row = [](int address, int code, int model = 5510) { FinderRow r; r.address = address; r.code = code; r.model = model; return r; };
        const Site site = siteOfFound({row(9, 3), row(4, 2), row(6, 2, 9999)}, "N", "COM2");
        QCOMPARE(QList<int>({site.code, int(site.modules.size()), site.modules[0].address, site.modules[1].address}), QList<int>({2, 2, 4, 9}));
        QCOMPARE(siteOfFound({row(9, 3), row(4, 2), row(5, 3)}, "N", "COM2").code, 3);
    }

    // A module at another setting than the line's is asked at its own and flagged; once moved it
    // is asked at the line's and its parameters read again. Health: late, errors, counts.
    void lineSettingAndHealth()
    {
        Site site = siteOf({{1, "KV5530ADAM"}, {2, "KV5530ADAM"}});
        site.modules[1].code = 5;
        Rig rig(site);
        rig.bus.addModule(5530, 1, 2)->faults.delayMs = 31; // late for the read (35.6 ms), not for the parameters (39.8)
        SimModule *off = rig.bus.addModule(5530, 2, 5);
        rig.rounds(2);
        QCOMPARE(rig.poll.notes(1), (QStringList{"at code 5 (4800,Even,8,1), not the line's code 2 (9600,None,8,1)"}));
        QCOMPARE(QStringLiteral("%1, ok %2, late %3, %4 ms").arg(healthText(rig.poll.state(0).health)).arg(rig.poll.state(0).ok)
                     .arg(rig.poll.state(0).late).arg(rig.poll.state(0).avgMs()), QStringLiteral("late, ok 1, late 1, 36 ms"));
        QCOMPARE(rig.poll.moveToLine(1).request(), QByteArray::fromHex("020300640003 4427"));
        off->setHolding(kCodeRegister, 2);
        off->faults.silent = true; // backed off to every 4th round
        rig.rounds(3);
        off->faults.silent = false;
        rig.poll.moved(1);
        QVERIFY(rig.poll.values(1).isEmpty());
        off->faults.badCrc = true;
        rig.rounds(1);
        QVERIFY(rig.poll.notes(1).isEmpty());
        QCOMPARE(rig.log.last(), QStringLiteral("5:2:3"));
        QCOMPARE(healthText(rig.poll.state(1).health) + QString::number(rig.poll.state(1).errors), QStringLiteral("errors1"));
        // Behind a gateway the module at code 5 is asked at the line's code and is not off it.
        site.modules.removeFirst();
        SitePoll gateway(site);
        gateway.setGateway(true);
        QVERIFY(gateway.next().code == 2 && !gateway.offLineSetting(0));
    }
};

QTEST_GUILESS_MAIN(TestSite)
#include "test_site.moc"
