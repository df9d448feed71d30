// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/ColumnWidthRule.h"

ColumnWidthRule::Widths ColumnWidthRule::apply(int listWidth, const Widths &current)
{
    Widths widths = current;
    const long long extra = static_cast<long long>(listWidth) - DesignWidth;
    if (extra <= 0) {
        for (int c = 2; c < ColumnCount; ++c)
            widths[c] = MinimumWidths[c];
    } else if (extra < Step) {
        widths[2] = MinimumWidths[2] + static_cast<int>(extra);
    } else {
        // Widget widths are far below the point where this could overflow.
        const long long steps = extra / Step;
        for (int c = 2; c < ColumnCount; ++c)
            widths[c] = static_cast<int>(steps * Weights[c] + MinimumWidths[c]);
    }
    return widths;
}
