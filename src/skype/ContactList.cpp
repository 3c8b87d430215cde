#include "ContactList.h"

#include "AccessGuidance.h"
#include "SkypeConnector.h"
#include "SkypeLink.h"

#include "base/AppInfo.h"
#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/MainView.h"
#include "base/PointerFeedback.h"
#include "base/Services.h"

namespace {

// What a step finds when an earlier one could not give it its object.
template <typename T> T& present(const std::shared_ptr<T>& object) {
    if (!object)
        throw Failure::objectNotSet();
    return *object;
}

} // namespace

ContactList::ContactList(MainView& view, Services& services)
    : m_view(view)
    , m_services(services) {}

void ContactList::listContacts() {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QStringLiteral("PushButton2_Click")));
    trap.step(100, [&] { m_view.setMousePointer(Pointer::Wait); });
    std::shared_ptr<SkypeRoot> root;
    trap.step(102, [&] { root = m_services.skype.createRoot(); });
    // A running check that fails leads into the branch for a client that is not running.
    if (trap.test(104, [&] { return !present(present(root).client()).isRunning(); })) {
        trap.step(106, [&] { m_view.setMousePointer(Pointer::Default); });
        trap.step(108, [&] { AccessGuidance(m_view, m_services).showHelp(); });
        return;
    }

    std::unique_ptr<Walk<Contact>> walk;
    std::shared_ptr<Contact> contact;
    const bool started = trap.step(110, [&] {
        walk = present(present(root).contacts()).walk();
        contact = walk->next();
    });
    // A walk that could not start still runs its body once, with no contact to work on.
    while (contact || !started) {
        if (trap.test(112, [&] { return !present(contact).handle().isEmpty(); }))
            trap.step(114, [&] { m_view.appendRow(present(contact).handle()); });
        if (!walk || !trap.step(116, [&] { contact = walk->next(); }))
            break;
    }
    trap.step(120, [&] { m_view.setMousePointer(Pointer::Default); });
}

void ContactList::checkAll() {
    setAllChecks(true, "PushButton3_Click");
}

void ContactList::uncheckAll() {
    setAllChecks(false, "PushButton4_Click");
}

void ContactList::setAllChecks(bool checked, const char* handler) {
    ErrorTrap trap(m_services.boxes, AppInfo::location(QString::fromLatin1(handler)));
    // A row count that cannot be read counts as an empty list.
    const int rows = trap.count(100, [&] { return m_view.rowCount(); }, 0);
    // All rows in one call: row by row, the list's own bookkeeping made this quadratic.
    if (rows > 0)
        trap.step(102, [&] { m_view.setRowsChecked(1, rows, checked); });
}
