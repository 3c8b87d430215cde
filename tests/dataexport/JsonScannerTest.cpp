#include "dataexport/JsonScanner.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

using Members = std::vector<std::vector<std::string_view>>;

Members scan(std::string_view json) {
    return JsonScanner(json).membersOfEach("conversations", {"id", "MessageList"}).value_or(Members());
}

// A string ends at the first quote behind an even number of backslashes, wherever it stands.
TEST(JsonScanner, EscapedQuotesAndBackslashesInsideStrings) {
    const std::string json = R"({"conversations":[
        {"id":"a\"b","MessageList":["x\\"]},
        {"MessageList":["\\\"]}", "{[\""],"id":"c\\\\"},
        {"id":"\\","MessageList":[]}]})";
    const Members found = scan(json);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0][0], R"("a\"b")");
    EXPECT_EQ(found[0][1], R"(["x\\"])");
    EXPECT_EQ(found[1][0], R"("c\\\\")");
    EXPECT_EQ(found[1][1], R"(["\\\"]}", "{[\""])");
    EXPECT_EQ(found[2][0], R"("\\")");
    EXPECT_EQ(found[2][1], "[]");
}

// Lists long enough to be walked in blocks: escaped quotes and backslashes, brackets and runs of
// backslashes inside strings, at every place a block may begin or end, give each list whole.
TEST(JsonScanner, ListsOfEscapesAndBracketsAtEveryPlaceReadWhole) {
    const char* const pieces[] = {R"(\\)", R"(\")",     "[",       "]",       "{",         "}", "a",
                                  R"(\n)", R"(\u005c)", R"(\\\")", R"(\\\\)", R"(\u00e9)", ":", ","};
    quint32 state = 7;
    const auto next = [&](quint32 below) {
        state = state * 1103515245 + 12345;
        return ((state >> 16) & 0x7FFF) % below;
    };
    const auto text = [&] {
        std::string out = "\"";
        for (quint32 n = next(12); n > 0; --n)
            out += pieces[next(sizeof pieces / sizeof pieces[0])];
        return out + "\"";
    };
    // A value: a string, or a list or an object of a few values.
    std::function<std::string(int)> value = [&](int depth) -> std::string {
        const quint32 kind = depth > 2 ? 0 : next(3);
        if (kind == 0)
            return text();
        std::string out = kind == 1 ? "[" : "{";
        for (quint32 n = next(4); n > 0; --n) {
            out += out.size() > 1 ? ", " : "";
            out += kind == 1 ? value(depth + 1) : text() + ":" + value(depth + 1);
        }
        return out + (kind == 1 ? "]" : "}");
    };
    for (size_t padding = 0; padding < 130; ++padding) {
        std::vector<std::string> lists;
        std::string json = R"({"x":")" + std::string(padding, 'p') + R"(","conversations":[)";
        for (int c = 0; c < 3; ++c) {
            std::string list = "[";
            for (quint32 n = next(20) + 1; n > 0; --n)
                list += (list.size() > 1 ? "," : "") + value(0);
            lists.push_back(list + "]");
            json += (c ? "," : "") + std::string(R"({"MessageList":)") + lists.back() + R"(,"id":"c"})";
        }
        json += "]}";
        const Members found = scan(json);
        ASSERT_EQ(found.size(), lists.size()) << json;
        for (size_t c = 0; c < lists.size(); ++c)
            ASSERT_EQ(found[c][1], lists[c]) << "padding " << padding << ": " << json;
        // Cut short inside its last list, the document does not close.
        EXPECT_THROW(scan(std::string_view(json).substr(0, json.size() - 12)), std::runtime_error) << json;
    }
}

// Hostile lists, their edges at every place a block may begin or end: backslashes outside the strings
// change nothing, and a text that ends inside a string, right after a backslash or an escaped quote,
// or before the list closes, does not close.
TEST(JsonScanner, StrayBackslashesAndTextsCutInsideAListAtEveryPlace) {
    const std::string head = R"({"conversations":[{"id":"c","MessageList":)";
    const char* const cuts[] = {R"("abc)", R"("ab\)", R"("ab\")", R"("ab\\\)", R"("a"\)", R"("a",)"};
    for (size_t padding = 0; padding < 140; ++padding) {
        const std::string pad(padding, ' ');
        const std::string list = "[" + pad + R"(\ "q\\\"]" \\, "\\" \ ])";
        const std::string whole = head + list + "}]}";
        const Members found = scan(whole);
        ASSERT_EQ(found.size(), 1u) << padding;
        EXPECT_EQ(found[0][1], list) << padding;
        for (const char* cut : cuts) {
            for (const std::string& tail : {std::string(), std::string(64, 'x')}) {
                const std::string json = head + "[" + pad + cut + tail;
                EXPECT_THROW(scan(json), std::runtime_error) << json;
            }
        }
    }
}

// The document's edges: nothing is read past the end of the text given, even where the memory
// behind it would close the string.
TEST(JsonScanner, AStringOpenAtTheEndOfTheTextIsMalformed) {
    const std::string closed = R"({"conversations":[{"id":"abc"}]})";
    const std::string escaped = R"({"conversations":[{"id":"ab\\"}]})";
    ASSERT_EQ(scan(closed).size(), 1u);
    ASSERT_EQ(scan(escaped).size(), 1u);
    const std::string_view cuts[] = {
        std::string_view(closed).substr(0, closed.find("\"}")),      // the closing quote lies just behind
        std::string_view(escaped).substr(0, escaped.find('\\') + 1), // a backslash is the last byte
        std::string_view(escaped).substr(0, escaped.find('\\') + 2),
        R"({"conversations":[{"id":"\"}]})",
    };
    for (const std::string_view cut : cuts)
        EXPECT_THROW(scan(cut), std::runtime_error) << cut;
}

TEST(JsonScanner, OnlyTheRootsKeyCountsAndNonObjectsArePassedOver) {
    const Members found =
        scan(R"({"x":{"conversations":[{"id":"no"}]},"conversations":[1,"s",{"id":"yes"}]})");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0][0], R"("yes")");
    EXPECT_EQ(found[0][1], std::string_view());
    EXPECT_FALSE(JsonScanner(R"({"userId":"8:me"})").membersOfEach("conversations", {"id"}).has_value());
    EXPECT_THROW(scan(R"({"conversations":"none"})"), std::runtime_error);
}

// Each object is handed over as soon as it is passed, with the place just behind it.
TEST(JsonScanner, EachObjectComesWithThePlaceBehindIt) {
    const std::string json = R"({"conversations":[{"id":"a"}, 5 ,{"id":"b","x":[{}]}]})";
    std::vector<std::string> ids;
    std::vector<size_t> ends;
    EXPECT_TRUE(JsonScanner(json).forEach("conversations", {"id"},
                                          [&](const std::vector<std::string_view>& members, size_t end) {
                                              ids.emplace_back(members[0]);
                                              ends.push_back(end);
                                          }));
    EXPECT_EQ(ids, (std::vector<std::string>{R"("a")", R"("b")"}));
    EXPECT_EQ(ends, (std::vector<size_t>{json.find('}') + 1, json.rfind("}]") + 1}));
}

// What is no JSON value, or stands behind the root object, is malformed: walked over as a number
// it would close the objects around it early, and the conversations behind it would be lost.
TEST(JsonScanner, WhatIsNoValueIsMalformedNotWalkedOver) {
    const std::string ok = R"({"conversations":[{"id":"a","n":-1.5e+3,"t":true,"MessageList":[]}]})";
    ASSERT_EQ(scan(ok).size(), 1u);
    ASSERT_EQ(scan(ok + " \r\n\t").size(), 1u);
    const std::string bad[] = {
        "{\"conversations\":[{\"id\":\"a\",\"MessageList\":\f[{\"id\":\"1\"}]},{\"id\":\"b\"}]}",
        R"({"conversations":[{"id":"a","n":12"x":1},{"id":"b"}]})",
        R"({"conversations":[{"id":,"MessageList":[]},{"id":"b"}]})",
        R"({"conversations":[{"id":"a"}]}]})",
        R"({"conversations":[{"id":"a"}]} {"conversations":[]})",
        ok + std::string(1, '\0'),
    };
    for (const std::string& json : bad)
        EXPECT_THROW(scan(json), std::runtime_error) << json;
}

} // namespace
