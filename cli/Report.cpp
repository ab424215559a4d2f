#include "cli/Report.h"

#include <cmath>
#include <cstdio>

std::string italianCount(uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += '.';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::string italianDecimal(double value) {
    const auto tenths = static_cast<uint64_t>(std::llround(std::fmax(0.0, value) * 10.0));
    return italianCount(tenths / 10) + "," + static_cast<char>('0' + tenths % 10);
}

std::string saturationLine(uint64_t saturatedSamples, float peak) {
    if (saturatedSamples == 0) {
        return "";
    }
    // One decimal, never below +0,0: a saturated sample is at or beyond full scale.
    const double decibels = std::fmax(0.0, 20.0 * std::log10(static_cast<double>(peak)));
    const std::string levelText = "+" + italianDecimal(decibels);
    const char* samples = saturatedSamples == 1 ? " campione saturato" : " campioni saturati";
    return "attenzione: " + italianCount(saturatedSamples) + samples + ", picco " + levelText +
           " dB oltre il fondo scala";
}
