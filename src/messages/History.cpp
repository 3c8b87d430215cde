#include "History.h"

#include <algorithm>

void History::sortHandles(QStringList& handles) {
    std::sort(handles.begin(), handles.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    handles.erase(std::unique(handles.begin(), handles.end()), handles.end());
}
