#pragma once
// The user's "show window contents while dragging" setting, for the sizing tests.
#include <windows.h>

// Switched for a test and put back afterwards (from a fixture's TearDown, so also after a
// failed assertion).
class DragFullWindowsSetting {
  public:
    bool save() { return saved = SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &previous, 0); }
    bool set(BOOL on) { return SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, on, nullptr, 0); }
    void restore() {
        if (saved) set(previous);
        saved = false;
    }

  private:
    BOOL previous = FALSE;
    bool saved = false;
};
