#pragma once

#include <QColor>
#include <QStringView>
#include <optional>

// Calendar colours: "#" stripped from both ends, then exactly six hex digits or nothing.
// A six-character text that is not hex reads as black.
std::optional<QColor> colorFromSixDigitHex(std::optional<QStringView> text);

// Theme colours: "#" stripped from both ends, then read like a hex scanner does (leading
// white space, optional "0x", stop at the first non-hex character; nothing readable is 0).
// Only the low 24 bits are used.
QColor colorFromScannedHex(QStringView text);
