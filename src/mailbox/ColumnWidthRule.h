// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>

// The widths of the mailbox list's columns. Beyond its design width the list
// shares the extra width among Subject, From, To and Bytes by fixed weights,
// in steps of 10 pixels; below it they keep their minimum widths.
class ColumnWidthRule {
public:
    static constexpr int ColumnCount = 6;
    using Widths = std::array<int, ColumnCount>;

    static constexpr int DesignWidth = 542;
    static constexpr int Step = 10;
    // Columns: check box, ID, Subject, From, To, Bytes. The minimum widths are
    // also the widths at the design width.
    static constexpr Widths MinimumWidths{20, 55, 195, 95, 95, 65};
    static constexpr Widths Weights{0, 0, 5, 2, 2, 1};

    // The column widths for a list of the given outer width, starting from
    // the present widths. Columns 0 and 1 never change; with less than one
    // step of extra width only Subject takes it and the others stay as they are.
    static Widths apply(int listWidth, const Widths &current);
};
