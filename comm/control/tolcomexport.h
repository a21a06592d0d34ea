// Symbol visibility of the control library's public interface.
#pragma once

#if defined(__GNUC__)
#define TOLCOM_EXPORT __attribute__((visibility("default")))
#else
#define TOLCOM_EXPORT
#endif
