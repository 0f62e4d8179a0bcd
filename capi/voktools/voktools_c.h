/* The C interface of libvoktools: plain C99, usable from any language with a
 * C foreign-function interface. */
#ifndef VOKTOOLS_C_H
#define VOKTOOLS_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define VOK_C_API __attribute__((visibility("default")))
#else
#define VOK_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status results of the four entry points: 0 and 1 are success (S_OK,
 * S_FALSE); failures have the top bit set. */
typedef int32_t vok_status;
#define VOK_S_OK ((vok_status)0)
#define VOK_S_FALSE ((vok_status)1)
#define VOK_E_FAIL ((vok_status)0x80004005u)
#define VOK_E_POINTER ((vok_status)0x80004003u)
#define VOK_E_INVALIDARG ((vok_status)0x80070057u)
#define VOK_E_OUTOFMEMORY ((vok_status)0x8007000Eu)
#define VOK_E_NOINTERFACE ((vok_status)0x80004002u)
#define VOK_CLASS_E_CLASSNOTAVAILABLE ((vok_status)0x80040111u)
#define VOK_SELFREG_E_CLASS ((vok_status)0x80040201u)
#define VOK_SELFREG_E_TYPELIB ((vok_status)0x80040200u)
#define VOK_SUCCEEDED(s) ((vok_status)(s) >= 0)

/* The in-process server entry points. Registration writes into the
 * registry store (see the README): programmatic names, class ids, the type
 * library and the interface ids; unregistering removes exactly those. */
VOK_C_API vok_status DllRegisterServer(void);
VOK_C_API vok_status DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif

#endif /* VOKTOOLS_C_H */
