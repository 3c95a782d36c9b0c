// dialog_geometry_test.cpp -- collapsed height and opening place of the result dialog
#include <gtest/gtest.h>

#include "ui/dialog_geometry.h"

namespace
{

TEST(DialogGeometry, CollapsedHeightIsTwentyFiftyFirstsOverTheWholeRange)
{
    int mismatches = 0;
    for (long long h = 0; h <= 2673906; ++h) {
        if (collapsed_height(static_cast<int>(h)) != static_cast<int>(20 * h / 51) && ++mismatches <= 5)
            ADD_FAILURE() << "height " << h << " gives " << collapsed_height(static_cast<int>(h));
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(collapsed_height(378), 148);
    EXPECT_EQ(collapsed_height(400), 156);
}

TEST(DialogGeometry, PlacementCentresTheFullDialogAndCollapsesIt)
{
    struct Case {
        ScreenRect desktop, dialog;
        DialogPlacement expected;
    } cases[] = {
        {{0, 0, 1024, 768}, {0, 0, 538, 378}, {243, 195, 538, 148}},
        // Larger than the screen: the halving truncates toward zero, -201 / 2 is -100.
        {{0, 0, 800, 600}, {0, 0, 1001, 1001}, {-100, -200, 1001, 392}},
        {{0, 0, 1025, 769}, {0, 0, 400, 400}, {312, 184, 400, 156}},
    };
    for (const Case &c : cases) {
        DialogPlacement p = place_result_dialog(c.desktop, c.dialog);
        EXPECT_EQ(p.left, c.expected.left);
        EXPECT_EQ(p.top, c.expected.top);
        EXPECT_EQ(p.width, c.expected.width);
        EXPECT_EQ(p.height, c.expected.height);
    }
}

} // namespace
