#include "SharedFile.h"

#include "MarkupParser.h"

#include <optional>

namespace {

// The uri of the first URIObject and the v of the first OriginalName.
class SharedFileMarkup final : public Utf8MarkupHandler {
public:
    void startElement(QByteArrayView name, const std::vector<Utf8MarkupAttribute>& attributes) override {
        const QByteArrayView wanted = name == "URIObject" ? "uri" : name == "OriginalName" ? "v" : "";
        std::optional<QByteArray>& found = name == "URIObject" ? uri : originalName;
        if (wanted.isEmpty() || found)
            return;
        for (const Utf8MarkupAttribute& attribute : attributes) {
            if (attribute.name == wanted) {
                found = attribute.value();
                return;
            }
        }
    }
    void endElement(QByteArrayView) override {}
    void text(QByteArrayView) override {}

    std::optional<QByteArray> uri;
    std::optional<QByteArray> originalName;
};

// "https://api.asm.skype.com/v1/objects/0-weu-d1-abc/views/imgpsh" names "0-weu-d1-abc".
QString objectOfUri(const QByteArray& uri) {
    constexpr QByteArrayView kObjects = "/objects/";
    const qsizetype at = uri.indexOf(kObjects);
    if (at < 0)
        return QString();
    const qsizetype start = at + kObjects.size();
    qsizetype end = start;
    while (end < uri.size() && uri.at(end) != '/' && uri.at(end) != '?' && uri.at(end) != '#')
        ++end;
    return QString::fromUtf8(uri.mid(start, end - start));
}

} // namespace

bool SharedFile::isObjectId(QStringView id) {
    if (id.isEmpty() || id.size() > 200)
        return false;
    for (const QChar c : id) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
                             c == QLatin1Char('_');
        if (!allowed)
            return false;
    }
    return true;
}

SharedFile::Named SharedFile::namedIn(QByteArrayView markup, const QStringList& amsReferences) {
    SharedFileMarkup found;
    // A body that is not well-formed gives what was read before the fault.
    parseMarkup(markup, found);
    Named named;
    named.originalName = found.originalName ? QString::fromUtf8(*found.originalName) : QString();
    for (const QString& id : amsReferences) {
        if (isObjectId(id) && !named.objectIds.contains(id))
            named.objectIds.append(id);
    }
    if (named.objectIds.isEmpty() && found.uri) {
        const QString id = objectOfUri(*found.uri);
        if (isObjectId(id))
            named.objectIds.append(id);
    }
    return named;
}
