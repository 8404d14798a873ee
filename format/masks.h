// Numbers printed through edit masks, and amounts in the shown currency.
//
// A mask is a picture of the printed field: "9" a digit, "Z"/"z" a digit or
// blank, "*" a digit or asterisk, "." the decimal point, "," the thousands
// separator, "-"/"+" a sign; anything else is printed as it stands. Amounts
// are whole cents of euro and can be shown in pesetas at 166.386.
#pragma once

#include <cstdint>
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

// A mask read once for many values: Format(v) is FormatWithMask(mask, v).
class MaskPicture {
 public:
  explicit MaskPicture(std::string_view mask);
  std::string Format(double value) const;
  // Appends the printed value to `out`, as long as the mask.
  void AppendTo(std::string& out, double value) const;

 private:
  friend class AmountPicture;
  // Prints the whole number of the last shown decimal's units whose
  // digits are `digits` (empty for 0).
  void AppendDigits(std::string& out, bool negative, std::string_view digits) const;
  void AppendOverflow(std::string& out) const { out.append(mask_.size(), '!'); }

  std::string mask_;
  long long decimals_ = 0;    // sign and digit places after the point
  long long shownPlaces_ = 0;  // digit places right after the point
  bool signed_ = false;       // the mask holds a "-" or "+"
};

// A FormatAmount picture read once for many amounts: Format(c) is
// FormatAmount(picture, c) in the currency shown at the time of the call.
// Whole cents shown in euros are printed from their digits, without
// floating point.
class AmountPicture {
 public:
  explicit AmountPicture(std::string_view picture);
  std::string Format(std::int64_t cents) const;
  void AppendTo(std::string& out, std::int64_t cents) const;

 private:
  // The masks FormatAmount derives: [pesetas][amount is not zero].
  const MaskPicture& MaskFor(bool pesetas, bool nonZero) const {
    return masks_[pesetas ? 1 : 0][nonZero ? 1 : 0];
  }
  MaskPicture masks_[2][2];
};

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
