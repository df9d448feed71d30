// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FormFixture.h"

FormFixture::FormFixture() : form(std::make_unique<TForm1>())
{
    form->AppDir = dir.path() + QLatin1Char('/');
}

FormFixture::~FormFixture()
{
    form.reset();
}
