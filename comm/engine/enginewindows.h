// The engine's small windows live in their own library, libtolcom32_widgets.so,
// so that the engine itself needs neither Qt Widgets nor Qt Gui: a program
// without a display (a service) links the engine and never loads them. The
// engine loads the library with dlopen when one of its window functions is
// first called. This is the library's interface: plain C, and it never calls
// back into the engine (the engine hands it every value it shows).
#pragma once

#include <stdint.h>

#if defined(__GNUC__)
#define TOLCOM_WINDOWS_API extern "C" __attribute__((visibility("default")))
#else
#define TOLCOM_WINDOWS_API extern "C"
#endif

// File name of the library, looked for beside the module that holds the
// engine first, then on the library search path.
#define TOLCOM_WINDOWS_LIBRARY "libtolcom32_widgets.so"

// Results of the functions below.
enum {
    TOLCOM_WINDOWS_DONE = 1, // filled, or the dialog was confirmed with OK
    TOLCOM_WINDOWS_CANCELLED = 0, // the dialog was cancelled
    TOLCOM_WINDOWS_WRONG_WIDGET = -1, // box is not the kind of box asked for
    TOLCOM_WINDOWS_NO_APPLICATION = -2, // no QApplication: windows cannot exist
};

// Fills a QComboBox * (list = 0) or a QListWidget * (list = 1) with count
// titles, the item value of title i being i, and selects the first item
// whose text begins with current (case ignored).
typedef int32_t (*TolcomFillBoxProc)(
    void *box, int32_t list, const char *const *titles, int32_t count, const char *current);
TOLCOM_WINDOWS_API int32_t tolcom32w_FillBox(
    void *box, int32_t list, const char *const *titles, int32_t count, const char *current);

// Shows the modal port settings dialog under owner (a QWidget * or NULL).
// choice[0..4] hold on entry the buttons checked at first, and on OK the
// buttons chosen: baud rate (index into the dialog's rates), data bits (5..8),
// stop bits (0 one, 1 one and a half, 2 two), parity (0..4), flow control
// (0 Xon/Xoff, 1 Hardware, 2 None).
typedef int32_t (*TolcomSettingsDialogProc)(void *owner, int32_t choice[5]);
TOLCOM_WINDOWS_API int32_t tolcom32w_SettingsDialog(void *owner, int32_t choice[5]);
