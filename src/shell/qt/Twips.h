// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>

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

} // namespace zelvor
