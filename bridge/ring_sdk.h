// The ring vendor's SDK as the bridge calls it (VantrelDll). The record layout
// and the four calls are fixed by the closed SDK; the simulated ring in
// ringsim/ implements the same calls so that either library can be loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// The SDK passes this record by value. The fields are 32 bits wide in host
// byte order at fixed offsets; the bridge reads only the first 60 bytes and
// the SDK's record may be longer.
struct RingEvent {
  std::int32_t kind;
  std::int32_t j_x;
  std::int32_t j_y;
  std::int32_t unused_12;
  float x;
  float y;
  float z;
  std::int32_t j_t;
  float r_r;
  float r_p;
  float r_y;
  float b_number;
  std::int32_t b_value;
  std::int32_t unused_52;
  std::int32_t gest_value;
};

static_assert(sizeof(float) == 4, "the SDK's floats are IEEE 754 single precision");
static_assert(offsetof(RingEvent, kind) == 0, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, j_x) == 4, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, j_y) == 8, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, unused_12) == 12, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, x) == 16, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, y) == 20, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, z) == 24, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, j_t) == 28, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, r_r) == 32, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, r_p) == 36, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, r_y) == 40, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, b_number) == 44, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, b_value) == 48, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, unused_52) == 52, "RingEvent layout is the SDK's");
static_assert(offsetof(RingEvent, gest_value) == 56, "RingEvent layout is the SDK's");
static_assert(sizeof(RingEvent) == 60, "the bridge reads the first 60 bytes of the record");

// Only the library that implements the SDK exports; callers need no import
// decoration for functions.
#if defined(_WIN32) && defined(VANTREL_BUILDING_LIBRARY)
#define VANTREL_API __declspec(dllexport)
#elif defined(__GNUC__) && defined(VANTREL_BUILDING_LIBRARY)
#define VANTREL_API __attribute__((visibility("default")))
#else
#define VANTREL_API
#endif

// The calling convention of the four calls and of the event callback. A
// 32-bit Windows DLL may use __stdcall; calling it as __cdecl would corrupt
// the stack without a word, so the build states it (RING2OSC_SDK_STDCALL).
// Other targets have one convention and leave this empty.
#if defined(_WIN32) && !defined(_WIN64)
#ifdef RING2OSC_SDK_STDCALL
#define VANTREL_CALL __stdcall
#else
#define VANTREL_CALL __cdecl
#endif
#else
#define VANTREL_CALL
#endif

extern "C" {

using RingEventCallback = void(VANTREL_CALL *)(RingEvent event);

// From now on the SDK calls `handler` once per event, on a thread of its own.
VANTREL_API void VANTREL_CALL QorInitialize(RingEventCallback handler);
VANTREL_API std::int32_t VANTREL_CALL QorNumRings(void);
// An opaque name that identifies the ring to QorSubscribe.
VANTREL_API const char *VANTREL_CALL QorGetRingName(std::int32_t ring_index);
VANTREL_API void VANTREL_CALL QorSubscribe(std::int32_t code, const char *ring_name);
}

#if defined(RING2OSC_SDK_STDCALL) && defined(_WIN32) && !defined(_WIN64)
static_assert(std::is_same<RingEventCallback, void(__stdcall *)(RingEvent)>::value,
              "the SDK's callback must be __stdcall in a stdcall build");
#endif
