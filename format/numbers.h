// Number conversions shared by the whole suite: the packed digit form in
// which dates and codes are stored, zero-padded and plain number texts,
// checks of typed numbers, and the packing of dotted codes.
//
// Texts are code page 850 byte strings; positions count from 1 in the
// comments and from 0 in the code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace format {

// Decimal digits two to a byte, each byte 128 + the pair's value (0-99), so
// that no byte is ever NUL and equal-length packed texts sort like their
// digit texts. Blanks around the digits are turned into leading zeros; any
// other non-digit counts as 0. An odd count packs its last digit as tens.
std::string PackDigits(std::string_view digits);

// Two digits per byte: the byte's value with bit 7 cleared, last two digits.
std::string UnpackDigits(std::string_view packed);
// The number those digits make, NumberValue(UnpackDigits(packed)), without
// making the text (a packed field read for every record of a walk).
double UnpackedValue(std::string_view packed);

// The value without its sign, padded with "0" on the left and cut on the
// left to exactly `width` characters (empty for a width below 1).
std::string ZeroPad(double value, std::int16_t width);
// ZeroPad of a whole number, without floating point.
std::string ZeroPadWhole(std::int64_t value, std::int16_t width);

// A number as text after a picture such as "4.2", ".1", "3.2V" or
// "4.2S": integer width and decimals, and the letters V (no point), Z (a
// "0" before an empty integer part), S (a "+" for values >= 0), N ("N"
// instead of "-"), M ("N" for negatives, a blank for the rest).
std::string NumberText(double value, std::string_view picture);
// NumberText with an empty picture: "1234", "-5", ".5", "" for 0.
std::string PlainNumberText(double value);

// The numeric reading of a typed text: blanks anywhere are ignored, then an
// optional sign, digits and an optional point with more digits are read up
// to the first other character. 0 when there is no number.
double NumberValue(std::string_view text);

// True when `text` is not an acceptable number. `allowed` may hold "."
// (decimals allowed) and "-" or "+" (a sign allowed). A sign is accepted
// only before every digit and point, at most once; a point at most once;
// blanks anywhere.
bool CheckNumberText(std::string_view text, std::string_view allowed);

// True when `text` is not a number between `minimum` and `maximum` with at
// most `decimals` decimals (0 to 16). The comparison is made on the values
// as they will be stored with that many decimals, rounded half up.
bool CheckNumberInRange(std::string_view text, double minimum, double maximum, std::int16_t decimals);

// Packs a dotted code ("4300.12" -> digits 43000012): each group's value
// with leading zeros in 4 digits, the first in 6 for 6-character texts
// without a point and 11-character texts with at most one point.
std::string PackCode(std::string_view text);

}  // namespace format
