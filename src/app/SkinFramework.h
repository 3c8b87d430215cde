#pragma once

#include <QObject>
#include <QVariant>

// The window skin engine, driven by dispatch numbers as the program has always driven it.
// Members: 2 loads a skin file (a Qt style sheet) and a second text, unused; 3 applies the loaded
// skin to the window with the given handle. Properties: 1 flags (kept for the skin's own use),
// 5 skin enabled, 10 skin message boxes and dialogs too.
class SkinFramework final : public QObject {
    Q_OBJECT

public:
    explicit SkinFramework(QObject* parent = nullptr);

    QVariant invoke(int member, const QVariantList& arguments);
    QVariant getProperty(int id) const;
    void putProperty(int id, const QVariant& value);

    const QString& loadedFile() const { return m_loadedFile; }
    const QString& styleSheet() const { return m_styleSheet; }

private:
    void load(const QString& path);
    void apply(qulonglong windowHandle);

    QString m_loadedFile;
    QString m_styleSheet;
    int m_flags = 0;
    bool m_enabled = false;
    bool m_skinDialogs = false;
};
