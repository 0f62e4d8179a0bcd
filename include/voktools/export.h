// What the shared library exports. It is built with hidden visibility: only
// the declarations between VOK_PUBLIC_BEGIN and VOK_PUBLIC_END (the public
// headers' contents) are visible to hosts, with their type information and
// virtual tables, so that hosts can catch the library's exceptions and
// derive from its classes. A member of a public class that only the library
// itself calls, and whose types hosts never see, is marked VOK_LOCAL.
#pragma once

#if defined(__GNUC__)
#define VOK_PUBLIC_BEGIN _Pragma("GCC visibility push(default)")
#define VOK_PUBLIC_END _Pragma("GCC visibility pop")
#define VOK_LOCAL __attribute__((visibility("hidden")))
#else
#define VOK_PUBLIC_BEGIN
#define VOK_PUBLIC_END
#define VOK_LOCAL
#endif
