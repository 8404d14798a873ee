// Numbers printed through edit masks, and amounts in the shown currency.
//
// A mask is a picture of the printed field: "9" a digit, "Z"/"z" a digit or
// blank, "*" a digit or asterisk, "." the decimal point, "," the thousands
// separator, "-"/"+" a sign; anything else is printed as it stands. Amounts
// are whole cents of euro and can be shown in pesetas at 166.386.
#pragma once

#include <string>
#include <string_view>

namespace format {

// The value printed through `mask`; always as long as the mask. A number
// that does not fit is shown plain and right-aligned, or as "!" in every
// position when even its integer digits do not fit.
std::string FormatWithMask(std::string_view mask, double value);

// An amount of whole cents of euro printed in the shown currency through a
// short picture such as " ZZ,ZZZ,ZZ9" ("9" shows the units digit, ","
// groups thousands, "Z"/"*" choose the fill, a leading or trailing "-"/"+"
// asks for a sign, "." and "9"s after it add decimals). Euros get two
// decimals of their own; the result is as long as the picture.
std::string FormatAmount(std::string_view picture, double cents);

// "a,E" makes E the base and shown currency; "x,P" (any first letter but
// "a") sets the alternative currency; "p" shows the alternative currency
// (the base one when none is set); anything else shows the base currency.
// FormatAmount shows pesetas when the shown currency is "P", euros otherwise.
void SetCurrency(std::string_view letters);

// The peseta rate as the suite keeps it: single precision.
constexpr float kPesetaRate = 166.386f;

// The user's decimal character (default "'") and thousands character
// (default "."); read once from the user settings.
char DecimalChar();
char ThousandsChar();

}  // namespace format
