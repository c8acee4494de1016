#include "sitefile.h"

#include "linesettings.h"
#include "modbus.h"
#include "models.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// The line of each key of a valid JSON text, by its path ("modules[2].address"): the text is
// walked once as the parser did, noting the line where each value (of a key or an array item) begins.
class KeyLines
{
public:
    explicit KeyLines(const QByteArray &text) : t(text) { value(QString()); }
    int line(const QString &path) const { return m_lines.value(path, 1); }

private:
    void blanks()
    {
        for (; at < t.size() && QChar(t[at]).isSpace(); ++at)
            m_line += t[at] == '\n';
    }
    QString string()
    {
        const qsizetype from = ++at;
        for (; at < t.size() && t[at] != '"'; ++at)
            at += t[at] == '\\';
        return QString::fromUtf8(t.mid(from, at++ - from));
    }
    void value(const QString &path)
    {
        blanks();
        m_lines.insert(path, m_line);
        if (at >= t.size())
            return;
        const char open = t[at];
        if (open == '"') {
            string();
        } else if (open == '{' || open == '[') {
            ++at;
            for (int i = 0;; ++i) {
                blanks();
                if (at >= t.size() || t[at] == '}' || t[at] == ']')
                    break;
                if (open == '[') {
                    value(path + QStringLiteral("[%1]").arg(i));
                } else {
                    const QString key = string();
                    blanks();
                    ++at; // the colon
                    value(path.isEmpty() ? key : path + '.' + key);
                }
                blanks();
                at += at < t.size() && t[at] == ',';
            }
            ++at;
        } else {
            while (at < t.size() && !QByteArrayView(",]} \t\r\n").contains(t[at]))
                ++at;
        }
    }

    const QByteArray &t;
    qsizetype at = 0;
    int m_line = 1;
    QHash<QString, int> m_lines;
};

// A key's problem, with its line: "line 7: modules[2].address: 300 is not an address 1..254".
struct Fault {
    QString path, why;
};

QString shown(const QJsonValue &v)
{
    if (v.isString())
        return QStringLiteral("\"%1\"").arg(v.toString());
    if (v.isDouble())
        return QString::number(v.toDouble());
    return v.isBool() ? QString(v.toBool() ? "true" : "false") : v.isNull() ? QStringLiteral("null") : v.isArray() ? QStringLiteral("a list") : QStringLiteral("an object");
}

bool whole(const QJsonValue &v) { return v.isDouble() && v.toDouble() == double(qint64(v.toDouble())); }

// A whole number lo..hi at key of o, or the fault that says what it should be.
std::optional<Fault> number(const QJsonObject &o, const QString &path, const char *key, int lo, int hi,
                            const QString &what, int &into)
{
    const QJsonValue v = o.value(QLatin1String(key));
    const QString at = path + QLatin1String(key);
    if (v.isUndefined())
        return Fault{path.isEmpty() ? QString() : path.chopped(1), QStringLiteral("%1 is missing").arg(QLatin1String(key))};
    if (!whole(v) || v.toDouble() < lo || v.toDouble() > hi)
        return Fault{at, QStringLiteral("%1 is not %2 %3..%4").arg(shown(v), what).arg(lo).arg(hi)};
    into = v.toInt();
    return std::nullopt;
}

std::optional<Fault> text(const QJsonObject &o, const QString &path, const char *key, bool required, QString &into)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() && !required)
        return std::nullopt;
    if (v.isUndefined())
        return Fault{path.isEmpty() ? QString() : path.chopped(1), QStringLiteral("%1 is missing").arg(QLatin1String(key))};
    if (!v.isString())
        return Fault{path + QLatin1String(key), QStringLiteral("%1 is not a text").arg(shown(v))};
    into = v.toString();
    return std::nullopt;
}

QJsonObject without(QJsonObject o, const QStringList &keys)
{
    for (const QString &k : keys)
        o.remove(k);
    return o;
}

std::optional<Fault> readModule(const QJsonValue &value, const QString &path, SiteModule &m)
{
    if (!value.isObject())
        return Fault{path, QStringLiteral("%1 is not a module (an object)").arg(shown(value))};
    const QJsonObject o = value.toObject();
    const QString at = path + '.';
    if (auto f = number(o, at, "address", kFirstModuleAddress, kLastModuleAddress, QStringLiteral("an address"), m.address))
        return f;
    if (auto f = text(o, at, "model", true, m.model))
        return f;
    const ModelRow *row = findModel(m.model);
    if (!row)
        return Fault{at + "model", QStringLiteral("\"%1\" is not a model (%2)").arg(m.model, modelNames().join(QStringLiteral(", ")))};
    if (auto f = number(o, at, "code", kFirstCode, kLastCode, QStringLiteral("a setting code"), m.code))
        return f;
    if (auto f = text(o, at, "tag", false, m.tag))
        return f;
    const QJsonValue channels = o.value(QLatin1String("channels"));
    if (!channels.isUndefined() && !channels.isObject())
        return Fault{at + "channels", QStringLiteral("%1 is not an object of channel tags").arg(shown(channels))};
    const QJsonObject tags = channels.toObject();
    for (auto it = tags.begin(); it != tags.end(); ++it) {
        if (!it.value().isString())
            return Fault{at + "channels." + it.key(), QStringLiteral("%1 is not a text").arg(shown(it.value()))};
        m.channelTags.insert(it.key(), it.value().toString());
    }
    m.unknown = without(o, {"address", "model", "code", "tag", "channels"});
    return std::nullopt;
}

std::optional<Fault> readSiteObject(const QJsonObject &o, Site &site)
{
    int format = 0;
    if (auto f = number(o, QString(), "format", 1, 1000000, QStringLiteral("a format version"), format))
        return f;
    if (format > kSiteFormat)
        return Fault{"format", QStringLiteral("the file is of format %1, a later version's; this one reads format %2")
                                   .arg(format).arg(kSiteFormat)};
    if (auto f = text(o, QString(), "name", true, site.name))
        return f;
    if (auto f = text(o, QString(), "port", true, site.port))
        return f;
    if (!isSitePort(site.port))
        return Fault{"port", QStringLiteral("\"%1\" is not a port (COMn, a device path or tcp://HOST:PORT)").arg(site.port)};
    if (auto f = number(o, QString(), "code", kFirstCode, kLastCode, QStringLiteral("a setting code"), site.code))
        return f;
    const QJsonValue modules = o.value(QLatin1String("modules"));
    if (!modules.isArray())
        return Fault{modules.isUndefined() ? QString() : QStringLiteral("modules"),
                     modules.isUndefined() ? QStringLiteral("modules is missing") : QStringLiteral("%1 is not a list of modules").arg(shown(modules))};
    const QJsonArray list = modules.toArray();
    for (int i = 0; i < list.size(); ++i) {
        SiteModule m;
        const QString path = QStringLiteral("modules[%1]").arg(i);
        if (auto f = readModule(list[i], path, m))
            return f;
        for (const SiteModule &before : std::as_const(site.modules))
            if (before.address == m.address && before.code == m.code)
                return Fault{path + ".address", QStringLiteral("%1 at code %2 is another module's too").arg(m.address).arg(m.code)};
        site.modules.append(m);
    }
    site.unknown = without(o, {"format", "name", "port", "code", "modules"});
    return std::nullopt;
}

} // namespace

bool isSitePort(const QString &port)
{
    static const QRegularExpression com(QStringLiteral("^COM[1-9][0-9]*$"));
    return com.match(port).hasMatch() || port.startsWith('/') || port.startsWith(QLatin1String("tcp://"));
}

std::optional<Site> parseSite(const QByteArray &text, QString *error)
{
    if (text.trimmed().isEmpty()) {
        *error = QStringLiteral("the file is empty");
        return std::nullopt;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        const int line = int(text.left(parse.offset).count('\n')) + 1;
        *error = QStringLiteral("line %1: not JSON: %2").arg(line).arg(parse.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("line 1: not a site (a JSON object)");
        return std::nullopt;
    }
    Site site;
    if (const std::optional<Fault> f = readSiteObject(doc.object(), site)) {
        const int line = KeyLines(text).line(f->path);
        *error = f->path.isEmpty() ? QStringLiteral("line %1: %2").arg(line).arg(f->why)
                                   : QStringLiteral("line %1: %2: %3").arg(line).arg(f->path, f->why);
        return std::nullopt;
    }
    return site;
}

QByteArray siteJson(const Site &site)
{
    QJsonArray modules;
    for (const SiteModule &m : site.modules) {
        QJsonObject o = m.unknown;
        o.insert("address", m.address);
        o.insert("model", m.model);
        o.insert("code", m.code);
        o.insert("tag", m.tag);
        QJsonObject tags;
        for (auto it = m.channelTags.begin(); it != m.channelTags.end(); ++it)
            tags.insert(it.key(), it.value());
        if (!tags.isEmpty())
            o.insert("channels", tags);
        modules.append(o);
    }
    QJsonObject o = site.unknown;
    o.insert("format", kSiteFormat);
    o.insert("name", site.name);
    o.insert("port", site.port);
    o.insert("code", site.code);
    o.insert("modules", modules);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<Site> readSite(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.exists() ? file.errorString() : QStringLiteral("no such file"));
        return std::nullopt;
    }
    std::optional<Site> site = parseSite(file.readAll(), error);
    if (!site)
        *error = QStringLiteral("%1: %2").arg(path, *error);
    return site;
}

bool writeWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
}

bool writeSite(const Site &site, const QString &path, QString *error)
{
    return writeWhole(path, siteJson(site), error);
}

QString recentSitesFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/recent-sites");
}

static QStringList listed(const QString &listFile)
{
    QFile file(listFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

static bool keep(const QString &listFile, const QStringList &paths)
{
    QDir().mkpath(QFileInfo(listFile).absolutePath());
    return writeWhole(listFile, paths.join('\n').toUtf8() + '\n', nullptr);
}

QStringList recentSites(const QString &listFile)
{
    const QStringList paths = listed(listFile);
    QStringList there;
    for (const QString &p : paths)
        if (QFileInfo::exists(p))
            there << p;
    if (there != paths)
        keep(listFile, there);
    return there;
}

bool addRecentSite(const QString &listFile, const QString &path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList paths = listed(listFile);
    paths.removeAll(full);
    paths.prepend(full);
    return keep(listFile, paths.mid(0, kRecentSites));
}
