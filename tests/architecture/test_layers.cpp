// The include graph of the sources: the layers show in the folders, and neither the folders
// nor the classes (a header with its source file) include each other in a circle.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kSourceRoot = QStringLiteral(KVARNIX_SOURCE_DIR "/src");

// A source file as a path below src/, and the project headers it includes, resolved the way
// the compiler finds them: beside the file, or below the include root of its library.
struct CIncludeGraph {
    QHash<QString, QSet<QString>> includes;
};

QString Resolve(const QString& file, const QString& included) {
    const QString besideFile = QFileInfo(file).path() + QLatin1Char('/') + included;
    if (QFileInfo::exists(kSourceRoot + QLatin1Char('/') + besideFile))
        return besideFile;
    for (const char* root : {"core", "gui"}) {
        const QString inRoot = QLatin1String(root) + QLatin1Char('/') + included;
        if (QFileInfo::exists(kSourceRoot + QLatin1Char('/') + inRoot))
            return inRoot;
    }
    return {};
}

CIncludeGraph ReadGraph() {
    static const QRegularExpression include(QStringLiteral("^#include \"([^\"]+)\""),
                                            QRegularExpression::MultilineOption);
    CIncludeGraph graph;
    QDirIterator files(kSourceRoot, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QString file = path.mid(kSourceRoot.size() + 1);
        QFile source(path);
        EXPECT_TRUE(source.open(QIODevice::ReadOnly)) << path.toStdString();
        const QString text = QString::fromUtf8(source.readAll());
        QSet<QString>& edges = graph.includes[file];
        for (const QRegularExpressionMatch& match : include.globalMatch(text)) {
            const QString resolved = Resolve(file, match.captured(1));
            if (!resolved.isEmpty())
                edges.insert(resolved);
        }
    }
    return graph;
}

// "core/schedule/scheduler.cpp" -> "core/schedule"; the programs' folders are one each.
QString FolderOf(const QString& file) {
    return QFileInfo(file).path();
}

// A header and its source file are one class: "core/schedule/scheduler".
QString ComponentOf(const QString& file) {
    return file.left(file.lastIndexOf(QLatin1Char('.')));
}

using Graph = QHash<QString, QSet<QString>>;

Graph Collapse(const CIncludeGraph& files, QString (*node)(const QString&)) {
    Graph graph;
    for (auto file = files.includes.cbegin(); file != files.includes.cend(); ++file) {
        QSet<QString>& edges = graph[node(file.key())];
        for (const QString& included : file.value()) {
            if (node(included) != node(file.key()))
                edges.insert(node(included));
        }
    }
    return graph;
}

// One circle through the graph, as the nodes in order, or empty when there is none.
QStringList FindCircle(const Graph& graph) {
    enum class Mark { Unseen, OnPath, Done };
    QHash<QString, Mark> marks;
    QStringList path;
    std::function<QStringList(const QString&)> visit = [&](const QString& node) -> QStringList {
        marks[node] = Mark::OnPath;
        path << node;
        for (const QString& next : graph.value(node)) {
            if (marks.value(next) == Mark::OnPath)
                return path.mid(path.indexOf(next)) << next;
            if (marks.value(next) == Mark::Unseen) {
                if (const QStringList circle = visit(next); !circle.isEmpty())
                    return circle;
            }
        }
        path.removeLast();
        marks[node] = Mark::Done;
        return {};
    };
    for (auto node = graph.cbegin(); node != graph.cend(); ++node) {
        if (marks.value(node.key()) == Mark::Unseen) {
            if (const QStringList circle = visit(node.key()); !circle.isEmpty())
                return circle;
        }
    }
    return {};
}

} // namespace

TEST(Layers, TheCoreIncludesNoGuiAndTheServiceAndRunnerNoGuiEither) {
    const CIncludeGraph graph = ReadGraph();
    ASSERT_GT(graph.includes.size(), 50);
    for (auto file = graph.includes.cbegin(); file != graph.includes.cend(); ++file) {
        if (file.key().startsWith(QLatin1String("gui/")) ||
            file.key().startsWith(QLatin1String("app/")))
            continue;
        for (const QString& included : file.value())
            EXPECT_FALSE(included.startsWith(QLatin1String("gui/")))
                << file.key().toStdString() << " includes " << included.toStdString();
    }
}

TEST(Layers, NoFolderAndNoClassIncludesItselfThroughOthers) {
    const CIncludeGraph graph = ReadGraph();
    EXPECT_EQ(FindCircle(Collapse(graph, FolderOf)).join(" -> ").toStdString(), "");
    EXPECT_EQ(FindCircle(Collapse(graph, ComponentOf)).join(" -> ").toStdString(), "");
}

// The check itself finds a circle where there is one.
TEST(Layers, ACircleIsFound) {
    const Graph circle{{"a", {"b"}}, {"b", {"c"}}, {"c", {"a"}}, {"d", {"a"}}};
    EXPECT_EQ(FindCircle(circle).size(), 4);
    const Graph line{{"a", {"b"}}, {"b", {"c"}}, {"d", {"a", "c"}}};
    EXPECT_TRUE(FindCircle(line).isEmpty());
}

// One supervisor runs beside every calculation: it and the core files it shares stay free of
// Qt, and it includes nothing of the core beyond them.
TEST(Layers, TheRunSupervisorIsPlainCpp) {
    const QStringList plain = {"core/base/filedescriptor.h", "core/base/spawn.h",
                               "core/base/spawn.cpp", "core/data/runend.h", "core/data/runend.cpp"};
    const CIncludeGraph graph = ReadGraph();
    static const QRegularExpression qtInclude(QStringLiteral("^#include <Q"),
                                              QRegularExpression::MultilineOption);
    int runnerFiles = 0;
    for (auto file = graph.includes.cbegin(); file != graph.includes.cend(); ++file) {
        const bool inRunner = file.key().startsWith(QLatin1String("runner/"));
        if (!inRunner && !plain.contains(file.key()))
            continue;
        runnerFiles += inRunner;
        QFile source(kSourceRoot + QLatin1Char('/') + file.key());
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        EXPECT_FALSE(qtInclude.match(QString::fromUtf8(source.readAll())).hasMatch())
            << file.key().toStdString();
        for (const QString& included : file.value())
            EXPECT_TRUE(included.startsWith(QLatin1String("runner/")) || plain.contains(included))
                << file.key().toStdString() << " includes " << included.toStdString();
    }
    EXPECT_GE(runnerFiles, 6);
}
