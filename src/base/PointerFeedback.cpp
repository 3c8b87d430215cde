#include "PointerFeedback.h"

#include "MainView.h"

namespace Pointer {

void hover(MainView& view, int value) {
    if (view.mousePointer() == Wait)
        return;
    view.setMousePointer(value);
}

QPoint cursorHotSpot(const QByteArray& cursorFile) {
    if (cursorFile.size() < 14)
        return QPoint();
    const auto word = [&](int at) {
        return static_cast<int>(static_cast<uchar>(cursorFile.at(at)) |
                                (static_cast<uchar>(cursorFile.at(at + 1)) << 8));
    };
    return QPoint(word(10), word(12));
}

} // namespace Pointer
