// The history with 10,000 records of 500 characters: how long adding one takes (the whole
// file is rewritten) and how long one search keystroke takes (the whole list is filtered).
// Goals: add under 20 ms, search under 5 ms.
#include "core/base/preferences.h"
#include "core/transcripts/historystore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QString words(QRandomGenerator &random, int characters)
{
    static const QStringList vocabulary = {u"meeting"_s, u"report"_s, u"deploy"_s, u"kubernetes"_s, u"anna"_s,
                                           u"tomorrow"_s, u"budget"_s, u"draft"_s, u"call"_s, u"the"_s, u"and"_s,
                                           u"with"_s, u"review"_s, u"design"_s, u"release"_s, u"notes"_s};
    QString text;
    while (text.size() < characters)
        text += vocabulary.at(random.bounded(vocabulary.size())) + u' ';
    return text.left(characters);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.path() + u"/history.json"_s;
    QRandomGenerator random(42);
    QJsonArray list;
    for (int i = 0; i < 10000; ++i) {
        const QString text = words(random, 500);
        list.append(QJsonObject{{u"id"_s, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                                {u"date"_s, 700000000.0 + i * 60.0},
                                {u"kind"_s, i % 4 ? u"dictation"_s : u"file"_s},
                                {u"title"_s, text.left(60)},
                                {u"text"_s, text}});
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QJsonDocument(list).toJson(QJsonDocument::Compact));
    file.close();

    Preferences preferences(dir.path() + u"/preferences.json"_s);
    QElapsedTimer timer;
    timer.start();
    HistoryStore store(path, preferences);
    const double loadMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    std::vector<double> adds;
    for (int i = 0; i < 21; ++i) {
        const QString text = words(random, 500);
        timer.restart();
        store.add(TranscriptRecord::Kind::dictation, text, text);
        adds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }

    // What typing "kubernetes review" into the search field asks for, keystroke by keystroke.
    const QString typed = u"kubernetes review"_s;
    std::vector<double> searches;
    qsizetype shown = 0;
    for (qsizetype length = 1; length <= typed.size(); ++length) {
        timer.restart();
        shown = store.filteredRows(typed.left(length), KindFilter::all).size();
        searches.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (qEnvironmentVariableIsSet("HISTORYBENCH_VERBOSE"))
            std::printf("  %-18s %6.2f ms, %lld shown\n", qPrintable(typed.left(length)), searches.back(), static_cast<long long>(shown));
    }

    std::printf("records: %lld, file: %.1f MB, load: %.1f ms\n", static_cast<long long>(store.records().size()),
                static_cast<double>(QFile(path).size()) / 1e6, loadMs);
    std::printf("add (with save), median of %zu: %.2f ms (goal: under 20 ms)\n", adds.size(), median(adds));
    std::printf("search keystroke, median of %zu: %.2f ms, worst %.2f ms (goal: under 5 ms); last query shows %lld\n",
                searches.size(), median(searches), *std::max_element(searches.begin(), searches.end()),
                static_cast<long long>(shown));
    return 0;
}
