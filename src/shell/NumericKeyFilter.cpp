// SPDX-License-Identifier: MIT
#include "shell/NumericKeyFilter.h"

namespace zelvor {

namespace {

KeyVerdict passIf(bool allowed)
{
    return allowed ? KeyVerdict::Pass : KeyVerdict::Drop;
}

} // namespace

KeyVerdict classifyNumericKey(char16_t key, const NumericKeySwitches& switches)
{
    if (key >= u'0' && key <= u'9')
        return KeyVerdict::Pass;
    switch (key) {
    case 8:
        return passIf(switches.Backspace);
    case 13:
        return passIf(switches.Enter);
    case u'.':
        return passIf(switches.DecimalPoint);
    case u')':
    case u'*':
    case u'-':
        return passIf(switches.MathSigns);
    default:
        return KeyVerdict::Refuse;
    }
}

} // namespace zelvor
