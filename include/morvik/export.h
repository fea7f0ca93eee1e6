// Tier: stable interface (the C/C++ entry points and records hosts build on).
// Symbol visibility of the library's public interface.
#ifndef MORVIK_EXPORT_H_
#define MORVIK_EXPORT_H_

#if defined(__GNUC__)
#define MORVIK_API __attribute__((visibility("default")))
#else
#define MORVIK_API
#endif

#endif  // MORVIK_EXPORT_H_
