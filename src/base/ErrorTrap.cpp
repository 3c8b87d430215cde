#include "ErrorTrap.h"

#include "AppInfo.h"
#include "Failure.h"
#include "MessageBoxes.h"

#include <new>

namespace {

// Why the failure ends the run, if it does (a folder gone, a full disk); else empty.
QString endsRunBecause(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Failure& failure) {
        return failure.endsRunBecause();
    } catch (...) {
        return QString();
    }
}

} // namespace

ErrorTrap::ErrorTrap(MessageBoxes& boxes, QString location)
    : m_boxes(boxes)
    , m_location(std::move(location)) {}

QString ErrorTrap::message(const QString& description, const QString& location, int line) {
    return description % QLatin1String("\r\n") % location % QLatin1String("at line ") %
           QString::number(line) % QLatin1String("\r\rPlease email screenshot of this message to ") %
           AppInfo::supportAddress();
}

QString ErrorTrap::describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Failure& failure) {
        return failure.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void ErrorTrap::report(int line, const std::exception_ptr& error) {
    if (m_settle && !m_settle())
        return;
    ++m_failures;
    const QString because = endsRunBecause(error);
    const bool endsRun = !because.isEmpty();
    if (m_endedRunBecause.isEmpty())
        m_endedRunBecause = because;
    // The failure that ends the run is shown whatever came before it: its box says where.
    if (m_boxesLeft == 0 && !endsRun)
        return;
    if (m_boxesLeft > 0)
        --m_boxesLeft;
    ++m_shown;
    show(line, error);
}

bool ErrorTrap::reportLate(int line, const std::exception_ptr& error, bool withinLimit) {
    if (!withinLimit && endsRunBecause(error).isEmpty())
        return false;
    if (m_boxesLeft > 0)
        --m_boxesLeft;
    show(line, error);
    return true;
}

void ErrorTrap::show(int line, const std::exception_ptr& error) {
    m_boxes.show(message(describe(error), m_location, line), QStringLiteral("Application Error"),
                 MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
}
