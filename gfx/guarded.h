// What the drawing thread and a driver's presenter thread both touch, behind the driver lock.
//
// A Guarded value opens only to a DriverHeld, and only a holder of the driver lock is one: SharedLock on the
// drawing thread (gfx/screen.h), the driver's own lock on its presenter (x11/x11_state.h), and NoDriverYet
// for a mode being built, which no other thread can see. So a read or write of a shared field without the
// lock does not compile, and neither does one through a lock made for the call alone: its reference would
// outlive the lock (`auto& e = x.in(SharedLock{})` kept e past the lock's end).
#pragma once

class DriverHeld {
  protected:
    DriverHeld() = default;
    ~DriverHeld() = default;

  public:
    DriverHeld(const DriverHeld&) = delete;
    DriverHeld& operator=(const DriverHeld&) = delete;
};

template <typename T> class Guarded {
  public:
    [[nodiscard]] T& in(const DriverHeld&) { return value_; }
    [[nodiscard]] const T& in(const DriverHeld&) const { return value_; }
    T& in(const DriverHeld&&) = delete;
    const T& in(const DriverHeld&&) const = delete;

  private:
    T value_{};
};
