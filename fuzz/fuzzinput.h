#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

// Ends the run as a crash, so that libFuzzer keeps the input that broke a rule.
inline void Require(bool holds, const char* rule) {
    if (holds)
        return;
    std::fprintf(stderr, "Regel bruten: %s\n", rule);
    std::abort();
}

// Mostly a character of the alphabet, whose characters mean something to the code
// under test; now and then any UTF-16 unit, a lone surrogate included.
inline QChar NextCharacter(FuzzedDataProvider& input, QStringView alphabet) {
    const auto pick = input.ConsumeIntegral<quint8>();
    if (pick >= 0xF0)
        return QChar(input.ConsumeIntegral<char16_t>());
    return alphabet.at(pick % alphabet.size());
}

inline QString NextText(FuzzedDataProvider& input, QStringView alphabet, qsizetype longest) {
    const auto length = input.ConsumeIntegralInRange<qsizetype>(0, longest);
    QString text;
    while (text.size() < length && input.remaining_bytes() > 0)
        text += NextCharacter(input, alphabet);
    return text;
}
