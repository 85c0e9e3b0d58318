#include "catalog/WalkFilters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace treelan::catalog {

namespace {

QJsonArray patterns(const std::vector<PathPattern>& list) {
    QJsonArray out;
    for (const PathPattern& p : list)
        out.append(QString::fromLatin1(p.text().toPercentEncoding()));
    return out;
}

std::vector<PathPattern> patterns(const QJsonValue& value) {
    std::vector<PathPattern> out;
    for (const QJsonValue& v : value.toArray())
        out.emplace_back(QByteArray::fromPercentEncoding(v.toString().toLatin1()));
    return out;
}

} // namespace

std::string FiltersToJson(const WalkOptions& walk) {
    QJsonObject o;
    if (!walk.excludePatterns.empty())
        o.insert(QLatin1String("exclude"), patterns(walk.excludePatterns));
    if (!walk.includePatterns.empty())
        o.insert(QLatin1String("include"), patterns(walk.includePatterns));
    if (walk.noHidden) o.insert(QLatin1String("noHidden"), true);
    if (walk.maxDepth >= 0) o.insert(QLatin1String("maxDepth"), walk.maxDepth);
    if (walk.oneFileSystem) o.insert(QLatin1String("oneFileSystem"), true);
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

bool FiltersFromJson(const std::string& json, WalkOptions& walk) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return false;
    const QJsonObject o = doc.object();
    walk.excludePatterns = patterns(o.value(QLatin1String("exclude")));
    walk.includePatterns = patterns(o.value(QLatin1String("include")));
    walk.noHidden = o.value(QLatin1String("noHidden")).toBool();
    walk.maxDepth = o.value(QLatin1String("maxDepth")).toInt(-1);
    walk.oneFileSystem = o.value(QLatin1String("oneFileSystem")).toBool();
    return true;
}

} // namespace treelan::catalog
