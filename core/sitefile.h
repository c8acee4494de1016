// A site: the modules of one panel on one line, kept in a NAME.kvsite file (JSON with a format
// version): its name, its port, the line's setting, and each module's address, model, setting and
// tags. A file is read whole or refused with the line and the key at fault; keys this version does
// not know are kept and written back. The recent sites are a list of paths in a per-user file.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The format this version writes; a file of a later one is refused.
constexpr int kSiteFormat = 1;

struct SiteModule {
    int address = 1;
    QString model;                  // "KV5510ADAM"
    int code = 2;                   // the communication-parameter code it answers at
    QString tag;                    // "Pump house A2"
    QMap<QString, QString> channelTags; // by the channel's caption ("DI_03" -> "pump 2 running")
    QJsonObject unknown;            // keys this version does not read, written back as they came
};

struct Site {
    QString name;
    QString port;       // "COM3", "/dev/ttyUSB0" or "tcp://HOST:PORT"
    int code = 2;       // the line's setting
    QVector<SiteModule> modules;
    QJsonObject unknown;
};

// A port as a site names it: COMn, a device path (from /), or tcp://.
bool isSitePort(const QString &port);

// The site in the text, or nothing with why in error ("line 7: modules[2].address: 300 is not an
// address 1..254").
std::optional<Site> parseSite(const QByteArray &text, QString *error);
// The text of a site: indented JSON, the unknown keys kept.
QByteArray siteJson(const Site &site);
// The site in the file at path; error says why not, naming the file's problem or parseSite's.
std::optional<Site> readSite(const QString &path, QString *error);
// Writes the site whole or not at all (a file that was there stays as it was on a failure).
bool writeSite(const Site &site, const QString &path, QString *error);
// Writes bytes to path whole or not at all, as writeSite does; error (when given) says why not.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error);

// The recent sites: a per-user file of paths, the most recent first, at most kRecentSites.
constexpr int kRecentSites = 8;
// Where the list is kept: recent-sites in the user's configuration folder for the tool.
QString recentSitesFile();
// The paths in the list that still exist (those that do not are dropped from the file).
QStringList recentSites(const QString &listFile);
// path put first (taken out where it was further down); false when the list could not be written.
bool addRecentSite(const QString &listFile, const QString &path);
