// Compiler attributes and the calling convention of the entry points, in one
// place. The perflib and COM entry points use the standard call convention on
// 32-bit Windows (where it decides the decorated export names); elsewhere there
// is one convention and the macro is empty.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define VZ_STDCALL __attribute__((stdcall))
#else
#define VZ_STDCALL
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VZ_NOINLINE __attribute__((noinline))
#define VZ_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define VZ_NOINLINE
#define VZ_ALWAYS_INLINE inline
#endif
