// Draws the help video "Help Video/Skype Allow.avi": a few captioned slides that show how to give
// Parlorix Suite a Skype history, as a Motion-JPEG AVI that every common player shows.
//   parlorix-helpvideo <output.avi>

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtEndian>

#include <cstdio>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 400;
constexpr int kFramesPerSecond = 1;
constexpr int kSecondsPerSlide = 5;

struct Slide {
    const char* title;
    const char* text;
};

const Slide kSlides[] = {
    {"Parlorix Suite", "How to give the program your Skype history"},
    {"1. Find your history",
     "Classic Skype keeps it in main.db, in your profile folder:\n~/.Skype/<your name>/ on Linux,\n"
     "%APPDATA%\\Skype\\<your name>\\ on Windows."},
    {"  or export it",
     "Newer Skype: ask Skype for an export of your chats.\nYou receive a .tar file that holds "
     "messages.json."},
    {"2. Drop it on the window",
     "Drag main.db, the profile folder, messages.json\nor the export .tar onto the Parlorix Suite window."},
    {"3. List your contacts", "Click '1. List Contacts In Skype'.\nYour contacts appear in the list."},
    {"4. Save the chats",
     "Tick the contacts, pick a folder with '...',\nthen click '3. Save Checked Chat Histories'."},
};

QByteArray frame(const Slide& slide, int index, int count) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(QColor(245, 248, 252));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(0, 0, kWidth, 90, QColor(30, 110, 200));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(30, 0, kWidth - 60, 90), Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromUtf8(slide.title));
    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPixelSize(22);
    painter.setFont(body);
    painter.setPen(QColor(30, 40, 60));
    painter.drawText(QRect(30, 120, kWidth - 60, kHeight - 180), Qt::AlignLeft | Qt::TextWordWrap,
                     QString::fromUtf8(slide.text));
    painter.setPen(QColor(120, 130, 150));
    painter.drawText(QRect(30, kHeight - 50, kWidth - 60, 40), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("%1 / %2").arg(index + 1).arg(count));
    painter.end();

    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return jpeg;
}

void put32(QByteArray& out, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void put16(QByteArray& out, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

QByteArray chunk(const char* id, const QByteArray& data) {
    QByteArray out(id, 4);
    put32(out, static_cast<quint32>(data.size()));
    out.append(data);
    if (data.size() % 2)
        out.append('\0');
    return out;
}

QByteArray list(const char* type, const QByteArray& data) {
    return chunk("LIST", QByteArray(type, 4) + data);
}

QByteArray avi(const QList<QByteArray>& frames) {
    quint32 largest = 0;
    for (const QByteArray& f : frames)
        largest = qMax(largest, static_cast<quint32>(f.size()));
    const auto count = static_cast<quint32>(frames.size());

    QByteArray avih;
    for (quint32 v : {1000000u / kFramesPerSecond, largest * kFramesPerSecond, 0u, 0x10u, count, 0u, 1u,
                      largest, quint32(kWidth), quint32(kHeight), 0u, 0u, 0u, 0u})
        put32(avih, v);

    QByteArray strh("vidsMJPG", 8);
    for (quint32 v : {0u, 0u, 0u, 1u, quint32(kFramesPerSecond), 0u, count, largest, 0xFFFFFFFFu, 0u})
        put32(strh, v);
    for (quint16 v : {quint16(0), quint16(0), quint16(kWidth), quint16(kHeight)})
        put16(strh, v);

    QByteArray strf;
    put32(strf, 40);
    put32(strf, kWidth);
    put32(strf, kHeight);
    put16(strf, 1);
    put16(strf, 24);
    strf.append("MJPG", 4);
    for (quint32 v : {quint32(kWidth * kHeight * 3), 0u, 0u, 0u, 0u})
        put32(strf, v);

    const QByteArray header =
        list("hdrl", chunk("avih", avih) + list("strl", chunk("strh", strh) + chunk("strf", strf)));

    QByteArray movi;
    QByteArray index;
    for (const QByteArray& f : frames) {
        index.append("00dc", 4);
        put32(index, 0x10);
        put32(index, static_cast<quint32>(movi.size() + 4));
        put32(index, static_cast<quint32>(f.size()));
        movi.append(chunk("00dc", f));
    }
    return chunk("RIFF", QByteArray("AVI ", 4) + header + list("movi", movi) + chunk("idx1", index));
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: parlorix-helpvideo <output.avi>\n", stderr);
        return 2;
    }
    QList<QByteArray> frames;
    const int count = static_cast<int>(std::size(kSlides));
    for (int i = 0; i < count; ++i) {
        const QByteArray picture = frame(kSlides[i], i, count);
        for (int second = 0; second < kSecondsPerSlide * kFramesPerSecond; ++second)
            frames.append(picture);
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(avi(frames)) < 0) {
        std::fprintf(stderr, "parlorix-helpvideo: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
