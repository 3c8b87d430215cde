#include "PointerFeedback.h"

#include "MainView.h"

namespace Pointer {

void hover(MainView& view, int value) {
    if (view.mousePointer() == Wait)
        return;
    view.setMousePointer(value);
}

} // namespace Pointer
