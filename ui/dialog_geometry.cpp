// dialog_geometry.cpp -- the result dialog's collapsed height and opening place
#include "ui/dialog_geometry.h"

// Held in single precision on purpose: its value is 2.5499999523..., and the
// collapsed heights of the dialog follow from exactly that divisor. The
// division itself runs in double precision: a single-precision quotient
// rounds up to the next integer for some heights above 600,000.
static const float COLLAPSE_DIVISOR = 2.55f;

int collapsed_height(int full_height)
{
    return static_cast<int>(static_cast<double>(full_height) / static_cast<double>(COLLAPSE_DIVISOR));
}

DialogPlacement place_result_dialog(const ScreenRect &desktop, const ScreenRect &dialog)
{
    DialogPlacement placement;
    placement.left = (desktop.left + desktop.right - dialog.right) / 2;
    placement.top = (desktop.top + desktop.bottom - dialog.bottom) / 2;
    placement.width = dialog.right - dialog.left;
    placement.height = collapsed_height(dialog.bottom - dialog.top);
    return placement;
}
