// SPDX-License-Identifier: MIT
#pragma once

#include "shell/SettingsLayout.h"

#include <QRect>
#include <QString>

#include <string_view>

namespace zelvor {

/** Layouts are drawn in twips; fifteen of them make one pixel at Qt's logical 96 DPI. */
inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

/** Left, top, width and height in twips, as a rectangle in logical pixels. */
inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

/** A place of the shared layout as a rectangle in logical pixels. */
inline QRect twipsRect(const layout::Twips& at)
{
    return twipsRect(at.left, at.top, at.width, at.height);
}

/** A text of the shared layout (names and captions are Latin-1). */
inline QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace zelvor
