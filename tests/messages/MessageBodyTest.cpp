#include "messages/MessageBody.h"

#include <gtest/gtest.h>

namespace {

QString plain(const char* markup) {
    return MessageBody::plainText(QString::fromUtf8(markup));
}

std::optional<QString> body(MessageKind kind, const char* markup) {
    return MessageBody::bodyFor(kind, QString::fromUtf8(markup));
}

TEST(PlainText, ExamplesFromTheFormat) {
    EXPECT_EQ(plain("let&apos;s go <ss type=\"smile\">:)</ss>"), QStringLiteral("let's go :)"));
    EXPECT_EQ(plain("<b raw_pre=\"*\" raw_post=\"*\">I</b> will"), QStringLiteral("*I* will"));
    EXPECT_EQ(plain("<at id=\"8:bob\">Bob</at> hi"), QStringLiteral("@Bob hi"));
    EXPECT_EQ(plain("a < b"), QStringLiteral("a < b"));
}

TEST(PlainText, ElementsStandForTheirAltTextOrNothingOrTheirContent) {
    EXPECT_EQ(plain("<ss type=\"cool\" alt=\"(cool)\">8-)</ss> yes"), QStringLiteral("(cool) yes"));
    EXPECT_EQ(plain("<ss alt=\"\">:)</ss>"), QStringLiteral(":)"));
    EXPECT_EQ(plain("edited<e_m ts=\"1\" a=\"x\" t=\"61\"/>"), QStringLiteral("edited"));
    EXPECT_EQ(plain("x<e_m>hidden <b>too</b></e_m>y"), QStringLiteral("xy"));
    EXPECT_EQ(plain("<a href=\"https://x.example/?a=1&amp;b=2\">https://x.example/?a=1&amp;b=2</a>"),
              QStringLiteral("https://x.example/?a=1&b=2"));
    EXPECT_EQ(plain("<i raw_pre=\"_\">only pre</i>"), QStringLiteral("_only pre"));
    EXPECT_EQ(
        plain("<quote author=\"bob\"><legacyquote>[1:00] Bob: </legacyquote>hi<legacyquote>\n\n&lt;&lt;&lt; "
              "</legacyquote></quote>yes"),
        QStringLiteral("[1:00] Bob: hi\r\n\r\n<<< yes"));
    EXPECT_EQ(plain("<![CDATA[<raw> & text]]><!-- comment --><?pi x?>!"), QStringLiteral("<raw> & text!"));
}

TEST(PlainText, EntitiesAndNonLatinText) {
    EXPECT_EQ(plain("&lt;&gt;&amp;&quot;&apos;&#8364;&#x1F600;"), QStringLiteral("<>&\"'€😀"));
    EXPECT_EQ(plain("Привет 你好 😀 &amp; ❤️"), QStringLiteral("Привет 你好 😀 & ❤️"));
}

TEST(PlainText, BodiesThatAreNotXmlLoseTheirTagsAndKeepTheirText) {
    EXPECT_EQ(plain("<b>unclosed & text"), QStringLiteral("unclosed & text"));
    EXPECT_EQ(plain("<b>bold</i> &amp; &nbsp; &#65;"), QStringLiteral("bold & &nbsp; A"));
    EXPECT_EQ(plain("1 < 2 > 0"), QStringLiteral("1  0"));
    EXPECT_EQ(plain("<a x=1>y</a>"), QStringLiteral("y"));
    EXPECT_EQ(plain("&#0; &#xD800;"), QStringLiteral("&#0; &#xD800;"));
}

TEST(PlainText, EveryLineBreakBecomesCrLf) {
    EXPECT_EQ(plain("a\nb\r\nc\rd\n\ne"), QStringLiteral("a\r\nb\r\nc\r\nd\r\n\r\ne"));
    EXPECT_EQ(plain("<b>a\nb</b>"), QStringLiteral("a\r\nb"));
    EXPECT_EQ(plain("a < b\nc"), QStringLiteral("a < b\r\nc"));
}

TEST(MessageBody, EveryKind) {
    EXPECT_EQ(body(MessageKind::Text, "hi <ss type=\"smile\">:)</ss>"), QStringLiteral("hi :)"));
    EXPECT_FALSE(body(MessageKind::Text, "").has_value());
    EXPECT_FALSE(body(MessageKind::Text, "<e_m ts=\"1\"/>").has_value());
    EXPECT_EQ(body(MessageKind::Text, " "), QStringLiteral(" "));
    EXPECT_EQ(body(MessageKind::CallStarted, ""), QStringLiteral("Call started"));
    EXPECT_EQ(body(MessageKind::CallEnded, "<partlist/>"), QStringLiteral("Call ended"));
    EXPECT_EQ(body(MessageKind::Call, "<partlist type=\"started\" alt=\"\"><part/></partlist>"),
              QStringLiteral("Call started"));
    EXPECT_EQ(body(MessageKind::Call, "<partlist type=\"ended\"/>"), QStringLiteral("Call ended"));
    EXPECT_EQ(body(MessageKind::Call, "<partlist type=\"missed\"/>"), QStringLiteral("Call missed"));
    EXPECT_FALSE(body(MessageKind::Call, "<partlist/>").has_value());
    EXPECT_EQ(body(MessageKind::Files,
                   "<files alt=\"x\"><file size=\"1\">a.pdf</file><file>b &amp; c.txt</file></files>"),
              QStringLiteral("Sent files: a.pdf, b & c.txt"));
    EXPECT_EQ(body(MessageKind::Contacts,
                   "<contacts><c t=\"s\" s=\"ann\" f=\"Ann Smith\"/><c s=\"bob\"/></contacts>"),
              QStringLiteral("Sent contacts: Ann Smith, bob"));
    EXPECT_EQ(body(MessageKind::Media,
                   "<URIObject><OriginalName v=\"photo 1.jpg\"/><a href=\"u\">u</a></URIObject>"),
              QStringLiteral("Shared file: photo 1.jpg"));
    EXPECT_EQ(body(MessageKind::Media, "<URIObject>Photo <a href=\"u\">link</a></URIObject>"),
              QStringLiteral("Photo link"));
    EXPECT_FALSE(body(MessageKind::Event, "<addmember/>").has_value());
}

TEST(MessageBody, SharedMediaWithoutANameAttributeGiveTheirPlainText) {
    EXPECT_EQ(body(MessageKind::Media, "<URIObject>Photo <OriginalName>x.jpg</OriginalName></URIObject>"),
              QStringLiteral("Photo x.jpg"));
    // The first OriginalName that has a v attribute names the file, an empty one too.
    EXPECT_EQ(body(MessageKind::Media, "<URIObject><OriginalName/><OriginalName v=\"b.png\"/></URIObject>"),
              QStringLiteral("Shared file: b.png"));
    EXPECT_EQ(body(MessageKind::Media, "<URIObject><OriginalName v=\"\"/>t</URIObject>"),
              QStringLiteral("Shared file: "));
}

// As XML reads an attribute: a line break or tab written in it is a space; a reference to one is
// the character itself.
TEST(PlainText, LineBreaksInsideAnAttributeAreSpaces) {
    EXPECT_EQ(plain("<ss type=\"smile\" alt=\"a\r\nb\rc\nd\te\">:)</ss>"), QStringLiteral("a b c d e"));
    EXPECT_EQ(plain("<ss alt=\"a&#10;b\">:)</ss>"), QStringLiteral("a\r\nb"));
    EXPECT_EQ(body(MessageKind::Media, "<URIObject><OriginalName v=\"two\nlines.txt\"/></URIObject>"),
              QStringLiteral("Shared file: two lines.txt"));
}

// Bodies of nothing but '<' and '&' are read in one pass (the speed is the benchmark's): here,
// that the fallback still keeps every character that is not a tag or a reference.
TEST(PlainText, BodiesOfManyOpenBracketsAndAmpersandsKeepTheirText) {
    const QString brackets(100000, QLatin1Char('<'));
    EXPECT_EQ(MessageBody::plainText(brackets), brackets);
    const QString ampersands(100000, QLatin1Char('&'));
    EXPECT_EQ(MessageBody::plainText(ampersands), ampersands);
    EXPECT_EQ(plain("a < b <i>c</i> & d &amp; &#65; &#x42; &bogus; <e"),
              QStringLiteral("a c & d & A B &bogus; <e"));
    EXPECT_EQ(plain("x &#x1F600 y > z"), QStringLiteral("x &#x1F600 y > z"));
    EXPECT_EQ(plain("<<<b>>> &&amp;; <"), QStringLiteral(">> &&; <"));
}

TEST(MessageBody, KindsOfBothHistories) {
    const std::pair<int, MessageKind> database[] = {
        {61, MessageKind::Text},   {60, MessageKind::Text},        {50, MessageKind::Text},
        {64, MessageKind::Text},   {30, MessageKind::CallStarted}, {39, MessageKind::CallEnded},
        {68, MessageKind::Files},  {63, MessageKind::Contacts},    {201, MessageKind::Media},
        {253, MessageKind::Media}, {10, MessageKind::Event},       {12, MessageKind::Event},
        {13, MessageKind::Event},  {2, MessageKind::Event},        {4, MessageKind::Event},
        {51, MessageKind::Event}};
    for (const auto& [type, kind] : database)
        EXPECT_EQ(MessageBody::kindOfDatabaseType(type), kind) << type;
    const std::pair<const char*, MessageKind> exported[] = {
        {"RichText", MessageKind::Text},
        {"Text", MessageKind::Text},
        {"Event/Call", MessageKind::Call},
        {"RichText/Files", MessageKind::Files},
        {"RichText/Contacts", MessageKind::Contacts},
        {"RichText/UriObject", MessageKind::Media},
        {"RichText/Media_Video", MessageKind::Media},
        {"RichText/Media_GenericFile", MessageKind::Media},
        {"ThreadActivity/AddMember", MessageKind::Event},
        {"Notice", MessageKind::Event},
        {"PopCard", MessageKind::Event},
        {"Poll", MessageKind::Event},
        {"richtext", MessageKind::Event}};
    for (const auto& [type, kind] : exported)
        EXPECT_EQ(MessageBody::kindOfExportType(type), kind);
}

} // namespace

namespace {

// The text way, from the bytes as SQLite holds them: what the UTF-8 way must give byte for byte.
std::optional<QByteArray> byText(MessageKind kind, const QByteArray& markup) {
    const std::optional<QString> text = MessageBody::bodyFor(kind, QString::fromUtf8(markup));
    return text ? std::optional<QByteArray>(text->toUtf8()) : std::nullopt;
}

// Pieces that decide something in a body: markup, entities good and bad, characters of one to four
// bytes, bytes that are not UTF-8, and every kind of line break.
const char* const kPieces[] = {
    "hi ",
    "<b>",
    "</b>",
    "<b raw_pre=\"*\" raw_post=\"*\">",
    "<ss type=\"smile\" alt=\":)\">",
    "</ss>",
    "<at id=\"8:bob\">",
    "</at>",
    "<e_m ts=\"1\"/>",
    "<e_m>",
    "</e_m>",
    "<a href=\"x?a=1&amp;b=2\">",
    "</a>",
    "<i alt='line&#10;two\r\nthree\tfour'>",
    "</i>",
    "<![CDATA[in\r\ncdata]]>",
    "<!-- note -->",
    "<?pi x?>",
    "&amp;",
    "&lt;",
    "&gt;",
    "&quot;",
    "&apos;",
    "&#39;",
    "&#x1F600;",
    "&#xD800;",
    "&#0;",
    "&bogus;",
    "&",
    ";",
    "&#x10FFFF;",
    "&é;",
    "&#1é;",
    "<",
    ">",
    "<b",
    "a < b",
    "x>y",
    "\r\n",
    "\r",
    "\n",
    "\n\r",
    "é",
    "ж",
    "€",
    "😀",
    "\xff",
    "\xc3",
    "\xed\xa0\x80",
    "\xef\xbb\xbf",
    "\xef\xbf\xbe",
    "\xf4\x90\x80\x80",
    "\xc0\xaf",
    "\x01",
    "<file size=\"1\">a.txt</file>",
    "<c t=\"s\" s=\"ann\" f=\"Ann &amp; Co\"/>",
    "<partlist type=\"ended\">",
    "</partlist>",
    "<OriginalName v=\"p&#233;.jpg\"/>",
    "<élan>",
    "</élan>",
};

} // namespace

// Kept in UTF-8 from the history to the transcript, every body gives the bytes the text way gives,
// also where it is not XML, not UTF-8 or both; one taken as it is must be its own text.
TEST(MessageBody, TheUtf8WayGivesTheBytesOfTheTextWay) {
    const MessageKind kinds[] = {MessageKind::Text,     MessageKind::Media, MessageKind::Files,
                                 MessageKind::Contacts, MessageKind::Call,  MessageKind::CallStarted,
                                 MessageKind::CallEnded};
    const size_t count = sizeof kPieces / sizeof kPieces[0];
    std::vector<QByteArray> bodies{QByteArray(), QByteArray("")};
    for (const char* piece : kPieces)
        bodies.emplace_back(piece);
    // Deterministic mixtures of up to eight pieces.
    quint32 state = 12345;
    const auto next = [&] {
        state = state * 1103515245 + 12345;
        return (state >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 20000; ++i) {
        QByteArray body;
        for (quint32 n = next() % 8 + 1; n > 0; --n)
            body += kPieces[next() % count];
        bodies.push_back(body);
    }
    for (const QByteArray& body : bodies) {
        for (const MessageKind kind : kinds)
            ASSERT_EQ(MessageBody::bodyForUtf8(kind, body), byText(kind, body)) << body.toHex().toStdString();
        ASSERT_EQ(MessageBody::readableUtf8(body), QString::fromUtf8(body).toUtf8())
            << body.toHex().toStdString();
        // Its own text byte for byte: read as it is, nothing to work out wherever it stands.
        const bool special =
            body.contains('<') || body.contains('&') || body.contains('\r') || body.contains('\n');
        ASSERT_EQ(MessageBody::isPlainUtf8(body), !special && QString::fromUtf8(body).toUtf8() == body)
            << body.toHex().toStdString();
    }
}
