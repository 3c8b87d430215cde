#include "DateRange.h"

#include "base/DateText.h"
#include "base/Failure.h"
#include "base/MainView.h"
#include "base/Services.h"
#include "base/Settings.h"

#include <QtDebug>

DateRange::DateRange(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

void DateRange::fromChanged() {
    if (m_view.dateFrom() > m_view.dateTo()) {
        m_view.setDateTo(m_view.dateFrom());
        // The end moved too: its own handler stores it, so the stored range stays in order.
        toChanged();
    }
    store(Settings::date1Key(), m_view.dateFrom());
}

void DateRange::toChanged() {
    if (m_view.dateTo() < m_view.dateFrom()) {
        m_view.setDateFrom(m_view.dateTo());
        fromChanged();
    }
    store(Settings::date2Key(), m_view.dateTo());
}

void DateRange::store(const QString& key, const QDateTime& value) {
    SaveSettingTellingOnce(m_services.settings, m_services.boxes, key, DateText::toText(value));
}
