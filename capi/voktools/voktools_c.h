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

/* Status results of every function: 0 and 1 are success (S_OK, S_FALSE);
 * failures have the top bit set. */
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
/* A member raised an automation error: its number and description are
 * read with vok_last_error. */
#define VOK_DISP_E_EXCEPTION ((vok_status)0x80020009u)
#define VOK_SUCCEEDED(s) ((vok_status)(s) >= 0)

/* The in-process server entry points. Registration writes into the
 * registry store (see the README): programmatic names, class ids, the type
 * library and the interface ids; unregistering removes exactly those. */
VOK_C_API vok_status DllRegisterServer(void);
VOK_C_API vok_status DllUnregisterServer(void);

/* ------------------------------------------------------------------------
 * Objects
 *
 * A vok_object is a handle on one object of the library (a class created by
 * name or id, or an object a call handed out, such as an error list). Every
 * handle the library gives you holds one reference: give it back with
 * vok_release (or vok_value_clear on the value that carried it).
 * vok_add_ref takes one more. One handle is used by one thread at a time.
 * ---------------------------------------------------------------------- */
typedef struct vok_object vok_object;

/* A new object of the class with this programmatic name ("VOKTools.clsCommon",
 * ASCII case ignored) or class id (braces optional). On success *object is a
 * new handle; on failure it is NULL, the result is
 * VOK_CLASS_E_CLASSNOTAVAILABLE (unknown name, or class not in this build)
 * or VOK_E_POINTER, and vok_last_error(NULL, ...) on the same thread gives
 * the error (429, cannot create the object). */
VOK_C_API vok_status vok_create(const char* prog_id_or_clsid, vok_object** object);
/* Returns the handle's new reference count. */
VOK_C_API uint32_t vok_add_ref(vok_object* object);
/* Returns the handle's remaining reference count; at 0 the handle is freed
 * (the object itself lives on while other handles or objects hold it). NULL
 * is ignored. */
VOK_C_API uint32_t vok_release(vok_object* object);

/* The error of the last call on object: its automation error number
 * (0 when the last call succeeded) and description. With object NULL: those
 * of the last vok_create or DllGetClassObject of the calling thread. The
 * description is NUL-terminated and owned by the object (or the thread); it
 * stays valid until the next call on that object (or the next create on the
 * thread) or its release. Either output may be NULL. */
VOK_C_API vok_status vok_last_error(const vok_object* object, int32_t* number,
                                    const char** description);

/* ------------------------------------------------------------------------
 * Values
 * ---------------------------------------------------------------------- */
typedef enum vok_type {
  VOK_EMPTY = 0,
  VOK_MISSING = 1, /* an omitted optional argument */
  VOK_BOOL = 2,
  VOK_INT16 = 3,
  VOK_INT32 = 4,
  VOK_DOUBLE = 5,
  VOK_TEXT = 6,       /* bytes, one byte a character; NUL bytes pass */
  VOK_BYTES = 7,
  VOK_TEXT_ARRAY = 8,
  VOK_OBJECT = 9 /* a handle, or NULL for the empty reference (Nothing) */
} vok_type;

typedef struct vok_text {
  char* data; /* length bytes, plus a NUL after them when the library wrote it */
  size_t length;
} vok_text;

/* Set in flags on values the library wrote: their buffers (and object
 * handle) belong to the caller, who frees them with vok_value_clear. */
#define VOK_VALUE_OWNED 1u

typedef struct vok_value {
  int32_t type; /* a vok_type */
  uint32_t flags;
  union {
    int32_t boolean; /* 0 false, anything else true */
    int16_t int16;
    int32_t int32;
    double dbl;
    vok_text text;
    struct {
      uint8_t* data;
      size_t length;
    } bytes;
    struct {
      vok_text* items;
      size_t count;
    } texts;
    vok_object* object;
  } as;
} vok_value;

/* Frees what the library wrote into value (VOK_VALUE_OWNED: texts, byte
 * arrays, text arrays, and the reference of an object handle) and sets it to
 * VOK_EMPTY. A value the caller built is only set to VOK_EMPTY: the caller's
 * own buffers are not touched. NULL is ignored. */
VOK_C_API void vok_value_clear(vok_value* value);

/* Values of the caller (flags 0) pointing at the caller's buffers. */
static inline vok_value vok_value_text(const char* data, size_t length) {
  vok_value v = {VOK_TEXT, 0u, {0}};
  v.as.text.data = (char*)data;
  v.as.text.length = length;
  return v;
}
static inline vok_value vok_value_int16(int16_t i) {
  vok_value v = {VOK_INT16, 0u, {0}};
  v.as.int16 = i;
  return v;
}
static inline vok_value vok_value_int32(int32_t i) {
  vok_value v = {VOK_INT32, 0u, {0}};
  v.as.int32 = i;
  return v;
}
static inline vok_value vok_value_object(vok_object* object) {
  vok_value v = {VOK_OBJECT, 0u, {0}};
  v.as.object = object;
  return v;
}

/* ------------------------------------------------------------------------
 * Calls
 * ---------------------------------------------------------------------- */
typedef enum vok_invoke_kind {
  VOK_METHOD = 0,
  VOK_PROPERTY_GET = 1,
  VOK_PROPERTY_LET = 2 /* the new value is the last argument */
} vok_invoke_kind;

/* Calls the member called name (ASCII case ignored) with args[0..count-1],
 * left to right. The library copies what the arguments point at during the
 * call and keeps no pointer into them.
 *
 * By-reference outputs: an argument the member changed is replaced by the
 * new value, library-owned (VOK_VALUE_OWNED); if the argument was itself
 * library-owned, its old buffers are freed first. The caller's own buffers
 * are never freed nor written, so keep your own pointers to them, and call
 * vok_value_clear on every argument after the call (it frees only what the
 * library wrote).
 *
 * result (may be NULL) receives the member's result, library-owned; an
 * owned value already in it is freed first. Returns VOK_S_OK;
 * VOK_DISP_E_EXCEPTION when the member raised an error (vok_last_error(object)
 * gives it: 438 no such member, 13 type mismatch, 449 argument not optional,
 * ...); VOK_E_POINTER or VOK_E_INVALIDARG (an unknown value type or kind, a
 * NULL buffer with a length) for bad arguments; VOK_E_OUTOFMEMORY. On failure
 * result is VOK_EMPTY and no argument was changed. */
VOK_C_API vok_status vok_invoke(vok_object* object, const char* name, vok_invoke_kind kind,
                                vok_value* args, size_t count, vok_value* result);

/* ------------------------------------------------------------------------
 * The Progress event
 *
 * Raised, during a long operation, with the percentage read so far whenever
 * it grows. The callbacks run on the calling thread inside the call that
 * raised the event, in the order they were connected. user_data is passed
 * through as it is and must stay valid until the callback is disconnected or
 * the object is gone. Classes without the event answer
 * VOK_DISP_E_EXCEPTION (error 445).
 * ---------------------------------------------------------------------- */
typedef void (*vok_progress_fn)(void* user_data, int16_t percent);
/* The by-reference form: the callback may change *percent; the raising
 * object (clsMIFUtilities) and the callbacks after it see the change. */
typedef void (*vok_progress_ref_fn)(void* user_data, int16_t* percent);

/* *cookie (may be NULL) receives the number for vok_progress_disconnect. */
VOK_C_API vok_status vok_progress_connect(vok_object* object, vok_progress_fn callback,
                                          void* user_data, int32_t* cookie);
VOK_C_API vok_status vok_progress_connect_ref(vok_object* object, vok_progress_ref_fn callback,
                                              void* user_data, int32_t* cookie);
VOK_C_API vok_status vok_progress_disconnect(vok_object* object, int32_t cookie);

/* ------------------------------------------------------------------------
 * The class factory
 *
 * DllGetClassObject hands out a factory for the class with this class id,
 * given as text (braces optional; a programmatic name is accepted too). The
 * factory is a table of functions; call them through the pointer:
 *   factory->CreateInstance(factory, &object)  a new object, as vok_create;
 *   factory->LockServer(factory, 1 or 0)       keeps the library loaded
 *                                              (DllCanUnloadNow answers
 *                                              VOK_S_FALSE) until unlocked;
 *   factory->Release(factory)                  frees the factory.
 * iid is ignored and may be NULL. Returns VOK_S_OK,
 * VOK_CLASS_E_CLASSNOTAVAILABLE or VOK_E_POINTER.
 * ---------------------------------------------------------------------- */
typedef struct vok_class_factory vok_class_factory;
struct vok_class_factory {
  vok_status (*CreateInstance)(vok_class_factory* self, vok_object** object);
  vok_status (*LockServer)(vok_class_factory* self, int32_t lock);
  uint32_t (*Release)(vok_class_factory* self);
};

VOK_C_API vok_status DllGetClassObject(const char* clsid, const char* iid,
                                       vok_class_factory** factory);
/* VOK_S_OK when no object handle and no server lock is outstanding, else
 * VOK_S_FALSE. */
VOK_C_API vok_status DllCanUnloadNow(void);

#ifdef __cplusplus
}
#endif

#endif /* VOKTOOLS_C_H */
