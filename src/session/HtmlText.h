// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

// The text an HTML part shows, as plain lines: paragraphs, headings, list
// items, table rows and <br> start lines of their own (a blank line between
// paragraphs), runs of white space collapse to one blank outside <pre>, the
// content of <script>, <style>, <title> and <template> is dropped, comments
// and tags go, character references (named ones of HTML 4 plus &apos;,
// numeric ones) are decoded. List items start with "• " or their number.
//
// Nothing is ever fetched or followed: images, style sheets and links are
// only tags here. One pass over the input, so time and memory stay linear
// in its size whatever the nesting.
QString HtmlToText(QStringView html);
