#include "export/ChatNameIndex.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <random>

namespace {

std::vector<int> bruteForce(const std::vector<std::optional<QString>>& names, const QString& text) {
    std::vector<int> found;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!names[i] || names[i]->contains(text, Qt::CaseInsensitive))
            found.push_back(static_cast<int>(i) + 1);
    }
    return found;
}

TEST(ChatNameIndex, FindsWhatATestOfEveryNameFinds) {
    const std::vector<std::optional<QString>> names{QStringLiteral("ann"),
                                                    QStringLiteral("#joanna/$bob;1a2b"),
                                                    QStringLiteral("ANN"),
                                                    std::nullopt,
                                                    QStringLiteral("19:abc@thread.skype"),
                                                    QStringLiteral("live:.cid.ann"),
                                                    QStringLiteral("Ännchen"),
                                                    QString(),
                                                    QStringLiteral("bob")};
    ChatNameIndex index(names);
    for (const QString& text : {QStringLiteral("ann"), QStringLiteral("AnN"), QStringLiteral("bob"),
                                QStringLiteral("ä"), QStringLiteral("b;1"), QStringLiteral("missing"),
                                QString(), QStringLiteral("annx"), QStringLiteral("@thread.skype")})
        EXPECT_EQ(index.candidates(text), bruteForce(names, text)) << text.toStdString();

    std::mt19937 random(7);
    const QString letters = QStringLiteral("abAB:.é");
    std::vector<std::optional<QString>> generated;
    for (int i = 0; i < 300; ++i) {
        QString name;
        for (unsigned length = random() % 12; length > 0; --length)
            name += letters.at(static_cast<qsizetype>(random() % static_cast<unsigned>(letters.size())));
        generated.emplace_back(name);
    }
    ChatNameIndex big(generated);
    for (int i = 0; i < 200; ++i) {
        QString text;
        for (unsigned length = 1 + random() % 3; length > 0; --length)
            text += letters.at(static_cast<qsizetype>(random() % static_cast<unsigned>(letters.size())));
        EXPECT_EQ(big.candidates(text), bruteForce(generated, text)) << text.toStdString();
    }
}

// A name of one character repeated, the worst case of a sort that compares whole suffixes: 400,000
// of them are indexed at once (comparing whole suffixes would take hours), and found exactly.
TEST(ChatNameIndex, ALongRepetitiveNameIsIndexedAtOnce) {
    const std::vector<std::optional<QString>> names{QStringLiteral("ann"), QString(400000, QLatin1Char('A')),
                                                    QStringLiteral("19:") + QString(1000, QLatin1Char('a')),
                                                    QStringLiteral("bob")};
    ChatNameIndex index(names);
    for (const QString& text :
         {QStringLiteral("a"), QString(1000, QLatin1Char('a')), QString(1001, QLatin1Char('a')),
          QString(400000, QLatin1Char('a')), QString(400001, QLatin1Char('a')), QStringLiteral("19:aaa"),
          QStringLiteral("ab"), QStringLiteral("bob")})
        EXPECT_EQ(index.candidates(text), bruteForce(names, text)) << text.size();
}

// Periodic and nearly periodic names, characters beyond the BMP among them.
TEST(ChatNameIndex, PeriodicNamesAreFoundAsATestOfEveryNameFindsThem) {
    std::vector<std::optional<QString>> names;
    for (const QString& unit : {QStringLiteral("ab"), QStringLiteral("aab"), QStringLiteral("😀a"),
                                QStringLiteral("\uFFFFa"), QStringLiteral("b")}) {
        names.emplace_back(unit.repeated(50));
        names.emplace_back(unit.repeated(49) + QLatin1Char('x') + unit);
    }
    ChatNameIndex index(names);
    for (const QString& text :
         {QStringLiteral("abab"), QStringLiteral("ba"), QStringLiteral("aabaab"), QStringLiteral("😀a😀"),
          QStringLiteral("a😀"), QStringLiteral("\uFFFFa\uFFFF"), QStringLiteral("bx"), QStringLiteral("xab"),
          QStringLiteral("b").repeated(50), QStringLiteral("b").repeated(51),
          QStringLiteral("ab").repeated(50)})
        EXPECT_EQ(index.candidates(text), bruteForce(names, text)) << text.toStdString();
}

} // namespace
