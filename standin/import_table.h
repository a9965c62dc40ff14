// A module's import table, where a host answers for the system in its
// guest's place: the slot through which the guest calls one function of one
// system library is made to hold a function of the host's.
//
// Some hosts do so (to keep a plug-in's files within the program's folder,
// say), and Quendrix.dll has no other way in: it reaches the system only
// through its imports. The stand-in does it for the variations that need a
// host in control of the system (veldan_control.h), the replay to answer
// what the recording says the system answered, the tests to play the user
// of a system dialog. Header only: each of them is a module of its own.
#pragma once

#include <windows.h>

#include <cstring>

namespace import_table {

// The slot of function (imported by name from library, any letter case) in
// module's import table, or null when the module does not import it so.
inline void** Slot(HMODULE module, const char* library, const char* function) {
    if (module == nullptr)
        return nullptr;
    auto* const base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), library) != 0 ||
            entry->OriginalFirstThunk == 0)
            continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

// Puts replacement into the slot; returns what it held (the system's own
// function, or an earlier replacement), null when there is no such slot.
inline void* Replace(HMODULE module, const char* library, const char* function, void* replacement) {
    void** slot = Slot(module, library, function);
    if (slot == nullptr)
        return nullptr;
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
        return nullptr;
    void* const before = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return before;
}

}  // namespace import_table
