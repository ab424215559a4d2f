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

std::string shortDataLine(const char* what, uint32_t held, uint32_t declared) {
    if (held >= declared) {
        return "";
    }
    return std::string("attenzione: ") + what + " contiene " + italianCount(held) + " frame dei " +
           italianCount(declared) + " dichiarati; il resto e' letto come silenzio";
}

std::string shortStreamLine(uint32_t written, uint32_t promised) {
    if (written >= promised) {
        return "";
    }
    return "attenzione: l'output contiene " + italianCount(written) + " frame dei " +
           italianCount(promised) + " che la sua intestazione dichiara";
}
