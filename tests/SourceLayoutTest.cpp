// The folders of src/ read as layers, each a library that shows only its own folder to what links it.
// What the build cannot refuse is checked here, on the sources themselves.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace {

struct Source {
    QString folder;
    // A header and its source are one unit, and so are the platform parts of a class.
    QString unit;
    QStringList includes;
    qsizetype lines = 0;
};

QString unitOf(const QString& folder, const QString& fileName) {
    QString stem = QFileInfo(fileName).completeBaseName();
    for (const QString& platform : {QStringLiteral("Posix"), QStringLiteral("Windows")}) {
        if (stem.endsWith(platform) && stem.size() > platform.size())
            stem.chop(platform.size());
    }
    return folder + QLatin1Char('/') + stem;
}

// Every .h and .cpp of src/.
std::vector<Source> sources() {
    const QDir src(QStringLiteral(PARLORIX_SOURCE_DIR "/src"));
    const QRegularExpression include(QStringLiteral(R"re(^\s*#\s*include\s*"([^"]+)")re"),
                                     QRegularExpression::MultilineOption);
    std::vector<Source> found;
    QDirIterator files(src.path(), {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QString folder = QFileInfo(src.relativeFilePath(path)).path();
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        Source source{folder, unitOf(folder, QFileInfo(path).fileName()), {}, 0};
        for (const QString& line : text.split(QLatin1Char('\n')))
            source.lines += line.trimmed().isEmpty() ? 0 : 1;
        for (const QRegularExpressionMatch& match : include.globalMatch(text)) {
            const QString name = match.captured(1);
            source.includes.append(name.contains(QLatin1Char('/')) ? name : folder + QLatin1Char('/') + name);
        }
        found.push_back(source);
    }
    return found;
}

using Graph = std::map<QString, std::set<QString>>;

// A circle in the graph, as the names along it and the first again; empty where there is none.
QStringList circleIn(const Graph& graph) {
    enum class Mark { Unseen, OnPath, Done };
    std::map<QString, Mark> marks;
    QStringList path;
    std::function<QStringList(const QString&)> visit = [&](const QString& at) -> QStringList {
        marks[at] = Mark::OnPath;
        path.append(at);
        const auto edges = graph.find(at);
        if (edges != graph.end()) {
            for (const QString& next : edges->second) {
                if (marks[next] == Mark::OnPath)
                    return path.mid(path.indexOf(next)) + QStringList{next};
                if (marks[next] == Mark::Unseen) {
                    const QStringList circle = visit(next);
                    if (!circle.isEmpty())
                        return circle;
                }
            }
        }
        path.removeLast();
        marks[at] = Mark::Done;
        return {};
    };
    for (const auto& [node, edges] : graph) {
        if (marks[node] == Mark::Unseen) {
            const QStringList circle = visit(node);
            if (!circle.isEmpty())
                return circle;
        }
    }
    return {};
}

// A circle between two classes is a circle of calls, whichever of their files includes the other's;
// one between folders would let a room below include one above. An include that climbs out of its
// folder with ".." passes by the folders the build shows.
TEST(SourceLayout, NoCircleOfIncludesBetweenFilesOrFolders) {
    const std::vector<Source> all = sources();
    ASSERT_GT(all.size(), 100u);
    Graph units;
    Graph folders;
    for (const Source& source : all) {
        units[source.unit];
        for (const QString& included : source.includes) {
            EXPECT_FALSE(included.contains(QLatin1String("..")))
                << source.unit.toStdString() << ": " << included.toStdString();
            const QString folder = QFileInfo(included).path();
            const QString unit = unitOf(folder, QFileInfo(included).fileName());
            if (unit != source.unit)
                units[source.unit].insert(unit);
            if (folder != source.folder && source.folder != QLatin1String("."))
                folders[source.folder].insert(folder);
        }
    }
    const struct {
        const char* between;
        const Graph& graph;
    } rows[] = {{"files", units}, {"folders", folders}};
    for (const auto& row : rows)
        EXPECT_EQ(circleIn(row.graph).join(QStringLiteral(" -> ")), QString()) << row.between;
}

// A folder a newcomer can take in: none holds more than a quarter of the program's lines.
TEST(SourceLayout, NoFolderHoldsMoreThanAQuarterOfTheProgram) {
    std::map<QString, qsizetype> lines;
    qsizetype total = 0;
    for (const Source& source : sources()) {
        lines[source.folder] += source.lines;
        total += source.lines;
    }
    ASSERT_GT(total, 10000);
    for (const auto& [folder, held] : lines)
        EXPECT_LE(held * 4, total) << folder.toStdString() << " holds " << held << " of " << total
                                   << " lines";
}

} // namespace
