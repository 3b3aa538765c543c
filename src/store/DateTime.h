#pragma once

// Dates and times as the settings file keeps them.

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

bool IsValidDate(int Year, int Month, int Day);  // years 1 to 9999
bool IsValidTime(int Hour, int Minute, int Second, int Millisecond);
TDateTime EncodeDate(int Year, int Month, int Day);  // throws std::invalid_argument when invalid
void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day);
TDateTime EncodeTime(int Hour, int Minute, int Second, int Millisecond);  // throws when invalid
void DecodeTime(TDateTime Value, int& Hour, int& Minute, int& Second, int& Millisecond);
