// Marks hand-offs through Qt's event queue for ThreadSanitizer, which cannot see Qt's locks.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateHappensBefore(const char* file, int line, const volatile void* addr);
extern "C" void AnnotateHappensAfter(const char* file, int line, const volatile void* addr);
/// Everything written before this is visible after the matching QUILLON_HANDOFF_RECEIVED.
#define QUILLON_HANDOFF_SENT(addr) AnnotateHappensBefore(__FILE__, __LINE__, addr)
#define QUILLON_HANDOFF_RECEIVED(addr) AnnotateHappensAfter(__FILE__, __LINE__, addr)
#else
#define QUILLON_HANDOFF_SENT(addr) static_cast<void>(addr)
#define QUILLON_HANDOFF_RECEIVED(addr) static_cast<void>(addr)
#endif
