#include "DateTime.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace {

int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned Yoe = static_cast<unsigned>(Y - Era * 400);
  const unsigned Doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
  const unsigned Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + static_cast<int64_t>(Doe) - 719468;
}

void CivilFromDays(int64_t Z, int& Year, int& Month, int& Day) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const unsigned Doe = static_cast<unsigned>(Z - Era * 146097);
  const unsigned Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const int64_t Y = static_cast<int64_t>(Yoe) + Era * 400;
  const unsigned Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const unsigned Mp = (5 * Doy + 2) / 153;
  Day = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
  Month = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
  Year = static_cast<int>(Y + (Month <= 2));
}

const int64_t DayZero = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

}  // namespace

bool IsValidDate(int Year, int Month, int Day) {
  static const int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
  return Day <= Days[Month - 1] + (Month == 2 && IsLeapYear(Year) ? 1 : 0);
}

bool IsValidTime(int Hour, int Minute, int Second, int Millisecond) {
  return Hour >= 0 && Hour < 24 && Minute >= 0 && Minute < 60 && Second >= 0 && Second < 60 && Millisecond >= 0 &&
         Millisecond < 1000;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  if (!IsValidDate(Year, Month, Day)) throw std::invalid_argument("Invalid date");
  return static_cast<TDateTime>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) -
                                DayZero);
}

void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day) {
  // Whole days count towards zero, as the fraction is the time of day even
  // before 1899.
  const double Lowest = static_cast<double>(DaysFromCivil(1, 1, 1) - DayZero);
  const double Highest = static_cast<double>(DaysFromCivil(9999, 12, 31) - DayZero);
  if (!std::isfinite(Value) || std::trunc(Value) < Lowest || std::trunc(Value) > Highest) {
    Year = Month = Day = 0;
    return;
  }
  CivilFromDays(static_cast<int64_t>(std::trunc(Value)) + DayZero, Year, Month, Day);
}

TDateTime EncodeTime(int Hour, int Minute, int Second, int Millisecond) {
  if (!IsValidTime(Hour, Minute, Second, Millisecond)) throw std::invalid_argument("Invalid time");
  return (((Hour * 60.0 + Minute) * 60.0 + Second) * 1000.0 + Millisecond) / 86400000.0;
}

void DecodeTime(TDateTime Value, int& Hour, int& Minute, int& Second, int& Millisecond) {
  if (!std::isfinite(Value)) {
    Hour = Minute = Second = Millisecond = 0;
    return;
  }
  double Fraction = std::fabs(Value - std::trunc(Value));
  int64_t Total = static_cast<int64_t>(std::llround(Fraction * 86400000.0));
  if (Total >= 86400000) Total = 86399999;
  Millisecond = static_cast<int>(Total % 1000);
  Total /= 1000;
  Second = static_cast<int>(Total % 60);
  Total /= 60;
  Minute = static_cast<int>(Total % 60);
  Hour = static_cast<int>(Total / 60);
}
