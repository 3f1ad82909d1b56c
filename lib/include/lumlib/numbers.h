// Decimal text with ',' between groups of three digits, in a caller's
// buffer; no locale is consulted. Both return buf.
#ifndef LUMLIB_NUMBERS_H
#define LUMLIB_NUMBERS_H

namespace lumlib {

// A sign column ('-' or a blank) and the grouped magnitude:
// " 1,000", "-2,147,483,648". buf holds 15 bytes.
char *numToStr(int value, char *buf);

// The exact digits of value's integer part (the fraction is dropped, not
// rounded), at most five groups: from 1e15 on the first group takes the
// extra digits ("1000,000,000,000,000"). Negative values print a minus
// sign and plain digits ("-1234567"); -1 < value < 1 prints "0". Values
// whose text would pass 26 characters (1e22 and above, -1e25 and below,
// infinities) print "overflow" or "-overflow", a NaN prints "nan".
// buf holds 27 bytes.
char *numToStr2(double value, char *buf);

}  // namespace lumlib

#endif
