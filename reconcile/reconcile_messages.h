// The texts of the reconciliation's error messages, and the one way they are
// shown: a host message box with the caption "Błąd" and the flags 1.
//
// Every failure names the routine that failed, so a user's report of the
// message alone tells us where to look.
#pragma once

#include "host/host_api.h"
#include "host/mazovia_text.h"

inline constexpr const auto& kErrorCaption = "Błąd"_mz;

inline constexpr const auto& kComparisonDiskError =
    "Błąd operacji dyskowej w PorownajDokumentyZeSoba!"_mz;
// The comparison refused, nothing changed: the chosen order is gone (used up
// or removed at another workstation while the list was open); no working
// memory; an order line that would hold more than its 32 bits (the line's
// text goes between kQuantityLimitError and kNothingCompared).
inline constexpr const auto& kOrderGoneError =
    "Błąd w PorownajDokumentyZeSoba: wybranego zamówienia już nie ma!\nMogło zostać usunięte "
    "albo zrealizowane na innym stanowisku.\nNic nie zostało porównane."_mz;
inline constexpr const auto& kComparisonAllocationError =
    "Błąd podczas alokowania pamięci w PorownajDokumentyZeSoba!\nNic nie zostało porównane."_mz;
inline constexpr const auto& kQuantityLimitError =
    "Błąd w PorownajDokumentyZeSoba: ilość na pozycji zamówienia przekroczyłaby "
    "2147483,647:\n"_mz;
inline constexpr const auto& kNothingCompared = "\nNic nie zostało porównane."_mz;
inline constexpr const auto& kDiskError = "Błąd operacji dyskowej!"_mz;
inline constexpr const auto& kOrderListAllocationError =
    "Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!"_mz;
inline constexpr const auto& kRemarksDiskError =
    "Błąd operacji dyskowej w Numer zamówienia zamiast symbolu!"_mz;

// Shows a failure to the user; the routine that calls it then reports 0.
inline void ShowError(const char* text) {
    HostMessage(kErrorCaption, text, kFlagsError);
}
