// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/TForm1.h"
#include "support/DesktopStub.h"

#include <QTemporaryDir>

#include <memory>

// A main window for a test: the desktop answered by a stub, and the settings
// file kept in a throwaway directory instead of next to the test binary.
struct FormFixture {
    FormFixture();
    ~FormFixture();

    DesktopStub desktop;
    QTemporaryDir dir;
    std::unique_ptr<TForm1> form;
};
