#include "controls/ControlRules.h"

#include <cmath>
#include <limits>

#include "controls/VClExt.h"

double StepFor(double value, int digits) {
    if (value >= 1)
        return 1;
    if (digits == 1)
        return 0.1;
    if (value >= 0.1)
        return 0.1;
    if (value >= 0)
        return 0.01;
    return 0;
}

double ValueAfterPress(std::wstring_view text, int digits, TStepDirection direction,
                       wchar_t separator) {
    double value = 0;
    if (!TryParseFloat(text, value, separator))
        return 0;
    const double step = StepFor(value, digits);
    value = direction == TStepDirection::sdDown ? value - step : value + step;
    return value < 0 ? 0 : value;
}

double ExchangeValueOf(std::wstring_view text, wchar_t separator) {
    if (!IsNotBlank(text))
        return 0;
    double value = 0;
    // An overflow parses as an infinity, which is no more a stop than a typo is.
    if (!TryParseFloat(text, value, separator) || !std::isfinite(value))
        return std::numeric_limits<double>::quiet_NaN();
    return value == 0 ? 0.0 : value;
}
