// dialog_geometry.h -- where the result dialog opens and how tall it is when collapsed
#pragma once

struct ScreenRect {
    int left, top, right, bottom;
};

struct DialogPlacement {
    int left, top, width, height;
};

// full_height / 2.55 in single precision, truncated toward zero: for every
// height from 0 to 2,673,906 pixels this is floor(20 * full_height / 51).
int collapsed_height(int full_height);

// Centres a dialog created at rectangle dialog (at the screen's origin) on the
// screen desktop with its full height, then gives it the collapsed height, so
// that expanding it lets it grow downward into the centred position. Both
// halvings truncate toward zero.
DialogPlacement place_result_dialog(const ScreenRect &desktop, const ScreenRect &dialog);
