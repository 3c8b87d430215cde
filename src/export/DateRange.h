#pragma once

#include <QDateTime>
#include <QString>

class MainView;
struct Services;

// The two date pickers of the export option: kept in order, and remembered after every change
// the user makes.
class DateRange final {
public:
    DateRange(MainView& view, Services& services);

    // dtpFrom changed: a later start moves the end with it.
    void fromChanged();
    // dtpTo changed: an earlier end moves the start with it.
    void toChanged();

private:
    void store(const QString& key, const QDateTime& value);

    MainView& m_view;
    Services& m_services;
};
