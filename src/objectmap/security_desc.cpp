// CSecurityDesc: releases the optional security descriptor it holds. The
// descriptor and, in absolute form, its parts were allocated through the
// library's allocator.
#include <cstring>

#include "objectmap/perfmon.h"
#include "support/allocation.h"

namespace vz {
namespace {

// The absolute SECURITY_DESCRIPTOR layout: revision, padding, control word,
// then the owner, group, SACL and DACL pointers.
struct AbsoluteDescriptor {
    BYTE revision;
    BYTE padding;
    WORD control;
    void* owner;
    void* group;
    void* sacl;
    void* dacl;
};

constexpr WORD kDaclPresent = 0x0004;
constexpr WORD kSaclPresent = 0x0010;
constexpr WORD kSelfRelative = 0x8000;

}  // namespace

CSecurityDesc::~CSecurityDesc() { Release(); }

void CSecurityDesc::Release() {
    if (descriptor == nullptr) return;
    WORD control = 0;
    std::memcpy(&control, static_cast<BYTE*>(descriptor) + 2, sizeof control);
    if ((control & kSelfRelative) == 0) {
        auto* absolute = static_cast<AbsoluteDescriptor*>(descriptor);
        FreeMemory(absolute->owner);
        FreeMemory(absolute->group);
        if (control & kDaclPresent) FreeMemory(absolute->dacl);
        if (control & kSaclPresent) FreeMemory(absolute->sacl);
    }
    FreeMemory(descriptor);
    descriptor = nullptr;
}

}  // namespace vz
