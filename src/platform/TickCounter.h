#pragma once

#include <cstdint>

// Milliseconds, truncated to 32 bits; differences wrap as unsigned values.
class ITickCounter {
public:
  virtual ~ITickCounter() = default;
  virtual uint32_t Now() = 0;
  // Lets time pass while windows keep being served.
  virtual void Pause(uint32_t Milliseconds) = 0;
};

ITickCounter& TickCounter();
void SetTickCounter(ITickCounter* Replacement);

uint32_t GetTickCount32();
inline uint32_t TicksSince(uint32_t Start, uint32_t Now) { return Now - Start; }
