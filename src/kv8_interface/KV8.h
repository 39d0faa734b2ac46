// The analytics library's interface, as TEV relies on it.
//
// A waypoint holds states, a state holds name/value attributes; every string is null-terminated
// UTF-16 and copied by the library during the call. A created object belongs to its creator until
// it is added to a parent (a state to a waypoint, an attribute to a state) or handed to the library
// through a CMLFacade call; an object that is never handed over is discarded with Destroy, which
// takes everything added to it along.
//
// The virtual operations are declared in the library's slot order (Destroy, Add, GetState), with no
// virtual destructor: it would shift the slots.
#ifndef KV8_H
#define KV8_H

#include "TEVText.h"

#if defined(_WIN32)
#define KV8_API  // exported by a .def file, under the decorated names
#elif defined(KV8_BUILDING_LIBRARY)
#define KV8_API __attribute__((visibility("default")))
#else
#define KV8_API
#endif

// On Windows the library's statics are imported by the names Microsoft's compiler gives them, so
// that the maker's own library can be dropped in beside an installer. GCC takes the name as an
// assembler label, quoted because of its '?'. (A library that defines these keeps its own names and
// exports the decorated ones as aliases; Microsoft's compiler and clang decorate them by
// themselves.)
#if defined(_WIN32) && defined(__GNUC__) && !defined(__clang__) && !defined(KV8_BUILDING_LIBRARY)
#define KV8_MSVC_NAME(decorated) __asm__("\"" decorated "\"")
#else
#define KV8_MSVC_NAME(decorated)
#endif

class CMLState;
class CMLAttribute;

class KV8_API CMLAttribute {
public:
    virtual void Destroy() = 0;

    static CMLAttribute* Create(const TEVChar* name, const TEVChar* value)
        KV8_MSVC_NAME("?Create@CMLAttribute@@SAPAV1@PB_W0@Z");

protected:
    ~CMLAttribute() = default;
};

class KV8_API CMLState {
public:
    virtual void Destroy() = 0;
    // The state takes the attribute.
    virtual void Add(CMLAttribute* attribute) = 0;

    static CMLState* Create(const TEVChar* name) KV8_MSVC_NAME("?Create@CMLState@@SAPAV1@PB_W@Z");

protected:
    ~CMLState() = default;
};

class KV8_API CMLWaypoint {
public:
    virtual void Destroy() = 0;
    // The waypoint takes the state.
    virtual void Add(CMLState* state) = 0;
    // One of the waypoint's states, still owned by it, or null.
    virtual CMLState* GetState() = 0;

    static CMLWaypoint* Create(const TEVChar* name)
        KV8_MSVC_NAME("?Create@CMLWaypoint@@SAPAV1@PB_W@Z");

protected:
    ~CMLWaypoint() = default;
};

class KV8_API CMLFacade {
public:
    // Takes the waypoint when the library ends up initialised; otherwise the caller keeps it.
    static void Initialize(CMLWaypoint* startup, const TEVChar* configPath, const TEVChar* arg2,
                           int arg3, unsigned int arg4, long long arg5, long long arg6,
                           const TEVChar* arg7, const TEVChar* arg8, bool arg9)
        KV8_MSVC_NAME("?Initialize@CMLFacade@@SAXPAVCMLWaypoint@@PB_W1HI_J211_N@Z");
    static bool IsKV8Initialized() KV8_MSVC_NAME("?IsKV8Initialized@CMLFacade@@SA_NXZ");
    // Each of these takes the waypoint given, with its states and attributes.
    static void WaypointReached(CMLWaypoint* waypoint)
        KV8_MSVC_NAME("?WaypointReached@CMLFacade@@SAXPAVCMLWaypoint@@@Z");
    static void OnCrash(CMLWaypoint* crash, unsigned int arg1, long long arg2, long long arg3)
        KV8_MSVC_NAME("?OnCrash@CMLFacade@@SAXPAVCMLWaypoint@@I_J1@Z");
    static void Uninitialize(CMLWaypoint* shutdown, unsigned int arg1)
        KV8_MSVC_NAME("?Uninitialize@CMLFacade@@SAXPAVCMLWaypoint@@I@Z");
    // Owned by the library; valid also when it is not initialised.
    static const TEVChar* GetKV8UserId() KV8_MSVC_NAME("?GetKV8UserId@CMLFacade@@SAPB_WXZ");
};

#endif
