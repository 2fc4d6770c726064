// SPDX-License-Identifier: MIT
#pragma once

namespace zelvor {

/** What a numeric field does with one typed character. */
enum class KeyVerdict
{
    /** The character goes into the field. */
    Pass,
    /** The character vanishes without a word. */
    Drop,
    /** The character vanishes and the user is told to type only a number. */
    Refuse,
};

/** Which characters besides the digits a numeric field takes. */
struct NumericKeySwitches
{
    bool Backspace = false;
    bool Enter = false;
    bool DecimalPoint = false;
    /** The three characters ")", "*" and "-". */
    bool MathSigns = false;
};

/**
 * Digits pass. Backspace (8), Enter (13), "." and ")" "*" "-" pass when their switch is on and
 * are dropped otherwise. Every other code is refused.
 */
KeyVerdict classifyNumericKey(char16_t key, const NumericKeySwitches& switches);

} // namespace zelvor
